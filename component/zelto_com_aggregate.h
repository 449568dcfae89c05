// The aggregatable form of CZeltoCom: created when a class factory gets an
// outer object. This wrapper is the non-delegating IUnknown the outer object
// holds; it owns the inner CZeltoCom, whose ICZeltoCom, IDispatch and
// ISupportErrorInfo hand IUnknown's calls to the outer object.
#pragma once

#include "component/zelto_com.h"

class CZeltoComAggregate final : public IUnknown {
 public:
  // REQUIRES: outer is not null. The reference count starts at 0.
  explicit CZeltoComAggregate(IUnknown* outer) : inner_(outer) {}

  // IID_IUnknown gives this wrapper; the rest come from the inner map.
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override;

 private:
  ULONG refs_ = 0;
  CZeltoCom inner_;
};
