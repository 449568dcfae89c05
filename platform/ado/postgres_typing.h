// PostgreSQL result values as engine values: a column's type OID (and, for
// numeric, its type modifier) decides its SqlType the way the schema's SQL
// Server types would, so that a VARIANT comes out of PostgreSQL exactly as it
// comes out of SQLite: int4 VT_I4, int2 VT_I2, bool VT_BOOL, float8 VT_R8,
// float4 VT_R4, money VT_CY, numeric VT_DECIMAL at its scale, timestamp and
// date VT_DATE, character types (and citext, or any type the engine does not
// know) VT_BSTR, bytea VT_ARRAY|VT_UI1, int8 VT_I8. An int8 that is computed
// (count(*), no table column) is typed by its value, as SQL Server's int
// count is. Values arrive in libpq's text format and never fail to convert:
// text that does not fit its type comes back as text.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/ado/sql_value.h"

namespace zelto::ado {

// Built-in type OIDs (pg_type.dat); stable across server versions.
namespace pg_oid {
constexpr uint32_t kBool = 16, kBytea = 17, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23,
                   kText = 25, kOid = 26, kFloat4 = 700, kFloat8 = 701, kMoney = 790,
                   kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTimestamp = 1114,
                   kTimestampTz = 1184, kNumeric = 1700;
}  // namespace pg_oid

// `from_table` is false for a computed column. `type_modifier` is libpq's
// PQfmod (-1 when none).
ResultColumn PostgresColumn(std::string_view name, uint32_t type_oid, int type_modifier,
                            bool from_table);

// One value in text format of a column of type `type_oid`.
SqlValue PostgresValue(std::string_view text, uint32_t type_oid);

}  // namespace zelto::ado
