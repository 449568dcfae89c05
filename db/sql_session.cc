#include "db/sql_session.h"

#include <cstdio>

#include "db/db_connection.h"
#include "platform/ado/ado.h"
#include "platform/ado/engine_failures.h"
#include "platform/com/activation.h"
#include "platform/com/bstr.h"
#include "platform/win/codepage.h"

namespace {

std::string HresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// The statement's first words ("insert into cstTrack"), which name what
// failed without its values: a log keeps one line per kind of failure.
std::string StatementShape(std::string_view sql) {
  size_t end = 0;
  for (int words = 0; words < 3 && end != std::string_view::npos; ++words) {
    end = sql.find_first_not_of(' ', end);
    if (end != std::string_view::npos) end = sql.find_first_of(" (", end);
  }
  return std::string(sql.substr(0, end));
}

std::string FieldText(_Recordset* rs, const std::string& column) {
  VARIANT index = MakeVariantBstr(Utf8ToWide(column));
  VARIANT value;
  VariantInit(&value);
  std::string text;
  if (SUCCEEDED(rs->get_Collect(index, &value)) && value.vt != VT_NULL && value.vt != VT_EMPTY) {
    VARIANT converted;
    VariantInit(&converted);
    if (value.vt == VT_BSTR) {
      text = WideToUtf8(BstrView(value.bstrVal));
    } else if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_BSTR))) {
      text = WideToUtf8(BstrView(converted.bstrVal));
    }
    VariantClear(&converted);
  }
  VariantClear(&value);
  VariantClear(&index);
  return text;
}

bool IsOpenRecordset(_Recordset* rs) {
  LONG state = adStateClosed;
  return rs && SUCCEEDED(rs->get_State(&state)) && (state & adStateOpen);
}

}  // namespace

SqlSession::SqlSession(const SqlLogin& login, std::string_view catalog, SqlFault fault)
    : catalog_(catalog), fault_(std::move(fault)) {
  ComPtr<_Connection> connection;
  HRESULT hr = CreateObjectByProgID("ADODB.Connection", IID__Connection, connection.ReceiveVoid());
  if (FAILED(hr)) {
    Failed("cannot create ADODB.Connection", hr);
    return;
  }
  const ScopedBstr target(
      Utf8ToWide(SqlServerConnectionString(login.server, catalog_, login.user, login.password)));
  const ScopedBstr empty(u"");
  zelto::ado::TakeLastEngineFailure();
  hr = connection->Open(target.get(), empty.get(), empty.get(), adOptionUnspecified);
  if (FAILED(hr)) {
    Failed("cannot open the " + catalog_ + " database", hr);
    return;
  }
  connection_ = std::move(connection);
}

SqlSession::~SqlSession() {
  if (!connection_) return;
  Rollback();
  connection_->Close();
}

bool SqlSession::Failed(std::string what, HRESULT hr) {
  std::string cause = zelto::ado::TakeLastEngineFailure(&reported_);
  what_failed_ = std::move(what);
  error_ = what_failed_ + ": " + (cause.empty() ? "error " + HresultText(hr) : cause);
  return false;
}

bool SqlSession::Fail(std::string why) {
  error_ = std::move(why);
  reported_ = false;
  return false;
}

bool SqlSession::MayRun(std::string_view step) {
  if (!connection_) return false;  // error() keeps why the open failed
  if (fault_ && fault_(step)) {
    return Fail("injected fault at: " + StatementShape(step));
  }
  error_.clear();
  reported_ = false;
  zelto::ado::TakeLastEngineFailure();
  return true;
}

bool SqlSession::Query(std::string_view sql, const std::vector<std::string>& columns,
                       std::vector<Row>* rows) {
  rows->clear();
  if (!MayRun(sql)) return false;
  const ScopedBstr command(Utf8ToWide(sql));
  ComPtr<_Recordset> rs;
  HRESULT hr = connection_->Execute(command.get(), nullptr, adCmdText, rs.Receive());
  if (FAILED(hr)) return Failed("statement failed: " + StatementShape(sql), hr);
  if (!IsOpenRecordset(rs.Get())) return true;
  VARIANT_BOOL eof = VARIANT_TRUE;
  while (SUCCEEDED(hr = rs->get_EOF(&eof)) && eof == VARIANT_FALSE) {
    Row& row = rows->emplace_back();
    for (const std::string& column : columns) row.push_back(FieldText(rs.Get(), column));
    if (FAILED(hr = rs->MoveNext())) break;
  }
  rs->Close();
  if (FAILED(hr)) return Failed("reading rows failed: " + StatementShape(sql), hr);
  return true;
}

bool SqlSession::Execute(std::string_view sql, LONG* affected) {
  if (!MayRun(sql)) return false;
  const ScopedBstr command(Utf8ToWide(sql));
  VARIANT count;
  VariantInit(&count);
  ComPtr<_Recordset> none;
  HRESULT hr =
      connection_->Execute(command.get(), &count, adCmdText | adExecuteNoRecords, none.Receive());
  if (FAILED(hr)) return Failed("statement failed: " + StatementShape(sql), hr);
  if (affected) *affected = count.vt == VT_I4 ? count.lVal : 0;
  VariantClear(&count);
  return true;
}

bool SqlSession::Begin() {
  if (in_transaction_) return Fail("a transaction is already open");
  if (!MayRun("begin")) return false;
  LONG level = 0;
  if (HRESULT hr = connection_->BeginTrans(&level); FAILED(hr))
    return Failed("cannot begin a transaction", hr);
  in_transaction_ = true;
  return true;
}

bool SqlSession::Commit() {
  if (!in_transaction_ || !MayRun("commit")) return false;
  if (HRESULT hr = connection_->CommitTrans(); FAILED(hr)) return Failed("commit failed", hr);
  in_transaction_ = false;
  return true;
}

void SqlSession::Rollback() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  connection_->RollbackTrans();
}

bool SqlTransaction::Commit() {
  if (!begun_ || done_) return false;
  done_ = true;
  if (session_.Commit()) return true;
  session_.Rollback();
  return false;
}
