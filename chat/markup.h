// The markup of chat message texts: "%u" escapes as the chat pages send them,
// link markers and face codes. Pure functions on narrow text in the ANSI code
// page; searches go character by character and are case-sensitive.
#pragma once

#include <string>
#include <string_view>

// Decodes "%uXXXX" escapes, but only in a text of at least six bytes that
// starts with "%u"; any other text comes back unchanged. Each escape is read
// as strtol (base 16) reads its four bytes, its low 16 bits are one UTF-16
// code unit, converted to the ANSI code page (nothing for 0). A high
// surrogate escape directly followed by a low surrogate escape is one
// character, converted as a pair (four UTF-8 bytes, or one default
// character where the code page lacks it); a lone surrogate converts on its
// own. Other bytes, "%XX" and a "%u" with fewer than four bytes after it are
// copied. The result is never longer than the input.
std::string DecodeUnicodeEscapes(std::string_view text);

// Replaces "#link#", then "#link_mid#", then "#link_end#" (each pass over the
// whole text) with the pieces of an anchor that opens in a new window, then
// applies ConvertFaceCodes. `text` is expected HTML-escaped already. A
// "#link#" becomes an anchor only when its address (the text up to the next
// "#link#" or "#link_mid#") is http, https or relative; otherwise the marker,
// and the "#link_mid#" that ends its address, stay visible as text.
std::string ConvertLinkMarkers(std::string_view text);

// Replaces the face codes ":#0#" to ":#55#" (decimal, no leading zeros) with
// "<img src='images/face/<k>.gif' border=0>".
std::string ConvertFaceCodes(std::string_view text);

// True when a link to `address` (HTML-escaped text) cannot run script: it
// starts with http:// or https:// (any case), or it names no scheme at all
// (no ':' before the first '/', '?' or '#').
bool IsSafeLinkAddress(std::string_view address);
