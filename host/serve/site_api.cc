// The web application's JSON routes of the Site.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "host/serve/json_answer.h"
#include "host/serve/random_bytes.h"
#include "host/serve/site.h"
#include "host/serve/site_exchange.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

bool Expect(Site::Exchange& ex, http::verb verb) {
  if (ex.Is(verb)) return true;
  ex.headers.emplace_back("Allow", std::string(http::to_string(verb)));
  ex.Error(http::status::method_not_allowed, "method not allowed");
  return false;
}

}  // namespace

void Site::DatabaseError(Exchange& ex, const std::string& error) {
  failures_.Failed(std::string(ex.request.method_string()) + " " + ex.path, error);
  ex.Error(http::status::internal_server_error, "database error");
}

namespace {

std::optional<LONG> FormId(Site::Exchange& ex, const std::string& key) {
  auto id = ParseId(ex.Form(key));
  if (!id || *id <= 0) ex.Error(http::status::bad_request, key + " must be a positive integer");
  return id && *id > 0 ? id : std::nullopt;
}

std::string OperatorJson(const OperatorInfo& op, const std::string& token) {
  return JsonAnswer(json::object{
      {"id", op.id}, {"name", op.name}, {"companyId", op.company_id}, {"token", token}});
}

std::string OkJson() { return JsonAnswer(json::object{{"ok", true}}); }

std::string CidJson(LONG cid) { return JsonAnswer(json::object{{"cid", cid}}); }

// A file name safe to store: letters, digits, '.', '-' and '_' of its last
// path piece, without leading dots, at most 80 bytes.
std::string SanitizeFileName(std::string_view name) {
  if (const size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos)
    name.remove_prefix(slash + 1);
  std::string clean;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    clean += ok ? c : '_';
  }
  while (!clean.empty() && clean.front() == '.') clean.erase(0, 1);
  if (clean.size() > 80) clean.erase(0, clean.size() - 80);
  return clean.empty() ? "file" : clean;
}

// Writes `body` to a new file `name` in `dir`; false when it exists or fails.
bool WriteNewFile(const std::filesystem::path& dir, const std::string& name,
                  const std::string& body) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string path = (dir / name).string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t written = 0;
  while (written < body.size()) {
    const ssize_t n = ::write(fd, body.data() + written, body.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool ok = ::close(fd) == 0 && written == body.size();
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace

std::set<LONG> Site::OnlineOperators() {
  std::set<LONG> online;
  for (const auto& values : sessions_.Live()) {
    if (LONG id = static_cast<LONG>(SessionNumber(*values, kOperatorId))) online.insert(id);
  }
  return online;
}

void Site::Login(Exchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  auto id = FormId(ex, "id");
  if (!id) return;
  std::string error;
  auto op = app_.Login(*id, ex.Form("password"), &error);
  if (!op) {
    if (!error.empty()) return DatabaseError(ex, error);
    return ex.Error(http::status::unauthorized, "wrong operator id or password");
  }
  // A new session id at login, so an id known before cannot ride the login.
  if (ex.session) {
    ex.session_id = sessions_.Reissue(ex.session_id);
    ex.session = ex.session_id.empty() ? nullptr : sessions_.Find(ex.session_id);
  }
  if (!EnsureSession(ex)) return SessionsFull(ex);
  ex.new_cookie = true;
  const std::string token = RandomHex128();
  ex.session->SetLong(kOperatorId, op->id);
  ex.session->SetLong(kOperatorCompany, op->company_id);
  ex.session->SetText(kToken, token);
  ex.Json(http::status::ok, OperatorJson(*op, token));
}

void Site::Logout(Exchange& ex) {
  if (!Expect(ex, http::verb::post) || !RequireOperator(ex, true)) return;
  EndSessions({sessions_.End(ex.session_id)});
  ex.clear_cookie = true;
  ex.Json(http::status::ok, OkJson());
}

void Site::VisitorApi(Exchange& ex) {
  if (!RequireVisitor(ex)) return;
  const std::string label = SessionText(*ex.session, kLabel);
  std::string error;
  if (ex.path == "/api/visitor/chat") {
    if (!Expect(ex, http::verb::post)) return;
    auto chat = app_.OpenChat(label, OnlineOperators(), &error);
    if (!chat) return DatabaseError(ex, error);
    Stored(chat->cid);
    return ex.Json(http::status::ok,
                   JsonAnswer(json::object{{"cid", chat->cid}, {"label", chat->label}}));
  }
  if (ex.path == "/api/visitor/chat-opened") {
    if (!Expect(ex, http::verb::post)) return;
    auto cid = FormId(ex, "cid");
    if (!cid) return;
    if (!app_.ChatOpened(label, *cid, &error)) {
      if (!error.empty()) return DatabaseError(ex, error);
      return ex.Error(http::status::forbidden, "not the visitor's conversation");
    }
    Stored(*cid);
    return ex.Json(http::status::ok, OkJson());
  }
  if (ex.path == "/api/visitor/invitation") {
    if (ex.Is(http::verb::post)) {
      const std::string accept = ex.Form("accept");
      if (accept != "0" && accept != "1")
        return ex.Error(http::status::bad_request, "accept must be 1 or 0");
      auto cid = app_.AnswerInvitation(label, accept == "1", &error);
      if (!cid) return ex.Error(http::status::conflict, error);
      Stored(*cid);
      return ex.Json(http::status::ok, CidJson(*cid));
    }
    if (!Expect(ex, http::verb::get)) return;
    const Invitation invitation = app_.InvitationOf(label, &error);
    json::array messages;
    for (const std::string& message : invitation.messages) messages.emplace_back(message);
    return ex.Json(http::status::ok, JsonAnswer(json::object{{"invited", invitation.invited},
                                                             {"cid", invitation.cid},
                                                             {"messages", std::move(messages)}}));
  }
  ex.Error(http::status::not_found, "no such route");
}

void Site::OperatorApi(Exchange& ex) {
  const bool action = ex.path == "/api/operator/invite-visitor";
  if (!Expect(ex, action ? http::verb::post : http::verb::get) || !RequireOperator(ex, action))
    return;
  const LONG id = static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
  std::string error;
  if (ex.path == "/api/me") {
    auto op = app_.FindOperator(id, &error);
    if (!op) return DatabaseError(ex, error.empty() ? "the operator is gone" : error);
    return ex.Json(http::status::ok, OperatorJson(*op, SessionText(*ex.session, kToken)));
  }
  if (ex.path == "/api/operator/conversations") {
    json::array rows;
    for (const ConversationRow& row : app_.ConversationsOf(id, &error))
      rows.push_back(
          json::object{{"cid", row.cid}, {"label", row.label}, {"nickName", row.nick_name}});
    if (!error.empty()) return DatabaseError(ex, error);
    return ex.Json(http::status::ok, JsonAnswer(rows));
  }
  if (ex.path == "/api/operators") {
    const std::set<LONG> online = OnlineOperators();
    json::array rows;
    const LONG company = static_cast<LONG>(SessionNumber(*ex.session, kOperatorCompany));
    for (const OperatorRow& row : app_.OperatorsOf(company, &error))
      rows.push_back(
          json::object{{"id", row.id}, {"name", row.name}, {"online", online.count(row.id) > 0}});
    if (!error.empty()) return DatabaseError(ex, error);
    return ex.Json(http::status::ok, JsonAnswer(rows));
  }
  if (action) {
    auto op = app_.FindOperator(id, &error);
    const std::string label = ex.Form("cstLabel");
    std::optional<LONG> cid;
    if (op && !label.empty()) cid = app_.TakeVisitor(*op, label, &error);
    if (!cid) return ex.Error(http::status::not_found, "no such visitor on the site");
    Stored(*cid);
    return ex.Json(http::status::ok, CidJson(*cid));
  }
  ex.Error(http::status::not_found, "no such route");
}

void Site::EndConversation(Exchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  const bool is_operator = ex.session && SessionNumber(*ex.session, kOperatorId) != 0;
  if (is_operator ? !RequireOperator(ex, true) : !RequireVisitor(ex)) return;
  auto cid = FormId(ex, "cid");
  if (!cid) return;
  std::string error;
  bool allowed = false;
  if (is_operator) {
    const LONG id = static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
    auto op = app_.FindOperator(id, &error);
    allowed = (op && op->can_monitor) || app_.OperatorInConversation(id, *cid, &error);
  } else {
    allowed = app_.VisitorInConversation(SessionText(*ex.session, kLabel), *cid, &error);
  }
  if (!allowed) {
    if (!error.empty()) return DatabaseError(ex, error);
    return ex.Error(http::status::forbidden, "not allowed to end this conversation");
  }
  if (!app_.EndConversation(*cid, &error)) return DatabaseError(ex, error);
  Stored(*cid);
  ex.Json(http::status::ok, OkJson());
}

void Site::Upload(Exchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  const bool is_operator = ex.session && SessionNumber(*ex.session, kOperatorId) != 0;
  if (is_operator ? !RequireOperator(ex, true) : !RequireVisitor(ex)) return;
  if (ex.request.body().empty()) return ex.Error(http::status::bad_request, "empty file");
  const std::string name = SanitizeFileName(ex.Form("name"));
  const std::string stored =
      NowText().substr(0, 10) + "-" + RandomHex128().substr(0, 8) + "-" + name;
  if (!WriteNewFile(config_.files_dir, stored, ex.request.body()))
    return ex.Error(http::status::internal_server_error, "cannot store the file");
  ex.Json(http::status::ok, JsonAnswer(json::object{{"name", stored}}));
}

void Site::EndSessions(const std::vector<SessionStore::Values>& ended) {
  for (const auto& values : ended) {
    if (!values) continue;
    const std::string label = SessionText(*values, kLabel);
    if (label.empty()) continue;
    std::string error;
    if (!app_.VisitorLeft(label, SessionText(*values, kVisitorAddress), &error))
      failures_.Failed("a leaving visitor's rows", error);
  }
}

}  // namespace zelto::serve
