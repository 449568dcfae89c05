// The page framework's query-string parser (platform/asp) and the host's
// form parser and percent-decoding (host/serve): no key that was not in the
// input, no pair lost, and encode -> parse round trips.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "host/serve/http_text.h"
#include "platform/asp/query_string.h"

namespace {

bool IsPlainAscii(std::string_view text) {
  for (char c : text)
    if (c == '%' || c == '+' || static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

void CheckQueryString(std::string_view query, PageCharset charset) {
  const NamedValues values = ParseQueryString(query, charset);
  std::string_view rest = query;
  if (!rest.empty() && rest.front() == '?') rest.remove_prefix(1);
  size_t index = 0;
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view piece = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (piece.empty()) continue;
    FUZZ_CHECK(index < values.size(), "a pair of the query was lost");
    const size_t eq = piece.find('=');
    const std::string_view raw_key = piece.substr(0, eq);
    if (IsPlainAscii(raw_key))
      FUZZ_CHECK(values[index].first == std::u16string(raw_key.begin(), raw_key.end()),
                 "a key differs from the input's");
    if (eq == std::string_view::npos)
      FUZZ_CHECK(values[index].second.empty(), "a key without '=' has a value");
    const std::u16string* found = FindValue(values, values[index].first);
    FUZZ_CHECK(found != nullptr && found <= &values[index].second, "lookup missed the first value");
    ++index;
  }
  FUZZ_CHECK(index == values.size(), "the parser returned pairs that were not in the input");
}

void CheckForm(std::string_view body) {
  const std::map<std::string, std::string> form = zelto::serve::ParseForm(body);
  std::string encoded;
  for (const auto& [key, value] : form) {
    FUZZ_CHECK(key.find('\0') == std::string::npos && value.find('\0') == std::string::npos,
               "a decoded NUL was accepted");
    if (!encoded.empty()) encoded += '&';
    encoded += PercentEncode(key) + "=" + PercentEncode(value);
  }
  FUZZ_CHECK(zelto::serve::ParseForm(encoded) == form, "form encode -> parse does not round trip");

  const auto decoded = zelto::serve::PercentDecode(body, true);
  if (decoded) {
    FUZZ_CHECK(decoded->size() <= body.size(), "decoding lengthened the text");
    FUZZ_CHECK(zelto::serve::PercentDecode(PercentEncode(*decoded), false) == decoded,
               "percent encode -> decode does not round trip");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = zelto::fuzz::AsText(data, size);
  CheckQueryString(text, PageCharset::kUtf8);
  CheckQueryString(text, PageCharset::kGbk);
  CheckForm(text);
  return 0;
}
