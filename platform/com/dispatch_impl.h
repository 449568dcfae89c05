// The IDispatch half of a dual interface, driven by the interface's type
// information: an object forwards its four IDispatch methods here. The type
// information is loaded on first use from the registered library (LoadRegTypeLib
// with the library's id and version and the caller's locale) under a lock,
// then kept and shared by every object until the holder goes. A failed load
// is not remembered: the next call tries again.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/com/typeinfo.h"

class DispatchTypeInfo {
 public:
  DispatchTypeInfo(const GUID& libid, const IID& iid, WORD major, WORD minor)
      : libid_(libid), iid_(iid), major_(major), minor_(minor) {}
  ~DispatchTypeInfo();  // releases the type information
  DispatchTypeInfo(const DispatchTypeInfo&) = delete;
  DispatchTypeInfo& operator=(const DispatchTypeInfo&) = delete;

  // Sets 1.
  HRESULT GetTypeInfoCount(UINT* count);
  // DISP_E_BADINDEX for an index other than 0.
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
  // DISP_E_UNKNOWNINTERFACE unless riid is IID_NULL.
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
  // `instance` is the object's pointer of the dual interface itself.
  HRESULT Invoke(void* instance, DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excep, UINT* arg_err);

 private:
  // The cached type info, loading it once; no reference added.
  HRESULT Get(LCID lcid, ITypeInfo** info);

  const GUID libid_;
  const IID iid_;
  const WORD major_;
  const WORD minor_;
  std::mutex mutex_;
  std::atomic<ITypeInfo*> info_{nullptr};
};
