// Operators: the operators' side of the web application: finding an
// operator, the login, an operator's running conversations and the
// operators of a company. Reads only. Each call may block on the database:
// run it on a worker. A failed read says why in `error`; an empty `error`
// with an empty answer means nothing was found.
#pragma once

#include <optional>
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

struct ConversationRow {
  LONG cid = 0;
  std::string label, nick_name;
};

struct OperatorRow {
  LONG id = 0;
  std::string name;
};

class Operators {
 public:
  explicit Operators(const SiteDatabase& db) : db_(db) {}

  std::optional<OperatorInfo> FindOperator(LONG id, std::string* error) const;
  // The operator when `password` is right.
  std::optional<OperatorInfo> Login(LONG id, const std::string& password, std::string* error) const;
  std::vector<ConversationRow> ConversationsOf(LONG operator_id, std::string* error) const;
  std::vector<OperatorRow> OperatorsOf(LONG company_id, std::string* error) const;

 private:
  const SiteDatabase& db_;
};

}  // namespace zelto::serve
