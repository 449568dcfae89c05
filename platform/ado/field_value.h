// Engine values as VARIANTs, typed the way SQL Server's provider types them:
// by the column's declared type (int VT_I4, smallint VT_I2, tinyint VT_UI1,
// bit VT_BOOL, float VT_R8, real VT_R4, money VT_CY, decimal VT_DECIMAL,
// datetime VT_DATE, character types VT_BSTR, binary VT_ARRAY|VT_UI1, bigint
// VT_I8), and for computed columns by what is stored (integer VT_I4, or VT_I8
// when it does not fit; real VT_R8; text VT_BSTR; blob bytes). NULL is
// VT_NULL. A value that does not fit its declared type (text in an int
// column, say) is typed by what is stored rather than mangled.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ado/sql_value.h"
#include "platform/com/variant.h"

namespace zelto::ado {

// `out` must be cleared or fresh; it receives a value it owns. A decimal
// column with a declared scale keeps that many digits after the point.
HRESULT SqlValueToVariant(const SqlValue& value, const ResultColumn& column, VARIANT* out);

// The same, except that a value that would be a VT_BSTR is not made into
// one: `out` stays VT_EMPTY and `*text` gets its UTF-8 text, a view into
// `value` or into `*scratch`, for callers that want other text than UTF-16.
HRESULT SqlValueToVariantOrText(const SqlValue& value, const ResultColumn& column, VARIANT* out,
                                std::string_view* text, std::string* scratch);

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]" (or with "T") as a DATE;
// nullopt for anything else, including impossible dates.
std::optional<DATE> DateFromSqlText(std::string_view text);

// A plain decimal number ("-12.3400") as DECIMAL; nullopt when it is not one
// or needs more than 28 digits.
std::optional<DECIMAL> DecimalFromText(std::string_view text);

}  // namespace zelto::ado
