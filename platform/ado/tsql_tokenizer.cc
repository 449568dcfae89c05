#include "platform/ado/tsql_tokenizer.h"

#include <cctype>
#include <string>

namespace zelto::ado {
namespace {

bool IsWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c == '@' || c == '#' || c >= 0x80; }
bool IsWordChar(unsigned char c) { return IsWordStart(c) || std::isdigit(c) || c == '$'; }

// Returns the end of a quoted run starting at `pos` (the opening quote),
// where `close` doubled stands for itself; the text's size when unclosed.
size_t QuotedEnd(std::string_view s, size_t pos, char close, bool* complete) {
  *complete = true;
  size_t i = pos + 1;
  while (i < s.size()) {
    if (s[i] == close) {
      if (i + 1 < s.size() && s[i + 1] == close) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  *complete = false;
  return s.size();
}

size_t NumberEnd(std::string_view s, size_t i) {
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      i = j;
      while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    }
  }
  return i;
}

}  // namespace

std::vector<Token> TokenizeTsql(std::string_view s) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    size_t end = i + 1;
    bool complete = true;
    TokenKind kind = TokenKind::kOperator;
    if (std::isspace(c)) {
      kind = TokenKind::kSpace;
      while (end < s.size() && std::isspace(static_cast<unsigned char>(s[end]))) ++end;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      kind = TokenKind::kComment;
      end = s.find('\n', i);
      end = end == s.npos ? s.size() : end;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      kind = TokenKind::kComment;
      end = s.find("*/", i + 2);
      complete = end != s.npos;
      end = end == s.npos ? s.size() : end + 2;
    } else if (c == '\'') {
      kind = TokenKind::kString;
      end = QuotedEnd(s, i, '\'', &complete);
    } else if ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'') {
      kind = TokenKind::kString;
      end = QuotedEnd(s, i + 1, '\'', &complete);
    } else if (c == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
      kind = TokenKind::kBinary;
      end = i + 2;
      while (end < s.size() && std::isxdigit(static_cast<unsigned char>(s[end]))) ++end;
    } else if ((c == 'x' || c == 'X') && i + 1 < s.size() && s[i + 1] == '\'') {
      kind = TokenKind::kBinary;
      end = QuotedEnd(s, i + 1, '\'', &complete);
    } else if (c == '[') {
      kind = TokenKind::kQuoted;
      end = QuotedEnd(s, i, ']', &complete);
    } else if (c == '"') {
      kind = TokenKind::kQuoted;
      end = QuotedEnd(s, i, '"', &complete);
    } else if (std::isdigit(c) ||
               (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      kind = TokenKind::kNumber;
      end = NumberEnd(s, std::isdigit(c) ? i : i + 1);
      if (c == '.') end = NumberEnd(s, i + 1);
    } else if (IsWordStart(c)) {
      kind = TokenKind::kWord;
      while (end < s.size() && IsWordChar(static_cast<unsigned char>(s[end]))) ++end;
    } else if (c == '(') {
      kind = TokenKind::kOpenParen;
    } else if (c == ')') {
      kind = TokenKind::kCloseParen;
    } else if (c == ',') {
      kind = TokenKind::kComma;
    } else if (c == ';') {
      kind = TokenKind::kSemicolon;
    } else if (i + 1 < s.size()) {
      std::string_view two = s.substr(i, 2);
      if (two == "<>" || two == "!=" || two == "<=" || two == ">=" || two == "||" || two == "!<" ||
          two == "!>") {
        end = i + 2;
      }
    }
    tokens.push_back({kind, s.substr(i, end - i), complete});
    i = end;
  }
  return tokens;
}

std::optional<std::string> BinaryTokenValue(std::string_view text) {
  std::string_view hex = text.substr(2);
  if (text[0] != '0' && !hex.empty()) hex.remove_suffix(1);  // X'...'
  if (hex.size() % 2) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (char h : hex.substr(i, 2)) {
      if (!std::isxdigit(static_cast<unsigned char>(h))) return std::nullopt;
      value = value * 16 + (std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : std::tolower(h) - 'a' + 10);
    }
    bytes += static_cast<char>(value);
  }
  return bytes;
}

std::string StringTokenValue(std::string_view text) {
  if (!text.empty() && (text[0] == 'N' || text[0] == 'n')) text.remove_prefix(1);
  std::string value;
  if (text.empty()) return value;
  size_t end = text.size();
  // An unterminated string has no closing quote to drop.
  if (end >= 2 && text.back() == '\'') {
    size_t quotes = 0;
    for (size_t i = end; i > 1 && text[i - 1] == '\''; --i) ++quotes;
    if (quotes % 2 == 1) --end;
  }
  for (size_t i = 1; i < end; ++i) {
    value += text[i];
    if (text[i] == '\'' && i + 1 < end && text[i + 1] == '\'') ++i;
  }
  return value;
}

}  // namespace zelto::ado
