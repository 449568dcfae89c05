// The demo company's operator 5 standing by: online, one session counted
// on no host in particular, and room for many chats. Tests about other
// things (delivery, sessions, faults, languages) open chats without logging
// an operator in first and without meeting the per-operator limit; the
// tests of routing itself start from nobody online instead.
#pragma once

namespace zelto::testing {

// Statements run one at a time on the chat database.
inline constexpr const char* kStandingOperatorStatements[] = {
    "insert into operatorState (operatorId, state, sessions, lastAssigned, changedAt) "
    "values (5, 'online', 1, 0, 0)",
    "insert into chatSetting (companyId, maxChats) values (1, 100000)",
};

// Operators 12 and 7 chose away: logging them in keeps them away, so that
// every new chat stays with 5 (for tests that invite them into 5's chats).
inline constexpr const char* kOthersAwayStatements[] = {
    "insert into operatorState (operatorId, state, sessions, lastAssigned, changedAt) "
    "values (12, 'away', 0, 0, 0)",
    "insert into operatorState (operatorId, state, sessions, lastAssigned, changedAt) "
    "values (7, 'away', 0, 0, 0)",
};

}  // namespace zelto::testing
