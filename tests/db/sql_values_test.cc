// The SQL value helpers that keep request values inert.
#include "db/sql_values.h"

#include <gtest/gtest.h>

namespace {

TEST(SqlValuesTest, QuotesAreDoubled) {
  EXPECT_EQ(SqlQuoted("O'Brien"), "O''Brien");
  EXPECT_EQ(SqlQuoted("''"), "''''");
  EXPECT_EQ(SqlQuoted("plain"), "plain");
}

TEST(SqlValuesTest, WellFormedIntegers) {
  for (const char* text : {"0", "7", "-1", "007", "2147483647", "-2147483648"}) {
    EXPECT_TRUE(IsWellFormedInteger(text)) << text;
  }
  for (const char* text : {"", "-", "+1", " 1", "1 ", "1a", "0x1", "1;drop table msg", "1.0",
                           "2147483648", "-2147483649", "99999999999999999999"}) {
    EXPECT_FALSE(IsWellFormedInteger(text)) << text;
  }
}

}  // namespace
