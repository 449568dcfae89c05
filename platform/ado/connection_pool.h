// Session pooling as OLE DB does it: closing an "ADODB.Connection" hands its
// engine connection back here, and the next Open of the same connection string
// takes it again instead of opening the database anew. The pool keeps at most
// a fixed number of idle connections per target; extra ones are closed.
// Thread-safe.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ado/engine.h"

namespace zelto::ado {

class ConnectionPool {
 public:
  static ConnectionPool& Instance();

  // An idle connection to `target` on `engine` that is still usable, or a
  // newly opened one; null (with `error`) when the database cannot be opened.
  std::unique_ptr<EngineConnection> Acquire(Engine* engine, const ConnectionString& target,
                                            std::string* error);
  // Gives `connection` back. A transaction left open is rolled back first; a
  // connection known to be broken, that cannot be rolled back, or is over
  // the limit, is closed. (Whether the system still serves it, a file or a
  // server, is asked once, when it is next handed out.)
  void Release(Engine* engine, const ConnectionString& target,
               std::unique_ptr<EngineConnection> connection);

  // Closes every idle connection (after a database was replaced, or when a
  // test removes its files).
  void CloseIdle();
  size_t IdleCount();
  void SetIdleLimit(size_t per_target);

 private:
  std::string Key(Engine* engine, const ConnectionString& target) const;

  std::mutex mutex_;
  size_t idle_limit_ = 16;
  std::map<std::string, std::vector<std::unique_ptr<EngineConnection>>> idle_;
};

}  // namespace zelto::ado
