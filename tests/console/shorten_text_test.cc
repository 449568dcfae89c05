#include "console/shorten_text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win/codepage.h"

namespace {

struct ShortenCase {
  const char* name;
  std::string text;
  std::size_t limit;
  std::string expected;
};

class ShortenTextTest : public ::testing::TestWithParam<ShortenCase> {};

TEST_P(ShortenTextTest, CutsByBytes) {
  const ShortenCase& c = GetParam();
  EXPECT_EQ(ShortenText(c.text, c.limit), c.expected);
}

// "\xc4\xe3" is one GBK character (two bytes).
INSTANTIATE_TEST_SUITE_P(
    Cells, ShortenTextTest,
    ::testing::Values(ShortenCase{"Empty", "", 15, ""},
                      ShortenCase{"Exactly15Kept", "abcdefghijklmno", 15, "abcdefghijklmno"},
                      ShortenCase{"Sixteen", "abcdefghijklmnop", 15, "abcdefghijkl..."},
                      ShortenCase{"TwentyOne", "abcdefghijklmnopqrstu", 20, "abcdefghijklmnopq..."},
                      ShortenCase{"CutBetweenTheBytesOfOneCharacter",
                                  "abcdefghijk\xc4\xe3mnopq",  // the 12th byte is the lead byte
                                  15, "abcdefghijk\xc4..."},
                      ShortenCase{
                          "WholeCharactersWhenTheCutFallsBetween",
                          "\xc4\xe3\xc4\xe3\xc4\xe3\xc4\xe3\xc4\xe3\xc4\xe3\xc4\xe3\xc4\xe3", 15,
                          "\xc4\xe3\xc4\xe3\xc4\xe3\xc4\xe3\xc4\xe3\xc4\xe3..."},
                      ShortenCase{"LimitBelowTheEllipsis", "abcdef", 2, "..."}),
    [](const auto& info) { return std::string(info.param.name); });

// On UTF-8 the cut moves back to the start of the character it would split,
// so a cell never shows a broken character.
TEST(ShortenTextUtf8Test, NeverCutsInsideACharacter) {
  const UINT previous = GetACP();
  ASSERT_TRUE(SetAnsiCodePage(CP_UTF8));
  const std::string ni = "\xE4\xBD\xA0";        // 你, three bytes
  const std::string grin = "\xF0\x9F\x98\x80";  // an emoji, four bytes
  const struct {
    const char* name;
    std::string text;
    std::size_t limit;
    std::string expected;
  } cases[] = {
      {"ASCII as before", "abcdefghijklmnop", 15, "abcdefghijkl..."},
      {"fits whole", ni + ni + ni + ni + ni, 15, ni + ni + ni + ni + ni},
      {"cut on a boundary", ni + ni + ni + ni + ni + "x", 15, ni + ni + ni + ni + "..."},
      {"cut inside moves back", "ab" + ni + ni + ni + ni + "cd", 15, "ab" + ni + ni + ni + "..."},
      {"emoji", "abcdefghij" + grin + "xyz", 15, "abcdefghij..."},
      {"first character too long", grin + grin + grin + grin, 5, "..."},
      {"Greek", "Καλημέρα κόσμε", 15, "Καλημέ..."},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortenText(c.text, c.limit), c.expected) << c.name;
  SetAnsiCodePage(previous);
}

}  // namespace
