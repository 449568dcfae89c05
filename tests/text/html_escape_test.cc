#include "text/html_escape.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(HtmlEscapeTest, AppendingKeepsWhatIsThere) {
  std::string out = "&lt;";
  AppendHtmlEscaped(out, "<&");
  EXPECT_EQ(out, "&lt;&lt;&amp;");
}

}  // namespace
