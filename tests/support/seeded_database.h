// SeededDatabase: a scratch data folder holding fresh chat.db and count.db,
// made from the schema in db/schema/, for tests that need real tables. Seed
// rows with Execute, read them back with Query; the folder is removed when
// the fixture goes. Texts are UTF-8. A failing statement is a test failure
// (ADD_FAILURE), never an exception.
//
//   zelto::testing::SeededDatabase db;
//   db.Execute("chat", "insert into userinfo(ID,name,CompanyID) values(5,'王芳',1)");
//   auto rows = db.Query("chat", "select name from userinfo where id=5");
//   EXPECT_EQ(rows[0]["NAME"], "王芳");  // column names ignore ASCII case
//
// Connect a CDbConnection with (db.folder(), "chat", "", "") or pass
// db.ConnectionString("chat") to Open.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zelto::testing {

struct SeededColumnLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
// Column name -> value as text: integers in decimal, reals as "%.15g", NULL as
// empty text.
using SeededRow = std::map<std::string, std::string, SeededColumnLess>;

class SeededDatabase {
 public:
  // With `demo`, the databases also get the demo data set of `zelto init-db
  // --demo` (company 1, operators 5, 12 and 7, conversation 1001).
  explicit SeededDatabase(bool demo = false);
  ~SeededDatabase();
  SeededDatabase(const SeededDatabase&) = delete;
  SeededDatabase& operator=(const SeededDatabase&) = delete;

  // The data folder: the DBServer setting of a page.
  const std::string& folder() const { return folder_; }
  // "Provider=SQLOLEDB.1; Data Source=<folder>; Initial Catalog=<catalog>;
  // User ID=; PWD=", exactly as CDbConnection::Connect builds it.
  std::string ConnectionString(std::string_view catalog = "chat") const;

  // Runs one or more statements on `catalog` ("chat" or "count").
  void Execute(std::string_view catalog, std::string_view sql);
  std::vector<SeededRow> Query(std::string_view catalog, std::string_view sql);
  // The first column of the first row; empty text when there is no row.
  std::string Scalar(std::string_view catalog, std::string_view sql);

 private:
  std::string folder_;
};

}  // namespace zelto::testing
