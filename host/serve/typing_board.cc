#include "host/serve/typing_board.h"

#include <algorithm>
#include <boost/json.hpp>

namespace zelto::serve {

namespace json = boost::json;

void TypingBoard::DropExpired(std::vector<Entry>& entries, TimePoint now) const {
  std::erase_if(entries, [now](const Entry& e) { return now - e.updated >= kTypingExpiry; });
}

bool TypingBoard::Apply(const TypingNote& note, bool limit) {
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  // Now and then every conversation's expired typists go, also those of
  // conversations nobody reads any more.
  if (++applied_ % kSweepEvery == 0) {
    for (auto it = by_cid_.begin(); it != by_cid_.end();) {
      DropExpired(it->second, now);
      it = it->second.empty() ? by_cid_.erase(it) : std::next(it);
    }
  }
  std::vector<Entry>& entries = by_cid_[note.cid];
  DropExpired(entries, now);
  auto at = std::find_if(entries.begin(), entries.end(),
                         [&](const Entry& e) { return e.typist.typist == note.typist; });
  bool changed = false;
  if (!note.typing) {
    changed = at != entries.end();
    if (changed) entries.erase(at);
  } else if (at == entries.end()) {
    entries.push_back(
        Entry{Typist{note.typist, note.name, note.preview, next_number_++}, now});
    changed = true;
  } else if (!limit || now - at->updated >= kTypingInterval) {
    at->typist.name = note.name;
    at->typist.preview = note.preview;
    at->typist.number = next_number_++;
    at->updated = now;
    changed = true;
  }
  if (entries.empty()) by_cid_.erase(note.cid);
  return changed;
}

std::vector<Typist> TypingBoard::TypingIn(LONG cid, std::string_view except) const {
  std::lock_guard lock(mutex_);
  auto found = by_cid_.find(cid);
  if (found == by_cid_.end()) return {};
  DropExpired(found->second, clock_.Now());
  std::vector<Typist> typists;
  for (const Entry& e : found->second) {
    if (e.typist.typist != except) typists.push_back(e.typist);
  }
  if (found->second.empty()) by_cid_.erase(found);
  return typists;
}

size_t TypingBoard::size() const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& [cid, entries] : by_cid_) n += entries.size();
  return n;
}

std::string TypingBoard::Encode(const TypingNote& note) {
  return json::serialize(json::object{{"typing", note.cid},
                                      {"typist", note.typist},
                                      {"name", note.name},
                                      {"preview", note.preview},
                                      {"on", note.typing}});
}

std::optional<TypingNote> TypingBoard::Decode(std::string_view text) {
  boost::system::error_code failed;
  const json::value parsed = json::parse(text, failed);
  const json::object* o = failed ? nullptr : parsed.if_object();
  if (!o) return std::nullopt;
  const json::value *cid = o->if_contains("typing"), *typist = o->if_contains("typist"),
                    *name = o->if_contains("name"), *preview = o->if_contains("preview"),
                    *on = o->if_contains("on");
  if (!cid || !cid->is_int64() || !typist || !typist->is_string() || !name ||
      !name->is_string() || !preview || !preview->is_string() || !on || !on->is_bool())
    return std::nullopt;
  return TypingNote{static_cast<LONG>(cid->as_int64()), std::string(typist->as_string()),
                    std::string(name->as_string()), std::string(preview->as_string()),
                    on->as_bool()};
}

}  // namespace zelto::serve
