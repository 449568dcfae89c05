#include "text/url_encode.h"

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

bool BreaksAttribute(unsigned char c) { return c <= 0x20 || c == 0x7F || c == '`'; }

std::string PercentEncode(std::string_view text, bool (*encoded)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (encoded(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string UrlEncodeText(std::string_view text) {
  return PercentEncode(text, [](unsigned char c) { return !IsUnreserved(c); });
}

std::string PercentEncodeAttributeBreaks(std::string_view text) {
  return PercentEncode(text, BreaksAttribute);
}
