// Locale-free ASCII helpers shared by the parsers (GUIDs, query strings,
// registration scripts, ProgIDs). Bytes outside ASCII are never changed.
#pragma once

#include <string_view>

// 0..15 for a hexadecimal digit, -1 for anything else.
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Equal when only the case of ASCII letters differs.
constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}
