// InvitUser: an operator's invitation window brings operator "serid" into
// conversation "cid" at once (a C_members row with IsChat 1) unless that
// operator is a member already. The answer is a result script for the
// window; on success it also closes the window and ends the response.
//
// The membership check and the result scripts are shared with the transfer.
#pragma once

#include <string>
#include <string_view>

#include "db/db_connection.h"
#include "platform/com/hresult.h"
#include "text/text_catalog.h"

class PageContext;

// S_OK whenever the page was started (S_FALSE otherwise, nothing done);
// nothing is read, stored or written when "action" is not exactly "inv".
// The check and the insert run in one transaction, so two invitations of the
// same operator at the same moment make one row. When "cid" or "serid" is
// not a well-formed integer, or the check or insert fails, the answer is the
// failure alert: nothing changed, the window stays, the response goes on.
HRESULT InvitUser(PageContext& page);

enum class Membership { kMember, kNotMember, kUnknown };

// Whether operator `serid` has a C_members row in conversation `cid` (both
// well-formed integers); kUnknown when the query failed.
Membership CheckMembership(CDbConnection& connection, const std::string& cid,
                           const std::string& serid);

// "<script language='javascript'>" + statements + "</script>".
std::string ResultScript(std::string_view statements);
// The result script of a target who is a member already.
std::string AlreadyMemberScript(TextLanguage language = TextLanguage::kChinese);
// A result script with one alert showing `message` (already in the ANSI code
// page, escaped here for the script string) and nothing else.
std::string FailureScript(std::string_view message);
