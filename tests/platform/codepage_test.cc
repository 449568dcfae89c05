#include "platform/win/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/win/local_time.h"
#include "platform/win/message_box.h"

namespace {

// Sets the process code page for one test and puts the previous one back.
class CodePageGuard {
 public:
  explicit CodePageGuard(UINT code_page) : previous_(GetACP()) {
    EXPECT_TRUE(SetAnsiCodePage(code_page));
  }
  ~CodePageGuard() { SetAnsiCodePage(previous_); }

 private:
  UINT previous_;
};

struct NarrowCase {
  const char* name;
  UINT code_page;
  std::u16string wide;
  std::string narrow;
};

TEST(CodePage, NarrowsAndMarksWhatTheCodePageLacks) {
  const NarrowCase cases[] = {
      {"ascii", CP_GBK, u"cid=12&x", "cid=12&x"},
      {"gbk", CP_GBK, u"中文", "\xD6\xD0\xCE\xC4"},
      {"gbk notice", CP_GBK, u"提示", "\xCC\xE1\xCA\xBE"},
      {"emoji pair is one ?", CP_GBK, u"a\U0001F600b", "a?b"},
      {"thai lacks gbk", CP_GBK, u"x\u0E01y中", "x?y\xD6\xD0"},
      {"lone high surrogate", CP_GBK,
       u"a\xD800"
       u"b",
       "a?b"},
      {"lone low surrogate", CP_GBK, u"\xDC00中", "?\xD6\xD0"},
      {"utf8", CP_UTF8, u"你好", "\xE4\xBD\xA0\xE5\xA5\xBD"},
      {"utf8 emoji", CP_UTF8, u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"utf8 lone surrogate", CP_UTF8, u"a\xD800", "a\xEF\xBF\xBD"},
      {"embedded nul kept", CP_GBK, std::u16string(u"a\0中", 3), std::string("a\0\xD6\xD0", 4)},
  };
  for (const NarrowCase& c : cases) {
    CodePageGuard guard(c.code_page);
    EXPECT_EQ(WideToAnsi(c.wide), c.narrow) << c.name;
  }
}

struct WidenCase {
  const char* name;
  UINT code_page;
  std::string narrow;
  std::u16string wide;
};

TEST(CodePage, WidensAndReplacesInvalidBytes) {
  const WidenCase cases[] = {
      {"gbk", CP_GBK, "\xD6\xD0\xCE\xC4", u"中文"},
      {"gbk mixed", CP_GBK,
       "a\xC4\xE3"
       "b",
       u"a你b"},
      {"gbk cut at end", CP_GBK, "ab\xD6", u"ab\uFFFD"},
      {"gbk bad trail keeps next char", CP_GBK, "a\x81 b", u"a\uFFFD b"},
      {"gbk 0xFF", CP_GBK,
       "\xFF"
       "a",
       u"\uFFFD"
       u"a"},
      {"utf8", CP_UTF8, "\xE4\xBD\xA0", u"你"},
      {"utf8 bad continuation", CP_UTF8, "\xC3(", u"\uFFFD("},
      {"utf8 encoded surrogate", CP_UTF8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"utf8 cut at end", CP_UTF8, "x\xE4\xBD", u"x\uFFFD\uFFFD"},
      {"empty", CP_GBK, "", u""},
      // Mostly ASCII pages convert only their other characters: a trailing
      // byte in the ASCII range still belongs to its character, and a bad
      // byte before a lead byte must not split the character after it.
      {"gbk trail byte in ascii range", CP_GBK, "x\x81\x40y\x81\x41", u"x\u4E02y\u4E04"},
      {"gbk bad byte then a character", CP_GBK, "<p>\xFF\x81\x41</p>", u"<p>\uFFFD\u4E04</p>"},
      {"gbk runs between markup", CP_GBK, "<b>\xB0\xA1</b>\xB0\xA1\xB0\xA1.",
       u"<b>\u554A</b>\u554A\u554A."},
      {"gbk lead byte cut by markup", CP_GBK, "a\xB0<b>", u"a\uFFFD<b>"},
  };
  for (const WidenCase& c : cases) {
    CodePageGuard guard(c.code_page);
    EXPECT_EQ(AnsiToWide(c.narrow), c.wide) << c.name;
  }
}

TEST(CodePage, SystemTextsRoundTripThroughGbk) {
  CodePageGuard guard(CP_GBK);
  const char* texts[] = {"提示", "数据库可能已经断开,\r\n请重新连接、然后重试.", "客服", "访客",
                         "对不起，您没有权限！"};
  for (const char* utf8 : texts) {
    const std::string& gbk = AnsiText(utf8);
    EXPECT_NE(gbk, utf8);
    EXPECT_EQ(gbk.find('?'), std::string::npos) << utf8;
    EXPECT_EQ(AnsiToUtf8(gbk), utf8);
    EXPECT_EQ(WideToAnsi(AnsiToWide(gbk)), gbk);
  }
}

TEST(CodePage, AnsiTextIsCachedPerCodePage) {
  CodePageGuard gbk(CP_GBK);
  const std::string& first = AnsiText("提示");
  EXPECT_EQ(first, "\xCC\xE1\xCA\xBE");
  const std::string copy = "提示";  // same text at another address
  EXPECT_EQ(&AnsiText(copy.c_str()), &first);
  {
    CodePageGuard utf8(CP_UTF8);
    EXPECT_EQ(AnsiText("提示"), "提示");
  }
  EXPECT_EQ(&AnsiText("提示"), &first);
}

TEST(CodePage, WindowsLengthConventions) {
  CodePageGuard guard(CP_GBK);
  const char16_t wide[] = u"中a";
  // -1: NUL-terminated, terminator included; size 0 asks for the size.
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 4);
  char narrow[8] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr), 4);
  EXPECT_STREQ(narrow,
               "\xD6\xD0"
               "a");
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 2, narrow, 2, nullptr, nullptr), 0)
      << "a buffer too small fails";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 0, narrow, 8, nullptr, nullptr), 0);

  BOOL used = FALSE;
  const char16_t lacking[] = u"\u0E01";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, lacking, 1, narrow, 8, "*", &used), 1);
  EXPECT_EQ(narrow[0], '*');
  EXPECT_TRUE(used);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 2, narrow, 8, nullptr, &used), 3);
  EXPECT_FALSE(used);

  char16_t back[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0,
                                "\xD6\xD0"
                                "a",
                                -1, nullptr, 0),
            3);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0,
                                "\xD6\xD0"
                                "a",
                                -1, back, 8),
            3);
  EXPECT_EQ(std::u16string(back), u"中a");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE4\xBD\xA0", 3, back, 1), 1);
  EXPECT_EQ(back[0], u'你');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", 2, back, 1), 0);
}

TEST(CodePage, LeadBytesFollowTheCodePage) {
  struct Case {
    UINT code_page;
    BYTE byte;
    bool lead;
  } cases[] = {{CP_GBK, 0x80, false},  {CP_GBK, 0x81, true},  {CP_GBK, 0xD6, true},
               {CP_GBK, 0xFE, true},   {CP_GBK, 0xFF, false}, {CP_GBK, 'a', false},
               {CP_UTF8, 0xE4, false}, {CP_UTF8, 0x81, false}};
  for (const Case& c : cases) {
    CodePageGuard guard(c.code_page);
    EXPECT_EQ(IsDBCSLeadByte(c.byte) != 0, c.lead) << c.code_page << " " << int(c.byte);
  }
}

TEST(CodePage, UnknownCodePageIsRefused) {
  CodePageGuard guard(CP_GBK);
  EXPECT_FALSE(SetAnsiCodePage(4242));
  EXPECT_FALSE(SetAnsiCodePage(CP_ACP));
  EXPECT_EQ(GetACP(), CP_GBK);
  EXPECT_EQ(MultiByteToWideChar(4242, 0, "a\xD6", 2, nullptr, 0), 0);
}

TEST(CodePage, ThreadsConvertIndependently) {
  CodePageGuard guard(CP_GBK);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 2000; ++i) {
        const std::u16string wide =
            (t % 2 ? u"你好\uFFFD" : u"中文\U0001F600") + std::u16string(1, u'a' + t);
        const std::string narrow = WideToAnsi(wide);
        const std::u16string expected = t % 2 ? u"你好?" : u"中文?";
        if (AnsiToWide(narrow) != expected + std::u16string(1, u'a' + t)) ++failures[t];
        if (Utf8ToWide(WideToUtf8(wide)) != wide) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(MessageBox, SinkGetsUtf8AndLogLineIsOneLine) {
  CodePageGuard guard(CP_GBK);
  std::string caption, text;
  SetMessageBoxSink([&](std::string_view c, std::string_view t) {
    caption = c;
    text = t;
  });
  EXPECT_EQ(MessageBoxA(nullptr, AnsiText("断开,\r\n重试").c_str(), AnsiText("提示").c_str(),
                        MB_OK | MB_ICONINFORMATION),
            IDOK);
  EXPECT_EQ(caption, "提示");
  EXPECT_EQ(text, "断开,\r\n重试");

  SetMessageBoxSink(nullptr);
  testing::internal::CaptureStderr();
  MessageBoxA(nullptr, AnsiText("断开,\r\n重试").c_str(), AnsiText("提示").c_str(), MB_OK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[message box] 提示: 断开,\\r\\n重试\n");
}

TEST(LocalTime, MatchesTheCalendarClock) {
  SYSTEMTIME st{};
  const time_t before = time(nullptr);
  GetLocalTime(&st);
  tm local{};
  localtime_r(&before, &local);
  EXPECT_EQ(st.wYear, local.tm_year + 1900);
  EXPECT_EQ(st.wMonth, local.tm_mon + 1);
  EXPECT_GE(st.wDay, 1);
  EXPECT_LE(st.wDay, 31);
  EXPECT_LT(st.wHour, 24);
  EXPECT_LT(st.wMilliseconds, 1000);
  const int seconds_of_day = st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
  const int expected = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  EXPECT_LE((seconds_of_day - expected + 86400) % 86400, 2);
}

}  // namespace
