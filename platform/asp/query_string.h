// The query string of a page request, application/x-www-form-urlencoded:
// pairs separated by '&', key and value by the first '='; '+' is a blank and
// %XX an escaped byte. The bytes are then read in the page's charset; bytes
// that are not valid there become U+FFFD. An escape that is not '%' and two
// hex digits (such as %u4F60, which the component decodes itself) is kept as
// it is. Never fails.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class PageCharset { kUtf8, kGbk };

// "utf-8", "utf8", "gbk", "cp936" in any case; nullopt for anything else.
std::optional<PageCharset> PageCharsetFromName(std::string_view name);
// The code page that reads and writes text in `charset`.
unsigned CodePageOf(PageCharset charset);

// Named values in their order of arrival; repeated keys are all kept, and
// lookups take the first.
using NamedValues = std::vector<std::pair<std::u16string, std::u16string>>;

// A leading '?' is skipped; empty pieces ("a=1&&b=2") are dropped; a piece
// without '=' is a key with an empty value.
NamedValues ParseQueryString(std::string_view query, PageCharset charset = PageCharset::kUtf8);

// Key comparison of the page framework: ASCII letters without regard to case.
bool KeysEqual(std::u16string_view a, std::u16string_view b);
// The first value under `key`, or null.
const std::u16string* FindValue(const NamedValues& values, std::u16string_view key);
