#include "db/db_recordset.h"

#include <cstring>

#include "db/value_text.h"
#include "platform/ado/ado.h"
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

CDbRecordset::CDbRecordset() {
  CLSID clsid;
  if (SUCCEEDED(CLSIDFromProgID(u"ADODB.Recordset", &clsid))) {
    CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID__Recordset, recordset_.ReceiveVoid());
  }
  if (recordset_) recordset_->QueryInterface(IID_IFieldReader, reader_.ReceiveVoid());
}

CDbRecordset::~CDbRecordset() {
  Close();
  for (auto& [name, index] : field_names_) VariantClear(&index);
}

const VARIANT& CDbRecordset::FieldIndex(const std::string& name) {
  for (const auto& [known, index] : field_names_) {
    if (known == name) return index;
  }
  if (field_names_.size() == kMaxCachedNames) {
    VariantClear(&field_names_.front().second);
    field_names_.erase(field_names_.begin());
  }
  field_names_.emplace_back(name, MakeVariantBstr(AnsiToWide(name)));
  return field_names_.back().second;
}

bool CDbRecordset::FieldOrdinal(const std::string& name, LONG* ordinal) {
  for (const auto& [known, found] : ordinals_) {
    if (known == name) {
      *ordinal = found;
      return true;
    }
  }
  if (FAILED(reader_->FindField(name, ordinal))) return false;
  if (ordinals_.size() < kMaxCachedNames) ordinals_.emplace_back(name, *ordinal);
  return true;
}

bool CDbRecordset::ReadField(const std::string& name, VARIANT* value, std::string* text,
                             bool* is_text) {
  VariantInit(value);
  *is_text = false;
  if (reader_) {
    LONG ordinal = 0;
    if (!FieldOrdinal(name, &ordinal) || FAILED(reader_->ReadField(ordinal, value, text))) {
      return false;
    }
    *is_text = value->vt == VT_EMPTY;
    return true;
  }
  return recordset_ && SUCCEEDED(recordset_->get_Collect(FieldIndex(name), value));
}

_Recordset* CDbRecordset::Attach(_Recordset* rs) {
  Close();
  if (!rs) return nullptr;
  recordset_ = ComPtr<_Recordset>(rs);
  reader_.Reset();
  ordinals_.clear();
  rs->QueryInterface(IID_IFieldReader, reader_.ReceiveVoid());
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
  bool ok = ReadField(name, &value, &text_, &is_text);
  if (ok && is_text) {
    out.assign(UpToNul(text_));
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
  bool ok = ReadField(name, &value, &text_, &is_text);
  if (ok && is_text) {
    number = TextToLong(text_);
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
