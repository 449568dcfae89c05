#include "console/shorten_text.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
