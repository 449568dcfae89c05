// TestPage: an in-memory page request for tests, and a way to run page code
// on it. Texts given and taken are UTF-8; the page's body comes back as UTF-8
// too (what the component wrote, widened and re-encoded).
//
//   TestPage page;
//   page.Query("cid=1&action=sub&msgContent=hi").Session("timelabel", "V1001");
//   PageRun run = page.Run(DoClientMsg);            // a function taking PageContext&
//   EXPECT_EQ(run.hr, S_OK);
//   EXPECT_EQ(run.body, "...");
//
// Defaults: a session without values (pages built from one TestPage share
// it, as the pages of one user do) and REMOTE_ADDR 127.0.0.1.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "page/page_context.h"
#include "platform/asp/in_memory_page.h"
#include "platform/asp/variant_value.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {

struct PageRun {
  HRESULT start_hr = E_FAIL;  // what PageContext::Start returned
  HRESULT hr = E_FAIL;        // what the code returned (start_hr if Start failed)
  std::string body;           // UTF-8
  bool ended = false;         // Response.End was called
};

class TestPage {
 public:
  TestPage();

  // Adds the pairs of an application/x-www-form-urlencoded query string.
  TestPage& Query(std::string_view query, PageCharset charset = PageCharset::kUtf8);
  // A query value of any type (an integer, or something unconvertible).
  TestPage& QueryValue(std::string_view key, const VARIANT& value);
  TestPage& Session(std::string_view key, std::string_view value);
  TestPage& Session(std::string_view key, LONG value);
  // DBServer, DBName and DBCount for a database under `data_dir`.
  TestPage& Database(std::string_view data_dir, std::string_view name = "chat",
                     std::string_view count = "count");
  // All five database settings of a seeded database, on its engine.
  TestPage& Database(const SeededDatabase& db);
  TestPage& ServerVariable(std::string_view key, std::string_view value);
  TestPage& NoSession();
  TestPage& Fail(PageMember member, HRESULT hr);

  // The session the pages share (null after NoSession).
  std::shared_ptr<SessionValues> session() const { return no_session_ ? nullptr : session_; }

  // A fresh page with everything given so far; may be called many times.
  InMemoryPage Build() const;
  // Starts a PageContext on a fresh page, runs `code` when Start succeeded,
  // ends the page and returns what it wrote. (Inline, so that test binaries
  // that never run page code need not link the page context.)
  PageRun Run(const std::function<HRESULT(PageContext&)>& code) const;

 private:
  std::vector<std::pair<std::string, PageCharset>> queries_;
  std::vector<std::pair<std::u16string, VariantValue>> query_values_;
  std::map<std::string, std::string> server_variables_;
  std::shared_ptr<SessionValues> session_;
  bool no_session_ = false;
  std::map<PageMember, HRESULT> failures_;
};

// The body of a page as UTF-8.
std::string BodyUtf8(const InMemoryPage& page);

inline PageRun TestPage::Run(const std::function<HRESULT(PageContext&)>& code) const {
  InMemoryPage page = Build();
  PageRun run;
  {
    PageContext context;
    run.start_hr = context.Start(page.context());
    run.hr = SUCCEEDED(run.start_hr) ? code(context) : run.start_hr;
    context.End();
  }
  run.body = BodyUtf8(page);
  run.ended = page.ended();
  return run;
}

}  // namespace zelto::testing
