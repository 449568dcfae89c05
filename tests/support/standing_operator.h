// The demo company's operator 5 standing by: online, one session counted
// on no host in particular, and room for many chats; 12 and 7 away, so
// that logging them in keeps every new chat with 5. Tests about other
// things (delivery, sessions, faults, languages) open chats without logging
// an operator in first, without meeting the per-operator limit, and with
// 5 as the chats' operator, as they expect; the tests of routing itself
// start from nobody online instead.
#pragma once

namespace zelto::testing {

// Statements run one at a time on the chat database.
inline constexpr const char* kStandingOperatorStatements[] = {
    "insert into operatorState (operatorId, state, sessions, lastAssigned, changedAt) "
    "values (5, 'online', 1, 0, 0)",
    "insert into operatorState (operatorId, state, sessions, lastAssigned, changedAt) "
    "values (12, 'away', 0, 0, 0)",
    "insert into operatorState (operatorId, state, sessions, lastAssigned, changedAt) "
    "values (7, 'away', 0, 0, 0)",
    "insert into chatSetting (companyId, maxChats) values (1, 100000)",
};

}  // namespace zelto::testing
