// HRESULT: the 32-bit status code every interface method returns.
// Negative values are failures; S_OK and S_FALSE are both successes.
#pragma once

#include <cstdint>

using HRESULT = int32_t;
using SCODE = int32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using UINT = uint32_t;
using INT = int32_t;
using LCID = uint32_t;
using BOOL = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using DISPID = int32_t;
using MEMBERID = DISPID;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t code) {
  return code == 0 ? 0 : static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}

#define ZELTO_HR(x) static_cast<HRESULT>(x##u)

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = ZELTO_HR(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = ZELTO_HR(0x80004002);
inline constexpr HRESULT E_POINTER = ZELTO_HR(0x80004003);
inline constexpr HRESULT E_ABORT = ZELTO_HR(0x80004004);
inline constexpr HRESULT E_FAIL = ZELTO_HR(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = ZELTO_HR(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = ZELTO_HR(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = ZELTO_HR(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = ZELTO_HR(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = ZELTO_HR(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = ZELTO_HR(0x80040111);
inline constexpr HRESULT REGDB_E_READREGDB = ZELTO_HR(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = ZELTO_HR(0x80040151);
inline constexpr HRESULT REGDB_E_KEYMISSING = ZELTO_HR(0x80040152);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = ZELTO_HR(0x80040154);
inline constexpr HRESULT CO_E_CLASSSTRING = ZELTO_HR(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = ZELTO_HR(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = ZELTO_HR(0x800401F9);
inline constexpr HRESULT SELFREG_E_TYPELIB = ZELTO_HR(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = ZELTO_HR(0x80040201);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = ZELTO_HR(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = ZELTO_HR(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = ZELTO_HR(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = ZELTO_HR(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = ZELTO_HR(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = ZELTO_HR(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = ZELTO_HR(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = ZELTO_HR(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = ZELTO_HR(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = ZELTO_HR(0x8002000B);
inline constexpr HRESULT DISP_E_UNKNOWNLCID = ZELTO_HR(0x8002000C);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = ZELTO_HR(0x8002000D);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = ZELTO_HR(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = ZELTO_HR(0x8002000F);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = ZELTO_HR(0x8002802B);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = ZELTO_HR(0x8002801D);
inline constexpr HRESULT TYPE_E_INVALIDSTATE = ZELTO_HR(0x80028029);
inline constexpr HRESULT TYPE_E_CANTLOADLIBRARY = ZELTO_HR(0x80029C4A);
inline constexpr HRESULT TYPE_E_INVDATAREAD = ZELTO_HR(0x80028018);
inline constexpr HRESULT TYPE_E_UNSUPFORMAT = ZELTO_HR(0x80028019);
inline constexpr HRESULT TYPE_E_REGISTRYACCESS = ZELTO_HR(0x8002801C);
