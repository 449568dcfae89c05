// What the engines keep between statements: translations by T-SQL text, and
// prepared statements with their column descriptions, which must follow a
// schema change.
#include <gtest/gtest.h>

#include <string>

#include "platform/ado/engine.h"
#include "platform/ado/translation_cache.h"
#include "tests/support/seeded_database.h"

namespace zelto::ado {
namespace {

int translations = 0;

std::string Translate(std::string_view tsql) {
  ++translations;
  return "[" + std::string(tsql) + "]";
}

TEST(TranslationCacheTest, KeepsRecentTextsWithinItsBounds) {
  translations = 0;
  TranslationCache<std::string> cache(Translate, 2, 10);
  auto first = cache.Get("a");
  EXPECT_EQ(*first, "[a]");
  EXPECT_EQ(cache.Get("a"), first);
  EXPECT_EQ(translations, 1);

  cache.Get("b");
  cache.Get("a");  // now more recent than b
  cache.Get("c");  // b goes
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_EQ(translations, 3);
  cache.Get("a");
  EXPECT_EQ(translations, 3);
  cache.Get("b");
  EXPECT_EQ(translations, 4);

  // Long texts are translated every time and never crowd out others.
  const std::string long_text(11, 'x');
  EXPECT_EQ(*cache.Get(long_text), "[" + long_text + "]");
  cache.Get(long_text);
  EXPECT_EQ(translations, 6);
  EXPECT_EQ(cache.size(), 2u);
  // A translation handed out outlives its entry.
  EXPECT_EQ(*first, "[a]");
}

TEST(StatementCacheTest, ColumnsFollowASchemaChange) {
  testing::SeededDatabase db;
  ConnectionString target;
  target.data_source = db.folder();
  target.initial_catalog = "chat";
  std::string error;
  auto c = SqliteEngine()->Connect(target, &error);
  ASSERT_TRUE(c) << error;
  ResultSet r;
  ASSERT_TRUE(c->Execute("create table t(a INT); insert into t values(1)", &r, &error)) << error;
  const std::string select = "select * from t where a=1";
  ASSERT_TRUE(c->Execute(select, &r, &error)) << error;
  ASSERT_EQ(r.columns.size(), 1u);

  // Another session changes the table under the cached statement.
  db.Execute("chat", "alter table t add column b DATETIME");
  db.Execute("chat", "update t set b='2024-05-20 09:00:00'");
  ASSERT_TRUE(c->Execute(select, &r, &error)) << error;
  ASSERT_EQ(r.columns.size(), 2u);
  EXPECT_EQ(r.columns[1].name, "b");
  EXPECT_EQ(r.columns[1].type, SqlType::kDateTime);
  ASSERT_EQ(r.RowCount(), 1u);
  EXPECT_EQ(r.At(0, 1), SqlValue::Text("2024-05-20 09:00:00"));
}

}  // namespace
}  // namespace zelto::ado
