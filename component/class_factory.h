// The class factory of CZeltoCom. One factory per module, created on the
// first request under the module-wide lock and kept (one reference held by
// the cache) until the module's static state goes at process end.
#pragma once

#include "platform/com/unknown.h"

// The cached factory queried for `riid` (what DllGetClassObject returns).
HRESULT GetZeltoComClassFactory(REFIID riid, void** ppv);
