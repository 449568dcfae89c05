#include "platform/com/disp_call_func.h"

#include <ffi.h>

#include <vector>

namespace {

static_assert(sizeof(VARIANT) == 3 * sizeof(uint64_t), "VARIANT is passed as three words");

// A VARIANT passed by value: what matters to the calling convention is its
// size and alignment (it travels in memory), so three words describe it.
ffi_type* VariantType() {
  static ffi_type* elements[] = {&ffi_type_uint64, &ffi_type_uint64, &ffi_type_uint64, nullptr};
  static ffi_type type = {0, 0, FFI_TYPE_STRUCT, elements};
  return &type;
}

// Null for a type that cannot be passed (or returned).
ffi_type* FfiTypeOf(VARTYPE vt) {
  if (vt & VT_BYREF) return &ffi_type_pointer;
  switch (vt) {
    case VT_EMPTY:
    case VT_VOID:
      return &ffi_type_void;
    case VT_I1:
      return &ffi_type_sint8;
    case VT_UI1:
      return &ffi_type_uint8;
    case VT_I2:
    case VT_BOOL:
      return &ffi_type_sint16;
    case VT_UI2:
      return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT:
      return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
      return &ffi_type_uint32;
    case VT_I8:
    case VT_CY:
      return &ffi_type_sint64;
    case VT_UI8:
      return &ffi_type_uint64;
    case VT_R4:
      return &ffi_type_float;
    case VT_R8:
    case VT_DATE:
      return &ffi_type_double;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
    case VT_PTR:
      return &ffi_type_pointer;
    case VT_VARIANT:
      return VariantType();
    default:
      return nullptr;
  }
}

}  // namespace

HRESULT DispCallFunc(void* instance, uintptr_t vtable_offset, CALLCONV cc, VARTYPE return_type,
                     UINT count, VARTYPE* types, VARIANTARG** args, VARIANT* result) {
  if (!instance || vtable_offset % sizeof(void*) != 0 || (count && (!types || !args)) || !result) {
    return E_INVALIDARG;
  }
  if (cc != CC_STDCALL && cc != CC_CDECL) return E_INVALIDARG;
  std::vector<ffi_type*> arg_types = {&ffi_type_pointer};
  std::vector<void*> values = {&instance};
  for (UINT i = 0; i < count; ++i) {
    ffi_type* t = FfiTypeOf(types[i]);
    if (!t || t == &ffi_type_void || !args[i]) return DISP_E_BADVARTYPE;
    arg_types.push_back(t);
    // Every payload starts at the union; a VARIANT goes whole.
    values.push_back(types[i] == VT_VARIANT ? static_cast<void*>(args[i])
                                            : static_cast<void*>(&args[i]->llVal));
  }
  ffi_type* ret_type = FfiTypeOf(return_type);
  if (!ret_type || ret_type == VariantType()) return DISP_E_BADVARTYPE;
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(arg_types.size()), ret_type,
                   arg_types.data()) != FFI_OK) {
    return DISP_E_BADVARTYPE;
  }
  void** vtable = *static_cast<void***>(instance);
  void* method = vtable[vtable_offset / sizeof(void*)];
  // Small integral results are widened to a full register by libffi.
  union {
    ffi_arg integral;
    ffi_sarg signed_integral;
    float f;
    double d;
    uint64_t wide;
  } raw{};
  ffi_call(&cif, FFI_FN(method), &raw, values.data());

  VariantInit(result);
  result->vt = return_type == VT_VOID ? VARTYPE{VT_EMPTY} : return_type;
  switch (return_type) {
    case VT_EMPTY:
    case VT_VOID:
      break;
    case VT_R4:
      result->fltVal = raw.f;
      break;
    case VT_R8:
    case VT_DATE:
      result->dblVal = raw.d;
      break;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
      result->ullVal = raw.wide;
      break;
    case VT_I1:
      result->cVal = static_cast<char>(raw.signed_integral);
      break;
    case VT_UI1:
      result->bVal = static_cast<BYTE>(raw.integral);
      break;
    case VT_I2:
    case VT_BOOL:
      result->iVal = static_cast<SHORT>(raw.signed_integral);
      break;
    case VT_UI2:
      result->uiVal = static_cast<USHORT>(raw.integral);
      break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT:
      result->lVal = static_cast<LONG>(raw.signed_integral);
      break;
    case VT_UI4:
    case VT_UINT:
      result->ulVal = static_cast<ULONG>(raw.integral);
      break;
    default:
      result->byref = reinterpret_cast<void*>(raw.integral);
      break;
  }
  return S_OK;
}
