// TypingBoard: who is typing in which conversation, kept in the host's
// memory only (no database write per keystroke). A typist ("v:" + label
// for a visitor, "o:" + id for an operator) is told at most once per
// kTypingInterval while typing; a stop is always told. An entry expires
// kTypingExpiry after its last update. Each accepted update gets a new
// number, so that an answer built from the board changes with every one.
// Notes cross hosts as short JSON texts (Encode/Decode).
// Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/serve/clock.h"
#include "platform/com/hresult.h"

namespace zelto::serve {

inline constexpr auto kTypingInterval = std::chrono::seconds(1);
inline constexpr auto kTypingExpiry = std::chrono::seconds(6);
// The most of a visitor's text kept as a preview, in bytes of UTF-8.
inline constexpr size_t kTypingPreviewLimit = 300;

struct TypingNote {
  LONG cid = 0;
  std::string typist;   // "v:LABEL" or "o:ID"
  std::string name;     // as the other side shows it
  std::string preview;  // the text so far (may be empty)
  bool typing = true;   // false: stopped (sent, or cleared the text)
};

struct Typist {
  std::string typist, name, preview;
  uint64_t number = 0;  // of the last accepted update
};

class TypingBoard {
 public:
  explicit TypingBoard(const Clock& clock) : clock_(clock) {}
  TypingBoard(const TypingBoard&) = delete;
  TypingBoard& operator=(const TypingBoard&) = delete;

  // Records the note; true when it changed what the board says (a new
  // typist, a stop of a typist known, or an update at least
  // kTypingInterval after the last accepted one). `limit` false takes an
  // update at once (a note from another host, already limited there).
  bool Apply(const TypingNote& note, bool limit = true);
  // Who types in `cid` now, but `except`, in the order they began.
  std::vector<Typist> TypingIn(LONG cid, std::string_view except) const;
  size_t size() const;

  static std::string Encode(const TypingNote& note);
  static std::optional<TypingNote> Decode(std::string_view text);

 private:
  struct Entry {
    Typist typist;
    TimePoint updated;
  };
  void DropExpired(std::vector<Entry>& entries, TimePoint now) const;  // REQUIRES: mutex_ held

  static constexpr uint64_t kSweepEvery = 1024;

  const Clock& clock_;
  mutable std::mutex mutex_;
  uint64_t next_number_ = 1;
  uint64_t applied_ = 0;
  mutable std::unordered_map<LONG, std::vector<Entry>> by_cid_;
};

}  // namespace zelto::serve
