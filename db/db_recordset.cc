#include "db/db_recordset.h"

#include "db/value_text.h"
#include "platform/ado/ado.h"
#include "platform/com/activation.h"
#include "platform/win/codepage.h"
#include "platform/win/message_box.h"

namespace {

constexpr size_t kMaxCachedNames = 32;

// The field's value, or false on any error.
bool Collect(_Recordset* rs, const VARIANT& index, VARIANT* value) {
  VariantInit(value);
  return rs && SUCCEEDED(rs->get_Collect(index, value));
}

}  // namespace

CDbRecordset::CDbRecordset() {
  CLSID clsid;
  if (SUCCEEDED(CLSIDFromProgID(u"ADODB.Recordset", &clsid))) {
    CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID__Recordset, recordset_.ReceiveVoid());
  }
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

_Recordset* CDbRecordset::Attach(_Recordset* rs) {
  Close();
  if (!rs) return nullptr;
  recordset_ = ComPtr<_Recordset>(rs);
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
  if (!Collect(recordset_.Get(), FieldIndex(name), &value)) return false;
  std::string text;
  bool ok = VariantToText(value, text);
  VariantClear(&value);
  if (ok) out = std::move(text);
  return ok;
}

bool CDbRecordset::GetFieldLong(const std::string& name, LONG& out) {
  VARIANT value;
  LONG number = 0;
  bool ok = Collect(recordset_.Get(), FieldIndex(name), &value) && VariantToLong(value, number);
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
