#include "host/serve/visitor_cookie.h"

#include "host/serve/digest.h"

namespace zelto::serve {

bool IsVisitorLabel(std::string_view label) {
  if (label.empty() || label.size() > 50) return false;
  for (char c : label) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum) return false;
  }
  return true;
}

std::string VisitorCookie::Mac(std::string_view label) const {
  return HmacSha256Hex(secret_, label);
}

std::string VisitorCookie::Sign(std::string_view label) const {
  return std::string(label) + "." + Mac(label);
}

std::optional<std::string> VisitorCookie::Check(std::string_view value) const {
  const size_t dot = value.find('.');
  if (dot == std::string_view::npos || secret_.empty()) return std::nullopt;
  const std::string_view label = value.substr(0, dot);
  const std::string_view given = value.substr(dot + 1);
  if (!IsVisitorLabel(label)) return std::nullopt;
  const std::string expected = Mac(label);
  if (expected.empty() || !SameSecret(given, expected))
    return std::nullopt;
  return std::string(label);
}

}  // namespace zelto::serve
