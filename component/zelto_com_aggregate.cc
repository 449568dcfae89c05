#include "component/zelto_com_aggregate.h"

HRESULT CZeltoComAggregate::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  return inner_.InternalQueryInterface(riid, ppv);
}

ULONG CZeltoComAggregate::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}
