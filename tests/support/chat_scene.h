// A small chat world for the posting and conversation-control tests: a fresh
// seeded database on the engine of the test's parameter, and page requests
// run straight through the chat functions. Suites end with
// ZELTO_ON_EVERY_ENGINE(Suite) and use TEST_P.
//
// Seed: operators 5 "王芳", 12 "李明", 7 "张伟"; visitor V1001 (nickname
// "小周") on the site; conversation 1 with V1001 and operator 5 as members.
// Texts given to and taken from the scene are UTF-8.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "page/page_context.h"
#include "tests/support/seeded_database.h"
#include "tests/support/test_page.h"

namespace zelto::testing {

struct ScenePage {
  std::string query;  // raw query string, e.g. "cid=1&action=sub&msgContent=hi"
  std::vector<std::pair<std::string, std::string>> session{};  // string values
  std::vector<std::pair<std::string, LONG>> int_session{};     // integer values
  bool no_session = false;
  std::string remote_addr = "10.1.2.3";
};

using SceneResult = PageRun;
using SceneRow = SeededRow;

class ChatScene : public ::testing::TestWithParam<TestEngine> {
 protected:
  // Seeds the scene; skips when the engine has no database.
  void SetUp() override;

  // Builds a page on the scene's database, starts it and runs `method`.
  SceneResult Run(const ScenePage& page, const std::function<HRESULT(PageContext&)>& method);
  // Runs SQL on the chat database (seeding, sabotage).
  void Execute(const std::string& sql) { db_.Execute("chat", sql); }
  std::vector<SceneRow> Rows(const std::string& sql) { return db_.Query("chat", sql); }
  // Rows of "select count(*) from <table_and_condition>".
  size_t Count(const std::string& table_and_condition);
  // Makes every insert into `table` fail from now on.
  void RefuseInserts(const std::string& table) { db_.RefuseInserts(table); }

 private:
  SeededDatabase db_{GetParam()};
};

// The timestamp text an echo script carries ("" when there is none).
std::string EchoTime(const std::string& body);

}  // namespace zelto::testing
