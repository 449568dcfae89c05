#include "platform/ado/sqlite_write_turn.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>

namespace zelto::ado {

class WriteTurns {
 public:
  bool Take(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t me = next_++;
    waiting_.push_back(me);
    const bool mine =
        changed_.wait_for(lock, limit, [&] { return !taken_ && waiting_.front() == me; });
    waiting_.erase(std::find(waiting_.begin(), waiting_.end(), me));
    if (mine) {
      taken_ = true;
    } else {
      changed_.notify_all();  // the writer behind may be first now
    }
    return mine;
  }
  void Leave() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      taken_ = false;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<uint64_t> waiting_;  // tickets in order of arrival
  uint64_t next_ = 0;
  bool taken_ = false;
};

namespace {

// One WriteTurns per database file while any connection to it lives.
std::shared_ptr<WriteTurns> TurnsOf(const std::string& path) {
  static auto* mutex = new std::mutex;
  static auto* all = new std::map<std::string, std::weak_ptr<WriteTurns>>;
  std::error_code ec;
  std::string key = std::filesystem::weakly_canonical(path, ec).string();
  if (ec || key.empty()) key = path;
  std::lock_guard<std::mutex> lock(*mutex);
  for (auto it = all->begin(); it != all->end();) {
    it = it->second.expired() ? all->erase(it) : std::next(it);
  }
  std::weak_ptr<WriteTurns>& slot = (*all)[key];
  std::shared_ptr<WriteTurns> turns = slot.lock();
  if (!turns) {
    turns = std::make_shared<WriteTurns>();
    slot = turns;
  }
  return turns;
}

}  // namespace

WriteTurn::WriteTurn(const std::string& path) : turns_(TurnsOf(path)) {}

WriteTurn::~WriteTurn() { Leave(); }

bool WriteTurn::Take(std::chrono::milliseconds limit) {
  if (!held_) held_ = turns_->Take(limit);
  return held_;
}

void WriteTurn::Leave() {
  if (!held_) return;
  held_ = false;
  turns_->Leave();
}

}  // namespace zelto::ado
