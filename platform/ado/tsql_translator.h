// Rewrites the T-SQL subset the component sends into SQLite's dialect (and,
// with the differences listed below, PostgreSQL's):
//   select top n ...               -> select ... LIMIT n (per select scope)
//   a + 'text', CAST(..) + b       -> || where an operand is a string
//   CHARINDEX(a, b)                -> instr(b, a)  (1-based, 0 absent, NULL in NULL out)
//   DATEPART(hh|mi|ss|..., x)      -> CAST(strftime('%H', x) AS INTEGER)
//   CAST(x AS nvarchar(n))         -> CAST(x AS TEXT)
// Literal numbers and strings become "?" parameters (type lengths, "top n" and
// ORDER BY / GROUP BY ordinals stay literal), so statements that differ only
// in their values share one text and one prepared statement. Everything else
// passes through unchanged, comments and blanks included.
//
// PostgreSQL: CHARINDEX(a, b) -> strpos(b, a); DATEPART(hh, x) ->
// CAST(floor(EXTRACT(HOUR FROM CAST(x AS timestamp))) AS INTEGER);
// CAST(x AS nvarchar(n)) -> CAST(x AS varchar(n)) (text without a length);
// [Name] and "Name" -> "name" (unquoted names are folded by the server
// itself); placeholders are $1, $2...; a batch comes back split into its
// statements, since a prepared statement holds only one.
#pragma once

#include <string_view>
#include <vector>

#include "platform/ado/sql_value.h"

namespace zelto::ado {

enum class Dialect { kSqlite, kPostgres };

Statement TranslateTsqlForSqlite(std::string_view tsql);
std::vector<Statement> TranslateTsqlForPostgres(std::string_view tsql);

}  // namespace zelto::ado
