// Percent-encoding of values that go into addresses, as "%XX" with upper-case
// hex digits. Which bytes are encoded depends on where the value goes; bytes
// that are left alone come out unchanged.
#pragma once

#include <string>
#include <string_view>

// Every byte except ASCII letters, digits and "-_.~": for a value inside an
// address's query (a label, an id). Ordinary labels come out unchanged.
std::string UrlEncodeText(std::string_view text);

// Only the bytes that would end or bend an unquoted attribute value (blanks
// and control bytes up to 0x20, DEL and the backquote): for a whole address
// written as such a value. None of them is ever a trailing byte of a GBK
// character, so a double-byte character is never cut.
std::string PercentEncodeAttributeBreaks(std::string_view text);
