#include "chat/markup.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win/codepage.h"

namespace {

class MarkupTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetAnsiCodePage(CP_GBK)); }
};

struct Case {
  const char* name;
  std::string input;
  std::string expected;
};

std::string Face(int k) { return "<img src='images/face/" + std::to_string(k) + ".gif' border=0>"; }

const std::string kOpen = "<a target='_blank' href='";

// Characters beyond the Basic Multilingual Plane arrive as two escapes; a
// high surrogate followed by a low one is one character on either code page.
TEST_F(MarkupTest, DecodeUnicodeEscapesJoinsSurrogatePairs) {
  const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600
  const std::string kReplaced = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
  const struct {
    const char* name;
    std::string input;
    std::string utf8;
    std::string gbk;
  } cases[] = {
      {"a pair", "%uD83D%uDE00", kGrin, "?"},
      {"a pair between letters", "%u0041%uD83D%uDE00%u0042", "A" + kGrin + "B", "A?B"},
      {"flag: two pairs", "%uD83C%uDDE8%uD83C%uDDF3", "\xF0\x9F\x87\xA8\xF0\x9F\x87\xB3", "??"},
      {"lower case digits", "%ud83d%ude00", kGrin, "?"},
      {"lone high before a letter", "%uD83D%u0041", kReplaced + "A", "?A"},
      {"lone low", "%uDE00x", kReplaced + "x", "?x"},
      {"low before high is two lone halves", "%uDE00%uD83D", kReplaced + kReplaced, "??"},
      {"high, high, low: the second pairs", "%uD83D%uD83D%uDE00", kReplaced + kGrin, "??"},
      {"pair cut at the end of the text", "%uD83D%uDE0", kReplaced + "%uDE0", "?%uDE0"},
      {"high at the very end", "%u0041%uD83D", "A" + kReplaced, "A?"},
      {"high then text that is no escape", "%uD83D%xDE00", kReplaced + "%xDE00", "?%xDE00"},
  };
  for (UINT code_page : {CP_UTF8, CP_GBK}) {
    ASSERT_TRUE(SetAnsiCodePage(code_page));
    for (const auto& c : cases) {
      const std::string out = DecodeUnicodeEscapes(c.input);
      EXPECT_EQ(out, code_page == CP_UTF8 ? c.utf8 : c.gbk) << c.name << " on " << code_page;
      EXPECT_LE(out.size(), c.input.size()) << c.name;
    }
  }
}

TEST_F(MarkupTest, DecodeUnicodeEscapes) {
  const Case cases[] = {
      {"two GBK characters", "%u4F60%u597D", "\xC4\xE3\xBA\xC3"},
      {"five bytes stay", "%u4F6", "%u4F6"},
      {"escapes after other text stay", "a%u4F60%u597D", "a%u4F60%u597D"},
      {"capital U is no escape", "%U4F60", "%U4F60"},
      {"trailing %u with two digits copied", "%u4F60%u59", "\xC4\xE3%u59"},
      {"escape reading 0 vanishes", "%u0000abc", "abc"},
      {"no hex digits read as 0", "%uZZZZx", "x"},
      {"digits up to the first non-digit", "%u41zzx", "Ax"},
      {"strtol takes a 0x prefix", "%u0x41", "A"},
      {"strtol skips leading blanks", "%u  41!", "A!"},
      {"negative wraps to FFFF, unrepresentable", "%u-001", "?"},
      {"two-digit escapes and plus stay", "%u0041%41+%u0042", "A%41+B"},
      {"lone percent copied", "%u0041%", "A%"},
      {"plain text between escapes", "%u0041 and %u0042", "A and B"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeUnicodeEscapes(c.input), c.expected) << c.name;
  }
}

TEST_F(MarkupTest, ConvertLinkMarkers) {
  const Case cases[] = {
      {"whole anchor", "#link#http://a.com/#link_mid#B#link_end#",
       kOpen + "http://a.com/'>B</a>"},
      {"lone end marker", "x#link_end#", "x</a>"},
      {"lone middle marker", "#link_mid#", "'>"},
      {"unterminated opening", "#link#page.htm", kOpen + "page.htm"},
      {"markers are case-sensitive", "#LINK#x#Link_mid#", "#LINK#x#Link_mid#"},
      {"marker takes the face code's #", ":#3#link#", ":#3" + kOpen},
      {"faces inside an address", "#link#http://a/:#3##link_mid#x",
       kOpen + "http://a/" + Face(3) + "'>x"},
      {"faces after markers", "Hi :#3# #link#http://a#link_mid#:#4##link_end#",
       "Hi " + Face(3) + " " + kOpen + "http://a'>" + Face(4) + "</a>"},
      {"relative and https addresses", "#link#/p?a=1#link_mid#x#link#HTTPS://b#link_mid#y",
       kOpen + "/p?a=1'>x" + kOpen + "HTTPS://b'>y"},
      {"opening overlapping a middle marker", "#link_mid#link#", "#link_mid" + kOpen},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertLinkMarkers(c.input), c.expected) << c.name;
  }
}

TEST_F(MarkupTest, ScriptAddressesStayText) {
  const Case cases[] = {
      {"javascript", "#link#javascript:alert(1)#link_mid#x#link_end#",
       "&#35;link&#35;javascript:alert(1)&#35;link_mid&#35;x</a>"},
      {"mixed case, blank in front", "#link# JavaScript:x#link_mid#y",
       "&#35;link&#35; JavaScript:x&#35;link_mid&#35;y"},
      {"tab inside the scheme", "#link#java\tscript:x", "&#35;link&#35;java\tscript:x"},
      {"data address", "#link#data:text/html,x#link_mid#", "&#35;link&#35;data:text/html,x&#35;link_mid&#35;"},
      {"a later safe link still works", "#link#vbscript:x#link#http://a#link_mid#y",
       "&#35;link&#35;vbscript:x" + kOpen + "http://a'>y"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertLinkMarkers(c.input), c.expected) << c.name;
  }
}

TEST_F(MarkupTest, SafeLinkAddresses) {
  for (const char* address : {"http://a", "https://a", "HTTP://A", "", "page.htm", "/a:b",
                              "?q=a:b", "//host/x", "a/b:c", "#top:x", "java&#39;:x"}) {
    EXPECT_TRUE(IsSafeLinkAddress(address)) << address;
  }
  for (const char* address : {"javascript:x", "JAVASCRIPT:x", " javascript:x", "data:x",
                              "vbscript:x", "mailto:a@b", "http:x"}) {
    EXPECT_FALSE(IsSafeLinkAddress(address)) << address;
  }
}

TEST_F(MarkupTest, ConvertFaceCodes) {
  const Case cases[] = {
      {"first code", ":#0#", Face(0)},
      {"last code", ":#55#", Face(55)},
      {"56 is no face", ":#56#", ":#56#"},
      {"leading zero is no face", ":#03#", ":#03#"},
      {"every occurrence", ":#3#a:#3#", Face(3) + "a" + Face(3)},
      {"code inside other text", ":#:#1##", ":#" + Face(1) + "#"},
      {"incomplete code", ":#1", ":#1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertFaceCodes(c.input), c.expected) << c.name;
  }
  std::string every, faces;  // all codes, last first, between GBK characters
  for (int k = 55; k >= 0; --k) {
    every += ":#" + std::to_string(k) + "#\xB0\xA1";
    faces += Face(k) + "\xB0\xA1";
  }
  EXPECT_EQ(ConvertFaceCodes(every), faces);
}

TEST_F(MarkupTest, SearchesNeverStartOnATrailingByte) {
  // B0 A1 is one GBK character; after a lone lead byte the next byte is its
  // trailing byte, whatever it is.
  EXPECT_EQ(ConvertLinkMarkers("\xB0\xA1#link_end#"), "\xB0\xA1</a>");
  EXPECT_EQ(ConvertLinkMarkers("\xB0#link_end#"), "\xB0#link_end#");
  EXPECT_EQ(ConvertFaceCodes("\xB0\xA1:#1#"), "\xB0\xA1" + Face(1));
  EXPECT_EQ(ConvertFaceCodes("\xB0:#1#"), "\xB0:#1#");
}

}  // namespace
