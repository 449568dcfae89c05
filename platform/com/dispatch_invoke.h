// Invoking one described method: the checks and argument coercions of
// ITypeInfo::Invoke, then the call through the virtual table.
#pragma once

#include "platform/com/typeinfo.h"

// Calls `func` on `instance` with the script's arguments (params->rgvarg in
// reverse order). Each input is coerced with VariantChangeType to its declared
// type (VARIANT inputs pass unchanged); an [out, retval] value comes back in
// *result (may be null: the value is then freed). Returns the method's own
// HRESULT, success codes included, or before any call:
//   DISP_E_MEMBERNOTFOUND   flags without DISPATCH_METHOD
//   DISP_E_NONAMEDARGS      named arguments
//   DISP_E_BADPARAMCOUNT    too many arguments, or too few for the required ones
//   DISP_E_PARAMNOTOPTIONAL a required argument passed as "missing"
//                           (VT_ERROR DISP_E_PARAMNOTFOUND)
//   DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW  an argument that does not convert
// For the last three, *arg_err (when not null) is the argument's rgvarg index.
HRESULT InvokeFunction(void* instance, const FUNCDESC& func, WORD flags, DISPPARAMS* params,
                       VARIANT* result, UINT* arg_err);
