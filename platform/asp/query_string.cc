#include "platform/asp/query_string.h"

#include "platform/asp/percent_decoding.h"
#include "platform/com/ascii.h"
#include "platform/win/codepage.h"

namespace {

// '+' is a blank; a bad escape and a NUL stay as they are (the page context
// cuts a value at its first NUL, as it does for every value it reads).
constexpr PercentDecodingRules kQueryRules{
    .plus_is_space = true, .refuse_bad_escape = false, .refuse_nul = false};

std::u16string Decode(std::string_view text, PageCharset charset) {
  const std::string bytes = *DecodePercentEscapes(text, kQueryRules);
  if (bytes.empty()) return {};
  const UINT code_page = CodePageOf(charset);
  const int size =
      MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string wide(size, u'\0');
  MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                      size);
  return wide;
}

}  // namespace

std::optional<PageCharset> PageCharsetFromName(std::string_view name) {
  const std::string folded = LowerAscii(name);
  if (folded == "utf-8" || folded == "utf8") return PageCharset::kUtf8;
  if (folded == "gbk" || folded == "cp936") return PageCharset::kGbk;
  return std::nullopt;
}

unsigned CodePageOf(PageCharset charset) { return charset == PageCharset::kGbk ? CP_GBK : CP_UTF8; }

NamedValues ParseQueryString(std::string_view query, PageCharset charset) {
  if (!query.empty() && query.front() == '?') query.remove_prefix(1);
  NamedValues values;
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (piece.empty()) continue;
    const size_t eq = piece.find('=');
    const std::string_view key = piece.substr(0, eq);
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
    values.emplace_back(Decode(key, charset), Decode(value, charset));
  }
  return values;
}

bool KeysEqual(std::u16string_view a, std::u16string_view b) { return EqualsIgnoreCase(a, b); }

const std::u16string* FindValue(const NamedValues& values, std::u16string_view key) {
  for (const auto& [name, value] : values)
    if (KeysEqual(name, key)) return &value;
  return nullptr;
}
