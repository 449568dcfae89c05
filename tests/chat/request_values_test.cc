// HTML escaping and the SQL value helpers that keep request values inert.
#include <gtest/gtest.h>

#include "chat/html_escape.h"
#include "chat/sql_values.h"

namespace {

TEST(HtmlEscapeTest, EscapesTheFiveCharacters) {
  EXPECT_EQ(HtmlEscape("<a href=\"x\" title='y'>&amp;</a>"),
            "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;");
  // Ordinary text, including GBK bytes and the markup's own characters, stays.
  EXPECT_EQ(HtmlEscape("Hi :#3# #link#\xC4\xE3\xBA\xC3 100%"), "Hi :#3# #link#\xC4\xE3\xBA\xC3 100%");
  // After a broken lead byte a browser reads '<' as itself: still escaped.
  EXPECT_EQ(HtmlEscape("\x81<"), "\x81&lt;");
  EXPECT_EQ(HtmlEscape(""), "");
}

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
