// IFieldReader: a shortcut past Collect that "ADODB.Recordset" offers the
// component's own database wrapper (QueryInterface with IID_IFieldReader).
// A reading loop asks for the same few fields on every row and wants them as
// narrow text, so fields are found once by name and read by ordinal, and
// character values come straight in the ANSI code page, never through a
// BSTR. Not part of ADO: a recordset that lacks it is read through Collect.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

struct IFieldReader : IUnknown {
  // The ordinal of the column Collect would take for `name` (ANSI code page;
  // ASCII letters match either case; the first of duplicate names), or
  // adErrItemNotFound; adErrObjectClosed when closed.
  virtual HRESULT FindField(std::string_view name, LONG* ordinal) = 0;
  // The current row's field `ordinal`, failing as Collect would. A value
  // Collect gives as VT_BSTR comes as `*ansi`, the same string in the ANSI
  // code page (embedded NULs kept), with `*value` VT_EMPTY; any other value
  // comes in `*value` as Collect gives it. `value` must be cleared or fresh.
  virtual HRESULT ReadField(LONG ordinal, VARIANT* value, std::string* ansi) = 0;
};

extern const IID IID_IFieldReader;  // {0AB029CE-F348-4832-818B-DE422F3AD307}
