#include "platform/com/dispatch_impl.h"

#include "platform/com/com_ptr.h"
#include "platform/com/typelib_registration.h"

DispatchTypeInfo::~DispatchTypeInfo() {
  if (ITypeInfo* info = info_.exchange(nullptr)) info->Release();
}

HRESULT DispatchTypeInfo::Get(LCID lcid, ITypeInfo** info) {
  *info = info_.load(std::memory_order_acquire);
  if (*info) return S_OK;
  std::lock_guard<std::mutex> lock(mutex_);
  *info = info_.load(std::memory_order_acquire);
  if (*info) return S_OK;
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadRegTypeLib(libid_, major_, minor_, lcid, lib.Receive());
  if (FAILED(hr)) return hr;
  hr = lib->GetTypeInfoOfGuid(iid_, info);
  if (FAILED(hr)) return hr;
  info_.store(*info, std::memory_order_release);  // keeps the reference just taken
  return S_OK;
}

HRESULT DispatchTypeInfo::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT DispatchTypeInfo::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ITypeInfo* cached = nullptr;
  HRESULT hr = Get(lcid, &cached);
  if (FAILED(hr)) return hr;
  cached->AddRef();
  *info = cached;
  return S_OK;
}

HRESULT DispatchTypeInfo::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                        DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  HRESULT hr = Get(lcid, &info);
  return FAILED(hr) ? hr : info->GetIDsOfNames(names, count, ids);
}

HRESULT DispatchTypeInfo::Invoke(void* instance, DISPID id, REFIID riid, LCID lcid, WORD flags,
                                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                 UINT* arg_err) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  HRESULT hr = Get(lcid, &info);
  return FAILED(hr) ? hr : info->Invoke(instance, id, flags, params, result, excep, arg_err);
}
