// WriteTurn: the writers of one SQLite database in this process take turns,
// in order of arrival. SQLite's own busy handler waits by sleeping and
// retrying, so a writer can miss every moment the write lock is free while
// other connections write back to back, and fail with "database is locked"
// once its time limit runs out. Waiting here instead, a writer is woken as
// soon as the writer before it is done. (Writers in other processes are
// still met by the busy handler.)
//
// Each connection holds one WriteTurn for its database file. Take and Leave
// may be called from different threads (a pooled connection moves between
// threads); one WriteTurn is used by one thread at a time.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace zelto::ado {

class WriteTurns;  // the queue of one database, shared by its connections

class WriteTurn {
 public:
  // Joins the turns of the database at `path` (the same file under another
  // spelling of its path shares them).
  explicit WriteTurn(const std::string& path);
  ~WriteTurn();  // leaves a turn still held
  WriteTurn(const WriteTurn&) = delete;
  WriteTurn& operator=(const WriteTurn&) = delete;

  // Waits until it is this connection's turn to write: true then (and at
  // once when the turn is already held), false after `limit` without it.
  bool Take(std::chrono::milliseconds limit);
  // Gives the turn to the next writer; nothing when the turn is not held.
  void Leave();
  bool held() const { return held_; }

 private:
  std::shared_ptr<WriteTurns> turns_;
  bool held_ = false;
};

}  // namespace zelto::ado
