// The PostgreSQL engine, through libpq. A connection string names a server
// and a database (postgres_target.h); every statement the component sends is
// translated from T-SQL, its literals bound as parameters, and each distinct
// statement shape is prepared once per connection and kept in a bounded
// cache. Values are typed by their column types (postgres_typing.h).
//
// Lost servers: a connection whose socket was closed by the server (restart,
// crash, administrator) reports itself unusable, so the pool replaces it
// instead of handing it out; a statement that fails because the connection
// broke marks it unusable too. A statement is never retried on its own: the
// server may have run it before the connection broke.
#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/ado/engine.h"
#include "platform/ado/postgres_target.h"
#include "platform/ado/postgres_typing.h"
#include "platform/ado/tsql_translator.h"

namespace zelto::ado {
namespace {

constexpr size_t kStatementCacheSize = 64;
// Write transactions take this transaction-level advisory lock at their
// start, so that they run one after another as on SQLite (BEGIN IMMEDIATE):
// a check-then-insert (the invitation guard) can never interleave with
// another one. Advisory locks are per database.
constexpr const char* kBeginWrite = "BEGIN; SELECT pg_advisory_xact_lock(7362841)";
// The database the engine connects to for creating and dropping others.
constexpr const char* kMaintenanceDatabase = "postgres";

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

void IgnoreNotice(void*, const char*) {}

std::string Trimmed(const char* message) {
  std::string s = message ? message : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

PGconn* Open(const PostgresTarget& target, std::string* error) {
  std::vector<std::pair<std::string, std::string>> params = target.Params();
  const LibpqParamArrays arrays(params);
  PGconn* conn = PQconnectdbParams(arrays.keys.data(), arrays.values.data(), 0);
  if (!conn || PQstatus(conn) != CONNECTION_OK) {
    *error = (conn ? Trimmed(PQerrorMessage(conn)) : std::string("out of memory")) + " (" +
             target.Location() + ")";
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  return conn;
}

bool Succeeded(const PGresult* r) {
  ExecStatusType s = PQresultStatus(r);
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_EMPTY_QUERY;
}

// Parameter types from the values: numbers as bigint and double precision
// (the server converts them where a column wants int or decimal), text and
// NULL left for the server to infer from where they stand, bytes as bytea.
Oid ParameterType(const SqlValue& v) {
  switch (v.kind) {
    case SqlValue::Kind::kInteger:
      return pg_oid::kInt8;
    case SqlValue::Kind::kReal:
      return pg_oid::kFloat8;
    case SqlValue::Kind::kBlob:
      return pg_oid::kBytea;
    default:
      return 0;
  }
}

// The values of one statement in libpq's form; keeps the texts alive.
class BoundValues {
 public:
  explicit BoundValues(const std::vector<SqlValue>& params) {
    texts_.reserve(params.size());
    for (const SqlValue& v : params) {
      types_.push_back(ParameterType(v));
      formats_.push_back(v.kind == SqlValue::Kind::kBlob ? 1 : 0);
      switch (v.kind) {
        case SqlValue::Kind::kInteger:
          texts_.push_back(std::to_string(v.integer));
          break;
        case SqlValue::Kind::kReal: {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%.17g", v.real);
          texts_.push_back(buf);
          break;
        }
        default:
          texts_.push_back(v.bytes);
          break;
      }
      lengths_.push_back(static_cast<int>(texts_.back().size()));
    }
    for (size_t i = 0; i < params.size(); ++i) {
      values_.push_back(params[i].kind == SqlValue::Kind::kNull ? nullptr : texts_[i].c_str());
    }
  }
  int Count() const { return static_cast<int>(values_.size()); }
  const Oid* Types() const { return types_.data(); }
  const char* const* Values() const { return values_.data(); }
  const int* Lengths() const { return lengths_.data(); }
  const int* Formats() const { return formats_.data(); }
  // The statement's shape: its text and the types its values are bound as.
  std::string CacheKey(const std::string& text) const {
    std::string key = text;
    key += '\0';
    for (Oid t : types_) key += std::to_string(t) + ",";
    return key;
  }

 private:
  std::vector<std::string> texts_;
  std::vector<Oid> types_;
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
};

void Collect(const PGresult* r, ResultSet* result) {
  const int columns = PQnfields(r);
  result->columns.resize(columns);
  std::vector<Oid> types(columns);
  for (int c = 0; c < columns; ++c) {
    types[c] = PQftype(r, c);
    result->columns[c] =
        PostgresColumn(PQfname(r, c), types[c], PQfmod(r, c), PQftable(r, c) != InvalidOid);
  }
  const int rows = PQntuples(r);
  result->cells.reserve(static_cast<size_t>(rows) * columns);
  for (int row = 0; row < rows; ++row) {
    for (int c = 0; c < columns; ++c) {
      if (PQgetisnull(r, row, c)) {
        result->cells.push_back(SqlValue::Null());
      } else {
        result->cells.push_back(PostgresValue(
            std::string_view(PQgetvalue(r, row, c), PQgetlength(r, row, c)), types[c]));
      }
    }
  }
}

class PostgresConnection : public EngineConnection {
 public:
  explicit PostgresConnection(PGconn* conn) : conn_(conn) {}
  ~PostgresConnection() override { PQfinish(conn_); }

  bool Execute(std::string_view tsql, ResultSet* result, std::string* error) override {
    *result = ResultSet();
    std::vector<Statement> batch = TranslateTsqlForPostgres(tsql);
    // A statement with values is prepared and cached by its shape; one
    // without (DDL, mostly) and the statements of a batch run once each.
    for (const Statement& statement : batch) {
      const bool cache = batch.size() == 1 && !statement.parameters.empty();
      Result r = cache ? RunPrepared(statement, error) : RunOnce(statement, error);
      if (!r) {
        *result = ResultSet();
        return false;
      }
      if (PQresultStatus(r.get()) == PGRES_TUPLES_OK) {
        if (!result->HasResultSet()) Collect(r.get(), result);
      } else {
        result->rows_affected += std::atoll(PQcmdTuples(r.get()));
      }
    }
    return true;
  }

  bool BeginTransaction(std::string* error) override {
    if (in_transaction_) {
      *error = "a transaction is already open";
      return false;
    }
    if (!Exec(kBeginWrite, error)) {
      std::string ignored;
      Exec("ROLLBACK", &ignored);
      return false;
    }
    in_transaction_ = true;
    return true;
  }
  bool CommitTransaction(std::string* error) override { return End("COMMIT", error); }
  bool RollbackTransaction(std::string* error) override { return End("ROLLBACK", error); }
  bool InTransaction() const override { return in_transaction_; }

  bool Usable() override {
    if (Broken()) return false;
    // Nothing arrives on an idle session unless the server is ending it (its
    // termination notice, then end of file): a readable socket means lost.
    pollfd fd{PQsocket(conn_), POLLIN, 0};
    return fd.fd >= 0 && poll(&fd, 1, 0) == 0;
  }
  bool Broken() const override { return PQstatus(conn_) != CONNECTION_OK; }

 private:
  // Null (and `error`) on failure.
  Result Check(PGresult* raw, std::string* error) {
    Result r(raw);
    if (r && Succeeded(r.get())) return r;
    *error = Trimmed(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(conn_));
    if (error->empty()) *error = Trimmed(PQerrorMessage(conn_));
    return nullptr;
  }

  bool Exec(const char* sql, std::string* error) {
    return Check(PQexec(conn_, sql), error) != nullptr;
  }

  // COMMIT of a failed transaction answers ROLLBACK, which is a failure here.
  bool End(const char* sql, std::string* error) {
    if (!in_transaction_) {
      *error = "no transaction is open";
      return false;
    }
    Result r = Check(PQexec(conn_, sql), error);
    in_transaction_ = PQtransactionStatus(conn_) == PQTRANS_INTRANS ||
                      PQtransactionStatus(conn_) == PQTRANS_INERROR;
    if (!r) return false;
    if (std::string_view(PQcmdStatus(r.get())) == "ROLLBACK" && std::string_view(sql) == "COMMIT") {
      *error = "the transaction failed and was rolled back";
      return false;
    }
    return true;
  }

  Result RunOnce(const Statement& s, std::string* error) {
    BoundValues values(s.parameters);
    return Check(PQexecParams(conn_, s.text.c_str(), values.Count(), values.Types(),
                              values.Values(), values.Lengths(), values.Formats(), 0),
                 error);
  }

  Result RunPrepared(const Statement& s, std::string* error) {
    BoundValues values(s.parameters);
    std::string key = values.CacheKey(s.text);
    const std::string* name = Find(key);
    if (!name) {
      std::string fresh = "zelto_" + std::to_string(++prepared_count_);
      if (!Check(PQprepare(conn_, fresh.c_str(), s.text.c_str(), values.Count(), values.Types()),
                 error)) {
        return nullptr;
      }
      name = Add(key, fresh);
    }
    return Check(PQexecPrepared(conn_, name->c_str(), values.Count(), values.Values(),
                                values.Lengths(), values.Formats(), 0),
                 error);
  }

  // Least-recently-used prepared statement names by shape.
  const std::string* Find(const std::string& key) {
    auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return &it->second->second;
  }
  const std::string* Add(const std::string& key, const std::string& name) {
    order_.emplace_front(key, name);
    index_[key] = order_.begin();
    if (order_.size() > kStatementCacheSize) {
      // A failed DEALLOCATE (inside a failed transaction) only leaves the
      // statement on the server until the connection closes; names are never
      // reused.
      std::string ignored;
      Exec(("DEALLOCATE " + order_.back().second).c_str(), &ignored);
      index_.erase(order_.back().first);
      order_.pop_back();
    }
    return &order_.front().second;
  }

  PGconn* conn_;
  bool in_transaction_ = false;
  uint64_t prepared_count_ = 0;
  std::list<std::pair<std::string, std::string>> order_;
  std::unordered_map<std::string, std::list<std::pair<std::string, std::string>>::iterator> index_;
};

std::string QuotedIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

class Postgres : public Engine {
 public:
  std::string_view Name() const override { return "postgresql"; }

  std::unique_ptr<EngineConnection> Connect(const ConnectionString& target,
                                            std::string* error) override {
    if (target.initial_catalog.empty()) {
      *error = "no Initial Catalog in the connection string";
      return nullptr;
    }
    PGconn* conn = Open(PostgresTargetFrom(target), error);
    if (!conn) return nullptr;
    return std::make_unique<PostgresConnection>(conn);
  }

  bool DatabaseExists(const ConnectionString& target) override {
    std::string error;
    return Exists(PostgresTargetFrom(target), &error).value_or(false);
  }

  std::string DatabaseLocation(const ConnectionString& target) override {
    return PostgresTargetFrom(target).Location();
  }

  // Built under a temporary name and renamed into place, so that a failing
  // script leaves no half-made database and an existing one untouched.
  bool CreateDatabase(const ConnectionString& connection_string, std::string_view script,
                      bool replace, std::string* error) override {
    PostgresTarget target = PostgresTargetFrom(connection_string);
    if (target.database.empty()) {
      *error = "no database name given";
      return false;
    }
    std::unique_ptr<PGconn, decltype(&PQfinish)> admin(
        Open(WithDatabase(target, kMaintenanceDatabase), error), PQfinish);
    if (!admin) return false;
    PQsetNoticeProcessor(admin.get(), IgnoreNotice, nullptr);
    auto exists = Exists(admin.get(), target.database, error);
    if (!exists) return false;
    if (*exists && !replace) {
      *error = target.Location() + " already exists";
      return false;
    }
    const std::string temp = target.database + "_new_" + std::to_string(getpid());
    Run(admin.get(), "DROP DATABASE IF EXISTS " + QuotedIdentifier(temp), error);
    if (!Run(admin.get(),
             "CREATE DATABASE " + QuotedIdentifier(temp) +
                 " ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0",
             error)) {
      return false;
    }
    bool ok = RunScript(WithDatabase(target, temp), script, error);
    if (ok && *exists) {
      // Sessions still on the old database (pooled ones too) are ended; the
      // pool notices and opens new ones.
      ok = Run(admin.get(),
               "DROP DATABASE " + QuotedIdentifier(target.database) + " WITH (FORCE)", error);
    }
    ok = ok && Run(admin.get(),
                   "ALTER DATABASE " + QuotedIdentifier(temp) + " RENAME TO " +
                       QuotedIdentifier(target.database),
                   error);
    if (!ok) {
      std::string ignored;
      Run(admin.get(), "DROP DATABASE IF EXISTS " + QuotedIdentifier(temp) + " WITH (FORCE)",
          &ignored);
      *error += " (" + target.Location() + ")";
    }
    return ok;
  }

 private:
  static bool Run(PGconn* conn, const std::string& sql, std::string* error) {
    Result r(PQexec(conn, sql.c_str()));
    if (r && Succeeded(r.get())) return true;
    *error = Trimmed(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(conn));
    return false;
  }

  static std::optional<bool> Exists(PGconn* admin, const std::string& database,
                                    std::string* error) {
    const char* values[] = {database.c_str()};
    Result r(PQexecParams(admin, "SELECT 1 FROM pg_database WHERE datname = $1", 1, nullptr,
                          values, nullptr, nullptr, 0));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
      *error = Trimmed(PQerrorMessage(admin));
      return std::nullopt;
    }
    return PQntuples(r.get()) > 0;
  }

  static std::optional<bool> Exists(const PostgresTarget& target, std::string* error) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> admin(
        Open(WithDatabase(target, kMaintenanceDatabase), error), PQfinish);
    if (!admin) return std::nullopt;
    return Exists(admin.get(), target.database, error);
  }

  // The whole script in one transaction (a multi-statement simple query is
  // one transaction unless it says otherwise).
  static bool RunScript(const PostgresTarget& target, std::string_view script,
                        std::string* error) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(Open(target, error), PQfinish);
    if (!conn) return false;
    std::string text = "BEGIN;\n" + std::string(script) + "\n;COMMIT;";
    return Run(conn.get(), text, error);
  }
};

}  // namespace

Engine* PostgresEngine() {
  static Postgres* engine = new Postgres;
  return engine;
}

}  // namespace zelto::ado
