// Compressed answers and "not modified" lists: the header rules, gzip that
// inflates to the same bytes, and the site answering a refreshed visitor
// list with 304 while it is unchanged.
#include "host/serve/content_encoding.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "tests/support/host/in_process_site.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

using serve::AcceptsGzip;
using serve::EntityTag;
using serve::Gzip;
using serve::IsCompressible;
using serve::MatchesEntityTag;

std::string Gunzip(const std::string& packed) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return "<inflateInit failed>";
  std::string out;
  char buffer[16384];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  inflateEnd(&stream);
  return result == Z_STREAM_END ? out : "<inflate failed>";
}

TEST(ContentEncodingTest, AcceptEncodingValues) {
  const struct {
    const char* header;
    bool gzip;
  } cases[] = {
      {"", false},
      {"gzip", true},
      {"gzip, deflate, br", true},
      {"br;q=1.0, GZIP;q=0.5", true},
      {"x-gzip", true},
      {"*", true},
      {"deflate, br", false},
      {"gzip;q=0", false},
      {"gzip;q=0.000, br", false},
      {"gzip ; q=0.001", true},
      {"gzip;q=zero", false},
      {"gzipped", false},
      {" , ,gzip", true},
      {"identity", false},
  };
  for (const auto& c : cases) EXPECT_EQ(AcceptsGzip(c.header), c.gzip) << c.header;
}

TEST(ContentEncodingTest, WhatIsWorthCompressing) {
  for (const char* type : {"text/html; charset=utf-8", "text/css", "application/json",
                           "application/javascript", "TEXT/PLAIN", "image/svg+xml"})
    EXPECT_TRUE(IsCompressible(type)) << type;
  for (const char* type : {"image/png", "application/octet-stream", "application/zip", ""})
    EXPECT_FALSE(IsCompressible(type)) << type;
}

TEST(ContentEncodingTest, GzipInflatesToTheSameBytes) {
  std::string list;
  for (int i = 0; i < 5000; ++i)
    list += "<tr><td>访客" + std::to_string(i) + "</td><td>http://example.com/p" +
            std::to_string(i % 37) + "</td></tr>";
  for (const std::string& body : {std::string(), std::string("x"), list, std::string(1, '\0')}) {
    const auto packed = Gzip(body);
    ASSERT_TRUE(packed);
    EXPECT_EQ(Gunzip(*packed), body);
  }
  EXPECT_LT(Gzip(list)->size() * 10, list.size());  // such lists shrink tenfold at least
}

TEST(ContentEncodingTest, EntityTagsNameTheBytes) {
  const std::string tag = EntityTag("list one");
  EXPECT_EQ(tag, EntityTag("list one"));
  EXPECT_NE(tag, EntityTag("list two"));
  EXPECT_NE(EntityTag(""), EntityTag(std::string(1, '\0')));
  EXPECT_EQ(tag.front(), '"');
  EXPECT_EQ(tag.back(), '"');

  const struct {
    std::string if_none_match;
    bool matches;
  } cases[] = {
      {"", false},
      {tag, true},
      {"*", true},
      {"W/" + tag, true},
      {"\"other\", " + tag, true},
      {"\"other\"", false},
      {tag.substr(1, tag.size() - 2), false},  // unquoted is another tag
      {EntityTag("list two"), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchesEntityTag(c.if_none_match, tag), c.matches) << c.if_none_match;
}

TEST(ContentEncodingTest, TheVisitorListIsCompressedAndNotSentAgainUnchanged) {
  InProcessSite site;
  ASSERT_TRUE(site.running());
  for (int i = 0; i < 200; ++i) {
    site.db().Execute("chat",
                      "insert into onlineCst(cstLabel,NickName,CompanyID,visittime,sourcepage,IP) "
                      "values('V" + std::to_string(100000 + i) + "','访客" + std::to_string(i) +
                          "',1,CURRENT_TIMESTAMP,'http://www.example.com/products/" +
                          std::to_string(i) + ".html','10.0.0." + std::to_string(i % 250) + "')");
  }
  auto op = site.Client();
  ServedSite::Login(*op, 5, "demo5");
  const std::string list = "/operator/GetClientList.asp?companyid=1";

  const HttpReply plain = op->Get(list);
  ASSERT_EQ(plain.status, 200);
  EXPECT_EQ(plain.Header("content-encoding"), "");
  EXPECT_NE(plain.body.find("V100199"), std::string::npos);
  const std::string tag = plain.Header("etag");
  ASSERT_FALSE(tag.empty());

  const HttpReply packed = op->Get(list, {{"Accept-Encoding", "gzip, br"}});
  ASSERT_EQ(packed.status, 200);
  EXPECT_EQ(packed.Header("content-encoding"), "gzip");
  EXPECT_EQ(packed.Header("vary"), "Accept-Encoding");
  EXPECT_EQ(Gunzip(packed.body), plain.body);
  EXPECT_LT(packed.body.size() * 5, plain.body.size());

  const HttpReply same = op->Get(list, {{"If-None-Match", tag}});
  EXPECT_EQ(same.status, 304);
  EXPECT_EQ(same.body, "");
  EXPECT_EQ(same.Header("etag"), tag);

  auto visitor = site.Client();
  ASSERT_FALSE(site.Visit(*visitor).empty());
  const HttpReply changed = op->Get(list, {{"If-None-Match", tag}});
  EXPECT_EQ(changed.status, 200);
  EXPECT_NE(changed.Header("etag"), tag);
  EXPECT_GT(changed.body.size(), plain.body.size());
}

TEST(ContentEncodingTest, SmallAndBinaryAnswersGoAsTheyAre) {
  InProcessSite site;
  ASSERT_TRUE(site.running());
  auto client = site.Client();
  const HttpReply css = client->Get("/css/site.css", {{"Accept-Encoding", "gzip"}});
  EXPECT_EQ(css.status, 200);
  EXPECT_EQ(css.Header("content-encoding"), "");  // below the threshold
  EXPECT_EQ(css.body, "body{color:#333}");
  EXPECT_EQ(client->Get("/healthz", {{"Accept-Encoding", "gzip"}}).body, "ok\n");
}

}  // namespace
}  // namespace zelto::testing
