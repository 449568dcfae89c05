// WebApp: the rest of the web application the component relies on, the rows
// it reads but never writes: visitors arriving and leaving (onlineCst,
// cstTrack, the count database's t_Iprecord), chats opening (conversation,
// C_members, beChatting, preMsg), proactive invitations (Invited 1-3),
// conversations ending, operator logins. Plain values in, results out;
// who may do what is the caller's check. Every call may block on the
// database: run it on a worker.
#pragma once

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/serve/site_database.h"

namespace zelto::serve {

struct OperatorInfo {
  LONG id = 0;
  std::string name;
  LONG company_id = 0;
  bool can_monitor = false;  // Popedom 1 or 2, or conview not 0
};

struct VisitorChat {
  LONG cid = 0;
  std::string label;
};

struct Invitation {
  LONG invited = 0;  // 0 none, 1 invited, 2 accepted, 3 refused
  LONG cid = 0;
  std::vector<std::string> messages;
};

struct ConversationRow {
  LONG cid = 0;
  std::string label, nick_name;
};

struct OperatorRow {
  LONG id = 0;
  std::string name;
};

class WebApp {
 public:
  WebApp(SiteDatabase& db, LONG site_company_id);

  // A new visitor label, "V" and the local time to the millisecond, unique
  // within this process.
  std::string NewVisitorLabel();
  // One page view of the company site; the first (`first_view`) also adds
  // the visitor's onlineCst row.
  bool RecordVisit(const std::string& label, bool first_view, const std::string& address,
                   const std::string& referrer, const std::string& page, std::string* error);
  // A visitor known by their cookie came back in a new session: their
  // onlineCst row again when it is gone (beChatting 1 when a conversation
  // of theirs is running), nothing when it is there.
  bool VisitorReturned(const std::string& label, const std::string& address, std::string* error);
  // The visitor left: onlineCst row removed, address recorded as seen.
  bool VisitorLeft(const std::string& label, const std::string& address, std::string* error);

  // The visitor's running conversation, or a new one with an operator of the
  // company (the first of `online`, else the first of the company).
  std::optional<VisitorChat> OpenChat(const std::string& label, const std::set<LONG>& online,
                                      std::string* error);
  // The preMsg row, once; false when `cid` is not the visitor's.
  bool ChatOpened(const std::string& label, LONG cid, std::string* error);
  Invitation InvitationOf(const std::string& label, std::string* error);
  // Accepts or refuses a pending invitation; the conversation when accepted.
  std::optional<LONG> AnswerInvitation(const std::string& label, bool accept, std::string* error);

  std::optional<OperatorInfo> FindOperator(LONG id, std::string* error);
  // The operator when `password` is right.
  std::optional<OperatorInfo> Login(LONG id, const std::string& password, std::string* error);
  std::vector<ConversationRow> ConversationsOf(LONG operator_id, std::string* error);
  std::vector<OperatorRow> OperatorsOf(LONG company_id, std::string* error);
  // The operator takes a visitor of the operator's company: joins the
  // running conversation, or starts a proactive invitation (Invited 1).
  std::optional<LONG> TakeVisitor(const OperatorInfo& op, const std::string& label,
                                  std::string* error);

  // Whether the visitor's or operator's side belongs to conversation `cid`.
  bool VisitorInConversation(const std::string& label, LONG cid, std::string* error);
  bool OperatorInConversation(LONG operator_id, LONG cid, std::string* error);
  // Members' IsChat 0, conversation row removed, visitor's beChatting 0.
  bool EndConversation(LONG cid, std::string* error);

 private:
  bool AddOnlineVisitor(const std::string& label, const std::string& address,
                        const std::string& referrer, bool chatting, std::string* error);
  bool NewConversation(const std::string& label, LONG operator_id, LONG* cid, std::string* error);
  bool AddOperatorMember(LONG cid, LONG operator_id, std::string* error);
  std::optional<LONG> RunningConversation(const std::string& label, std::string* error);
  bool Exec(const std::string& sql, std::string* error) const;
  bool Rows(const std::string& sql, const std::vector<std::string>& columns,
            std::vector<SiteDatabase::Row>* rows, std::string* error) const;

  SiteDatabase& db_;
  const LONG company_id_;
  std::mutex label_mutex_;
  unsigned long long last_label_ = 0;
  // Random per process: hosts sharing one database never hand out one label
  // twice, even in the same millisecond.
  const std::string label_host_tag_;
  std::mutex cid_mutex_;  // one new conversation id at a time in this process
  // Two requests of one returning visitor at once add one onlineCst row.
  std::mutex returning_mutex_;
};

// The search words of a referrer's query ("wd", "q", "query", "word",
// "keyword", "kw", "p", "text"), or empty.
std::string SearchKeywords(const std::string& referrer);

}  // namespace zelto::serve
