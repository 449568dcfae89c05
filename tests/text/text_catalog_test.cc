#include "text/text_catalog.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/win/codepage.h"

namespace {

TEST(TextCatalogTest, LanguageFromTag) {
  const struct {
    const char* tag;
    TextLanguage language;
  } cases[] = {
      {"en", TextLanguage::kEnglish},    {"EN-gb", TextLanguage::kEnglish},
      {"en_US", TextLanguage::kEnglish}, {"zh", TextLanguage::kChinese},
      {"zh-CN", TextLanguage::kChinese}, {"", TextLanguage::kChinese},
      {"fr", TextLanguage::kChinese},    {"eng", TextLanguage::kChinese},
      {"-en", TextLanguage::kChinese},
  };
  for (const auto& c : cases) EXPECT_EQ(TextLanguageFromTag(c.tag), c.language) << c.tag;
}

// Every text exists in every language, English ones are plain ASCII with no
// character that would need escaping in the markup or script strings they
// go into.
TEST(TextCatalogTest, EveryTextInEveryLanguage) {
  const UINT previous = GetACP();
  ASSERT_TRUE(SetAnsiCodePage(CP_UTF8));
  for (int i = 0; i < static_cast<int>(ComponentText::kCount); ++i) {
    const auto id = static_cast<ComponentText>(i);
    const std::string& chinese = CatalogText(TextLanguage::kChinese, id);
    const std::string& english = CatalogText(TextLanguage::kEnglish, id);
    EXPECT_FALSE(chinese.empty()) << i;
    EXPECT_FALSE(english.empty()) << i;
    for (unsigned char c : english) {
      EXPECT_TRUE(c >= 0x20 && c < 0x7F && c != '\'' && c != '"' && c != '<' && c != '&' &&
                  c != '\\')
          << i << ": " << english;
    }
  }
  // The Chinese texts are the component's own, converted per code page.
  EXPECT_EQ(CatalogText(TextLanguage::kChinese, ComponentText::kSaysSuffix), " 说：");
  ASSERT_TRUE(SetAnsiCodePage(CP_GBK));
  EXPECT_EQ(CatalogText(TextLanguage::kChinese, ComponentText::kSaysSuffix), " \xCB\xB5\xA3\xBA");
  EXPECT_EQ(CatalogText(TextLanguage::kEnglish, ComponentText::kSaysSuffix), " says:");
  SetAnsiCodePage(previous);
}

}  // namespace
