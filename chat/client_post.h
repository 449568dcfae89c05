// DoClientMsg: a visitor's chat page posts a message. With "action" exactly
// "sub", the decoded "msgContent" and the "adjunct" are stored as one msg
// row of conversation "cid" under the visitor's label and nickname, and the
// echo script is written so the visitor sees the message at once.
#pragma once

#include "platform/com/hresult.h"

class PageContext;

// S_OK when posted, and when "action" is not "sub" (nothing read, stored or
// written). S_FALSE, with nothing stored or written, when "cid" is not a
// well-formed integer, the insert fails, or the page was not started: a
// message that was not stored is never echoed as sent.
HRESULT DoClientMsg(PageContext& page);
