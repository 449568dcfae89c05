// The chat pages' polls: the unread messages of conversation "cid" that the
// caller did not send, written as one message list document, each then
// marked as read by the caller. A mark is the caller's id or label between
// two commas, appended to the message's read-flag list by the database, so
// that two readers marking one message at once both keep their marks.
#pragma once

#include "platform/com/hresult.h"

class PageContext;

// The operator `userid` polls. S_OK after writing the document; S_FALSE with
// nothing written when nothing is unread, when "cid" is not a well-formed
// integer, when the select fails, or outside a started page.
HRESULT GetUserMsg(PageContext& page, LONG userid);

// The visitor polls, identified by the session's "timelabel" (a string value
// only) or else the query's "cstlabel"; a page without a session has no
// visitor. Only while the visitor is a member of the conversation. S_FALSE
// without touching the database when there is no label or no "cid" (or
// outside a started page); S_OK otherwise, with the document written only
// when there was something unread.
HRESULT GetClientMsg(PageContext& page);
