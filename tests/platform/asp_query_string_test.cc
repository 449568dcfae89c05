#include <gtest/gtest.h>

#include "platform/asp/query_string.h"

namespace {

struct ParseCase {
  const char* name;
  const char* query;
  PageCharset charset;
  NamedValues expected;
};

TEST(QueryString, DecodesFormEncoding) {
  const auto kUtf8 = PageCharset::kUtf8;
  const ParseCase cases[] = {
      {"pairs", "cid=12&action=sub", kUtf8, {{u"cid", u"12"}, {u"action", u"sub"}}},
      {"plus is blank", "msg=hello+world+", kUtf8, {{u"msg", u"hello world "}}},
      {"escaped plus stays", "m=1%2B1", kUtf8, {{u"m", u"1+1"}}},
      {"utf8 escapes", "m=%E4%BD%A0%e5%a5%bd", kUtf8, {{u"m", u"你好"}}},
      {"gbk escapes", "m=%C4%E3%BA%C3", PageCharset::kGbk, {{u"m", u"你好"}}},
      {"raw utf8 bytes", "m=\xE4\xBD\xA0", kUtf8, {{u"m", u"你"}}},
      {"%u escape kept", "m=%u4F60%u597D", kUtf8, {{u"m", u"%u4F60%u597D"}}},
      {"bad escapes kept", "m=%zz%4%", kUtf8, {{u"m", u"%zz%4%"}}},
      {"invalid utf8", "m=a%FF%C3b", kUtf8, {{u"m", u"a\uFFFD\uFFFDb"}}},
      {"gbk cut lead byte", "m=%C4", PageCharset::kGbk, {{u"m", u"\uFFFD"}}},
      {"escaped separators", "a%3Db=c%26d", kUtf8, {{u"a=b", u"c&d"}}},
      {"value keeps later =", "a=b=c", kUtf8, {{u"a", u"b=c"}}},
      {"leading ? and empty pieces", "?a=1&&b&", kUtf8, {{u"a", u"1"}, {u"b", u""}}},
      {"repeated keys kept in order", "k=1&K=2", kUtf8, {{u"k", u"1"}, {u"K", u"2"}}},
      {"empty", "", kUtf8, {}},
  };
  for (const ParseCase& c : cases)
    EXPECT_EQ(ParseQueryString(c.query, c.charset), c.expected) << c.name;
}

TEST(QueryString, LookupIsCaseInsensitiveAndTakesTheFirst) {
  const NamedValues values = ParseQueryString("CID=7&cid=8&msgContent=x");
  ASSERT_NE(FindValue(values, u"cid"), nullptr);
  EXPECT_EQ(*FindValue(values, u"cid"), u"7");
  EXPECT_EQ(*FindValue(values, u"MSGCONTENT"), u"x");
  EXPECT_EQ(FindValue(values, u"cid2"), nullptr);
  EXPECT_EQ(FindValue(values, u"ci"), nullptr);
}

TEST(QueryString, CharsetNames) {
  EXPECT_EQ(PageCharsetFromName("UTF-8"), PageCharset::kUtf8);
  EXPECT_EQ(PageCharsetFromName("utf8"), PageCharset::kUtf8);
  EXPECT_EQ(PageCharsetFromName("GBK"), PageCharset::kGbk);
  EXPECT_EQ(PageCharsetFromName("latin1"), std::nullopt);
}

}  // namespace
