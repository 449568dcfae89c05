#include "db/db_recordset.h"

#include <cstring>
#include <utility>
#include <vector>

#include "db/value_text.h"
#include "platform/ado/ado.h"
#include "platform/ado/field_reader.h"
#include "platform/com/activation.h"
#include "platform/win/codepage.h"
#include "platform/win/message_box.h"

namespace {

constexpr size_t kMaxCachedNames = 32;

// The text as a narrow string shows it: up to its first NUL.
std::string_view UpToNul(const std::string& text) {
  return std::string_view(text.data(), std::strlen(text.c_str()));
}

}  // namespace

// A reading loop asks for the same few names on every row: the shortcut
// finds each once and reads by ordinal; without it, each name is widened
// once for Collect.
struct CDbRecordset::FieldAccess {
  ~FieldAccess() {
    for (auto& [name, index] : field_names) VariantClear(&index);
  }

  // Takes the shortcut of `rs` (none for null) and forgets the ordinals,
  // which belong to the recordset they were found in.
  void Use(_Recordset* rs) {
    reader.Reset();
    ordinals.clear();
    if (rs) rs->QueryInterface(IID_IFieldReader, reader.ReceiveVoid());
  }

  // The ordinal of `name` in the held recordset, found once per name.
  bool Ordinal(const std::string& name, LONG* ordinal) {
    for (const auto& [known, found] : ordinals) {
      if (known == name) {
        *ordinal = found;
        return true;
      }
    }
    if (FAILED(reader->FindField(name, ordinal))) return false;
    if (ordinals.size() < kMaxCachedNames) ordinals.emplace_back(name, *ordinal);
    return true;
  }

  // The string variant Collect takes for `name`.
  const VARIANT& Index(const std::string& name) {
    for (const auto& [known, index] : field_names) {
      if (known == name) return index;
    }
    if (field_names.size() == kMaxCachedNames) {
      VariantClear(&field_names.front().second);
      field_names.erase(field_names.begin());
    }
    field_names.emplace_back(name, MakeVariantBstr(AnsiToWide(name)));
    return field_names.back().second;
  }

  ComPtr<IFieldReader> reader;
  std::vector<std::pair<std::string, LONG>> ordinals;  // of the held recordset
  std::vector<std::pair<std::string, VARIANT>> field_names;
  std::string text;  // reused by every read
};

CDbRecordset::CDbRecordset() : fields_(std::make_unique<FieldAccess>()) {
  CLSID clsid;
  if (SUCCEEDED(CLSIDFromProgID(u"ADODB.Recordset", &clsid))) {
    CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID__Recordset, recordset_.ReceiveVoid());
  }
  fields_->Use(recordset_.Get());
}

CDbRecordset::~CDbRecordset() { Close(); }

bool CDbRecordset::ReadField(const std::string& name, VARIANT* value, std::string* text,
                             bool* is_text) {
  VariantInit(value);
  *is_text = false;
  if (fields_->reader) {
    LONG ordinal = 0;
    if (!fields_->Ordinal(name, &ordinal) ||
        FAILED(fields_->reader->ReadField(ordinal, value, text))) {
      return false;
    }
    *is_text = value->vt == VT_EMPTY;
    return true;
  }
  return recordset_ && SUCCEEDED(recordset_->get_Collect(fields_->Index(name), value));
}

_Recordset* CDbRecordset::Attach(_Recordset* rs) {
  Close();
  if (!rs) return nullptr;
  recordset_ = ComPtr<_Recordset>(rs);
  fields_->Use(rs);
  return rs;
}

bool CDbRecordset::IsOpen() {
  LONG state = adStateClosed;
  return recordset_ && SUCCEEDED(recordset_->get_State(&state)) && (state & adStateOpen);
}

bool CDbRecordset::IsBOF() {
  VARIANT_BOOL bof = VARIANT_FALSE;
  return recordset_ && SUCCEEDED(recordset_->get_BOF(&bof)) && bof != VARIANT_FALSE;
}

bool CDbRecordset::IsEOF() {
  VARIANT_BOOL eof = VARIANT_FALSE;
  return recordset_ && SUCCEEDED(recordset_->get_EOF(&eof)) && eof != VARIANT_FALSE;
}

bool CDbRecordset::MoveNext() { return recordset_ && SUCCEEDED(recordset_->MoveNext()); }

bool CDbRecordset::GetFieldText(const std::string& name, std::string& out) {
  if (!IsOpen()) {
    MessageBoxA(nullptr, AnsiText("数据库可能已经断开,\r\n请重新连接、然后重试.").c_str(),
                AnsiText("提示").c_str(), MB_OK | MB_ICONINFORMATION);
    return false;
  }
  if (IsEOF()) return false;
  VARIANT value;
  bool is_text = false;
  bool ok = ReadField(name, &value, &fields_->text, &is_text);
  if (ok && is_text) {
    out.assign(UpToNul(fields_->text));
  } else if (ok) {
    std::string text;
    ok = VariantToText(value, text);
    if (ok) out = std::move(text);
  }
  VariantClear(&value);
  return ok;
}

bool CDbRecordset::GetFieldLong(const std::string& name, LONG& out) {
  VARIANT value;
  bool is_text = false;
  LONG number = 0;
  bool ok = ReadField(name, &value, &fields_->text, &is_text);
  if (ok && is_text) {
    number = TextToLong(fields_->text);
  } else if (ok) {
    ok = VariantToLong(value, number);
  }
  VariantClear(&value);
  out = ok ? number : 0;
  return ok;
}

void CDbRecordset::Close() {
  if (!IsOpen()) return;
  LONG mode = adEditNone;
  if (SUCCEEDED(recordset_->get_EditMode(&mode)) && mode != adEditNone) recordset_->CancelUpdate();
  recordset_->Close();
}
