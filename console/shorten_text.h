// ShortenText: fits a text into a table cell of the console lists.
// Counts bytes of the narrow page text (a Chinese character in GBK counts 2).
// On a double-byte code page a cut may fall between the two bytes of one
// character; on UTF-8 it never falls inside a character. Callers escape the
// result for markup afterwards, never before, so no entity is cut.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A text of at most `limit` bytes comes back unchanged. A longer one becomes
// its first (limit - 3) bytes followed by "...", exactly `limit` bytes
// (a limit below 3 gives "..." alone). On UTF-8 the kept part ends at the
// last character boundary within those (limit - 3) bytes, so the result may
// be shorter.
std::string ShortenText(std::string_view text, std::size_t limit);
