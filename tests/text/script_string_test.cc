#include "text/script_string.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win/codepage.h"

namespace {

struct EscapeCase {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(EscapeScriptStringTest, EscapesWhatCouldEndOrBendTheString) {
  const EscapeCase cases[] = {
      {"plain", "hello 1 2", "hello 1 2"},
      {"quotes", "it's \"x\"", "it\\'s \\\"x\\\""},
      {"backslash", "a\\b", "a\\\\b"},
      {"line breaks", "a\r\nb", "a\\r\\nb"},
      {"script end", "</script>", "<\\/script>"},
      {"slash alone", "a/b <b>", "a/b <b>"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeScriptString(c.input), c.expected) << c.name;
  }
}

TEST(EscapeScriptStringTest, LeavesTrailingByteOfDoubleByteCharacterAlone) {
  if (GetACP() != CP_GBK) GTEST_SKIP() << "needs the GBK code page";
  // 0x81 0x5C is one GBK character whose second byte equals a backslash.
  const std::string text = "\x81\x5C'";
  EXPECT_EQ(EscapeScriptString(text), "\x81\x5C\\'");
  // A lone backslash after it is still escaped.
  EXPECT_EQ(EscapeScriptString("\x81\x5C\\"), "\x81\x5C\\\\");
}

TEST(EscapeScriptStringTest, LineSeparatorsAreEscapedOnlyInUtf8) {
  const UINT code_page = GetACP();
  const std::string separators = "a\xE2\x80\xA8" "b\xE2\x80\xA9";
  ASSERT_TRUE(SetAnsiCodePage(CP_UTF8));
  EXPECT_EQ(EscapeScriptString(separators), "a\\u2028b\\u2029");
  // A character that merely starts like one stays whole.
  EXPECT_EQ(EscapeScriptString("\xE2\x80\x94"), "\xE2\x80\x94");
  ASSERT_TRUE(SetAnsiCodePage(CP_GBK));
  // In GBK those bytes are other characters, none of them a separator.
  EXPECT_EQ(EscapeScriptString(separators), separators);
  SetAnsiCodePage(code_page);
}

TEST(EscapeHtmlInScriptStringTest, EscapesForMarkupFirstThenForTheString) {
  // The entity's own characters are never escaped again for the string; the
  // backslash is escaped once, for the string.
  EXPECT_EQ(EscapeHtmlInScriptString("<b a='1'>\"x\\</b>"),
            "&lt;b a=&#39;1&#39;&gt;&quot;x\\\\&lt;/b&gt;");
  EXPECT_EQ(EscapeHtmlInScriptString("plain 1 2"), "plain 1 2");
}

}  // namespace
