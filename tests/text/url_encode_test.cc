#include "text/url_encode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct EncodeCase {
  const char* name;
  std::string input;
  std::string query_value;      // UrlEncodeText
  std::string attribute_value;  // PercentEncodeAttributeBreaks
};

TEST(UrlEncodeTest, EachEncodingTouchesOnlyItsBytes) {
  const EncodeCase cases[] = {
      {"label", "20240520091502731-a_b.c~", "20240520091502731-a_b.c~", "20240520091502731-a_b.c~"},
      {"blank and tab", "a b\tc", "a%20b%09c", "a%20b%09c"},
      {"query syntax", "a=1&b=2?#", "a%3D1%26b%3D2%3F%23", "a=1&b=2?#"},
      {"quotes and markup", "'\"<>", "%27%22%3C%3E", "'\"<>"},
      {"backquote, DEL, NUL", std::string("`\x7F\0", 3), "%60%7F%00", "%60%7F%00"},
      {"GBK bytes", "\xC4\xE3\x5C", "%C4%E3%5C", "\xC4\xE3\x5C"},
      {"empty", "", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlEncodeText(c.input), c.query_value) << c.name;
    EXPECT_EQ(PercentEncodeAttributeBreaks(c.input), c.attribute_value) << c.name;
  }
}

}  // namespace
