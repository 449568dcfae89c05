// Type library registration under HKEY_CLASSES_ROOT, the Windows way:
//
//   TypeLib\{LIBID}\<major>.<minor>            (default) = the library's help string
//   TypeLib\{LIBID}\<major>.<minor>\0\win32    (default) = the library's file
//   TypeLib\{LIBID}\<major>.<minor>\FLAGS      (default) = library flags, decimal
//   TypeLib\{LIBID}\<major>.<minor>\HELPDIR    (default) = help directory
//   Interface\{IID}                            (default) = interface name
//   Interface\{IID}\ProxyStubClsid(32)         (default) = the automation marshaler
//   Interface\{IID}\TypeLib                    (default) = {LIBID}, Version = "1.0"
//
// Versions are written in hexadecimal ("1.0", "1.a"). The library is
// registered language-neutral ("0") whatever its own locale, so that callers
// of every locale find it. Interface keys are written for interfaces marked
// dual or oleautomation. Each call is one registry transaction.
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/typeinfo.h"

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR full_path, LPCOLESTR help_dir);

// Removes the registration of that version (looked up like LoadRegTypeLib)
// and the Interface keys that name this library and version; parent keys
// left empty go too. TYPE_E_REGISTRYACCESS when it is not registered.
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

// The registered file of a library: same major version, the highest minor
// not below `minor`; the locale's own key, else its primary language's, else
// "0". TYPE_E_LIBNOTREGISTERED when there is none.
HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, BSTR* path);
// LoadTypeLib on that file.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
