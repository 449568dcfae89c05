// The ActiveX Data Objects the component uses: "ADODB.Connection" and
// "ADODB.Recordset", built into the platform and created by ProgID through
// CoCreateInstance. Only the members the database session calls are here,
// in the order they are listed; every failure is a failing HRESULT, never a
// C++ exception. The provider "SQLOLEDB.1" is served by the engine the
// platform is configured with (see platform/ado/engine.h).
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

struct _Recordset;

struct _Connection : IUnknown {
  // Opens the database the connection string names; a non-empty `user` or
  // `password` overrides User ID or PWD. Fails when already open.
  virtual HRESULT Open(BSTR connection_string, BSTR user, BSTR password, LONG options) = 0;
  // Hands the session back to the pool.
  virtual HRESULT Close() = 0;
  // Runs `command` (T-SQL). A statement with a result set gives an open
  // recordset, one without (insert, update, delete) a closed one, and
  // adExecuteNoRecords in `options` gives none. `records_affected` may be null.
  virtual HRESULT Execute(BSTR command, VARIANT* records_affected, LONG options,
                          _Recordset** result) = 0;
  virtual HRESULT get_State(LONG* state) = 0;
  virtual HRESULT BeginTrans(LONG* level) = 0;
  virtual HRESULT CommitTrans() = 0;
  virtual HRESULT RollbackTrans() = 0;
};

struct _Recordset : IUnknown {
  virtual HRESULT get_State(LONG* state) = 0;
  virtual HRESULT get_BOF(VARIANT_BOOL* bof) = 0;
  virtual HRESULT get_EOF(VARIANT_BOOL* eof) = 0;
  virtual HRESULT MoveNext() = 0;
  // The current row's field by name (case-insensitive, the first column of
  // that name) or by ordinal.
  virtual HRESULT get_Collect(VARIANT index, VARIANT* value) = 0;
  virtual HRESULT get_EditMode(LONG* mode) = 0;
  virtual HRESULT CancelUpdate() = 0;
  virtual HRESULT Close() = 0;
};

extern const CLSID CLSID_Connection;  // {00000514-0000-0010-8000-00AA006D2EA4}
extern const CLSID CLSID_Recordset;   // {00000535-0000-0010-8000-00AA006D2EA4}
extern const IID IID__Connection;     // {00000550-0000-0010-8000-00AA006D2EA4}
extern const IID IID__Recordset;      // {00000556-0000-0010-8000-00AA006D2EA4}

// ObjectStateEnum
inline constexpr LONG adStateClosed = 0;
inline constexpr LONG adStateOpen = 1;
// CommandTypeEnum, ExecuteOptionEnum, ConnectOptionEnum
inline constexpr LONG adCmdUnspecified = -1;
inline constexpr LONG adCmdText = 1;
inline constexpr LONG adExecuteNoRecords = 0x80;
inline constexpr LONG adOptionUnspecified = -1;
// EditModeEnum
inline constexpr LONG adEditNone = 0;

// ErrorValueEnum, as HRESULTs.
inline constexpr HRESULT adErrNoCurrentRecord = ZELTO_HR(0x800A0BCD);
inline constexpr HRESULT adErrItemNotFound = ZELTO_HR(0x800A0CC1);
inline constexpr HRESULT adErrObjectClosed = ZELTO_HR(0x800A0E78);
inline constexpr HRESULT adErrObjectOpen = ZELTO_HR(0x800A0E79);
inline constexpr HRESULT adErrProviderNotFound = ZELTO_HR(0x800A0E7A);
// OLE DB errors the provider reports.
inline constexpr HRESULT DB_E_ERRORSINCOMMAND = ZELTO_HR(0x80040E14);
inline constexpr HRESULT XACT_E_NOTRANSACTION = ZELTO_HR(0x8004D00E);
inline constexpr HRESULT XACT_E_XTIONEXISTS = ZELTO_HR(0x8004D013);

// The engine choice for "SQLOLEDB.1": "sqlite" (the default) or
// "postgresql"; ZELTO_DB_ENGINE sets it from the environment. False for an
// unknown name.
bool SetDatabaseEngine(const char* name);
