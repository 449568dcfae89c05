#include "platform/ado/connection_pool.h"

#include <utility>

namespace zelto::ado {

ConnectionPool& ConnectionPool::Instance() {
  // Never destroyed: connections may be released during static destruction.
  static ConnectionPool* pool = new ConnectionPool;
  return *pool;
}

std::string ConnectionPool::Key(Engine* engine, const ConnectionString& target) const {
  return std::string(engine->Name()) + '|' + target.PoolKey();
}

std::unique_ptr<EngineConnection> ConnectionPool::Acquire(Engine* engine,
                                                          const ConnectionString& target,
                                                          std::string* error) {
  while (true) {
    std::unique_ptr<EngineConnection> connection;
    {
      std::lock_guard lock(mutex_);
      auto it = idle_.find(Key(engine, target));
      if (it == idle_.end() || it->second.empty()) break;
      connection = std::move(it->second.back());
      it->second.pop_back();
    }
    // A session whose server went away while it was idle is closed (outside
    // the lock) and the next one tried.
    if (connection->Usable()) return connection;
  }
  // Opening can take a while (busy timeout); never under the lock.
  return engine->Connect(target, error);
}

void ConnectionPool::Release(Engine* engine, const ConnectionString& target,
                             std::unique_ptr<EngineConnection> connection) {
  if (!connection || connection->Broken()) return;
  if (connection->InTransaction()) {
    std::string ignored;
    if (!connection->RollbackTransaction(&ignored)) return;  // closed by unique_ptr
  }
  std::unique_ptr<EngineConnection> surplus;
  std::lock_guard lock(mutex_);
  auto& idle = idle_[Key(engine, target)];
  if (idle.size() < idle_limit_) {
    idle.push_back(std::move(connection));
  } else {
    surplus = std::move(connection);
  }
}

void ConnectionPool::CloseIdle() {
  std::map<std::string, std::vector<std::unique_ptr<EngineConnection>>> closing;
  std::lock_guard lock(mutex_);
  closing.swap(idle_);
}

size_t ConnectionPool::IdleCount() {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& [key, list] : idle_) n += list.size();
  return n;
}

void ConnectionPool::SetIdleLimit(size_t per_target) {
  std::lock_guard lock(mutex_);
  idle_limit_ = per_target;
}

}  // namespace zelto::ado
