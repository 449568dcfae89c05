#include "db/db_connection.h"

#include "platform/ado/ado.h"
#include "platform/com/activation.h"
#include "platform/win/codepage.h"

std::string SqlServerConnectionString(const std::string& server, const std::string& database,
                                      const std::string& user, const std::string& password) {
  return "Provider=SQLOLEDB.1; Data Source=" + server + "; Initial Catalog=" + database +
         "; User ID=" + user + "; PWD=" + password;
}

CDbConnection::CDbConnection() {
  CLSID clsid;
  if (SUCCEEDED(CLSIDFromProgID(u"ADODB.Connection", &clsid))) {
    CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID__Connection, connection_.ReceiveVoid());
  }
}

CDbConnection::~CDbConnection() { Close(); }

bool CDbConnection::Connect(const std::string& server, const std::string& database,
                            const std::string& user, const std::string& password, LONG options) {
  return Open(SqlServerConnectionString(server, database, user, password), options);
}

bool CDbConnection::Open(const std::string& connection_string, LONG options) {
  if (!connection_string.empty()) connection_string_ = connection_string;
  if (connection_string_.empty()) return false;
  if (!connection_) return false;
  if (IsOpen()) Close();
  ScopedBstr text(AnsiToWide(connection_string_));
  ScopedBstr empty(u"");
  return connection_->Open(text.get(), empty.get(), empty.get(), options) == S_OK;
}

bool CDbConnection::IsOpen() {
  LONG state = adStateClosed;
  return connection_ && SUCCEEDED(connection_->get_State(&state)) && (state & adStateOpen);
}

void CDbConnection::Close() {
  if (IsOpen()) connection_->Close();
}

_Recordset* CDbConnection::Execute(const std::string& sql) {
  if (!connection_) return nullptr;
  ScopedBstr command(AnsiToWide(sql));
  _Recordset* result = nullptr;
  if (FAILED(connection_->Execute(command.get(), nullptr, adCmdText, &result))) return nullptr;
  return result;
}

bool CDbConnection::BeginTrans() {
  LONG level = 0;
  return connection_ && SUCCEEDED(connection_->BeginTrans(&level));
}

bool CDbConnection::CommitTrans() { return connection_ && SUCCEEDED(connection_->CommitTrans()); }

bool CDbConnection::RollbackTrans() {
  return connection_ && SUCCEEDED(connection_->RollbackTrans());
}
