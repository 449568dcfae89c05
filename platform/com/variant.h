// VARIANT: a type tag and a payload, as OLE Automation defines them, plus the
// PROPVARIANT-only tags (VT_LPSTR, VT_LPWSTR, VT_BLOB) that databases hand out.
// A VARIANT owns its payload: VariantClear frees BSTRs, arrays, blobs and
// narrow/wide string pointers and releases interfaces (never for VT_BYREF).
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"

struct IUnknown;
struct IDispatch;

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;  // days since 1899-12-30, fraction is the time of day
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5,
  VT_CY = 6, VT_DATE = 7, VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10,
  VT_BOOL = 11, VT_VARIANT = 12, VT_UNKNOWN = 13, VT_DECIMAL = 14,
  VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20, VT_UI8 = 21,
  VT_INT = 22, VT_UINT = 23, VT_VOID = 24, VT_HRESULT = 25, VT_PTR = 26,
  VT_SAFEARRAY = 27, VT_CARRAY = 28, VT_USERDEFINED = 29, VT_LPSTR = 30,
  VT_LPWSTR = 31, VT_RECORD = 36, VT_FILETIME = 64, VT_BLOB = 65,
  VT_STREAM = 66, VT_STORAGE = 67, VT_STREAMED_OBJECT = 68,
  VT_STORED_OBJECT = 69, VT_BLOB_OBJECT = 70, VT_CF = 71, VT_CLSID = 72,
  VT_VECTOR = 0x1000, VT_ARRAY = 0x2000, VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

// Currency: a 64-bit integer scaled by 10,000.
struct CY {
  LONGLONG int64;
};

inline constexpr BYTE DECIMAL_NEG = 0x80;
struct DECIMAL {
  WORD wReserved;
  BYTE scale;  // power of ten the 96-bit magnitude is divided by (0..28)
  BYTE sign;   // DECIMAL_NEG or 0
  ULONG Hi32;
  ULONGLONG Lo64;
};

struct BLOB {
  ULONG cbSize;
  BYTE* pBlobData;  // malloc'ed; freed by VariantClear
};

struct SAFEARRAY;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    ULONGLONG ullVal;
    LONG lVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    SHORT iVal;
    USHORT uiVal;
    char cVal;
    BYTE bVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    DECIMAL decVal;
    BLOB blob;
    char* pszVal;         // VT_LPSTR, malloc'ed
    char16_t* pwszVal;    // VT_LPWSTR, malloc'ed
    void* byref;
    VARIANT* pvarVal;     // VT_BYREF | VT_VARIANT
    BSTR* pbstrVal;       // VT_BYREF | VT_BSTR
    LONG* plVal;          // VT_BYREF | VT_I4
  };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
// Deep copy (BSTR duplicated, interfaces AddRef'ed); dest is cleared first.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

// Flags of VariantChangeType(Ex).
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

// The standard conversions between the scalar types, BSTR, dates, currency and
// decimal (locale 0x0409 rules: '.' decimal point, "True"/"False" only with
// VARIANT_ALPHABOOL, bool to text "True"/"False" or "-1"/"0"). dest may equal
// src. Fails with DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW or DISP_E_BADVARTYPE.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID lcid, USHORT flags,
                            VARTYPE vt);

// Scalar conversions used above and by callers that hold one value.
HRESULT VarBstrFromCy(CY value, LCID lcid, ULONG flags, BSTR* out);
HRESULT VarR8FromDec(const DECIMAL* value, double* out);
HRESULT VarI4FromDec(const DECIMAL* value, LONG* out);
HRESULT VarI4FromCy(CY value, LONG* out);

// Calendar form of a DATE.
struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
// Rounds to the nearest second as OLE Automation does; FALSE outside the
// years 100 to 9999.
BOOL VariantTimeToSystemTime(DATE date, SYSTEMTIME* out);
BOOL SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out);

// C++ conveniences (not Windows API): build a variant owning its payload.
VARIANT MakeVariantBstr(std::u16string_view text);
VARIANT MakeVariantI4(LONG value);
