// CheckDomain: whether every address of a ";"-separated list serves the same
// page text as the first one (see FetchPageText). Fetches one address after
// another and stops at the first difference.
//
// *plRet is 1 with S_OK when all texts equal the first and it is not empty,
// and also for a list without any ";" (nothing is fetched then). It is 0
// with S_FALSE for an empty item (nothing is fetched), an empty first text,
// or a differing later text. Items are taken exactly as written: nothing is
// trimmed or unescaped. E_POINTER for a null plRet.
#pragma once

#include <string_view>

#include "platform/com/bstr.h"
#include "platform/com/hresult.h"

// The method: the list arrives as a BSTR (null is empty text) and is
// narrowed to the ANSI code page.
HRESULT CheckDomain(BSTR bszDomain, LONG* plRet);
// The same on narrow text.
HRESULT CheckDomainList(std::string_view domains, LONG* plRet);
