// CDbRecordset: owns one "ADODB.Recordset" and reads fields as page text.
// Every failure is a plain false; reading from a recordset that is not open
// raises the "database may have been disconnected" message box.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/ado/field_reader.h"
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
  // The ordinal of `name` in the held recordset, found once per name.
  bool FieldOrdinal(const std::string& name, LONG* ordinal);
  // The string variant Collect takes for `name`, widened once per name, for
  // a recordset that offers no IFieldReader.
  const VARIANT& FieldIndex(const std::string& name);

  ComPtr<_Recordset> recordset_;
  // The held recordset's shortcut for reading fields, when it has one: a
  // reading loop asks for the same few names on every row.
  ComPtr<IFieldReader> reader_;
  std::vector<std::pair<std::string, LONG>> ordinals_;  // of the held recordset
  std::vector<std::pair<std::string, VARIANT>> field_names_;
  std::string text_;  // reused by every read
};
