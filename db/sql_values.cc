#include "db/sql_values.h"

#include <charconv>

std::string SqlQuoted(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string SqlStringLiteral(std::string_view text) { return "'" + SqlQuoted(text) + "'"; }

bool IsWellFormedInteger(std::string_view text) { return ParseWellFormedInteger(text).has_value(); }

std::optional<int32_t> ParseWellFormedInteger(std::string_view text) {
  std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}
