// IUnknown for an object that answers one interface besides IUnknown: the
// query for IUnknown or `kIid` gives the same pointer, anything else
// E_NOINTERFACE; the count is atomic (an object may be handed between a
// page's thread and a pool) and the last Release deletes the object.
#pragma once

#include <atomic>

#include "platform/com/unknown.h"

template <typename Interface, const IID& kIid>
class SingleInterfaceObject : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == kIid) {
      *ppv = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  // `initial_refs` is the count the creator starts with (0 when it queries
  // or AddRefs the new object itself, 1 when it hands the object out as is).
  explicit SingleInterfaceObject(ULONG initial_refs) : refs_(initial_refs) {}
  virtual ~SingleInterfaceObject() = default;

 private:
  std::atomic<ULONG> refs_;
};
