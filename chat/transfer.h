// TranstoUser: an operator's transfer window hands conversation "cid" from
// operator `userid` to operator "serid". The target becomes a member, every
// row of the transferring operator in the conversation goes, and a system
// message naming both operators is added: all three in one transaction, all
// or nothing. On success the answer names the target, closes the operator's
// chat window and the transfer window, and ends the response.
#pragma once

#include "platform/com/hresult.h"

class PageContext;

// S_FALSE with nothing read, stored or written when `userid` is not above 0
// or the page was not started; otherwise S_OK. Nothing happens when "action"
// is not exactly "inv". A target who is a member already gets the membership
// alert and nothing changes. When "cid" or "serid" is not a well-formed
// integer, or any statement or the commit fails, everything is rolled back
// and the answer is the transfer-failed alert (window kept, response goes on).
HRESULT TranstoUser(PageContext& page, LONG userid);
