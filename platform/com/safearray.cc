#include "platform/com/safearray.h"

#include <cstdlib>
#include <cstring>

#include "platform/com/unknown.h"

namespace {

constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

// Element size of the types an array may hold; 0 for the others.
ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_UNKNOWN: case VT_DISPATCH: return sizeof(IUnknown*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

USHORT FeaturesOf(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR: return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_UNKNOWN: return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_HAVEVARTYPE | FADF_DISPATCH;
    case VT_VARIANT: return FADF_HAVEVARTYPE | FADF_VARIANT;
    default: return FADF_HAVEVARTYPE;
  }
}

// Frees what the elements own; the block itself stays.
void ClearElements(SAFEARRAY* array) {
  const ULONG count = array->rgsabound[0].cElements;
  if (!array->pvData) return;
  for (ULONG i = 0; i < count; ++i) {
    void* slot = static_cast<BYTE*>(array->pvData) + static_cast<size_t>(i) * array->cbElements;
    switch (array->vt) {
      case VT_BSTR: SysFreeString(*static_cast<BSTR*>(slot)); break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (auto* unk = *static_cast<IUnknown**>(slot)) unk->Release();
        break;
      case VT_VARIANT: VariantClear(static_cast<VARIANT*>(slot)); break;
      default: break;
    }
  }
}

HRESULT CheckIndex(SAFEARRAY* array, LONG index, void** slot) {
  const int64_t offset = static_cast<int64_t>(index) - array->rgsabound[0].lLbound;
  if (offset < 0 || offset >= static_cast<int64_t>(array->rgsabound[0].cElements)) {
    return DISP_E_BADINDEX;
  }
  *slot = static_cast<BYTE*>(array->pvData) + offset * array->cbElements;
  return S_OK;
}

// Copies one element into `dest` (raw storage) with its own references.
HRESULT CopyElement(VARTYPE vt, const void* src, void* dest, size_t size) {
  switch (vt) {
    case VT_BSTR: {
      BSTR text = *static_cast<const BSTR*>(src);
      BSTR copy = text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
      if (text && !copy) return E_OUTOFMEMORY;
      *static_cast<BSTR*>(dest) = copy;
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* unk = *static_cast<IUnknown* const*>(src);
      if (unk) unk->AddRef();
      *static_cast<IUnknown**>(dest) = unk;
      return S_OK;
    }
    case VT_VARIANT:
      VariantInit(static_cast<VARIANT*>(dest));
      return VariantCopy(static_cast<VARIANT*>(dest), static_cast<const VARIANT*>(src));
    default:
      std::memcpy(dest, src, size);
      return S_OK;
  }
}

}  // namespace

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count) {
  const ULONG size = ElementSize(vt);
  if (size == 0) return nullptr;
  auto* array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (!array) return nullptr;
  array->cDims = 1;
  array->fFeatures = FeaturesOf(vt);
  array->cbElements = size;
  array->rgsabound[0] = {count, lower_bound};
  array->vt = vt;
  if (count > 0) {
    // Zeroed storage: null BSTRs and interfaces, VT_EMPTY variants.
    array->pvData = std::calloc(count, size);
    if (!array->pvData) {
      std::free(array);
      return nullptr;
    }
  }
  return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (!array) return S_OK;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  ClearElements(array);
  std::free(array->pvData);
  std::free(array);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!source) return S_OK;
  SAFEARRAY* copy = SafeArrayCreateVector(source->vt, source->rgsabound[0].lLbound,
                                          source->rgsabound[0].cElements);
  if (!copy) return E_OUTOFMEMORY;
  for (ULONG i = 0; i < source->rgsabound[0].cElements; ++i) {
    const size_t offset = static_cast<size_t>(i) * source->cbElements;
    const HRESULT hr = CopyElement(source->vt, static_cast<BYTE*>(source->pvData) + offset,
                                   static_cast<BYTE*>(copy->pvData) + offset, source->cbElements);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *out = copy;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (!array || !data) return E_INVALIDARG;
  ++array->cLocks;
  *data = array->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
  if (!array) return E_INVALIDARG;
  if (array->cLocks == 0) return E_UNEXPECTED;
  --array->cLocks;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* out) {
  if (!array || !out) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *out = array->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* out) {
  if (!array || !out) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *out = static_cast<LONG>(static_cast<int64_t>(array->rgsabound[0].lLbound) +
                           array->rgsabound[0].cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* index, void* out) {
  if (!array || !index || !out) return E_INVALIDARG;
  void* slot;
  const HRESULT hr = CheckIndex(array, *index, &slot);
  if (FAILED(hr)) return hr;
  return CopyElement(array->vt, slot, out, array->cbElements);
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* index, void* value) {
  if (!array || !index) return E_INVALIDARG;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  void* slot;
  HRESULT hr = CheckIndex(array, *index, &slot);
  if (FAILED(hr)) return hr;
  // Copy first, so that a failed copy keeps the old element.
  alignas(VARIANT) BYTE fresh[sizeof(VARIANT)];
  if (array->vt == VT_BSTR || array->vt == VT_UNKNOWN || array->vt == VT_DISPATCH) {
    // These take the pointer value itself.
    hr = CopyElement(array->vt, &value, fresh, array->cbElements);
  } else {
    if (!value) return E_INVALIDARG;
    hr = CopyElement(array->vt, value, fresh, array->cbElements);
  }
  if (FAILED(hr)) return hr;
  SAFEARRAY single = *array;
  single.rgsabound[0] = {1, 0};
  single.pvData = slot;
  ClearElements(&single);
  std::memcpy(slot, fresh, array->cbElements);
  return S_OK;
}
