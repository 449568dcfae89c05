// GetMonitorList: the conversations running in the operator's company, as a
// style block and a table (number, members, start time, view and stop links).
// The company is the operator's own; nothing is read from the request.
// Operators need Popedom 1 or 2, or conview not 0. Stored names and times
// enter the markup HTML-escaped.
#pragma once

#include "platform/com/hresult.h"

class PageContext;

// S_OK after writing the whole text with one WriteResponse (a failed
// conversation select shows the empty row); S_FALSE with nothing written for
// userid <= 0 (no database access), a page that is not started, or an
// operator without a userinfo row or without monitor rights.
HRESULT GetMonitorList(PageContext& page, LONG userid);
