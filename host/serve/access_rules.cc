#include "host/serve/access_rules.h"

#include "db/sql_values.h"

namespace zelto::serve {
namespace {

// Above this many remembered memberships the expired ones are swept, and
// when that is not enough all are dropped: memory stays bounded whatever
// callers do, at the price of a few queries.
constexpr size_t kMaxRemembered = 50000;

}  // namespace

MembershipMemory::MembershipMemory(const Clock& clock, Duration remember)
    : clock_(clock), remember_(remember) {}

bool AccessRules::HasRow(const std::string& sql, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  return db_.Query(kChatCatalog, sql, {"found"}, &rows, error) && !rows.empty();
}

bool AccessRules::VisitorMay(const std::string& label, LONG cid, ConversationUse,
                             std::string* error) {
  if (label.empty() || cid <= 0) return false;
  const std::string who = "v" + label;
  if (memory_.Remembered(cid, who)) return true;
  if (!HasRow("select cid as found from C_members where cid=" + SqlId(cid) +
                  " and cstlabel=" + SqlStringLiteral(label),
              error))
    return false;
  memory_.Remember(cid, who);
  return true;
}

bool AccessRules::OperatorMay(LONG operator_id, LONG cid, ConversationUse use,
                              std::string* error) {
  if (operator_id <= 0 || cid <= 0) return false;
  const std::string member = "o" + std::to_string(operator_id);
  const std::string monitor = "m" + std::to_string(operator_id);
  if (memory_.Remembered(cid, member)) return true;
  if (use != ConversationUse::kAct && memory_.Remembered(cid, monitor)) return true;
  if (HasRow("select cid as found from C_members where cid=" + SqlId(cid) +
                 " and serid=" + SqlId(operator_id) + " and IsChat=1",
             error)) {
    memory_.Remember(cid, member);
    return true;
  }
  if (!error->empty() || use == ConversationUse::kAct) return false;
  const std::optional<ConsoleRights> rights = RightsOf(operator_id, error);
  if (!rights || !rights->monitor || !ConversationOfCompany(cid, rights->company_id, error))
    return false;
  memory_.Remember(cid, monitor);
  return true;
}

bool AccessRules::IsOperatorOf(LONG serid, LONG company, std::string* error) const {
  return serid > 0 && HasRow("select ID as found from userinfo where ID=" + SqlId(serid) +
                                 " and CompanyID=" + SqlId(company),
                             error);
}

std::optional<ConsoleRights> AccessRules::RightsOf(LONG operator_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select CompanyID, Popedom, Invite, conview from userinfo where ID=" +
                     SqlId(operator_id),
                 {"CompanyID", "Popedom", "Invite", "conview"}, &rows, error) ||
      rows.empty())
    return std::nullopt;
  const LONG popedom = IdField(rows[0][1]);
  const bool chief = popedom == 1 || popedom == 2;
  return ConsoleRights{IdField(rows[0][0]), chief || IdField(rows[0][2]) != 0,
                        chief || IdField(rows[0][3]) != 0};
}

bool AccessRules::ConversationOfCompany(LONG cid, LONG company, std::string* error) const {
  return HasRow(
      "select m.cid as found from C_members m inner join userinfo u on u.ID = m.serid "
      "where m.cid=" +
          SqlId(cid) + " and u.CompanyID=" + SqlId(company),
      error);
}

bool MembershipMemory::Remembered(LONG cid, const std::string& who) {
  std::lock_guard lock(mutex_);
  auto conversation = members_.find(cid);
  if (conversation == members_.end()) return false;
  auto entry = conversation->second.find(who);
  if (entry == conversation->second.end()) return false;
  if (entry->second > clock_.Now()) return true;
  conversation->second.erase(entry);
  --entries_;
  if (conversation->second.empty()) members_.erase(conversation);
  return false;
}

void MembershipMemory::Remember(LONG cid, const std::string& who) {
  if (remember_ <= Duration::zero()) return;
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  if (entries_ >= kMaxRemembered) {
    for (auto it = members_.begin(); it != members_.end();) {
      std::erase_if(it->second, [&](const auto& entry) { return entry.second <= now; });
      it = it->second.empty() ? members_.erase(it) : std::next(it);
    }
    entries_ = 0;
    for (const auto& [_, callers] : members_) entries_ += callers.size();
    if (entries_ >= kMaxRemembered) {
      members_.clear();
      entries_ = 0;
    }
  }
  auto [entry, added] = members_[cid].insert_or_assign(who, now + remember_);
  if (added) ++entries_;
}

void MembershipMemory::Forget(LONG cid) {
  std::lock_guard lock(mutex_);
  auto conversation = members_.find(cid);
  if (conversation == members_.end()) return;
  entries_ -= conversation->second.size();
  members_.erase(conversation);
}

size_t MembershipMemory::size() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

}  // namespace zelto::serve
