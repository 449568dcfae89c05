#include "db/db_recordset.h"

#include "db/value_text.h"
#include "platform/ado/ado.h"
#include "platform/com/activation.h"
#include "platform/win/codepage.h"
#include "platform/win/message_box.h"

namespace {

// A field name as the string variant Collect takes.
class FieldName {
 public:
  explicit FieldName(const std::string& ansi) : value_(MakeVariantBstr(AnsiToWide(ansi))) {}
  ~FieldName() { VariantClear(&value_); }
  FieldName(const FieldName&) = delete;
  FieldName& operator=(const FieldName&) = delete;
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

// The field's value, or false on any error.
bool Collect(_Recordset* rs, const std::string& name, VARIANT* value) {
  VariantInit(value);
  FieldName index(name);
  return rs && SUCCEEDED(rs->get_Collect(index.get(), value));
}

}  // namespace

CDbRecordset::CDbRecordset() {
  CLSID clsid;
  if (SUCCEEDED(CLSIDFromProgID(u"ADODB.Recordset", &clsid))) {
    CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID__Recordset, recordset_.ReceiveVoid());
  }
}

CDbRecordset::~CDbRecordset() { Close(); }

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
  if (!Collect(recordset_.Get(), name, &value)) return false;
  std::string text;
  bool ok = VariantToText(value, text);
  VariantClear(&value);
  if (ok) out = std::move(text);
  return ok;
}

bool CDbRecordset::GetFieldLong(const std::string& name, LONG& out) {
  VARIANT value;
  LONG number = 0;
  bool ok = Collect(recordset_.Get(), name, &value) && VariantToLong(value, number);
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
