#include "host/serve/web_app.h"

#include <algorithm>
#include <cstdio>

#include "host/serve/http_text.h"
#include "host/serve/password.h"
#include "host/serve/random_bytes.h"
#include "platform/win/local_time.h"

namespace zelto::serve {
namespace {

// At most `max` bytes of UTF-8 text, never cutting a character.
std::string Clip(std::string text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

std::string Id(LONG id) { return std::to_string(id); }

LONG ToLong(const std::string& text) { return ParseId(text).value_or(0); }

}  // namespace

std::string SearchKeywords(const std::string& referrer) {
  const size_t question = referrer.find('?');
  if (question == std::string::npos) return {};
  std::string query = referrer.substr(question + 1);
  if (const size_t hash = query.find('#'); hash != std::string::npos) query.resize(hash);
  const auto form = ParseForm(query);
  for (const char* key : {"wd", "q", "query", "word", "keyword", "kw", "p", "text"}) {
    auto it = form.find(key);
    if (it != form.end() && !it->second.empty()) return Clip(it->second, 255);
  }
  return {};
}

namespace {

std::string RandomHostTag() { return RandomHex128().substr(0, 8); }

}  // namespace

WebApp::WebApp(SiteDatabase& db, LONG site_company_id)
    : db_(db), company_id_(site_company_id), label_host_tag_(RandomHostTag()) {}

bool WebApp::Exec(const std::string& sql, std::string* error) const {
  return db_.Execute(kChatCatalog, sql, nullptr, error);
}

bool WebApp::Rows(const std::string& sql, const std::vector<std::string>& columns,
                  std::vector<SiteDatabase::Row>* rows, std::string* error) const {
  return db_.Query(kChatCatalog, sql, columns, rows, error);
}

std::string WebApp::NewVisitorLabel() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04u%02u%02u%02u%02u%02u%03u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  unsigned long long value = std::strtoull(digits, nullptr, 10);
  std::lock_guard lock(label_mutex_);
  if (value <= last_label_) value = last_label_ + 1;
  last_label_ = value;
  return "V" + label_host_tag_ + std::to_string(value);
}

bool WebApp::RecordVisit(const std::string& label, bool first_view, const std::string& address,
                         const std::string& referrer, const std::string& page, std::string* error) {
  if (first_view && !AddOnlineVisitor(label, address, referrer, false, error)) return false;
  const std::string now = NowText();
  return Exec("insert into cstTrack (cstLabel, presentTime, presentPage) values (" +
                  SqlText(label) + ", " + SqlText(now) + ", " + SqlText(Clip(page, 1000)) + ")",
              error);
}

bool WebApp::AddOnlineVisitor(const std::string& label, const std::string& address,
                              const std::string& referrer, bool chatting, std::string* error) {
  const std::string nick = "访客" + label.substr(label.size() > 3 ? label.size() - 3 : 0);
  const std::string sql =
      "insert into onlineCst (cstLabel, NickName, CompanyID, visittime, beChatting, Invited, "
      "searchkey, sourcepage, csarea, IP) values (" +
      SqlText(label) + ", " + SqlText(nick) + ", " + Id(company_id_) + ", " + SqlText(NowText()) +
      ", " + (chatting ? "1" : "0") + ", 0, " + SqlText(SearchKeywords(referrer)) + ", " +
      SqlText(Clip(referrer, 1000)) + ", " + SqlText("未知地区") + ", " +
      SqlText(Clip(address, 50)) + ")";
  return Exec(sql, error);
}

bool WebApp::VisitorReturned(const std::string& label, const std::string& address,
                             std::string* error) {
  std::lock_guard lock(returning_mutex_);
  std::vector<SiteDatabase::Row> rows;
  if (!Rows("select cstLabel from onlineCst where cstLabel=" + SqlText(label), {"cstLabel"}, &rows,
            error))
    return false;
  if (!rows.empty()) return true;
  error->clear();
  const bool chatting = RunningConversation(label, error).has_value();
  if (!error->empty()) return false;
  return AddOnlineVisitor(label, address, "", chatting, error);
}

bool WebApp::VisitorLeft(const std::string& label, const std::string& address, std::string* error) {
  if (!Exec("delete from onlineCst where cstLabel=" + SqlText(label), error)) return false;
  if (address.empty()) return true;
  std::vector<SiteDatabase::Row> seen;
  if (!db_.Query(kCountCatalog, "select IP from t_Iprecord where IP=" + SqlText(address), {"IP"},
                 &seen, error))
    return false;
  if (!seen.empty()) return true;
  return db_.Execute(kCountCatalog,
                     "insert into t_Iprecord (IP, recordTime) values (" + SqlText(address) + ", " +
                         SqlText(NowText()) + ")",
                     nullptr, error);
}

std::optional<LONG> WebApp::RunningConversation(const std::string& label, std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  if (!Rows("select top 1 cid from conversation where cstlabel=" + SqlText(label) +
                " order by cid desc",
            {"cid"}, &rows, error) ||
      rows.empty())
    return std::nullopt;
  return ToLong(rows[0][0]);
}

bool WebApp::NewConversation(const std::string& label, LONG operator_id, LONG* cid,
                             std::string* error) {
  // An ended conversation's row is gone but its messages stay: a new id is
  // above every id any table has used.
  std::lock_guard lock(cid_mutex_);
  std::vector<SiteDatabase::Row> rows;
  if (!Rows("select coalesce(max(cid), 1000) as a, (select coalesce(max(conid), 0) from msg) as b, "
            "(select coalesce(max(cid), 0) from C_members) as c from conversation",
            {"a", "b", "c"}, &rows, error) ||
      rows.empty())
    return false;
  LONG next = 0;
  for (const std::string& field : rows[0]) next = std::max(next, ToLong(field));
  for (int attempt = 0; attempt < 5; ++attempt) {
    *cid = ++next;
    const std::string now = SqlText(NowText());
    if (!Exec("insert into conversation (cid, cstlabel, serid, ctime) values (" + Id(*cid) + ", " +
                  SqlText(label) + ", " + Id(operator_id) + ", " + now + ")",
              error))
      continue;  // another host took the id
    return Exec("insert into C_members (cid, serid, cstlabel, addtime, IsChat) values (" +
                    Id(*cid) + ", 0, " + SqlText(label) + ", " + now + ", 1)",
                error) &&
           AddOperatorMember(*cid, operator_id, error);
  }
  return false;
}

bool WebApp::AddOperatorMember(LONG cid, LONG operator_id, std::string* error) {
  if (OperatorInConversation(operator_id, cid, error)) return true;
  return Exec("insert into C_members (cid, serid, cstlabel, addtime, IsChat) values (" + Id(cid) +
                  ", " + Id(operator_id) + ", '', " + SqlText(NowText()) + ", 1)",
              error);
}

std::optional<VisitorChat> WebApp::OpenChat(const std::string& label, const std::set<LONG>& online,
                                            std::string* error) {
  if (auto running = RunningConversation(label, error)) {
    if (!Exec("update onlineCst set beChatting=1 where cstLabel=" + SqlText(label), error))
      return std::nullopt;
    return VisitorChat{*running, label};
  }
  std::vector<SiteDatabase::Row> operators;
  if (!Rows("select ID from userinfo where CompanyID=" + Id(company_id_) + " order by ID", {"ID"},
            &operators, error))
    return std::nullopt;
  if (operators.empty()) {
    *error = "the company has no operators";
    return std::nullopt;
  }
  LONG chosen = ToLong(operators[0][0]);
  for (const auto& row : operators) {
    if (online.count(ToLong(row[0]))) {
      chosen = ToLong(row[0]);
      break;
    }
  }
  LONG cid = 0;
  if (!NewConversation(label, chosen, &cid, error) ||
      !Exec("update onlineCst set beChatting=1 where cstLabel=" + SqlText(label), error))
    return std::nullopt;
  return VisitorChat{cid, label};
}

bool WebApp::VisitorInConversation(const std::string& label, LONG cid, std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  return Rows("select cid from C_members where cid=" + Id(cid) + " and cstlabel=" + SqlText(label),
              {"cid"}, &rows, error) &&
         !rows.empty();
}

bool WebApp::OperatorInConversation(LONG operator_id, LONG cid, std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  return Rows("select cid from C_members where cid=" + Id(cid) + " and serid=" + Id(operator_id) +
                  " and IsChat=1",
              {"cid"}, &rows, error) &&
         !rows.empty();
}

bool WebApp::ChatOpened(const std::string& label, LONG cid, std::string* error) {
  if (!VisitorInConversation(label, cid, error)) return false;
  std::vector<SiteDatabase::Row> rows;
  if (!Rows("select conid from preMsg where cstlabel=" + SqlText(label) + " and conid=" + Id(cid),
            {"conid"}, &rows, error))
    return false;
  if (!rows.empty()) return true;
  return Exec(
      "insert into preMsg (cstlabel, conid) values (" + SqlText(label) + ", " + Id(cid) + ")",
      error);
}

Invitation WebApp::InvitationOf(const std::string& label, std::string* error) {
  Invitation invitation;
  std::vector<SiteDatabase::Row> rows;
  if (Rows("select Invited from onlineCst where cstLabel=" + SqlText(label), {"Invited"}, &rows,
           error) &&
      !rows.empty())
    invitation.invited = ToLong(rows[0][0]);
  invitation.cid = RunningConversation(label, error).value_or(0);
  if (invitation.cid != 0 && Rows("select content from inviteMsg where cstlabel=" + SqlText(label) +
                                      " and conid=" + Id(invitation.cid) + " order by createTime",
                                  {"content"}, &rows, error)) {
    for (auto& row : rows) invitation.messages.push_back(std::move(row[0]));
  }
  return invitation;
}

std::optional<LONG> WebApp::AnswerInvitation(const std::string& label, bool accept,
                                             std::string* error) {
  const Invitation invitation = InvitationOf(label, error);
  if (invitation.invited != 1 || invitation.cid == 0) {
    *error = "no pending invitation";
    return std::nullopt;
  }
  if (!accept) {
    if (!Exec("update onlineCst set Invited=3 where cstLabel=" + SqlText(label), error) ||
        !EndConversation(invitation.cid, error))
      return std::nullopt;
    return 0;
  }
  if (!Exec("update onlineCst set Invited=2, beChatting=1 where cstLabel=" + SqlText(label), error))
    return std::nullopt;
  return invitation.cid;
}

std::optional<OperatorInfo> WebApp::FindOperator(LONG id, std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  if (!Rows("select ID, name, CompanyID, Popedom, conview from userinfo where ID=" + Id(id),
            {"ID", "name", "CompanyID", "Popedom", "conview"}, &rows, error) ||
      rows.empty())
    return std::nullopt;
  const LONG popedom = ToLong(rows[0][3]);
  return OperatorInfo{id, rows[0][1], ToLong(rows[0][2]),
                      popedom == 1 || popedom == 2 || ToLong(rows[0][4]) != 0};
}

std::optional<OperatorInfo> WebApp::Login(LONG id, const std::string& password,
                                          std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  if (!Rows("select pwdHash from userinfo where ID=" + Id(id), {"pwdHash"}, &rows, error))
    return std::nullopt;
  // An unknown id still pays for one hash, so timing does not tell ids apart.
  static const std::string kDummy = HashPassword("not a password");
  const std::string& hash = rows.empty() || rows[0][0].empty() ? kDummy : rows[0][0];
  if (!CheckPassword(password, hash) || rows.empty() || rows[0][0].empty()) return std::nullopt;
  return FindOperator(id, error);
}

std::vector<ConversationRow> WebApp::ConversationsOf(LONG operator_id, std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  Rows(
      "select distinct c.cid as cid, c.cstlabel as cstlabel, o.NickName as NickName "
      "from conversation c inner join C_members m on m.cid = c.cid "
      "left join onlineCst o on o.cstLabel = c.cstlabel "
      "where m.serid=" +
          Id(operator_id) + " and m.IsChat=1 order by c.cid",
      {"cid", "cstlabel", "NickName"}, &rows, error);
  std::vector<ConversationRow> result;
  for (auto& row : rows) result.push_back({ToLong(row[0]), std::move(row[1]), std::move(row[2])});
  return result;
}

std::vector<OperatorRow> WebApp::OperatorsOf(LONG company_id, std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  Rows("select ID, name from userinfo where CompanyID=" + Id(company_id) + " order by ID",
       {"ID", "name"}, &rows, error);
  std::vector<OperatorRow> result;
  for (auto& row : rows) result.push_back({ToLong(row[0]), std::move(row[1])});
  return result;
}

std::optional<LONG> WebApp::TakeVisitor(const OperatorInfo& op, const std::string& label,
                                        std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  if (!Rows("select CompanyID from onlineCst where cstLabel=" + SqlText(label), {"CompanyID"},
            &rows, error))
    return std::nullopt;
  if (rows.empty() || ToLong(rows[0][0]) != op.company_id) {
    *error = "no such visitor of the operator's company on the site";
    return std::nullopt;
  }
  if (auto running = RunningConversation(label, error)) {
    if (!AddOperatorMember(*running, op.id, error)) return std::nullopt;
    return running;
  }
  LONG cid = 0;
  if (!NewConversation(label, op.id, &cid, error) ||
      !Exec("update onlineCst set Invited=1 where cstLabel=" + SqlText(label), error))
    return std::nullopt;
  return cid;
}

bool WebApp::EndConversation(LONG cid, std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  if (!Rows("select cstlabel from C_members where cid=" + Id(cid) + " and cstlabel<>''",
            {"cstlabel"}, &rows, error))
    return false;
  if (!Exec("update C_members set IsChat=0 where cid=" + Id(cid), error) ||
      !Exec("delete from conversation where cid=" + Id(cid), error))
    return false;
  for (const auto& row : rows) {
    if (!Exec("update onlineCst set beChatting=0 where cstLabel=" + SqlText(row[0]), error))
      return false;
  }
  return true;
}

}  // namespace zelto::serve
