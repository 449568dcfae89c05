#include "platform/ado/sqlite_backup.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

namespace ado {
namespace {

constexpr int kBusyMilliseconds = 10'000;
constexpr int kPagesPerStep = 256;  // writers get the lock between steps

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, Closer>;

Database Open(const std::string& path, int flags, std::string* error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  return Database(db);
}

bool Copy(sqlite3* from, sqlite3* to, std::string* error) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) {
    *error = sqlite3_errmsg(to);
    return false;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyMilliseconds);
  int rc;
  do {
    rc = sqlite3_backup_step(backup, kPagesPerStep);
    if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    else if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
      break;
  } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errstr(rc);
    return false;
  }
  return true;
}

}  // namespace

bool CheckSqliteFile(const std::string& path, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    *error = path + ": no such file";
    return false;
  }
  Database db = Open(path, SQLITE_OPEN_READONLY, error);
  if (!db) return false;
  sqlite3_stmt* statement = nullptr;
  std::string verdict;
  if (sqlite3_prepare_v2(db.get(), "PRAGMA quick_check", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    verdict = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  } else {
    verdict = sqlite3_errmsg(db.get());
  }
  sqlite3_finalize(statement);
  if (verdict == "ok") return true;
  *error = path + ": " + verdict;
  return false;
}

bool BackupSqliteFile(const std::string& source, const std::string& target, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(source, ec)) {
    *error = source + ": no such file";
    return false;
  }
  if (std::filesystem::exists(target, ec)) {
    *error = target + " exists already";
    return false;
  }
  // Read-write, so that a live WAL database is read with its index (the
  // backup itself only reads).
  Database from = Open(source, SQLITE_OPEN_READWRITE, error);
  if (!from) return false;
  bool copied = false;
  {
    Database to = Open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
    if (to) copied = Copy(from.get(), to.get(), error);
    if (to && !copied) *error = source + ": " + *error;
  }
  if (!copied) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
      std::filesystem::remove(target + suffix, ec);
  }
  return copied;
}

}  // namespace ado
