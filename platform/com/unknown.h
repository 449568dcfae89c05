// The root interfaces. Interfaces are abstract classes with pure virtual
// methods in their COM slot order and no virtual destructor, so that the
// virtual table holds exactly the interface's slots (slot 0 QueryInterface).
#pragma once

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};

struct ISupportErrorInfo : IUnknown {
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};
