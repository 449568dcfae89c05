// Splits T-SQL text into tokens without losing a byte: concatenating the
// texts of all tokens gives the input back. Never fails; an unterminated
// string or comment runs to the end of the text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelto::ado {

enum class TokenKind {
  kSpace,       // blanks and line breaks
  kComment,     // "-- ..." to the end of the line, or "/* ... */"
  kWord,        // identifier or keyword: letters, digits, _ @ # $
  kQuoted,      // [identifier] or "identifier"
  kString,      // '...' or N'...', a doubled quote inside stands for one
  kNumber,      // 12, 1.5, .5, 1e3
  kBinary,      // 0x0102 (and SQLite's X'0102')
  kOperator,    // <> != <= >= || and single-character operators
  kOpenParen,
  kCloseParen,
  kComma,
  kSemicolon,
};

struct Token {
  TokenKind kind;
  std::string_view text;  // a view into the tokenized input
  bool complete = true;   // false for a string, name or comment cut off by the end
};

std::vector<Token> TokenizeTsql(std::string_view sql);

// The value of a kString token: quotes removed, doubled quotes undone.
std::string StringTokenValue(std::string_view token_text);
// The bytes of a kBinary token; nullopt for an odd number of hex digits.
std::optional<std::string> BinaryTokenValue(std::string_view token_text);

}  // namespace zelto::ado
