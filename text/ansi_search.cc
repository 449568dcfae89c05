#include "text/ansi_search.h"

#include "platform/win/codepage.h"

size_t AnsiCharLength(std::string_view text, size_t pos) {
  if (pos + 1 < text.size() && IsDBCSLeadByte(static_cast<BYTE>(text[pos]))) return 2;
  return 1;
}

size_t FindAnsi(std::string_view text, std::string_view pattern, size_t from) {
  // Most texts hold no candidate at all; only a byte-wise hit needs the
  // character walk that rules out starts on trailing bytes.
  size_t hit = text.find(pattern, from);
  for (size_t pos = from; hit != std::string_view::npos && pos <= hit;) {
    if (pos == hit) return hit;
    pos += AnsiCharLength(text, pos);
    if (pos > hit) hit = text.find(pattern, pos);
  }
  return std::string_view::npos;
}

std::string ReplaceAllAnsi(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t copied = 0;
  for (size_t hit = FindAnsi(text, from); hit != std::string_view::npos;
       hit = FindAnsi(text, from, copied)) {
    out.append(text, copied, hit - copied);
    out.append(to);
    copied = hit + from.size();
  }
  if (copied == 0) return std::string(text);
  out.append(text, copied);
  return out;
}
