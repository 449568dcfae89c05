#include "component/class_factory.h"

#include <atomic>
#include <new>

#include "component/module_state.h"
#include "component/zelto_com.h"
#include "component/zelto_com_aggregate.h"
#include "platform/com/single_interface_object.h"

namespace {

// Shared by every thread, so its count is atomic. Any reference beyond the
// cache's own holds the module.
class CZeltoComFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QuerySingleInterface<IClassFactory, IID_IClassFactory>(this, riid, ppv);
  }
  ULONG AddRef() override {
    ULONG now = ++refs_;
    if (now == 2) ModuleLock();
    return now;
  }
  ULONG Release() override {
    ULONG now = --refs_;
    if (now == 1) ModuleUnlock();
    if (now == 0) delete this;
    return now;
  }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    IUnknown* object = nullptr;
    try {
      object = outer ? static_cast<IUnknown*>(new CZeltoComAggregate(outer))
                     : static_cast<ICZeltoCom*>(new CZeltoCom(nullptr));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    // Held across the query so that a failed query destroys the object.
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }

  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      ModuleLock();
    } else {
      ModuleUnlock();
    }
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

// Releases the cached factory when the module's static state is destroyed.
struct FactoryCache {
  CZeltoComFactory* factory = nullptr;
  ~FactoryCache() {
    if (factory) factory->Release();
  }
};

FactoryCache& Cache() {
  static FactoryCache cache;
  return cache;
}

}  // namespace

HRESULT GetZeltoComClassFactory(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  CZeltoComFactory* factory;
  {
    std::lock_guard<std::mutex> lock(ModuleMutex());
    FactoryCache& cache = Cache();
    if (!cache.factory) {
      CZeltoComFactory* created = new (std::nothrow) CZeltoComFactory();
      if (!created) return E_OUTOFMEMORY;
      created->AddRef();
      cache.factory = created;
    }
    factory = cache.factory;
  }
  return factory->QueryInterface(riid, ppv);
}
