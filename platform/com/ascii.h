// Locale-free ASCII helpers shared by the parsers (GUIDs, query strings,
// registration scripts, ProgIDs, connection strings, T-SQL, IDL) and the
// name lookups that ignore case. Only A-Z are folded: bytes and code units
// outside ASCII are never changed, whatever the process's locale.
#pragma once

#include <string>
#include <string_view>

// 0..15 for a hexadecimal digit, -1 for anything else.
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }
constexpr char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

// `text` with A-Z lowered.
inline std::string LowerAscii(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = FoldAscii(c);
  return lowered;
}

namespace ascii_internal {
template <typename Char>
constexpr bool EqualsIgnoreCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}
}  // namespace ascii_internal

// Equal when only the case of ASCII letters differs.
constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return ascii_internal::EqualsIgnoreCase(a, b);
}
constexpr bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return ascii_internal::EqualsIgnoreCase(a, b);
}
