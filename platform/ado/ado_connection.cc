// The connection object behind "ADODB.Connection": parses the connection
// string, takes a session from the pool on Open and gives it back on Close.
#include <strings.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/ado/ado.h"
#include "platform/ado/ado_recordset.h"
#include "platform/ado/connection_pool.h"
#include "platform/ado/engine.h"
#include "platform/ado/engine_failures.h"
#include "platform/ado/statement_counter.h"
#include "platform/com/single_interface_object.h"
#include "platform/win/codepage.h"

namespace zelto::ado {
namespace {

bool IsSqlServerProvider(const std::string& provider) {
  return strcasecmp(provider.c_str(), "SQLOLEDB.1") == 0 ||
         strcasecmp(provider.c_str(), "SQLOLEDB") == 0;
}

// Pages open the same connection string request after request: each thread
// keeps the parse of the last one it was given.
std::optional<ConnectionString> ParseLastConnectionString(std::string text) {
  thread_local std::string last_text;
  thread_local std::optional<ConnectionString> last;
  if (!last || text != last_text) {
    last = ParseConnectionString(text);
    last_text = std::move(text);
    if (!last) return std::nullopt;
  }
  return last;
}

class Connection final : public SingleInterfaceObject<_Connection, IID__Connection> {
 public:
  Connection() : SingleInterfaceObject(1) {}
  ~Connection() override { ReturnSession(); }

  HRESULT Open(BSTR connection_string, BSTR user, BSTR password, LONG options) override {
    if (session_) return adErrObjectOpen;
    auto target = ParseLastConnectionString(WideToUtf8(BstrView(connection_string)));
    if (!target) return E_FAIL;
    if (!IsSqlServerProvider(target->provider)) return adErrProviderNotFound;
    if (SysStringLen(user) > 0) target->user_id = WideToUtf8(BstrView(user));
    if (SysStringLen(password) > 0) target->password = WideToUtf8(BstrView(password));
    Engine* engine = GetDatabaseEngine();
    if (!engine) return E_FAIL;
    std::string error;
    session_ = ConnectionPool::Instance().Acquire(engine, *target, &error);
    if (!session_) {
      ReportEngineFailure(engine->Name(), "open", error);
      return E_FAIL;
    }
    engine_ = engine;
    target_ = std::move(*target);
    return S_OK;
  }

  HRESULT Close() override {
    if (!session_) return adErrObjectClosed;
    ReturnSession();
    return S_OK;
  }

  HRESULT Execute(BSTR command, VARIANT* records_affected, LONG options,
                  _Recordset** result) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!session_) return adErrObjectClosed;
    auto rows = std::make_shared<ResultSet>();
    std::string error;
    CountStatement();
    if (!session_->Execute(WideToUtf8(BstrView(command)), rows.get(), &error)) {
      ReportEngineFailure(engine_->Name(), "execute", error);
      return DB_E_ERRORSINCOMMAND;
    }
    if (records_affected) {
      VariantClear(records_affected);
      records_affected->vt = VT_I4;
      records_affected->lVal = rows->HasResultSet() ? -1 : static_cast<LONG>(rows->rows_affected);
    }
    if (options != adCmdUnspecified && (options & adExecuteNoRecords)) return S_OK;
    *result = NewRecordset(std::move(rows));
    return S_OK;
  }

  HRESULT get_State(LONG* state) override {
    if (!state) return E_POINTER;
    *state = session_ ? adStateOpen : adStateClosed;
    return S_OK;
  }

  HRESULT BeginTrans(LONG* level) override {
    if (!session_) return adErrObjectClosed;
    if (session_->InTransaction()) return XACT_E_XTIONEXISTS;
    std::string error;
    if (!session_->BeginTransaction(&error)) {
      ReportEngineFailure(engine_->Name(), "begin", error);
      return E_FAIL;
    }
    if (level) *level = 1;
    return S_OK;
  }
  HRESULT CommitTrans() override { return End(true); }
  HRESULT RollbackTrans() override { return End(false); }

 private:
  HRESULT End(bool commit) {
    if (!session_) return adErrObjectClosed;
    if (!session_->InTransaction()) return XACT_E_NOTRANSACTION;
    std::string error;
    bool ok = commit ? session_->CommitTransaction(&error) : session_->RollbackTransaction(&error);
    if (!ok) ReportEngineFailure(engine_->Name(), commit ? "commit" : "rollback", error);
    return ok ? S_OK : E_FAIL;
  }

  void ReturnSession() {
    if (session_) ConnectionPool::Instance().Release(engine_, target_, std::move(session_));
  }

  Engine* engine_ = nullptr;
  ConnectionString target_;
  std::unique_ptr<EngineConnection> session_;  // null while closed
};

}  // namespace

_Connection* NewConnection() { return new Connection; }

}  // namespace zelto::ado
