#include "host/serve/http_text.h"

#include <cstdio>

#include "platform/asp/percent_decoding.h"

namespace zelto::serve {

std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space) {
  return DecodePercentEscapes(
      text, {.plus_is_space = plus_is_space, .refuse_bad_escape = true, .refuse_nul = true});
}

std::map<std::string, std::string> ParseForm(std::string_view body) {
  std::map<std::string, std::string> values;
  while (!body.empty()) {
    const size_t amp = body.find('&');
    const std::string_view pair = body.substr(0, amp);
    body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t eq = pair.find('=');
    auto key = PercentDecode(pair.substr(0, eq), true);
    auto value = PercentDecode(eq == std::string_view::npos ? "" : pair.substr(eq + 1), true);
    if (key && value) values.emplace(std::move(*key), std::move(*value));
  }
  return values;
}

std::string CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t semi = header.find(';');
    std::string_view item = header.substr(0, semi);
    header = semi == std::string_view::npos ? std::string_view() : header.substr(semi + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    const size_t eq = item.find('=');
    if (eq != std::string_view::npos && item.substr(0, eq) == name) {
      std::string_view value = item.substr(eq + 1);
      while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
      return std::string(value);
    }
  }
  return {};
}

bool SameToken(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace zelto::serve
