// CDbRecordset's reads by name as a reading loop makes them: names found
// once per recordset, text narrowed from the database's UTF-8, and the same
// results as rendering the VARIANT that Collect gives.
#include <gtest/gtest.h>

#include <string>

#include "db/db_connection.h"
#include "db/db_recordset.h"
#include "db/value_text.h"
#include "platform/ado/ado.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"

namespace {

class FieldReadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(connection_.Connect(db_.folder(), "chat", "", "", adOptionUnspecified));
  }
  void Read(CDbRecordset& rs, const std::string& sql) {  // `sql` in the ANSI code page
    ComPtr<_Recordset>::Adopt(rs.Attach(connection_.Execute(sql)));
  }

  zelto::testing::SeededDatabase db_;
  CDbConnection connection_;
};

TEST_F(FieldReadsTest, NamesAreFoundAgainForEachAttachedResult) {
  CDbRecordset rs;
  Read(rs, "select 1 as a, 2 as b");
  LONG a = 0, b = 0;
  ASSERT_TRUE(rs.GetFieldLong("a", a));
  ASSERT_TRUE(rs.GetFieldLong("b", b));
  EXPECT_EQ(a * 10 + b, 12);
  // The same names in another order, then a result without one of them.
  Read(rs, "select 3 as b, 4 as a");
  ASSERT_TRUE(rs.GetFieldLong("a", a));
  ASSERT_TRUE(rs.GetFieldLong("b", b));
  EXPECT_EQ(a * 10 + b, 43);
  Read(rs, "select 5 as b");
  EXPECT_FALSE(rs.GetFieldLong("a", a));
  EXPECT_EQ(a, 0);
  std::string text = "kept";
  EXPECT_FALSE(rs.GetFieldText("a", text));
  EXPECT_EQ(text, "kept");
}

TEST_F(FieldReadsTest, TextReadsMatchTheRenderedVariant) {
  struct Case {
    const char* expression;  // UTF-8
    const char* text;        // UTF-8 of the expected page text
    LONG number;
  };
  const Case cases[] = {
      {"'访客731'", "访客731", 0},
      {"'  -42 x'", "  -42 x", -42},
      {"'12' || char(0) || '34'", "12", 12},  // narrow text ends at a NUL
      {"'ก中'", "?中", 0},                    // Thai has no GBK form
      {"cast(x'E4B8' as text)", "??", 0},     // bytes that are no UTF-8
      {"CAST(7 AS nvarchar(5))", "7", 7},
      {"NULL", "", 0},
  };
  for (const Case& c : cases) {
    CDbRecordset rs;
    Read(rs, Utf8ToAnsi(std::string("select ") + c.expression + " as [值]"));
    std::string text;
    LONG number = -1;
    ASSERT_TRUE(rs.GetFieldText(AnsiText("值"), text)) << c.expression;
    EXPECT_EQ(AnsiToUtf8(text), c.text) << c.expression;
    EXPECT_TRUE(rs.GetFieldLong(AnsiText("值"), number)) << c.expression;
    EXPECT_EQ(number, c.number) << c.expression;
  }
}

}  // namespace
