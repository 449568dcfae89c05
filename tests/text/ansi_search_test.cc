#include "text/ansi_search.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win/codepage.h"

namespace {

class AnsiSearchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetAnsiCodePage(CP_GBK)); }
};

TEST_F(AnsiSearchTest, SearchesNeverStartOnATrailingByte) {
  // A1 B0 occurs at byte 1, across two characters: not a match.
  EXPECT_EQ(ReplaceAllAnsi("\xB0\xA1\xB0\xA1", "\xA1\xB0", "X"), "\xB0\xA1\xB0\xA1");
  EXPECT_EQ(ReplaceAllAnsi("a\xA1\xB0", "\xA1\xB0", "X"), "aX");
  EXPECT_EQ(FindAnsi("\xB0\xA1" "ab\xB0\xA1" "ab", "ab", 3), 6u);
}

TEST_F(AnsiSearchTest, ReplaceDoesNotRescanInsertedText) {
  EXPECT_EQ(ReplaceAllAnsi("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(ReplaceAllAnsi("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(ReplaceAllAnsi("abc", "", "x"), "abc");
}

TEST_F(AnsiSearchTest, CharacterLengths) {
  const std::string text = "a\xB0\xA1\xB0";  // ASCII, a whole character, a cut-off lead byte
  EXPECT_EQ(AnsiCharLength(text, 0), 1u);
  EXPECT_EQ(AnsiCharLength(text, 1), 2u);
  EXPECT_EQ(AnsiCharLength(text, 3), 1u);
  EXPECT_EQ(FindAnsi(text, "\xB0", 0), 1u);
  EXPECT_EQ(FindAnsi(text, "\xA1\xB0", 0), std::string::npos);
  EXPECT_EQ(FindAnsi(text, "", 3), 3u);
}

}  // namespace
