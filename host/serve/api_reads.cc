#include "host/serve/api_reads.h"

#include <boost/json/array.hpp>

#include "host/serve/conversation_view.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

constexpr char kStarted[] =
    "(case when s.queuedAt>0 then s.queuedAt when s.assignedAt>0 then s.assignedAt else "
    "s.endedAt end)";

int64_t Number(const std::string& field) { return std::strtoll(field.c_str(), nullptr, 10); }

std::string Where(LONG company_id, const ConversationFilter& f) {
  std::string where = " where s.companyId=" + SqlId(company_id);
  if (f.from) where += std::string(" and ") + kStarted + ">=" + std::to_string(f.from);
  if (f.to) where += std::string(" and ") + kStarted + "<=" + std::to_string(f.to);
  if (f.operator_id) where += " and s.operatorId=" + SqlId(f.operator_id);
  if (!f.label.empty()) where += " and s.cstLabel=" + SqlStringLiteral(f.label);
  if (!f.state.empty()) where += " and s.state=" + SqlStringLiteral(f.state);
  return where;
}

json::object ConversationJson(const SqlSession::Row& r) {
  return json::object{{"cid", IdField(r[0])},      {"label", r[1]},
                      {"operatorId", IdField(r[2])}, {"operatorName", r[3]},
                      {"state", r[4]},             {"startedAt", Number(r[5])},
                      {"assignedAt", Number(r[6])}, {"endedAt", Number(r[7])},
                      {"endedBy", r[8]}};
}

const char* SenderOf(const SqlSession::Row& m) {
  if (IdField(m[1]) != 0) return "system";
  return IdField(m[2]) != 0 ? "operator" : "visitor";
}

}  // namespace

std::optional<json::object> ConversationPage(const SiteDatabase& db, LONG company_id,
                                             const ConversationFilter& filter,
                                             std::string* error) {
  const std::string where = Where(company_id, filter);
  std::vector<SiteDatabase::Row> count, rows;
  if (!db.Query(kChatCatalog, "select count(*) as n from chatState s" + where, {"n"}, &count,
                error) ||
      !db.Query(kChatCatalog,
                std::string("select s.cid as cid, s.cstLabel as cstLabel, s.operatorId as "
                            "operatorId, u.name as name, s.state as state, ") +
                    kStarted +
                    " as startedAt, s.assignedAt as assignedAt, s.endedAt as endedAt, "
                    "s.endedBy as endedBy from chatState s left join userinfo u on "
                    "u.ID=s.operatorId" +
                    where + " order by s.cid desc limit " + std::to_string(filter.limit) +
                    " offset " + std::to_string(filter.offset),
                {"cid", "cstLabel", "operatorId", "name", "state", "startedAt", "assignedAt",
                 "endedAt", "endedBy"},
                &rows, error))
    return std::nullopt;
  json::array conversations;
  for (const auto& row : rows) conversations.push_back(ConversationJson(row));
  return json::object{{"conversations", std::move(conversations)},
                      {"total", count.empty() ? 0 : IdField(count[0][0])},
                      {"limit", filter.limit},
                      {"offset", filter.offset}};
}

std::optional<json::object> Transcript(const SiteDatabase& db, LONG company_id, LONG cid,
                                       std::string* error) {
  std::vector<SiteDatabase::Row> owner, rows;
  if (!db.Query(kChatCatalog,
                "select cid from chatState where cid=" + SqlId(cid) +
                    " and companyId=" + SqlId(company_id),
                {"cid"}, &owner, error) ||
      owner.empty())
    return std::nullopt;
  if (!db.Query(kChatCatalog,
                "select m.msgID as msgID, m.issystem as issystem, m.userID_send as userID_send, "
                "m.msgTime as msgTime, m.msgContent as msgContent, m.msgApp as msgApp, "
                "m.nickName as nickName, u.name as name from msg m left join userinfo u on "
                "u.ID=m.userID_send where m.conid=" +
                    SqlId(cid) + " and m.isDeleted=0 order by m.msgID",
                {"msgID", "issystem", "userID_send", "msgTime", "msgContent", "msgApp",
                 "nickName", "name"},
                &rows, error))
    return std::nullopt;
  json::array messages;
  for (const auto& m : rows) {
    const char* sender = SenderOf(m);
    messages.push_back(json::object{{"id", IdField(m[0])},
                                    {"time", MessageTime(m[3])},
                                    {"sender", sender},
                                    {"operatorId", IdField(m[2])},
                                    {"name", std::string(sender) == "operator" ? m[7] : m[6]},
                                    {"text", m[4]},
                                    {"attachment", m[5]}});
  }
  return json::object{{"cid", cid}, {"companyId", company_id}, {"messages", std::move(messages)}};
}

}  // namespace zelto::serve
