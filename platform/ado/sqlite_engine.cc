// The SQLite engine: Data Source is a directory, Initial Catalog a database in
// it, stored as "<Data Source>/<Initial Catalog>.db". Connections run in WAL
// mode with a busy timeout and foreign keys off, and keep a bounded cache of
// prepared statements keyed by their translated text; translations are kept
// for all connections, keyed by the T-SQL text.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ado/engine.h"
#include "platform/ado/sqlite_write_turn.h"
#include "platform/ado/translation_cache.h"
#include "platform/ado/tsql_translator.h"

namespace zelto::ado {
namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr size_t kStatementCacheSize = 64;
constexpr size_t kTranslationCacheSize = 256;
constexpr size_t kLongestCachedText = 1024;  // longer ones are inserts carrying a message

std::string DatabasePath(const std::string& data_source, const std::string& catalog) {
  return (std::filesystem::path(data_source) / (catalog + ".db")).string();
}

// A prepared statement and the description of its result columns, taken
// once and again only when SQLite has re-prepared the statement (a schema
// change can alter what `select *` gives).
struct Prepared {
  sqlite3_stmt* stmt = nullptr;
  std::vector<ResultColumn> columns;
  int described_at = -1;  // the statement's re-prepare count then; -1 never
};

// Least-recently-used prepared statements; finalizes what it evicts.
class StatementCache {
 public:
  ~StatementCache() {
    for (auto& [text, prepared] : order_) sqlite3_finalize(prepared.stmt);
  }
  Prepared* Find(const std::string& text) {
    auto it = index_.find(text);
    if (it == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return &it->second->second;
  }
  Prepared* Add(const std::string& text, sqlite3_stmt* stmt) {
    order_.emplace_front(text, Prepared());
    order_.front().second.stmt = stmt;
    index_[text] = order_.begin();
    if (order_.size() > kStatementCacheSize) {
      sqlite3_finalize(order_.back().second.stmt);
      index_.erase(order_.back().first);
      order_.pop_back();
    }
    return &order_.front().second;
  }

 private:
  std::list<std::pair<std::string, Prepared>> order_;
  std::unordered_map<std::string, std::list<std::pair<std::string, Prepared>>::iterator> index_;
};

// Translations are the same for every connection, so they are shared. Never
// destroyed: sessions may still run statements during static destruction.
TranslationCache<Statement>& Translations() {
  static auto* cache = new TranslationCache<Statement>(TranslateTsqlForSqlite,
                                                       kTranslationCacheSize, kLongestCachedText);
  return *cache;
}

void Describe(Prepared& p) {
  const int reprepared = sqlite3_stmt_status(p.stmt, SQLITE_STMTSTATUS_REPREPARE, 0);
  if (p.described_at == reprepared) return;
  const int count = sqlite3_column_count(p.stmt);
  p.columns.assign(count, ResultColumn());
  for (int i = 0; i < count; ++i) {
    ResultColumn& column = p.columns[i];
    const char* decl = sqlite3_column_decltype(p.stmt, i);
    column.name = sqlite3_column_name(p.stmt, i);
    column.type = decl ? SqlTypeFromDeclared(decl) : SqlType::kUnknown;
    if (column.type == SqlType::kDecimal) column.scale = DecimalScaleFromDeclared(decl);
  }
  p.described_at = reprepared;
}

SqlValue ColumnValue(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
      return SqlValue::Integer(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT:
      return SqlValue::Real(sqlite3_column_double(stmt, i));
    case SQLITE_TEXT: {
      auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      return SqlValue::Text(std::string(text, sqlite3_column_bytes(stmt, i)));
    }
    case SQLITE_BLOB: {
      auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, i));
      int size = sqlite3_column_bytes(stmt, i);
      return SqlValue::Blob(data ? std::string(data, size) : std::string());
    }
    default:
      return SqlValue::Null();
  }
}

int Bind(sqlite3_stmt* stmt, int index, const SqlValue& v) {
  switch (v.kind) {
    case SqlValue::Kind::kInteger:
      return sqlite3_bind_int64(stmt, index, v.integer);
    case SqlValue::Kind::kReal:
      return sqlite3_bind_double(stmt, index, v.real);
    case SqlValue::Kind::kText:
      return sqlite3_bind_text(stmt, index, v.bytes.data(), static_cast<int>(v.bytes.size()),
                               SQLITE_TRANSIENT);
    case SqlValue::Kind::kBlob:
      return sqlite3_bind_blob(stmt, index, v.bytes.data(), static_cast<int>(v.bytes.size()),
                               SQLITE_TRANSIENT);
    case SqlValue::Kind::kNull:
      return sqlite3_bind_null(stmt, index);
  }
  return SQLITE_MISUSE;
}

class SqliteConnection : public EngineConnection {
 public:
  SqliteConnection(sqlite3* db, const std::string& path) : db_(db), turn_(path) {}
  ~SqliteConnection() override {
    // Statements go before the handle; closing rolls back an open
    // transaction, and then the turn is given up.
    cache_.reset();
    sqlite3_close(db_);
  }

  bool Execute(std::string_view tsql, ResultSet* result, std::string* error) override {
    std::shared_ptr<const Statement> translated = Translations().Get(tsql);
    const Statement& statement = *translated;
    *result = ResultSet();
    size_t used = 0;
    const char* rest = statement.text.c_str();
    bool first = true;
    while (true) {
      while (*rest == ' ' || *rest == '\t' || *rest == '\r' || *rest == '\n' || *rest == ';')
        ++rest;
      if (*rest == '\0') break;
      // A single statement is cached; later statements of a batch are not.
      bool whole = first;
      Prepared* prepared = whole ? cache_->Find(statement.text) : nullptr;
      Prepared uncached;
      const char* tail = nullptr;
      if (!prepared) {
        sqlite3_stmt* stmt = nullptr;
        int rc =
            sqlite3_prepare_v3(db_, rest, -1, whole ? SQLITE_PREPARE_PERSISTENT : 0, &stmt, &tail);
        if (rc != SQLITE_OK) return Fail(error);
        if (!stmt) break;  // only a comment was left
        bool single = true;
        for (const char* t = tail; *t; ++t) {
          if (*t != ' ' && *t != '\t' && *t != '\r' && *t != '\n' && *t != ';') single = false;
        }
        if (whole && single) {
          prepared = cache_->Add(statement.text, stmt);
        } else {
          uncached.stmt = stmt;
        }
      } else {
        tail = statement.text.c_str() + statement.text.size();
      }
      Prepared& p = prepared ? *prepared : uncached;
      // A write outside a transaction waits for its turn (a transaction has it).
      const bool write = sqlite3_get_autocommit(db_) && !sqlite3_stmt_readonly(p.stmt);
      bool ok = (!write || TakeTurn(error)) && Run(p, statement.parameters, used, result, error);
      if (prepared) {
        sqlite3_reset(p.stmt);
        sqlite3_clear_bindings(p.stmt);
      } else {
        sqlite3_finalize(p.stmt);
      }
      if (write) turn_.Leave();
      if (!ok) return false;
      rest = tail;
      first = false;
    }
    if (used != statement.parameters.size()) {
      *error = "statement has fewer placeholders than values";
      return false;
    }
    return true;
  }

  bool BeginTransaction(std::string* error) override {
    if (in_transaction_) {
      *error = "a transaction is already open";
      return false;
    }
    if (!TakeTurn(error)) return false;
    if (!Exec("BEGIN IMMEDIATE", error)) {
      turn_.Leave();
      return false;
    }
    in_transaction_ = true;
    return true;
  }
  bool CommitTransaction(std::string* error) override { return Ended(End("COMMIT", error, true)); }
  bool RollbackTransaction(std::string* error) override {
    return Ended(End("ROLLBACK", error, false));
  }
  bool InTransaction() const override { return in_transaction_; }

  // A session that met a fault of the file itself (opened read-only, an I/O
  // error, a file no longer there) is closed rather than reused, so that the
  // next Open sees the file as it is now: a database made writable again, or
  // put back, is used again, and nothing is written into a removed file.
  bool Usable() override {
    if (Broken()) return false;
    int moved = 0;
    return sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK ||
           !moved;
  }
  bool Broken() const override { return file_fault_; }

 private:
  bool Fail(std::string* error) {
    *error = sqlite3_errmsg(db_);
    switch (sqlite3_errcode(db_) & 0xff) {
      case SQLITE_READONLY:
      case SQLITE_IOERR:
      case SQLITE_CANTOPEN:
      case SQLITE_CORRUPT:
      case SQLITE_NOTADB:
        file_fault_ = true;
        break;
      default:
        break;
    }
    return false;
  }
  bool TakeTurn(std::string* error) {
    if (turn_.Take(std::chrono::milliseconds(kBusyTimeoutMs))) return true;
    *error = "database is locked (other writers of this process held it " +
             std::to_string(kBusyTimeoutMs) + " ms)";
    return false;
  }
  // The turn goes with the transaction; a failed COMMIT keeps both.
  bool Ended(bool ok) {
    if (!in_transaction_) turn_.Leave();
    return ok;
  }
  bool Exec(const char* sql, std::string* error) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || Fail(error);
  }
  bool End(const char* sql, std::string* error, bool commit) {
    if (!in_transaction_) {
      *error = "no transaction is open";
      return false;
    }
    // After a full disk, an I/O error or running out of memory SQLite may
    // have rolled the transaction back itself: then rolling back is done.
    if (!commit && sqlite3_get_autocommit(db_)) {
      in_transaction_ = false;
      return true;
    }
    if (!Exec(sql, error)) {
      // A failed COMMIT leaves the transaction open; a failed ROLLBACK has
      // ended it anyway when SQLite reports autocommit again.
      in_transaction_ = !sqlite3_get_autocommit(db_);
      return false;
    }
    in_transaction_ = false;
    return true;
  }

  bool Run(Prepared& p, const std::vector<SqlValue>& params, size_t& used, ResultSet* result,
           std::string* error) {
    sqlite3_stmt* stmt = p.stmt;
    int count = sqlite3_bind_parameter_count(stmt);
    if (used + count > params.size()) {
      *error = "statement has more placeholders than values";
      return false;
    }
    for (int i = 0; i < count; ++i) {
      if (Bind(stmt, i + 1, params[used + i]) != SQLITE_OK) return Fail(error);
    }
    used += count;
    // Described after the first step, which re-prepares the statement when
    // the schema has changed.
    int rc = sqlite3_step(stmt);
    int columns = sqlite3_column_count(stmt);
    bool collect = columns > 0 && !result->HasResultSet();
    if (collect) {
      Describe(p);
      result->columns = p.columns;
    }
    for (; rc == SQLITE_ROW; rc = sqlite3_step(stmt)) {
      if (!collect) continue;
      for (int i = 0; i < columns; ++i) result->cells.push_back(ColumnValue(stmt, i));
    }
    if (rc != SQLITE_DONE) {
      if (collect) *result = ResultSet();
      return Fail(error);
    }
    if (columns == 0) result->rows_affected += sqlite3_changes(db_);
    return true;
  }

  sqlite3* db_;
  WriteTurn turn_;
  std::unique_ptr<StatementCache> cache_ = std::make_unique<StatementCache>();
  bool in_transaction_ = false;
  bool file_fault_ = false;
};

// ZELTO_SQLITE_MAX_PAGES: a cap on every database's size in pages (4 KiB
// each) for the connections this process opens; a write that would pass it
// fails with "database or disk is full". Unset, 0 or not a number: no cap.
long long MaxPageCount() {
  const char* text = std::getenv("ZELTO_SQLITE_MAX_PAGES");
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long long pages = std::strtoll(text, &end, 10);
  return *end == '\0' && pages > 0 ? pages : 0;
}

sqlite3* OpenHandle(const std::string& path, int flags, std::string* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    *error = db ? sqlite3_errmsg(db) : "out of memory";
    *error += " (" + path + ")";
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  return db;
}

class Sqlite : public Engine {
 public:
  std::string_view Name() const override { return "sqlite"; }

  std::unique_ptr<EngineConnection> Connect(const ConnectionString& target,
                                            std::string* error) override {
    if (target.initial_catalog.empty()) {
      *error = "no Initial Catalog in the connection string";
      return nullptr;
    }
    std::string path =
        DatabasePath(target.data_source.empty() ? "." : target.data_source, target.initial_catalog);
    sqlite3* db = OpenHandle(path, SQLITE_OPEN_READWRITE, error);
    if (!db) return nullptr;
    auto connection = std::make_unique<SqliteConnection>(db, path);
    std::string setup = "PRAGMA journal_mode=WAL; PRAGMA foreign_keys=OFF;";
    if (const long long pages = MaxPageCount(); pages > 0)
      setup += " PRAGMA max_page_count=" + std::to_string(pages) + ";";
    if (sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      *error = sqlite3_errmsg(db);
      return nullptr;
    }
    return connection;
  }

  bool DatabaseExists(const ConnectionString& target) override {
    std::error_code ec;
    return std::filesystem::exists(DatabaseLocation(target), ec);
  }
  std::string DatabaseLocation(const ConnectionString& target) override {
    return DatabasePath(target.data_source, target.initial_catalog);
  }

  bool CreateDatabase(const ConnectionString& target, std::string_view script, bool replace,
                      std::string* error) override {
    namespace fs = std::filesystem;
    const std::string& data_source = target.data_source;
    const std::string& catalog = target.initial_catalog;
    std::error_code ec;
    fs::create_directories(data_source, ec);
    if (ec) {
      *error = "cannot create " + data_source + ": " + ec.message();
      return false;
    }
    std::string path = DatabasePath(data_source, catalog);
    if (!replace && fs::exists(path, ec)) {
      *error = path + " already exists";
      return false;
    }
    // Built beside the target and renamed over it, so a failed script leaves
    // no half-made database and an existing one untouched.
    std::string temp = path + ".new-" + std::to_string(getpid());
    fs::remove(temp, ec);
    sqlite3* db = OpenHandle(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
    if (!db) return false;
    std::string batch = "BEGIN;\n" + std::string(script) + "\n;COMMIT;";
    bool ok = sqlite3_exec(db, batch.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) *error = std::string(sqlite3_errmsg(db)) + " (" + path + ")";
    sqlite3_close(db);
    if (ok) {
      for (const char* suffix : {"-wal", "-shm"}) fs::remove(path + suffix, ec);
      fs::rename(temp, path, ec);
      if (ec) {
        *error = "cannot create " + path + ": " + ec.message();
        ok = false;
      }
    }
    if (!ok) {
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(temp + suffix, ec);
    }
    return ok;
  }
};

}  // namespace

Engine* SqliteEngine() {
  static Sqlite* engine = new Sqlite;
  return engine;
}

}  // namespace zelto::ado
