// CheckDomain and FetchPageText against pages served on 127.0.0.1 only.
#include "console/check_domain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/fetch_page_text.h"
#include "platform/inet/internet_settings.h"
#include "tests/support/local_http_server.h"

namespace {

using zelto::testing::CannedResponse;
using zelto::testing::ClosedLocalPort;
using zelto::testing::LocalHttpServer;

std::string Pattern(size_t size, char seed = 'a') {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + i % 23);
  return text;
}

std::string WithByte(std::string text, size_t at, char byte) {
  text[at] = byte;
  return text;
}

class CheckDomainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = InternetGetSettings();
    InternetSettings settings;
    settings.loopback_only = true;
    settings.transfer_timeout_ms = 500;
    settings.max_body_bytes = 64 * 1024;
    InternetSetSettings(settings);
  }
  void TearDown() override { InternetSetSettings(saved_); }

  // "/a;/b" -> "127.0.0.1:<port>/a;127.0.0.1:<port>/b": paths become addresses.
  std::string List(const std::string& paths) const {
    std::string list;
    for (char c : paths) list += c == '/' ? server_.Address("/") : std::string(1, c);
    return list;
  }

  LocalHttpServer server_;
  InternetSettings saved_;
};

TEST_F(CheckDomainTest, ListsDecidedBeforeAnyFetch) {
  server_.Serve("/a", CannedResponse::Page("page"));
  struct Case {
    std::string list;
    LONG ret;
    HRESULT hr;
  } cases[] = {
      {"", 1, S_OK},
      {List("/a"), 1, S_OK},  // no separator: nothing to compare
      {"a.com", 1, S_OK},
      {";", 0, S_FALSE},
      {List(";/a"), 0, S_FALSE},
      {List("/a;;/a"), 0, S_FALSE},
      {List("/a;/a;;"), 0, S_FALSE},  // the empty item is found before the first fetch
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    LONG ret = -7;
    EXPECT_EQ(CheckDomainList(c.list, &ret), c.hr);
    EXPECT_EQ(ret, c.ret);
  }
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(CheckDomainTest, ComparesPagesInOrderAndStopsAtTheFirstDifference) {
  const std::string page = Pattern(700);
  const std::string p2048 = Pattern(2048), p1500 = Pattern(1500), p1024 = Pattern(1024);
  server_.Serve("/a", CannedResponse::Page(page));
  server_.Serve("/same", CannedResponse::Page(page));
  server_.Serve("/first-byte", CannedResponse::Page(WithByte(page, 0, '#')));
  server_.Serve("/last-byte", CannedResponse::Page(WithByte(page, 699, '#')));
  server_.Serve("/longer", CannedResponse::Page(page + "x"));
  server_.Serve("/empty", CannedResponse::Page(""));
  server_.Serve("/k2", CannedResponse::Page(p2048));
  server_.Serve("/k2-same", CannedResponse::Page(p2048));
  server_.Serve("/k2-last", CannedResponse::Page(WithByte(p2048, 2047, '#')));
  server_.Serve("/k15", CannedResponse::Page(p1500));
  server_.Serve("/k15-last", CannedResponse::Page(WithByte(p1500, 1499, '#')));
  server_.Serve("/k1", CannedResponse::Page(p1024));
  server_.Serve("/k1-last", CannedResponse::Page(WithByte(p1024, 1023, '#')));
  server_.Serve("/k1-more", CannedResponse::Page(p1024 + "x"));
  server_.Serve("/moved", CannedResponse::Redirect("/same"));
  server_.Serve("/error", CannedResponse::Page(page));
  server_.Serve("/big", CannedResponse::Page(Pattern(64 * 1024 + 1)));
  CannedResponse slow = CannedResponse::Page(page);
  slow.kind = CannedResponse::Kind::kEndless;
  server_.Serve("/slow", slow);
  const std::string closed = "127.0.0.1:" + std::to_string(ClosedLocalPort()) + "/a";

  struct Case {
    std::string list;
    LONG ret;
    std::vector<std::string> fetched;     // paths requested, in this order
  } cases[] = {
      {List("/a;/same"), 1, {"/a", "/same"}},
      {List("/a;"), 1, {"/a"}},
      {List("/a;/same;/a;/moved"), 1, {"/a", "/same", "/a", "/moved", "/same"}},
      {List("/a;/first-byte;/same"), 0, {"/a", "/first-byte"}},
      {List("/a;/last-byte"), 0, {"/a", "/last-byte"}},
      {List("/a;/longer"), 0, {"/a", "/longer"}},
      {List("/a;/empty"), 0, {"/a", "/empty"}},
      {List("/empty;/empty;/a"), 0, {"/empty"}},
      {List("/k2;/k2-same"), 1, {"/k2", "/k2-same"}},
      {List("/k2;/k2-last"), 0, {"/k2", "/k2-last"}},
      {List("/k15;/k15-last"), 0, {"/k15", "/k15-last"}},
      {List("/k1;/k1-last"), 0, {"/k1", "/k1-last"}},
      {List("/k1;/k1-more"), 0, {"/k1", "/k1-more"}},
      {closed + ";" + List("/a"), 0, {}},
      {List("/a;") + closed, 0, {"/a"}},
      {List("/big;/big"), 0, {"/big"}},
      {List("/slow;/a"), 0, {"/slow"}},
      {List("/a;/slow"), 0, {"/a", "/slow"}},
      {List("/a; /a"), 0, {"/a"}},  // the blank stays and spoils the address
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    size_t before = server_.Requests().size();
    LONG ret = -7;
    EXPECT_EQ(CheckDomainList(c.list, &ret), c.ret == 1 ? S_OK : S_FALSE);
    EXPECT_EQ(ret, c.ret);
    std::vector<std::string> fetched;
    auto requests = server_.Requests();
    for (size_t i = before; i < requests.size(); ++i) {
      fetched.push_back(requests[i].target);
      EXPECT_EQ(requests[i].headers["user-agent"], "check");
    }
    EXPECT_EQ(fetched, c.fetched);
  }
}

TEST_F(CheckDomainTest, AddressesAreLoweredAndGivenHttpOnce) {
  server_.Serve("/index.html?q=abc", CannedResponse::Page("lowered"));
  const std::string upper = server_.Address("/Index.HTML?Q=ABC");
  LONG ret = 0;
  EXPECT_EQ(CheckDomainList(upper + ";HTTP://" + upper, &ret), S_OK);
  EXPECT_EQ(ret, 1);
  EXPECT_EQ(server_.HitCount("/index.html?q=abc"), 2);
  EXPECT_EQ(server_.Requests().size(), 2u);

  struct Case {
    const char* address;
    const char* url;
  } cases[] = {
      {"A.COM/Index.html", "http://a.com/index.html"},
      {"b.com", "http://b.com"},
      {"Http://B.com/", "http://b.com/"},
      {"HTTPS://B.com/X", "https://b.com/x"},
      {"a.com/go?to=http://b.com", "a.com/go?to=http://b.com"},  // found anywhere
      {"a.com/https://b.com", "http://a.com/https://b.com"},    // https only in front
      {"ftp://a.com", "http://ftp://a.com"},
      {" b.com", "http:// b.com"},
      {"\xC4\xE3.COM", "http://\xC4\xE3.com"},
  };
  for (const Case& c : cases) EXPECT_EQ(PageUrlFromAddress(c.address), c.url) << c.address;
}

TEST_F(CheckDomainTest, PageTextDropsEachChunkAfterItsFirstNul) {
  std::string page = Pattern(2500);
  page[10] = '\0';    // first chunk: bytes 10..1023 are lost
  page[1024] = '\0';  // second chunk: all of it is lost
  server_.Serve("/nul", CannedResponse::Page(page));
  EXPECT_EQ(FetchPageText(server_.Address("/nul")), page.substr(0, 10) + page.substr(2048));

  // Pages that differ only after a NUL in the same chunk therefore compare equal.
  std::string other = page;
  other[500] = '#';
  other[1500] = '#';
  server_.Serve("/nul-other", CannedResponse::Page(other));
  other[2100] = '#';
  server_.Serve("/nul-third-chunk", CannedResponse::Page(other));
  LONG ret = 0;
  EXPECT_EQ(CheckDomainList(server_.Address("/nul;") + server_.Address("/nul-other"), &ret), S_OK);
  EXPECT_EQ(ret, 1);
  EXPECT_EQ(CheckDomainList(server_.Address("/nul;") + server_.Address("/nul-third-chunk"), &ret),
            S_FALSE);
  EXPECT_EQ(ret, 0);
}

TEST_F(CheckDomainTest, FetchFailuresGiveEmptyText) {
  server_.Serve("/a", CannedResponse::Page("page"));
  EXPECT_EQ(FetchPageText(server_.Address("/a")), "page");
  EXPECT_EQ(FetchPageText(""), "");
  EXPECT_EQ(FetchPageText("127.0.0.1:" + std::to_string(ClosedLocalPort()) + "/a"), "");
  EXPECT_EQ(FetchPageText("https://" + server_.Address("/a")), "");  // no TLS there

  InternetSettings offline = InternetGetSettings();
  offline.offline = true;
  InternetSetSettings(offline);
  EXPECT_EQ(FetchPageText(server_.Address("/a")), "");
  EXPECT_EQ(server_.HitCount("/a"), 1);
}

TEST_F(CheckDomainTest, MethodTakesWideTextAndChecksItsOutPointer) {
  server_.Serve("/a", CannedResponse::Page("page"));
  server_.Serve("/b", CannedResponse::Page("other"));
  auto call = [](const std::string& list, LONG* ret) {
    BSTR text = SysAllocStringView(std::u16string(list.begin(), list.end()));
    HRESULT hr = CheckDomain(text, ret);
    SysFreeString(text);
    return hr;
  };
  LONG ret = -7;
  EXPECT_EQ(CheckDomain(nullptr, &ret), S_OK);
  EXPECT_EQ(ret, 1);
  EXPECT_EQ(call(List("/a;/a"), &ret), S_OK);
  EXPECT_EQ(ret, 1);
  EXPECT_EQ(call(List("/a;/b"), &ret), S_FALSE);
  EXPECT_EQ(ret, 0);
  EXPECT_EQ(call(List("/a;/a"), nullptr), E_POINTER);
  EXPECT_EQ(CheckDomainList("a;b", nullptr), E_POINTER);
  EXPECT_EQ(server_.Requests().size(), 4u);
}

}  // namespace
