// SeenReceipts: whether the other side has received the last message one
// side sent, read from the read marks the polls already write (msg.readFlag:
// ",ID," for an operator, ",LABEL," for the visitor) — nothing is written
// here. Messages are received in order, so the last one seen means all
// before it were. Also the company setting that lets operators see what a
// visitor types (off unless set). Every call may block on the database.
#pragma once

#include <optional>
#include <string>

#include "host/serve/site_database.h"

namespace zelto::serve {

struct SeenState {
  LONG last_sent = 0;  // msgID of the side's last message, 0 when none
  bool seen = false;   // whether the other side has received it
};

class SeenReceipts {
 public:
  explicit SeenReceipts(const SiteDatabase& db) : db_(db) {}

  // The visitor's last message in `cid`: seen once any operator received it.
  std::optional<SeenState> OfVisitor(LONG cid, const std::string& label, std::string* error) const;
  // The operator's last message in `cid`: seen once the visitor received it.
  std::optional<SeenState> OfOperator(LONG cid, LONG operator_id, std::string* error) const;

  bool TypingPreviewOn(LONG company_id, std::string* error) const;
  bool SetTypingPreview(LONG company_id, bool on, std::string* error) const;

 private:
  // The last message of `cid` matching `sender`, and its read marks.
  std::optional<SeenState> LastOf(LONG cid, const std::string& sender,
                                  const std::function<bool(const std::string&)>& seen,
                                  std::string* error) const;

  const SiteDatabase& db_;
};

}  // namespace zelto::serve
