#include "host/serve/session_store.h"

#include <algorithm>

#include "host/serve/random_bytes.h"
#include "platform/win/codepage.h"

namespace zelto::serve {

SessionStore::SessionStore(Duration timeout, std::function<void(SessionValues&)> init, size_t limit,
                           const Clock& clock)
    : timeout_(timeout), init_(std::move(init)), limit_(limit), clock_(clock) {}

std::string SessionStore::NewId() const {
  std::string id;
  do {
    id = RandomHex128();
  } while (sessions_.count(id));
  return id;
}

SessionStore::Values SessionStore::Find(std::string_view id) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(std::string(id));
  if (it == sessions_.end()) return nullptr;
  const auto now = clock_.Now();
  if (now - it->second.last_used >= timeout_) return nullptr;
  it->second.last_used = now;
  return it->second.values;
}

bool SessionStore::MakeRoom(TimePoint now, size_t limit) {
  // A full store is scanned only when one of its sessions may have expired,
  // so that a flood of new visitors at the limit costs no scan each.
  if (sessions_.size() >= limit && now >= no_expiry_before_) {
    auto oldest = now;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (now - it->second.last_used >= timeout_) {
        ended_.push_back(std::move(it->second.values));
        it = sessions_.erase(it);
      } else {
        oldest = std::min(oldest, it->second.last_used);
        ++it;
      }
    }
    no_expiry_before_ = oldest + timeout_;
  }
  return sessions_.size() < limit;
}

SessionStore::Values SessionStore::Create(std::string* id, size_t keep_free) {
  const size_t limit = limit_ - std::min(keep_free, limit_ - 1);
  auto values = std::make_shared<SessionValues>();
  if (init_) init_(*values);
  const auto now = clock_.Now();
  std::lock_guard lock(mutex_);
  if (!MakeRoom(now, limit)) {
    id->clear();
    return nullptr;
  }
  *id = NewId();
  sessions_[*id] = Entry{values, now};
  return values;
}

SessionStore::Values SessionStore::Adopt(std::string_view id,
                                         const std::function<void(SessionValues&)>& fill) {
  auto values = std::make_shared<SessionValues>();
  if (init_) init_(*values);
  fill(*values);
  const auto now = clock_.Now();
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(std::string(id));
  if (it != sessions_.end() && now - it->second.last_used < timeout_) {
    it->second.last_used = now;
    return it->second.values;
  }
  if (it != sessions_.end()) {  // expired here: ended as Sweep would end it
    ended_.push_back(std::move(it->second.values));
    sessions_.erase(it);
  }
  if (!MakeRoom(now, limit_)) return nullptr;
  sessions_[std::string(id)] = Entry{values, now};
  return values;
}

std::string SessionStore::Reissue(std::string_view id) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(std::string(id));
  if (it == sessions_.end()) return {};
  Entry entry = std::move(it->second);
  sessions_.erase(it);
  const std::string fresh = NewId();
  entry.last_used = clock_.Now();
  sessions_[fresh] = std::move(entry);
  return fresh;
}

SessionStore::Values SessionStore::End(std::string_view id) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(std::string(id));
  if (it == sessions_.end()) return nullptr;
  Values values = std::move(it->second.values);
  sessions_.erase(it);
  return values;
}

std::vector<SessionStore::Values> SessionStore::Sweep(bool all) {
  const auto now = clock_.Now();
  std::lock_guard lock(mutex_);
  std::vector<Values> ended = std::move(ended_);
  ended_.clear();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (all || now - it->second.last_used >= timeout_) {
      ended.push_back(std::move(it->second.values));
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
  return ended;
}

size_t SessionStore::size() {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

std::vector<SessionStore::Values> SessionStore::Live() {
  std::vector<Values> live;
  const auto now = clock_.Now();
  std::lock_guard lock(mutex_);
  for (const auto& [id, entry] : sessions_) {
    if (now - entry.last_used < timeout_) live.push_back(entry.values);
  }
  return live;
}

std::string SessionText(const SessionValues& values, std::string_view key) {
  VARIANT value;
  VariantInit(&value);
  values.Get(Utf8ToWide(key), &value);
  std::string text;
  if (value.vt == VT_BSTR) {
    text = WideToUtf8(BstrView(value.bstrVal));
  } else if (value.vt != VT_EMPTY && value.vt != VT_NULL) {
    VARIANT converted;
    VariantInit(&converted);
    if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_BSTR)))
      text = WideToUtf8(BstrView(converted.bstrVal));
    VariantClear(&converted);
  }
  VariantClear(&value);
  return text;
}

long long SessionNumber(const SessionValues& values, std::string_view key) {
  const std::string text = SessionText(values, key);
  if (text.empty()) return 0;
  char* end = nullptr;
  const long long number = std::strtoll(text.c_str(), &end, 10);
  return *end == '\0' ? number : 0;
}

}  // namespace zelto::serve
