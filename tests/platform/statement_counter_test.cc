// The statement counter benchmarks read: every statement a page sends
// through "ADODB.Connection.Execute" counts once, and the count can be
// published in a file another process reads while this one runs.
#include "platform/ado/statement_counter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/ado/ado.h"
#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"

namespace {

using zelto::ado::CountStatement;
using zelto::ado::StatementsExecuted;

HRESULT ExecuteText(_Connection* c, const std::string& sql) {
  BSTR text = SysAllocStringView(Utf8ToWide(sql));
  ComPtr<_Recordset> rs;
  const HRESULT hr = c->Execute(text, nullptr, adCmdText, rs.Receive());
  SysFreeString(text);
  return hr;
}

TEST(StatementCounter, EveryExecuteCountsOnceFailedOnesToo) {
  zelto::testing::SeededDatabase db;
  ComPtr<_Connection> c;
  ASSERT_EQ(CreateObjectByProgID("ADODB.Connection", IID__Connection, c.ReceiveVoid()), S_OK);
  BSTR cs = SysAllocStringView(Utf8ToWide(db.ConnectionString("chat")));
  BSTR empty = SysAllocStringView(u"");
  ASSERT_EQ(c->Open(cs, empty, empty, adOptionUnspecified), S_OK);
  SysFreeString(cs);
  SysFreeString(empty);

  const std::uint64_t before = StatementsExecuted();
  EXPECT_EQ(ExecuteText(c.Get(), "select ID from userinfo"), S_OK);
  EXPECT_EQ(ExecuteText(c.Get(), "update userinfo set Popedom=0 where ID=-1"), S_OK);
  EXPECT_NE(ExecuteText(c.Get(), "select nothing from no_such_table"), S_OK);
  EXPECT_EQ(StatementsExecuted() - before, 3u);
}

// The file is mapped when the process first counts, so each case runs in a
// process of its own (a death test re-runs this test alone).
TEST(StatementCounter, IsPublishedInTheNamedFileFromZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The re-run inherits the file's name with the environment.
  const char* inherited = std::getenv("ZELTO_STATEMENT_COUNTER");
  const std::string path =
      inherited ? inherited : ::testing::TempDir() + "statements-" + std::to_string(getpid());
  if (!inherited) {
    std::ofstream stale(path, std::ios::binary);
    stale << "stale count left by an earlier run";
    setenv("ZELTO_STATEMENT_COUNTER", path.c_str(), 1);
  }
  EXPECT_EXIT(
      {
        for (int i = 0; i < 3; ++i) CountStatement();
        std::exit(StatementsExecuted() == 3 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  unsetenv("ZELTO_STATEMENT_COUNTER");
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  ASSERT_EQ(bytes.size(), sizeof(std::uint64_t));
  std::uint64_t count = 0;
  std::memcpy(&count, bytes.data(), sizeof count);
  EXPECT_EQ(count, 3u);
}

TEST(StatementCounter, AFileThatCannotBeMadeLeavesTheCountInMemory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("ZELTO_STATEMENT_COUNTER", "/nonexistent-folder/statements", 1);
  EXPECT_EXIT(
      {
        CountStatement();
        CountStatement();
        std::exit(StatementsExecuted() == 2 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "counted in memory only");
  unsetenv("ZELTO_STATEMENT_COUNTER");
}

}  // namespace
