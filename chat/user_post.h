// DoUserMsg: an operator's chat page posts a message. With "action" exactly
// "sub", the message is stored as one msg row of conversation "cid" from
// operator `userid`; while the conversation's visitor has no preMsg row for
// it, the message is also recorded in inviteMsg (both rows or neither). The
// echo script is written so the operator sees the message at once.
#pragma once

#include "platform/com/hresult.h"

class PageContext;

// S_FALSE with nothing read, stored or written when `userid` is not above 0
// or the page was not started. S_OK when "action" is not "sub" (nothing
// done). S_FALSE with nothing stored or written when "cid" is not a
// well-formed integer or the message could not be stored. S_OK when posted.
HRESULT DoUserMsg(PageContext& page, LONG userid);
