// SAFEARRAY: the self-describing array of OLE Automation. Only one-dimensional
// arrays are needed here (VT_UI1 bytes for binary columns, VT_VARIANT rows).
#pragma once

#include "platform/com/variant.h"

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
  VARTYPE vt;  // element type
};

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** out);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* out);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* out);
// Copies the element at *index into `out` (BSTRs duplicated, interfaces
// AddRef'ed, variants deep-copied). DISP_E_BADINDEX outside the bounds.
HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* index, void* out);
// Stores a copy of the value: for BSTR, VT_UNKNOWN and VT_DISPATCH arrays
// `value` is the BSTR or interface pointer itself, otherwise it points at the
// value. The old element is freed. DISP_E_ARRAYISLOCKED while accessed.
HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* index, void* value);
