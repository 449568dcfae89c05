// Request values pasted into SQL texts. Text values go inside single quotes
// with every quote doubled, so the stored text equals the value given; ids
// that arrive as text are pasted only when they are well-formed integers.
#pragma once

#include <string>
#include <string_view>

// `text` with each ' doubled. A quote byte is never the trailing byte of a
// double-byte character in the ANSI code pages we serve, so bytewise is safe.
std::string SqlQuoted(std::string_view text);

// True for an optional '-' followed by decimal digits whose value fits a
// signed 32-bit integer (ids are LONG). No blanks, no '+', no other bytes.
bool IsWellFormedInteger(std::string_view text);
