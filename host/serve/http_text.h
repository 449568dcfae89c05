// Small text helpers of the site's HTTP side: percent-decoding, form bodies,
// cookies and constant-time token comparison.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zelto::serve {

// %XX decoded (and '+' as a blank when `plus_is_space`); nullopt for a bad
// escape or a decoded NUL.
std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space);
// application/x-www-form-urlencoded pairs (UTF-8); the first of a repeated
// key wins; undecodable pairs are dropped.
std::map<std::string, std::string> ParseForm(std::string_view body);
// The value of cookie `name` in a Cookie header, or empty.
std::string CookieValue(std::string_view header, std::string_view name);
// Equal without a timing difference between where texts differ.
bool SameToken(std::string_view a, std::string_view b);

}  // namespace zelto::serve
