#include "console/shorten_text.h"

#include "platform/win/codepage.h"

namespace {

// A UTF-8 byte that continues a character rather than starting one.
bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::string ShortenText(std::string_view text, std::size_t limit) {
  static constexpr std::string_view kEllipsis = "...";
  if (text.size() <= limit) return std::string(text);
  std::size_t kept = limit > kEllipsis.size() ? limit - kEllipsis.size() : 0;
  // On UTF-8 the cut moves back to the start of the character it would split.
  if (GetACP() == CP_UTF8) {
    while (kept > 0 && IsUtf8Continuation(text[kept])) --kept;
  }
  std::string out(text.substr(0, kept));
  out += kEllipsis;
  return out;
}
