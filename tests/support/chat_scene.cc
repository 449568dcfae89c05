#include "tests/support/chat_scene.h"

#include <cstdlib>

namespace zelto::testing {

void ChatScene::SetUp() {
  ZELTO_SKIP_WITHOUT(db_);
  Execute(
      "insert into userinfo(ID,name,CompanyID,Popedom,Invite,conview) values"
      "(5,'王芳',1,1,1,1),(12,'李明',1,0,1,0),(7,'张伟',1,0,0,0)");
  Execute("insert into onlineCst(cstLabel,nickName,CompanyID) values('V1001','小周',1)");
  Execute(
      "insert into C_members(cid,serid,cstlabel,addtime,IsChat) values"
      "(1,0,'V1001','2024-01-01 10:00:00',1),(1,5,'','2024-01-01 10:00:00',1)");
}

SceneResult ChatScene::Run(const ScenePage& spec,
                           const std::function<HRESULT(PageContext&)>& method) {
  TestPage page;
  page.Database(db_).Query(spec.query).ServerVariable("REMOTE_ADDR", spec.remote_addr);
  for (const auto& [key, value] : spec.session) page.Session(key, value);
  for (const auto& [key, value] : spec.int_session) page.Session(key, value);
  if (spec.no_session) page.NoSession();
  SceneResult result = page.Run(method);
  EXPECT_EQ(result.start_hr, S_OK) << "the page did not start";
  return result;
}

size_t ChatScene::Count(const std::string& table_and_condition) {
  return std::strtoul(db_.Scalar("chat", "select count(*) from " + table_and_condition).c_str(),
                      nullptr, 10);
}

std::string EchoTime(const std::string& body) {
  static const std::string kBefore = "<font color=#6666FF>(";
  const size_t start = body.find(kBefore);
  if (start == std::string::npos) return "";
  const size_t from = start + kBefore.size();
  const size_t end = body.find(")</font>", from);
  return end == std::string::npos ? "" : body.substr(from, end - from);
}

}  // namespace zelto::testing
