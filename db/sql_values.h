// Request values pasted into SQL texts. Text values go inside single quotes
// with every quote doubled, so the stored text equals the value given; ids
// that arrive as text are pasted only when they are well-formed integers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// `text` with each ' doubled. A quote byte is never part of a multi-byte
// character in UTF-8 nor the trailing byte of a double-byte character in the
// ANSI code pages we serve, so bytewise is safe for both.
std::string SqlQuoted(std::string_view text);
// `text` as a complete string literal: SqlQuoted inside single quotes.
std::string SqlStringLiteral(std::string_view text);

// True for an optional '-' followed by decimal digits whose value fits a
// signed 32-bit integer (ids are LONG). No blanks, no '+', no other bytes.
bool IsWellFormedInteger(std::string_view text);
// The value of such an integer; nullopt for any other text.
std::optional<int32_t> ParseWellFormedInteger(std::string_view text);
