// VisitorTracking: visitors arriving on the company site and leaving it,
// the rows the component reads but never writes: onlineCst (who is on the
// site), cstTrack (the pages they viewed) and the count database's
// t_Iprecord (addresses seen before). A change of several rows of one
// database runs in one write transaction. Every call may block on the
// database: run it on a worker.
#pragma once

#include <mutex>
#include <string>

#include "host/serve/site_database.h"

namespace zelto::serve {

class VisitorTracking {
 public:
  explicit VisitorTracking(const SiteDatabase& db);

  // A new visitor label, "V", a tag random per process and the local time
  // to the millisecond: unique within the process and across hosts.
  std::string NewVisitorLabel();
  // One page view of a company's site; the first (`first_view`) also adds
  // the visitor's onlineCst row for company `company_id`, in the same
  // transaction.
  bool RecordVisit(const std::string& label, LONG company_id, bool first_view,
                   const std::string& address,
                   const std::string& referrer, const std::string& page, std::string* error) const;
  // A visitor known by their cookie came back in a new session: their
  // onlineCst row again, for company `*company_id`, when it is gone
  // (beChatting 1 when a conversation of theirs is running); when it is
  // there, nothing changes and `*company_id` becomes the row's company.
  // Two requests of one returning visitor at once, on any hosts, add one
  // row.
  bool VisitorReturned(const std::string& label, LONG* company_id, const std::string& address,
                       std::string* error) const;
  // The visitor left: their onlineCst row removed (chat database), then
  // their address recorded as seen (count database). The two databases
  // cannot share a transaction; the row goes first, because a visitor
  // shown on the site after leaving would mislead operators, while a
  // missed address only makes their next visit look like a first one. When
  // the second step fails, `error` says that the first was done.
  bool VisitorLeft(const std::string& label, const std::string& address, std::string* error) const;
  // The company's visitors as the console lists them (who, chatting,
  // invited), one line each: changes whenever that list does.
  std::string VisitorListState(LONG company_id, std::string* error) const;

 private:
  bool AddOnlineVisitor(SqlSession& chat, const std::string& label, LONG company_id,
                        const std::string& address, const std::string& referrer,
                        bool chatting) const;

  const SiteDatabase& db_;
  std::mutex label_mutex_;
  unsigned long long last_label_ = 0;
  // Random per process: hosts sharing one database never hand out one label
  // twice, even in the same millisecond.
  const std::string label_host_tag_;
};

// The search words of a referrer's query ("wd", "q", "query", "word",
// "keyword", "kw", "p", "text"), or empty.
std::string SearchKeywords(const std::string& referrer);

}  // namespace zelto::serve
