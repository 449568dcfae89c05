#include "platform/com/variant.h"

#include <cstdlib>
#include <cstring>

#include "platform/com/safearray.h"
#include "platform/com/unknown.h"

namespace {

// The base tags a VARIANT may carry by value (VT_ARRAY and VT_BYREF combine
// with most of them).
bool IsKnownBaseType(VARTYPE base) {
  switch (base) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR:
    case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT:
    case VT_UINT: case VT_VOID: case VT_HRESULT: case VT_LPSTR: case VT_LPWSTR:
    case VT_BLOB: case VT_BLOB_OBJECT: case VT_FILETIME: case VT_CLSID:
      return true;
    default:
      return false;
  }
}

bool IsValidType(VARTYPE vt) {
  if (vt & VT_VECTOR) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_BYREF) return IsKnownBaseType(base);
  if (vt & VT_ARRAY) return IsKnownBaseType(base) && base != VT_EMPTY && base != VT_NULL;
  // A plain VARIANT cannot hold a VARIANT by value.
  return IsKnownBaseType(base) && base != VT_VARIANT;
}

template <typename T>
T* DuplicateBytes(const T* data, size_t bytes) {
  if (!data) return nullptr;
  void* copy = std::malloc(bytes ? bytes : 1);
  if (copy && bytes) std::memcpy(copy, data, bytes);
  return static_cast<T*>(copy);
}

}  // namespace

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (!IsValidType(v->vt)) return DISP_E_BADVARTYPE;
  if (v->vt & VT_ARRAY) {
    if (v->parray) {
      const HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    }
  } else if (!(v->vt & VT_BYREF)) {
    switch (v->vt) {
      case VT_BSTR: SysFreeString(v->bstrVal); break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (v->punkVal) v->punkVal->Release();
        break;
      case VT_BLOB:
      case VT_BLOB_OBJECT: std::free(v->blob.pBlobData); break;
      case VT_LPSTR: std::free(v->pszVal); break;
      case VT_LPWSTR: std::free(v->pwszVal); break;
      default: break;
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  if (!IsValidType(src->vt)) return DISP_E_BADVARTYPE;
  // Build the copy aside so that a failure leaves dest untouched.
  VARIANT copy = *src;
  if (src->vt & VT_ARRAY) {
    copy.parray = nullptr;
    if (src->parray) {
      const HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    }
  } else if (!(src->vt & VT_BYREF)) {
    switch (src->vt) {
      case VT_BSTR:
        if (src->bstrVal) {
          const UINT bytes = SysStringByteLen(src->bstrVal);
          copy.bstrVal = SysAllocStringLen(nullptr, (bytes + 1) / sizeof(OLECHAR));
          if (!copy.bstrVal) return E_OUTOFMEMORY;
          std::memcpy(copy.bstrVal, src->bstrVal, bytes);
          // Keep an odd byte count exactly as it was.
          std::memcpy(reinterpret_cast<unsigned char*>(copy.bstrVal) - sizeof(uint32_t), &bytes,
                      sizeof bytes);
        }
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (src->punkVal) src->punkVal->AddRef();
        break;
      case VT_BLOB:
      case VT_BLOB_OBJECT:
        copy.blob.pBlobData = DuplicateBytes(src->blob.pBlobData, src->blob.cbSize);
        if (src->blob.pBlobData && !copy.blob.pBlobData) return E_OUTOFMEMORY;
        break;
      case VT_LPSTR:
        copy.pszVal = src->pszVal ? DuplicateBytes(src->pszVal, std::strlen(src->pszVal) + 1)
                                  : nullptr;
        if (src->pszVal && !copy.pszVal) return E_OUTOFMEMORY;
        break;
      case VT_LPWSTR:
        copy.pwszVal =
            src->pwszVal
                ? DuplicateBytes(src->pwszVal, (std::char_traits<char16_t>::length(src->pwszVal) +
                                                1) * sizeof(char16_t))
                : nullptr;
        if (src->pwszVal && !copy.pwszVal) return E_OUTOFMEMORY;
        break;
      default: break;
    }
  }
  const HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

VARIANT MakeVariantBstr(std::u16string_view text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringView(text);
  return v;
}

VARIANT MakeVariantI4(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
