// IUnknown for an object that answers one interface besides IUnknown: the
// query for IUnknown or `kIid` gives the same pointer, anything else
// E_NOINTERFACE; the count is atomic (an object may be handed between a
// page's thread and a pool) and the last Release deletes the object.
//
// QuerySingleInterface is the query alone, for objects whose count is kept
// elsewhere (a type info counted by its library, a class factory that lives
// as long as the process or holds its module).
#pragma once

#include <atomic>

#include "platform/com/unknown.h"

// E_POINTER for a null `ppv`. On a match `*ppv` is `self` with one reference
// added through `self`; otherwise `*ppv` is null.
template <typename Interface, const IID& kIid>
HRESULT QuerySingleInterface(Interface* self, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == kIid) {
    *ppv = self;
    self->AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

template <typename Interface, const IID& kIid>
class SingleInterfaceObject : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QuerySingleInterface<Interface, kIid>(this, riid, ppv);
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // The count now, for tests that check what others still hold.
  ULONG reference_count() const { return refs_.load(); }

 protected:
  // `initial_refs` is the count the creator starts with (0 when it queries
  // or AddRefs the new object itself, 1 when it hands the object out as is).
  explicit SingleInterfaceObject(ULONG initial_refs) : refs_(initial_refs) {}
  virtual ~SingleInterfaceObject() = default;

 private:
  std::atomic<ULONG> refs_;
};
