#include "component/zelto_com.h"

#include "component/module_state.h"

CZeltoCom::CZeltoCom(IUnknown* outer) : outer_(outer) { ModuleLock(); }

CZeltoCom::~CZeltoCom() { ModuleUnlock(); }

HRESULT CZeltoCom::InternalQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ICZeltoCom || riid == IID_IDispatch || riid == IID_IUnknown) {
    *ppv = static_cast<ICZeltoCom*>(this);
  } else if (riid == IID_ISupportErrorInfo) {
    *ppv = static_cast<ISupportErrorInfo*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT CZeltoCom::QueryInterface(REFIID riid, void** ppv) {
  return outer_ ? outer_->QueryInterface(riid, ppv) : InternalQueryInterface(riid, ppv);
}

ULONG CZeltoCom::AddRef() { return outer_ ? outer_->AddRef() : ++refs_; }

ULONG CZeltoCom::Release() {
  if (outer_) return outer_->Release();
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT CZeltoCom::GetTypeInfoCount(UINT* count) {
  return ICZeltoComTypeInfo().GetTypeInfoCount(count);
}

HRESULT CZeltoCom::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return ICZeltoComTypeInfo().GetTypeInfo(index, lcid, info);
}

HRESULT CZeltoCom::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                 DISPID* ids) {
  return ICZeltoComTypeInfo().GetIDsOfNames(riid, names, count, lcid, ids);
}

HRESULT CZeltoCom::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  return ICZeltoComTypeInfo().Invoke(static_cast<ICZeltoCom*>(this), id, riid, lcid, flags,
                                     params, result, excep, arg_err);
}

HRESULT CZeltoCom::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_ICZeltoCom ? S_OK : S_FALSE;
}

HRESULT CZeltoCom::OnStartPage(IUnknown* piUnk) { return page_.Start(piUnk); }

HRESULT CZeltoCom::OnEndPage() {
  page_.End();
  return S_OK;
}

HRESULT CZeltoCom::Test() { return S_OK; }

HRESULT CZeltoCom::TestDB() { return S_OK; }

// Not wired yet: the methods below answer S_FALSE and write nothing.
HRESULT CZeltoCom::GetClientMsg(IUnknown*, IUnknown*, IUnknown*) { return S_FALSE; }
HRESULT CZeltoCom::GetUserMsg(LONG) { return S_FALSE; }
HRESULT CZeltoCom::DoClientMsg() { return S_FALSE; }
HRESULT CZeltoCom::DoUserMsg(LONG) { return S_FALSE; }
HRESULT CZeltoCom::InvitUser() { return S_FALSE; }
HRESULT CZeltoCom::TranstoUser(LONG) { return S_FALSE; }
HRESULT CZeltoCom::GetClientList(LONG) { return S_FALSE; }
HRESULT CZeltoCom::GetMonitorList(LONG) { return S_FALSE; }

HRESULT CZeltoCom::CheckDomain(BSTR, LONG* plRet) {
  if (plRet) *plRet = 0;
  return S_FALSE;
}
