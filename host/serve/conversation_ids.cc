#include "host/serve/conversation_ids.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace zelto::serve {
namespace {

constexpr int64_t kFirstCounterValue = 1000;

std::optional<int64_t> ToInt64(const std::string& text) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The highest id any table of the chat database has used, at least 1000.
bool HighestUsedId(SqlSession& chat, int64_t* highest) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select (select max(cid) from conversation) as a, "
                  "(select max(cid) from C_members) as b, (select max(conid) from msg) as c, "
                  "(select max(conid) from inviteMsg) as d, (select max(conid) from preMsg) as e",
                  {"a", "b", "c", "d", "e"}, &rows))
    return false;
  *highest = kFirstCounterValue;
  for (const std::string& field : rows.empty() ? SqlSession::Row() : rows[0])
    *highest = std::max(*highest, ToInt64(field).value_or(0));
  return true;
}

}  // namespace

bool TakeConversationId(SqlSession& chat, LONG* cid) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select lastCid from conversationCounter where id=1", {"lastCid"}, &rows))
    return false;
  int64_t last = 0;
  if (!rows.empty()) {
    const std::optional<int64_t> stored = ToInt64(rows[0][0]);
    if (!stored || *stored < 0)
      return chat.Fail("the conversation counter holds '" + rows[0][0] + "'");
    last = *stored;
  } else if (!HighestUsedId(chat, &last) ||
             !chat.Execute("insert into conversationCounter (id, lastCid) values (1, " +
                           std::to_string(last) + ")")) {
    return false;
  }
  if (last >= std::numeric_limits<int32_t>::max())
    return chat.Fail("conversation ids exhausted (the last one given was " + std::to_string(last) +
                     ")");
  const int64_t next = last + 1;
  if (!chat.Execute("update conversationCounter set lastCid=" + std::to_string(next) +
                    " where id=1"))
    return false;
  *cid = static_cast<LONG>(next);
  return true;
}

}  // namespace zelto::serve
