// The engines' failures reach an installed sink, once each and with the
// engine's own words, while the ADO objects still answer with plain HRESULTs.
#include "platform/ado/engine_failures.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"

namespace {

struct WideText {
  explicit WideText(const std::string& utf8) : b(SysAllocStringView(Utf8ToWide(utf8))) {}
  ~WideText() { SysFreeString(b); }
  BSTR b;
};

class EngineFailuresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zelto::ado::SetEngineFailureSink(
        [this](std::string_view engine, std::string_view what, std::string_view error) {
          std::lock_guard<std::mutex> lock(mutex_);
          seen_.push_back(std::string(engine) + "|" + std::string(what) + "|" + std::string(error));
        });
  }
  void TearDown() override { zelto::ado::SetEngineFailureSink(nullptr); }

  HRESULT Open(_Connection* c, const std::string& connection_string) {
    WideText text(connection_string);
    WideText empty("");
    return c->Open(text.b, empty.b, empty.b, adOptionUnspecified);
  }
  HRESULT Execute(_Connection* c, const std::string& sql) {
    ComPtr<_Recordset> rs;
    WideText text(sql);
    return c->Execute(text.b, nullptr, adCmdText, rs.Receive());
  }
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

  zelto::testing::SeededDatabase db_;
  std::mutex mutex_;
  std::vector<std::string> seen_;
};

TEST_F(EngineFailuresTest, EachFailureIsReportedOnceWithItsCause) {
  ComPtr<_Connection> c;
  ASSERT_EQ(CreateObjectByProgID("ADODB.Connection", IID__Connection, c.ReceiveVoid()), S_OK);
  ASSERT_EQ(Open(c.Get(), db_.ConnectionString("chat")), S_OK);
  EXPECT_EQ(Execute(c.Get(), "select count(*) from msg"), S_OK);
  EXPECT_EQ(Seen(), std::vector<std::string>{}) << "successes are not reported";

  EXPECT_EQ(Execute(c.Get(), "select * from no_such_table"), DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(c->CommitTrans(), XACT_E_NOTRANSACTION) << "a misuse is no engine failure";
  const std::vector<std::string> seen = Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].rfind("sqlite|execute|", 0), 0u) << seen[0];
  EXPECT_NE(seen[0].find("no_such_table"), std::string::npos) << seen[0];

  ComPtr<_Connection> missing;
  ASSERT_EQ(CreateObjectByProgID("ADODB.Connection", IID__Connection, missing.ReceiveVoid()), S_OK);
  EXPECT_EQ(Open(missing.Get(), db_.ConnectionString("nowhere")), E_FAIL);
  ASSERT_EQ(Seen().size(), 2u);
  EXPECT_EQ(Seen()[1].rfind("sqlite|open|", 0), 0u) << Seen()[1];
}

TEST_F(EngineFailuresTest, NothingIsReportedWithoutASink) {
  zelto::ado::SetEngineFailureSink(nullptr);
  ComPtr<_Connection> c;
  ASSERT_EQ(CreateObjectByProgID("ADODB.Connection", IID__Connection, c.ReceiveVoid()), S_OK);
  ASSERT_EQ(Open(c.Get(), db_.ConnectionString("chat")), S_OK);
  EXPECT_EQ(Execute(c.Get(), "select * from no_such_table"), DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(Seen(), std::vector<std::string>{});
}

}  // namespace
