#include "component/zelto_com.h"

#include "chat/client_post.h"
#include "chat/invitation.h"
#include "chat/polling.h"
#include "chat/transfer.h"
#include "chat/user_post.h"
#include "component/module_state.h"
#include "console/check_domain.h"
#include "console/client_list.h"
#include "console/monitor_list.h"

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

HRESULT CZeltoCom::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return ICZeltoComTypeInfo().GetIDsOfNames(riid, names, count, lcid, ids);
}

HRESULT CZeltoCom::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  return ICZeltoComTypeInfo().Invoke(static_cast<ICZeltoCom*>(this), id, riid, lcid, flags, params,
                                     result, excep, arg_err);
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

// The page methods need the page context: called outside OnStartPage..OnEndPage
// they answer S_FALSE and write nothing. The work itself lives in chat/ and
// console/; the leading :: reaches those functions past the members' names.
HRESULT CZeltoCom::GetClientMsg(IUnknown*, IUnknown*, IUnknown*) {
  return page_.IsStarted() ? ::GetClientMsg(page_) : S_FALSE;
}
HRESULT CZeltoCom::GetUserMsg(LONG userid) {
  return page_.IsStarted() ? ::GetUserMsg(page_, userid) : S_FALSE;
}
HRESULT CZeltoCom::DoClientMsg() { return page_.IsStarted() ? ::DoClientMsg(page_) : S_FALSE; }
HRESULT CZeltoCom::DoUserMsg(LONG userid) {
  return page_.IsStarted() ? ::DoUserMsg(page_, userid) : S_FALSE;
}
HRESULT CZeltoCom::InvitUser() { return page_.IsStarted() ? ::InvitUser(page_) : S_FALSE; }
HRESULT CZeltoCom::TranstoUser(LONG userid) {
  return page_.IsStarted() ? ::TranstoUser(page_, userid) : S_FALSE;
}
HRESULT CZeltoCom::GetClientList(LONG userid) {
  return page_.IsStarted() ? ::GetClientList(page_, userid) : S_FALSE;
}
HRESULT CZeltoCom::GetMonitorList(LONG userid) {
  return page_.IsStarted() ? ::GetMonitorList(page_, userid) : S_FALSE;
}

// The address comparison needs no page: it works on its argument alone.
HRESULT CZeltoCom::CheckDomain(BSTR bszDomain, LONG* plRet) {
  return ::CheckDomain(bszDomain, plRet);
}
