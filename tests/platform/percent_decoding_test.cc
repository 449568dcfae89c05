#include "platform/asp/percent_decoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr PercentDecodingRules kQuery{
    .plus_is_space = true, .refuse_bad_escape = false, .refuse_nul = false};
constexpr PercentDecodingRules kStrictForm{
    .plus_is_space = true, .refuse_bad_escape = true, .refuse_nul = true};
constexpr PercentDecodingRules kStrictPath{
    .plus_is_space = false, .refuse_bad_escape = true, .refuse_nul = true};

struct DecodeCase {
  const char* name;
  std::string text;
  std::optional<std::string> query, form, path;  // nullopt: refused
};

TEST(PercentDecodingTest, EachRuleDecidesOnlyItsCase) {
  const std::string nul(1, '\0');
  const DecodeCase cases[] = {
      {"plain", "a-b_c.d", "a-b_c.d", "a-b_c.d", "a-b_c.d"},
      {"escapes, either case", "%41%6a%C4%e3", "Aj\xC4\xE3", "Aj\xC4\xE3", "Aj\xC4\xE3"},
      {"plus", "a+b%2B", "a b+", "a b+", "a+b+"},
      {"%u escape", "%u4F60", "%u4F60", std::nullopt, std::nullopt},
      {"one digit at the end", "x%4", "x%4", std::nullopt, std::nullopt},
      {"percent at the end", "x%", "x%", std::nullopt, std::nullopt},
      {"not hex", "%zz%+", "%zz% ", std::nullopt, std::nullopt},
      {"escaped NUL", "a%00b", "a" + nul + "b", std::nullopt, std::nullopt},
      {"NUL as is", "a" + nul, "a" + nul, std::nullopt, std::nullopt},
      {"escaped percent is not decoded twice", "%2541", "%41", "%41", "%41"},
      {"empty", "", "", "", ""},
  };
  for (const DecodeCase& c : cases) {
    EXPECT_EQ(DecodePercentEscapes(c.text, kQuery), c.query) << c.name;
    EXPECT_EQ(DecodePercentEscapes(c.text, kStrictForm), c.form) << c.name;
    EXPECT_EQ(DecodePercentEscapes(c.text, kStrictPath), c.path) << c.name;
  }
}

}  // namespace
