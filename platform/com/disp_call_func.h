// DispCallFunc: calls a method through an interface's virtual table with
// arguments held in VARIANTs, the way type-information dispatch does. The
// call is built at run time with libffi, so no signature is hard-coded.
#pragma once

#include <cstdint>

#include "platform/com/typeinfo.h"

// Calls slot `vtable_offset / sizeof(void*)` of `instance` with `instance` as
// the first argument, then argument i of type types[i] (a scalar VARTYPE,
// VT_BSTR, VT_UNKNOWN, VT_DISPATCH, any VT_BYREF type passing the pointer, or
// VT_VARIANT passing the whole VARIANT by value) taken from *args[i]. The
// return value, of type `return_type` (VT_HRESULT, a scalar or VT_EMPTY for
// none), goes into *result. Returns E_INVALIDARG for a null instance or an
// unaligned offset, DISP_E_BADVARTYPE for a type it cannot pass, else S_OK:
// the method's own HRESULT is in result->scode, never the return value.
HRESULT DispCallFunc(void* instance, uintptr_t vtable_offset, CALLCONV cc, VARTYPE return_type,
                     UINT count, VARTYPE* types, VARIANTARG** args, VARIANT* result);
