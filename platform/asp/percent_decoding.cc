#include "platform/asp/percent_decoding.h"

#include "platform/com/ascii.h"

std::optional<std::string> DecodePercentEscapes(std::string_view text,
                                                const PercentDecodingRules& rules) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
      const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
      if (low >= 0) {
        c = static_cast<char>(high * 16 + low);
        i += 2;
      } else if (rules.refuse_bad_escape) {
        return std::nullopt;
      }
    } else if (c == '+' && rules.plus_is_space) {
      c = ' ';
    }
    if (c == '\0' && rules.refuse_nul) return std::nullopt;
    bytes += c;
  }
  return bytes;
}
