// GUID, IID and CLSID with the registry's braced string form
// ("{6B29FC40-CA47-1067-B31D-00DD010662DA}", upper-case hexadecimal).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

bool operator==(const GUID& a, const GUID& b);
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string GuidToString(REFGUID guid);
// Accepts the braced form, case-insensitive; nullopt for anything else.
std::optional<GUID> GuidFromString(std::string_view text);

extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IClassFactory;
extern const IID IID_ISupportErrorInfo;
extern const IID IID_ITypeInfo;
extern const IID IID_ITypeLib;
