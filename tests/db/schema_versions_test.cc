// Schema upgrades on both engines, from databases as the first release's
// scripts made them (tests/fixtures/schema-1.0): each step once, in order,
// each whole or not at all, also with several hosts starting at once; an
// upgraded database has what a new one has.
#include "db/schema_versions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/seeded_database.h"

namespace {

using zelto::testing::kFirstReleaseSchemaFolder;
using zelto::testing::SeededDatabase;
using zelto::testing::TestEngine;

class SchemaVersionsTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override { ZELTO_SKIP_WITHOUT(old_); }

  SqlLogin Login() const { return {old_.folder(), old_.user(), old_.password()}; }
  // Empty when the database has no version table.
  std::string Version(SeededDatabase& db, const char* catalog) {
    if (!HasTable(db, "schemaversion", catalog)) return "";
    return db.Scalar(catalog, "select version from schemaVersion where id=1");
  }
  bool HasTable(SeededDatabase& db, const std::string& table, const char* catalog = "chat") {
    const bool sqlite = GetParam() == TestEngine::kSqlite;
    return db.Scalar(catalog, sqlite ? "select count(*) from sqlite_master where type='table' and "
                                       "lower(name)='" +
                                           table + "'"
                                     : "select count(*) from information_schema.tables where "
                                       "table_schema='public' and table_name='" +
                                           table + "'") == "1";
  }
  // Every table's columns and their declared types, one line each.
  std::string Shape(SeededDatabase& db, const char* catalog) {
    const char* sql =
        GetParam() == TestEngine::kSqlite
            ? "select lower(m.name) as t, lower(p.name) as c, lower(p.type) as y, p.pk as k "
              "from sqlite_master m join pragma_table_info(m.name) p where m.type='table' "
              "and m.name not like 'sqlite_%' order by 1, 2"
            : "select table_name as t, column_name as c, data_type as y, is_nullable as k "
              "from information_schema.columns where table_schema='public' order by 1, 2";
    std::string shape;
    for (auto& row : db.Query(catalog, sql))
      shape += row["t"] + "." + row["c"] + " " + row["y"] + " " + row["k"] + "\n";
    return shape;
  }
  bool Upgrade(const char* catalog, std::vector<std::string>* applied, std::string* error,
               std::span<const SchemaStep> steps = SchemaSteps(), SqlFault fault = {}) {
    return UpgradeSchema(Login(), catalog, old_.catalog(catalog), applied, error, steps,
                         std::move(fault));
  }

  SeededDatabase old_{GetParam(), true, kFirstReleaseSchemaFolder};
};

TEST_P(SchemaVersionsTest, FirstReleaseDatabasesAreUpgradedOnceKeepingTheirRows) {
  const std::string messages = old_.Scalar("chat", "select count(*) from msg");
  const std::string visitors = old_.Scalar("chat", "select count(*) from onlineCst");
  std::vector<std::string> applied;
  std::string error;
  ASSERT_TRUE(Upgrade("chat", &applied, &error)) << error;
  ASSERT_TRUE(Upgrade("count", &applied, &error)) << error;
  EXPECT_EQ(applied, (std::vector<std::string>{
                         "chat: version 2, the conversation id counter",
                         "chat: version 3, operator rights, company sites, shared sessions",
                         "chat: version 4, chat states, operator availability, chat limits, "
                         "offline messages",
                         "chat: version 5, chat ratings, history and statistics indexes, "
                         "message search",
                         "chat: version 6, canned replies, visitor notes, whispers, typing preview",
                         "chat: version 7, webhooks, their delivery queue, API keys"}));
  EXPECT_EQ(Version(old_, "chat"), std::to_string(LatestSchemaVersion("chat")));
  EXPECT_EQ(Version(old_, "count"), "1");
  EXPECT_EQ(old_.Scalar("chat", "select count(*) from msg"), messages);
  EXPECT_EQ(old_.Scalar("chat", "select count(*) from onlineCst"), visitors);

  // A current database is only read (a read-only one still starts): no
  // write transaction begins.
  applied.clear();
  ASSERT_TRUE(Upgrade("chat", &applied, &error, SchemaSteps(), [](std::string_view step) {
    return step == "begin";
  })) << error;
  EXPECT_TRUE(applied.empty()) << "a current database is left as it is";

  // What a new database has, the upgraded one has.
  SeededDatabase fresh(GetParam(), true);
  EXPECT_EQ(Shape(old_, "chat"), Shape(fresh, "chat"));
  EXPECT_EQ(Shape(old_, "count"), Shape(fresh, "count"));
  EXPECT_EQ(Version(fresh, "chat"), Version(old_, "chat"));
  EXPECT_EQ(Version(fresh, "count"), Version(old_, "count"));
}

TEST_P(SchemaVersionsTest, AStepFailingAnywhereLeavesNothingOfIt) {
  // The steps of a whole upgrade, then each failed in turn: up to the
  // commit of version 2 nothing of it stays; after it, version 2 stays.
  std::vector<std::string> steps;
  SeededDatabase counting(GetParam(), false, kFirstReleaseSchemaFolder);
  std::vector<std::string> applied;
  std::string error;
  ASSERT_TRUE(UpgradeSchema({counting.folder(), counting.user(), counting.password()}, "chat",
                            counting.catalog("chat"), &applied, &error, SchemaSteps(),
                            [&](std::string_view step) {
                              steps.emplace_back(step);
                              return false;
                            }))
      << error;
  size_t commit = 0;
  while (commit < steps.size() && steps[commit].find("conversationCounter") == std::string::npos)
    ++commit;
  while (commit < steps.size() && steps[commit] != "commit") ++commit;
  ASSERT_LT(commit, steps.size());
  // The first step is the read that finds a current database; failing it
  // only sends the upgrade the long way, so the failures start after it.
  ASSERT_EQ(steps[0], "select version from schemaVersion where id=1");
  for (size_t failing = 1; failing < steps.size(); ++failing) {
    SCOPED_TRACE("failing " + steps[failing]);
    size_t seen = 0;
    EXPECT_FALSE(Upgrade("chat", &applied, &error, SchemaSteps(),
                         [&](std::string_view) { return seen++ == failing; }));
    const bool done = failing > commit;
    EXPECT_EQ(HasTable(old_, "conversationcounter"), done);
    const std::string version = Version(old_, "chat");
    EXPECT_TRUE(done ? version == "2" : version == "" || version == "1") << version;
    if (done) break;  // the database is current now
  }
  ASSERT_TRUE(Upgrade("chat", &applied, &error)) << error;
  EXPECT_TRUE(HasTable(old_, "conversationcounter"));
}

TEST_P(SchemaVersionsTest, StepsRunInOrderAndAFailedOneStopsThere) {
  const SchemaStep broken[] = {
      {"chat", 2, "create table stepTwo (x int)", "create table stepTwo (x int)", "two"},
      {"chat", 3, "create table stepThree (x int); select nothing from noSuchTable",
       "create table stepThree (x int); select nothing from noSuchTable", "three"},
  };
  std::vector<std::string> applied;
  std::string error;
  EXPECT_FALSE(Upgrade("chat", &applied, &error, broken));
  EXPECT_NE(error.find("version 3 (three)"), std::string::npos) << error;
  EXPECT_EQ(applied, std::vector<std::string>{"chat: version 2, two"});
  EXPECT_EQ(Version(old_, "chat"), "2");
  EXPECT_TRUE(HasTable(old_, "steptwo"));
  EXPECT_FALSE(HasTable(old_, "stepthree"));

  const SchemaStep mended[] = {
      broken[0],
      {"chat", 3, "create table stepThree (x int)", "create table stepThree (x int)", "three"}};
  applied.clear();
  ASSERT_TRUE(Upgrade("chat", &applied, &error, mended)) << error;
  EXPECT_EQ(applied, std::vector<std::string>{"chat: version 3, three"});
  // An older program (steps up to 2) refuses the database it cannot know.
  EXPECT_FALSE(Upgrade("chat", &applied, &error, std::span<const SchemaStep>(broken, 1)));
  EXPECT_NE(error.find("schema version 3"), std::string::npos) << error;
  EXPECT_EQ(Version(old_, "chat"), "3");
}

TEST_P(SchemaVersionsTest, HostsStartingAtOnceUpgradeOnce) {
  constexpr int kHosts = 4;
  std::vector<std::vector<std::string>> applied(kHosts);
  std::vector<std::string> errors(kHosts);
  std::atomic<int> succeeded{0};
  std::vector<std::thread> hosts;
  for (int i = 0; i < kHosts; ++i) {
    hosts.emplace_back([&, i] {
      if (Upgrade("chat", &applied[i], &errors[i])) ++succeeded;
    });
  }
  for (auto& host : hosts) host.join();
  EXPECT_EQ(succeeded.load(), kHosts) << errors[0] << errors[1] << errors[2] << errors[3];
  size_t steps = 0;
  for (const auto& list : applied) steps += list.size();
  // Each step of the chat database once, whoever ran it.
  EXPECT_EQ(steps, static_cast<size_t>(LatestSchemaVersion("chat") - 1));
  EXPECT_EQ(Version(old_, "chat"), std::to_string(LatestSchemaVersion("chat")));
}

ZELTO_ON_EVERY_ENGINE(SchemaVersionsTest);

}  // namespace
