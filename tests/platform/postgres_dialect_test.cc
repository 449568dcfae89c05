// The PostgreSQL side of the platform's engine, without a server: the T-SQL
// rewrite for its dialect, where a connection string points, and how values
// in libpq's text format are typed.
#include <gtest/gtest.h>

#include "platform/ado/field_value.h"
#include "platform/ado/postgres_target.h"
#include "platform/ado/postgres_typing.h"
#include "platform/ado/tsql_translator.h"
#include "platform/com/safearray.h"
#include "platform/com/variant.h"

namespace zelto::ado {
namespace {

using V = SqlValue;

struct DialectCase {
  const char* tsql;
  std::vector<std::string> statements;
  std::vector<std::vector<SqlValue>> params;
};

class PostgresDialectTest : public ::testing::TestWithParam<DialectCase> {};

TEST_P(PostgresDialectTest, RewritesNumbersAndSplits) {
  const DialectCase& c = GetParam();
  std::vector<Statement> batch = TranslateTsqlForPostgres(c.tsql);
  ASSERT_EQ(batch.size(), c.statements.size()) << c.tsql;
  for (size_t i = 0; i < batch.size(); ++i) {
    EXPECT_EQ(batch[i].text, c.statements[i]) << c.tsql;
    EXPECT_EQ(batch[i].parameters, c.params[i]) << c.tsql;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Subset, PostgresDialectTest,
    ::testing::Values(
        DialectCase{"select * from msg where conid=12 and userID_send<>5 and "
                    "CHARINDEX(',5,',readFlag)=0",
                    {"select * from msg where conid=$1 and userID_send<>$2 and "
                     "strpos(readFlag, $3)=$4"},
                    {{V::Integer(12), V::Integer(5), V::Text(",5,"), V::Integer(0)}}},
        // the swapped arguments keep their numbers in text order
        DialectCase{"select CHARINDEX('x', b + 'y') from t",
                    {"select strpos(b || $1, $2) from t"},
                    {{V::Text("y"), V::Text("x")}}},
        DialectCase{"select top 1 * from cstTrack where cstLabel='a' order by presentTime desc",
                    {"select * from cstTrack where cstLabel=$1 order by presentTime desc LIMIT 1"},
                    {{V::Text("a")}}},
        DialectCase{"select CAST(DATEPART(ss, v) AS nvarchar(50))+ ':' from t",
                    {"select CAST(CAST(floor(EXTRACT(SECOND FROM CAST(v AS timestamp))) AS "
                     "INTEGER) AS varchar(50))|| $1 from t"},
                    {{V::Text(":")}}},
        DialectCase{"select CAST(a AS nvarchar(max)), CAST(b AS varchar), DATEPART(hh, 'x')",
                    {"select CAST(a AS text), CAST(b AS text), CAST(floor(EXTRACT(HOUR FROM "
                     "CAST($1 AS timestamp))) AS INTEGER)"},
                    {{V::Text("x")}}},
        // bracketed and quoted names fold as the server folds unquoted ones
        DialectCase{"select [msgID], \"Nick\"\"Name\", [a]]b] from [C_Members]",
                    {"select \"msgid\", \"nick\"\"name\", \"a]b\" from \"c_members\""},
                    {{}}},
        // a "?" in a comment or a name is not a placeholder
        DialectCase{"select a /* ? */ from [t?] where b = 'x' -- ?\n",
                    {"select a /* ? */ from \"t?\" where b = $1 -- ?\n"},
                    {{V::Text("x")}}},
        // batches split at top-level semicolons, each numbered from $1
        DialectCase{"insert into t values(1,'a'); ; insert into t values(2,'b');  -- end",
                    {"insert into t values($1,$2)", " insert into t values($1,$2)"},
                    {{V::Integer(1), V::Text("a")}, {V::Integer(2), V::Text("b")}}},
        DialectCase{"select f(';', (select 1; 2))", {"select f($1, (select $2; $3))"},
                    {{V::Text(";"), V::Integer(1), V::Integer(2)}}},
        DialectCase{"  -- nothing\n", {}, {}},
        // "$32" would be parameter 32 and "like$1" one name: a blank keeps them apart
        DialectCase{"select a from t where b like'%x%' order by 'y'2",
                    {"select a from t where b like $1 order by $2 2"},
                    {{V::Text("%x%"), V::Text("y")}}}));

TEST(PostgresTargetTest, DataSourceNamesHostPortOrSocket) {
  struct Case {
    const char* data_source;
    const char* host;
    const char* port;
  };
  const Case cases[] = {
      {"db.example.com", "db.example.com", ""},
      {"127.0.0.1:5433", "127.0.0.1", "5433"},
      {"127.0.0.1,5433", "127.0.0.1", "5433"},
      {"/var/run/postgresql", "/var/run/postgresql", ""},
      {"/tmp/pg:41000", "/tmp/pg", "41000"},
      {"host:notaport", "host:notaport", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    ConnectionString cs;
    cs.data_source = c.data_source;
    cs.initial_catalog = "ZeltoChat";
    cs.user_id = "u";
    cs.password = "p w;d='x'";
    PostgresTarget t = PostgresTargetFrom(cs);
    EXPECT_EQ(t.host, c.host) << c.data_source;
    EXPECT_EQ(t.port, c.port) << c.data_source;
    EXPECT_EQ(t.database, "zeltochat");
    EXPECT_EQ(t.password, "p w;d='x'");  // passed as a value, never parsed
  }
}

// Renders a typed value the way the component reads it.
std::string Typed(const char* text, uint32_t oid, int typmod = -1, bool from_table = true) {
  ResultColumn column = PostgresColumn("c", oid, typmod, from_table);
  VARIANT v;
  EXPECT_EQ(SqlValueToVariant(PostgresValue(text, oid), column, &v), S_OK);
  std::string out = std::to_string(v.vt) + ":";
  switch (v.vt) {
    case VT_I4: out += std::to_string(v.lVal); break;
    case VT_I2: out += std::to_string(v.iVal); break;
    case VT_I8: out += std::to_string(v.llVal); break;
    case VT_BOOL: out += v.boolVal ? "true" : "false"; break;
    case VT_R8: out += std::to_string(v.dblVal); break;
    case VT_R4: out += std::to_string(v.fltVal); break;
    case VT_CY: out += std::to_string(v.cyVal.int64); break;
    case VT_DATE: out += std::to_string(v.date); break;
    case VT_DECIMAL: out += std::to_string(v.decVal.scale) + "/" + std::to_string(v.decVal.Lo64); break;
    case VT_BSTR: out += std::to_string(SysStringLen(v.bstrVal)); break;
    case VT_ARRAY | VT_UI1: out += std::to_string(v.parray->rgsabound[0].cElements); break;
    default: break;
  }
  VariantClear(&v);
  return out;
}

TEST(PostgresTypingTest, ColumnTypesGiveTheServersVariantTypes) {
  using namespace pg_oid;
  EXPECT_EQ(Typed("-3", kInt4), "3:-3");
  EXPECT_EQ(Typed("-2", kInt2), "2:-2");
  EXPECT_EQ(Typed("5000000000", kInt8), "20:5000000000");
  EXPECT_EQ(Typed("7", kInt8, -1, false), "3:7");  // count(*) reads as an int
  EXPECT_EQ(Typed("5000000000", kInt8, -1, false), "20:5000000000");
  EXPECT_EQ(Typed("t", kBool), "11:true");
  EXPECT_EQ(Typed("f", kBool), "11:false");
  EXPECT_EQ(Typed("3.14159", kFloat8), "5:3.141590");
  EXPECT_EQ(Typed("3.14159", kFloat4), "4:3.141590");
  EXPECT_EQ(Typed("-$1,234.50", kMoney), "6:-12345000");
  EXPECT_EQ(Typed("-7.25", kNumeric, (10 << 16 | 2) + 4), "14:2/725");
  EXPECT_EQ(Typed("2006-01-02", kDate), Typed("2006-01-02 00:00:00", kTimestamp));
  EXPECT_NE(Typed("2006-01-02 03:04:05.6", kTimestamp), Typed("2006-01-02 03:04:05", kTimestamp));
  EXPECT_EQ(Typed("2006-01-02 03:04:05+08", kTimestampTz), Typed("2006-01-02 03:04:05", kTimestamp));
  EXPECT_EQ(Typed("\\x0102ff", kBytea), "8209:3");
  EXPECT_EQ(Typed("王芳", kVarchar), "8:2");
  EXPECT_EQ(Typed("abc", 99999), "8:3");  // citext and other types the engine does not know
  // Text that does not fit its type comes back as text, never mangled.
  EXPECT_EQ(Typed("NaN", kNumeric), "8:3");
  EXPECT_EQ(Typed("\\x012", kBytea), "8209:5");  // the text's bytes, as on SQLite
  EXPECT_EQ(Typed("maybe", kBool), "8:5");
}

}  // namespace
}  // namespace zelto::ado
