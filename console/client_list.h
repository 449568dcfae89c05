// GetClientList: the visitors now on the operator's company site, as one
// script statement that replaces the console element "show":
//   document.all("show").innerHTML="<table ...>...</table>";
// Takes the company from the query value "companyid" (a well-formed integer)
// and the operator's rights from userinfo (Popedom 1 or 2, or Invite not 0).
// A second connection, to the count database, tells new visitors from
// returning ones; it is opened once per call and only for a non-empty list.
// Values enter the markup HTML-escaped and safe for the script string.
#pragma once

#include "platform/com/hresult.h"

class PageContext;

// S_OK after writing the statement with one WriteResponse; S_FALSE with
// nothing written for userid <= 0 (no request or database access), a page
// that is not started, a malformed "companyid" (no query sent), or an
// operator without rights in that company.
HRESULT GetClientList(PageContext& page, LONG userid);
