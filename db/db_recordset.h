// CDbRecordset: owns one "ADODB.Recordset" and reads fields as page text.
// Every failure is a plain false; reading from a recordset that is not open
// raises the "database may have been disconnected" message box.
#pragma once

#include <memory>
#include <string>

#include "platform/com/com_ptr.h"
#include "platform/com/hresult.h"
#include "platform/com/variant.h"

struct _Recordset;

class CDbRecordset {
 public:
  CDbRecordset();   // a fresh, closed "ADODB.Recordset"
  ~CDbRecordset();  // Close, then release
  CDbRecordset(const CDbRecordset&) = delete;
  CDbRecordset& operator=(const CDbRecordset&) = delete;

  // Closes the held recordset; a non-null `rs` replaces it (own reference
  // taken) and is returned with one reference for the caller; null keeps the
  // closed object and returns null.
  _Recordset* Attach(_Recordset* rs);
  bool IsOpen();
  bool IsBOF();  // false when closed or on error
  bool IsEOF();  // false when closed or on error
  bool MoveNext();
  // Not open: message box, false, `out` unchanged. At EOF or on any error:
  // false, `out` unchanged. Otherwise VariantToText of the field, true.
  bool GetFieldText(const std::string& name, std::string& out);
  // VariantToLong of the field, true; on any error `out` = 0 and false.
  bool GetFieldLong(const std::string& name, LONG& out);
  void Close();  // cancels a pending edit first; errors ignored

 private:
  // Field `name` of the current row: a character value as narrow text in
  // `*text` (with `*is_text`), any other in `*value` (fresh; the caller
  // clears it). False on any error.
  bool ReadField(const std::string& name, VARIANT* value, std::string* text, bool* is_text);
  // Reads `recordset_` gives the platform's own field shortcut to, when it
  // offers one, and the names a reading loop asks for on every row.
  struct FieldAccess;

  ComPtr<_Recordset> recordset_;
  std::unique_ptr<FieldAccess> fields_;  // never null
};
