// The operators' toolkit around a conversation: who is typing and whether
// the last message was seen (one held answer both windows poll beside the
// message frame), whispers between the operators, canned replies, notes on
// a visitor, and the company's typing-preview setting. None of it passes
// through the component's pages: the visitor's poll never sees a whisper.
#include "host/serve/held_answer.h"
#include "host/serve/site_routes.h"
#include "host/serve/toolkit_rows.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

// Who calls a conversation's route: its visitor or one of its operators.
struct Caller {
  bool is_operator = false;
  LONG operator_id = 0;
  std::string label;  // the visitor's
  std::string typist() const {
    return is_operator ? "o:" + std::to_string(operator_id) : "v:" + label;
  }
};

// The session's visitor or operator, allowed `use` of the form's "cid";
// nullopt after answering. A change also needs the operator's token and a
// request from the site itself.
std::optional<std::pair<Caller, LONG>> ConversationCaller(SiteContext& site, SiteExchange& ex,
                                                          http::verb verb, ConversationUse use) {
  if (!Expect(ex, verb)) return std::nullopt;
  Caller caller;
  caller.is_operator = ex.session && SessionNumber(*ex.session, kOperatorId) != 0;
  const bool change = verb == http::verb::post;
  if (caller.is_operator ? !site.RequireOperator(ex, change) : !site.RequireVisitor(ex))
    return std::nullopt;
  if (change && !site.RequireSameSite(ex)) return std::nullopt;
  const auto cid = FormId(ex, "cid");
  if (!cid || !site.RequireConversation(ex, cid, use)) return std::nullopt;
  if (caller.is_operator)
    caller.operator_id = SessionOperator(ex);
  else
    caller.label = SessionText(*ex.session, kLabel);
  return std::make_pair(std::move(caller), *cid);
}

// Whether the operator is a supervisor (the monitor right) or an
// administrator; nullopt after answering 500.
std::optional<bool> IsSupervisor(SiteContext& site, SiteExchange& ex, LONG operator_id) {
  std::string error;
  const auto account = site.app().admin.FindOperator(operator_id, &error);
  if (!error.empty()) {
    site.DatabaseError(ex, error);
    return std::nullopt;
  }
  return account && (account->rights.monitor || account->rights.admin);
}

// A text field of the form: refused (400) when blank or longer than `limit`.
std::optional<std::string> FormText(SiteExchange& ex, const char* key, size_t limit) {
  std::string text = ex.Form(key);
  if (IsBlank(text)) {
    ex.Error(http::status::bad_request, std::string("the ") + key + " is empty");
    return std::nullopt;
  }
  if (text.size() > limit) {
    ex.Error(http::status::bad_request, std::string("the ") + key + " is too long");
    return std::nullopt;
  }
  return text;
}

// The most of `text` that fits `limit` bytes without cutting a UTF-8
// character.
std::string Shortened(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

// POST /api/conversation/typing (cid, on=1|0, text): the caller types (or
// stopped). The text is kept only for a visitor whose company lets its
// operators see it.
void Typing(SiteContext& site, SiteExchange& ex) {
  const auto called = ConversationCaller(site, ex, http::verb::post, ConversationUse::kAct);
  if (!called) return;
  const auto& [caller, cid] = *called;
  TypingNote note{cid, caller.typist(), "", "", ex.Form("on") != "0"};
  std::string error;
  if (caller.is_operator) {
    const auto op = site.app().operators.FindOperator(caller.operator_id, &error);
    if (op) note.name = op->name;
  } else if (note.typing &&
             site.app().seen.TypingPreviewOn(site.VisitorCompany(*ex.session), &error)) {
    note.preview = Shortened(ex.Form("text"), kTypingPreviewLimit);
  }
  if (!error.empty()) return site.DatabaseError(ex, error);
  site.Typed(note);
  ex.Json(http::status::ok, OkJson());
}

json::array TypingJson(SiteContext& site, LONG cid, const Caller& caller) {
  json::array typing;
  for (const Typist& t : site.typing().TypingIn(cid, caller.typist())) {
    // A visitor learns that someone types, never operators' names or texts.
    if (!caller.is_operator && t.typist.starts_with("o:")) {
      typing.push_back(json::object{{"side", "operator"}, {"name", t.name}, {"n", t.number}});
      continue;
    }
    json::object one{{"side", t.typist.starts_with("v:") ? "visitor" : "operator"},
                     {"name", t.name},
                     {"n", t.number}};
    if (caller.is_operator && !t.preview.empty()) one["preview"] = t.preview;
    typing.push_back(std::move(one));
  }
  return typing;
}

json::array WhispersJson(const std::vector<Whisper>& whispers) {
  json::array rows;
  for (const Whisper& w : whispers) {
    rows.push_back(json::object{{"id", w.id},
                                {"operatorId", w.operator_id},
                                {"name", w.operator_name},
                                {"text", w.text},
                                {"at", w.created_at}});
  }
  return rows;
}

// What a window shows beside the messages: who types, whether the caller's
// last message was seen, and for operators the whispers (for a visitor of
// `visitor_company`, whether to send the text being typed).
HeldAnswer Activity(SiteContext& site, LONG cid, const Caller& caller, LONG visitor_company) {
  HeldAnswer answer;
  std::string& error = answer.error;
  WebApp& app = site.app();
  const auto seen = caller.is_operator ? app.seen.OfOperator(cid, caller.operator_id, &error)
                                       : app.seen.OfVisitor(cid, caller.label, &error);
  json::object body{{"typing", TypingJson(site, cid, caller)}};
  if (seen) body["seen"] = json::object{{"lastSent", seen->last_sent}, {"seen", seen->seen}};
  if (caller.is_operator) {
    body["whispers"] = WhispersJson(app.whispers.Of(cid, &error));
  } else {
    body["sendPreview"] = app.seen.TypingPreviewOn(visitor_company, &error);
  }
  if (!error.empty()) return answer;
  answer.body = JsonAnswer(body);
  answer.version = VersionOf(answer.body);
  return answer;
}

// GET /api/conversation/activity?cid=N&since=VERSION&wait=SECONDS
void ConversationActivity(SiteContext& site, SiteExchange& ex) {
  auto called = ConversationCaller(site, ex, http::verb::get, ConversationUse::kRead);
  if (!called) return;
  const TimePoint deadline = site.config().clock->Now() + std::chrono::seconds(RequestedWait(ex));
  const LONG company = site.VisitorCompany(*ex.session);
  AnswerWhenChanged(site, ex.shared_from_this(), called->second, ex.Form("since"), deadline,
                    [&site, cid = called->second, caller = std::move(called->first), company] {
                      return Activity(site, cid, caller, company);
                    });
}

// POST /api/conversation/whisper (cid, text): an operator who may read the
// conversation (a member, or a supervisor of its company) tells the other
// operators. Never stored in msg: no visitor poll returns it.
void SayWhisper(SiteContext& site, SiteExchange& ex) {
  if (!ex.session || SessionNumber(*ex.session, kOperatorId) == 0)
    return ex.Error(http::status::forbidden, "whispers are between operators");
  const auto called = ConversationCaller(site, ex, http::verb::post, ConversationUse::kRead);
  if (!called) return;
  const auto text = FormText(ex, "text", kWhisperLimit);
  if (!text) return;
  std::string error;
  const auto id = site.app().whispers.Say(called->second, called->first.operator_id, *text, &error);
  if (!id) return site.DatabaseError(ex, error);
  site.Stored(called->second);
  ex.Json(http::status::ok, JsonAnswer(json::object{{"id", *id}}));
}

// GET /api/operator/canned: the company's replies and the operator's own.
void ListCanned(SiteContext& site, SiteExchange& ex) {
  std::string error;
  json::array rows;
  for (const CannedResponse& r :
       site.app().canned.For(SessionCompany(ex), SessionOperator(ex), &error)) {
    rows.push_back(json::object{{"id", r.id},
                                {"keyword", r.keyword},
                                {"text", r.text},
                                {"scope", r.operator_id == 0 ? "company" : "mine"}});
  }
  if (!error.empty()) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(rows));
}

// Whether the operator may change `owner`'s replies (its own, or as a
// supervisor the company's); false after answering.
bool MayKeep(SiteContext& site, SiteExchange& ex, LONG owner) {
  if (owner != 0) {
    if (owner != SessionOperator(ex)) ex.Error(http::status::forbidden, "not your reply");
    return owner == SessionOperator(ex);
  }
  const auto supervisor = IsSupervisor(site, ex, SessionOperator(ex));
  if (!supervisor) return false;
  if (!*supervisor)
    ex.Error(http::status::forbidden, "only a supervisor keeps the company's replies");
  return *supervisor;
}

// POST /api/operator/canned/save (keyword, text, scope=mine|company)
void SaveCanned(SiteContext& site, SiteExchange& ex) {
  std::string keyword = ex.Form("keyword");
  if (!keyword.empty() && keyword[0] == '/') keyword.erase(0, 1);
  if (const std::string problem = CannedResponses::KeywordProblem(keyword); !problem.empty())
    return ex.Error(http::status::bad_request, problem);
  const auto text = FormText(ex, "text", kCannedTextLimit);
  if (!text) return;
  const std::string scope = ex.Form("scope");
  if (scope != "mine" && scope != "company")
    return ex.Error(http::status::bad_request, "scope must be mine or company");
  const LONG owner = scope == "company" ? 0 : SessionOperator(ex);
  if (!MayKeep(site, ex, owner)) return;
  std::string error;
  const auto id = site.app().canned.Save(SessionCompany(ex), owner, keyword, *text, &error);
  if (!id) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(json::object{{"id", *id}}));
}

// POST /api/operator/canned/delete (id)
void DeleteCanned(SiteContext& site, SiteExchange& ex) {
  const auto id = FormId(ex, "id");
  if (!id) return;
  std::string error;
  const auto reply = site.app().canned.Find(SessionCompany(ex), *id, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  if (!reply) return ex.Error(http::status::not_found, "no such reply");
  if (!MayKeep(site, ex, reply->operator_id)) return;
  if (!site.app().canned.Remove(SessionCompany(ex), *id, &error))
    return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, OkJson());
}

// GET /api/operator/notes?label=LABEL: the company's notes on the visitor.
void ListNotes(SiteContext& site, SiteExchange& ex) {
  const std::string label = ex.Form("label");
  if (label.empty() || label.size() > 50)
    return ex.Error(http::status::bad_request, "a visitor label is needed");
  std::string error;
  json::array rows;
  for (const VisitorNote& n : site.app().notes.Of(SessionCompany(ex), label, &error)) {
    rows.push_back(json::object{{"id", n.id},
                                {"operatorId", n.operator_id},
                                {"name", n.operator_name},
                                {"text", n.text},
                                {"at", n.created_at},
                                {"mine", n.operator_id == SessionOperator(ex)}});
  }
  if (!error.empty()) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(rows));
}

// POST /api/operator/notes/add (label, text)
void AddNote(SiteContext& site, SiteExchange& ex) {
  const std::string label = ex.Form("label");
  if (label.empty() || label.size() > 50)
    return ex.Error(http::status::bad_request, "a visitor label is needed");
  const auto text = FormText(ex, "text", kVisitorNoteLimit);
  if (!text) return;
  std::string error;
  const auto id =
      site.app().notes.Add(SessionCompany(ex), label, SessionOperator(ex), *text, &error);
  if (!id) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(json::object{{"id", *id}}));
}

// POST /api/operator/notes/delete (id): its author, or a supervisor.
void DeleteNote(SiteContext& site, SiteExchange& ex) {
  const auto id = FormId(ex, "id");
  if (!id) return;
  std::string error;
  const auto author = site.app().notes.AuthorOf(SessionCompany(ex), *id, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  if (!author) return ex.Error(http::status::not_found, "no such note");
  if (*author != SessionOperator(ex)) {
    const auto supervisor = IsSupervisor(site, ex, SessionOperator(ex));
    if (!supervisor) return;
    if (!*supervisor) return ex.Error(http::status::forbidden, "not your note");
  }
  if (!site.app().notes.Remove(SessionCompany(ex), *id, &error))
    return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, OkJson());
}

// GET /api/operator/typing-preview; POST (on=1|0) by a supervisor.
void TypingPreview(SiteContext& site, SiteExchange& ex) {
  std::string error;
  if (ex.Is(http::verb::post)) {
    const std::string on = ex.Form("on");
    if (on != "1" && on != "0") return ex.Error(http::status::bad_request, "on must be 1 or 0");
    const auto supervisor = IsSupervisor(site, ex, SessionOperator(ex));
    if (!supervisor) return;
    if (!*supervisor) return ex.Error(http::status::forbidden, "only a supervisor sets this");
    if (!site.app().seen.SetTypingPreview(SessionCompany(ex), on == "1", &error))
      return site.DatabaseError(ex, error);
  }
  const bool enabled = site.app().seen.TypingPreviewOn(SessionCompany(ex), &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(json::object{{"on", enabled}}));
}

}  // namespace

void AddToolkitRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/conversation/typing", [&site](SiteExchange& ex) { Typing(site, ex); });
  routes.Add("/api/conversation/activity",
             [&site](SiteExchange& ex) { ConversationActivity(site, ex); });
  routes.Add("/api/conversation/whisper", [&site](SiteExchange& ex) { SayWhisper(site, ex); });
  routes.Add("/api/operator/canned", ForOperator(site, http::verb::get, ListCanned));
  routes.Add("/api/operator/canned/save", ForOperator(site, http::verb::post, SaveCanned));
  routes.Add("/api/operator/canned/delete", ForOperator(site, http::verb::post, DeleteCanned));
  routes.Add("/api/operator/notes", ForOperator(site, http::verb::get, ListNotes));
  routes.Add("/api/operator/notes/add", ForOperator(site, http::verb::post, AddNote));
  routes.Add("/api/operator/notes/delete", ForOperator(site, http::verb::post, DeleteNote));
  routes.Add("/api/operator/typing-preview",
             [get = ForOperator(site, http::verb::get, TypingPreview),
              post = ForOperator(site, http::verb::post, TypingPreview)](SiteExchange& ex) {
               (ex.Is(http::verb::post) ? post : get)(ex);
             });
}

}  // namespace zelto::serve
