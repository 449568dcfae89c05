// New conversation ids, from the chat database's conversationCounter row,
// raised inside the caller's write transaction: hosts and threads sharing
// one database never get one id twice (write transactions of a database run
// one at a time on both engines), and an operation rolled back gives its id
// back. The row is made on first use, above every id any table holds (an
// ended conversation's row is gone, its messages and members stay) and
// above 1000. Ids stay within the 32-bit range the component reads.
#pragma once

#include "db/sql_session.h"

namespace zelto::serve {

// REQUIRES: `chat` is in a write transaction (SqlTransaction).
// The next id in `cid`. False when a statement failed, or with error()
// "conversation ids exhausted" past 2147483647 (nothing is changed).
bool TakeConversationId(SqlSession& chat, LONG* cid);

}  // namespace zelto::serve
