// Searching and replacing in narrow text of the ANSI code page, one character
// at a time: a match never begins on the trailing byte of a double-byte
// character, and every comparison is case-sensitive.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Offset of the first occurrence of `pattern` that begins on a character
// boundary at or after `from` (itself a boundary), or npos. An empty pattern
// is found at `from`.
size_t FindAnsi(std::string_view text, std::string_view pattern, size_t from = 0);

// Every non-overlapping occurrence of `from` (non-empty), left to right,
// replaced by `to`; inserted text is never searched again.
std::string ReplaceAllAnsi(std::string_view text, std::string_view from, std::string_view to);

// Length in bytes of the character that starts at `pos` (1 or 2).
size_t AnsiCharLength(std::string_view text, size_t pos);
