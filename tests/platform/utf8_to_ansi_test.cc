// UTF-8 straight to the ANSI code page gives exactly what going through
// UTF-16 gives, bad bytes and missing characters included, on the first
// meeting of a character and once the code page's table has learnt it.
#include <gtest/gtest.h>

#include <string>

#include "platform/win/codepage.h"

namespace {

class AnsiCodePage {
 public:
  explicit AnsiCodePage(UINT code_page) : previous_(GetACP()) {
    EXPECT_TRUE(SetAnsiCodePage(code_page));
  }
  ~AnsiCodePage() { SetAnsiCodePage(previous_); }

 private:
  UINT previous_;
};

const std::string kTexts[] = {
    "msgTime=2024-05-20",
    "消息 7: 您好，请问价格是多少？",
    "访客731",
    "é à ü ß",              // Latin letters GBK has, and one it lacks
    "ก ₩ Ж",                // Thai and won sign lack GBK; Cyrillic has it
    "a\xF0\x9F\x98\x80z",   // outside the BMP
    "\xEF\xBF\xBD itself",  // U+FFFD as written
    "lone \x80 continuation",
    "overlong \xC0\x80 and \xE0\x80\x80",
    "surrogate \xED\xA0\x80 encoded",
    "too big \xF4\x90\x80\x80",
    "cut \xE4\xB8",      // a sequence cut off at the end
    "cut \xE4\xB8 mid",  // and in the middle
    "\xFF\xFE bytes UTF-8 never has",
    std::string("nul \0 inside 中", 14),
    "",
};

TEST(Utf8ToAnsiTest, MatchesTheWayThroughUtf16) {
  for (UINT code_page : {CP_GBK, CP_UTF8, 1252u}) {
    AnsiCodePage guard(code_page);
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::string& text : kTexts) {
        EXPECT_EQ(Utf8ToAnsi(text), WideToAnsi(Utf8ToWide(text)))
            << "code page " << code_page << ", pass " << pass << ": " << text;
      }
    }
  }
}

TEST(Utf8ToAnsiTest, ReplacesWhatTheTargetHeld) {
  AnsiCodePage guard(CP_GBK);
  std::string out = "a much longer text that was there before the conversion";
  Utf8ToAnsi("中", out);
  EXPECT_EQ(out, "\xD6\xD0");
  Utf8ToAnsi("ab", out);
  EXPECT_EQ(out, "ab");
  Utf8ToAnsi("", out);
  EXPECT_EQ(out, "");
}

}  // namespace
