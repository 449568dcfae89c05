// CZeltoCom: the component's one class. Implements ICZeltoCom (dispatch
// through the type library), IDispatch and ISupportErrorInfo.
//
// Apartment-threaded: an object is used by one thread, so its reference
// count is plain. It holds one module lock from construction to destruction.
// Created by the class factory (class_factory.h), either standalone or as the
// inner object of an aggregate (zelto_com_aggregate.h), in which case its
// IUnknown methods go to the outer object.
#pragma once

#include "component/iczeltocom.h"
#include "page/page_context.h"

class CZeltoCom final : public ICZeltoCom, public ISupportErrorInfo {
 public:
  // `outer` is the controlling unknown when aggregated, else null. The
  // reference count starts at 0.
  explicit CZeltoCom(IUnknown* outer);
  ~CZeltoCom();
  CZeltoCom(const CZeltoCom&) = delete;
  CZeltoCom& operator=(const CZeltoCom&) = delete;

  // The interface map, in this order: ICZeltoCom, IDispatch (the same
  // pointer), ISupportErrorInfo, IUnknown; anything else E_NOINTERFACE.
  HRESULT InternalQueryInterface(REFIID riid, void** ppv);

  // IUnknown
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override;

  // ISupportErrorInfo: S_OK for IID_ICZeltoCom only.
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

  // ICZeltoCom
  HRESULT OnStartPage(IUnknown* piUnk) override;
  HRESULT OnEndPage() override;
  HRESULT GetClientMsg(IUnknown* pIReq, IUnknown* pIRes, IUnknown* pIApp) override;
  HRESULT GetUserMsg(LONG userid) override;
  HRESULT DoClientMsg() override;
  HRESULT DoUserMsg(LONG userid) override;
  HRESULT InvitUser() override;
  HRESULT TranstoUser(LONG userid) override;
  HRESULT Test() override;
  HRESULT TestDB() override;
  HRESULT GetClientList(LONG userid) override;
  HRESULT GetMonitorList(LONG userid) override;
  HRESULT CheckDomain(BSTR bszDomain, LONG* plRet) override;

 private:
  IUnknown* const outer_;
  ULONG refs_ = 0;
  PageContext page_;
};
