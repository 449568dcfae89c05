#include "console/shorten_text.h"

std::string ShortenText(std::string_view text, std::size_t limit) {
  static constexpr std::string_view kEllipsis = "...";
  if (text.size() <= limit) return std::string(text);
  std::size_t kept = limit > kEllipsis.size() ? limit - kEllipsis.size() : 0;
  std::string out(text.substr(0, kept));
  out += kEllipsis;
  return out;
}
