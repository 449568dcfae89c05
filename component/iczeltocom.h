// ICZeltoCom, the component's dual interface, as the C++ abstract class whose
// virtual table matches ZeltoCom.idl slot for slot: IUnknown 0-2, IDispatch
// 3-6, then the thirteen methods 7-19 in the order below. Also the module's
// three fixed identities, which never change between builds.
#pragma once

#include "platform/com/dispatch.h"

extern const GUID LIBID_ZELTOCOMLib;
extern const IID IID_ICZeltoCom;
extern const CLSID CLSID_CZeltoCom;

inline constexpr WORD kZeltoComLibMajor = 1;
inline constexpr WORD kZeltoComLibMinor = 0;
inline constexpr char kZeltoComProgID[] = "ZeltoCom.CZeltoCom";
inline constexpr char kZeltoComVersionedProgID[] = "ZeltoCom.CZeltoCom.1";

struct ICZeltoCom : IDispatch {
  virtual HRESULT OnStartPage(IUnknown* piUnk) = 0;                                     // 7
  virtual HRESULT OnEndPage() = 0;                                                      // 8
  virtual HRESULT GetClientMsg(IUnknown* pIReq, IUnknown* pIRes, IUnknown* pIApp) = 0;  // 9
  virtual HRESULT GetUserMsg(LONG userid) = 0;                                          // 10
  virtual HRESULT DoClientMsg() = 0;                                                    // 11
  virtual HRESULT DoUserMsg(LONG userid) = 0;                                           // 12
  virtual HRESULT InvitUser() = 0;                                                      // 13
  virtual HRESULT TranstoUser(LONG userid) = 0;                                         // 14
  virtual HRESULT Test() = 0;                                                           // 15
  virtual HRESULT TestDB() = 0;                                                         // 16
  virtual HRESULT GetClientList(LONG userid) = 0;                                       // 17
  virtual HRESULT GetMonitorList(LONG userid) = 0;                                      // 18
  virtual HRESULT CheckDomain(BSTR bszDomain, LONG* plRet) = 0;                         // 19
};
