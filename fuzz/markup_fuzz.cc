// The message text functions: %u decoding, HTML escaping, face codes and link
// markers, in UTF-8 and in GBK (the first byte chooses the code page).
#include <cstdint>
#include <string>
#include <string_view>

#include "chat/markup.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/markup_properties.h"
#include "platform/win/codepage.h"
#include "text/html_escape.h"

namespace {

using zelto::fuzz::AsText;

bool HasHtmlSpecial(std::string_view text) {
  return text.find_first_of("&<>\"'") != std::string_view::npos;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void CheckDecode(std::string_view text) {
  const std::string decoded = DecodeUnicodeEscapes(text);
  FUZZ_CHECK(decoded.size() <= text.size(), "decoding lengthened the text");
  if (text.size() < 6 || !text.starts_with("%u"))
    FUZZ_CHECK(decoded == text, "a text that is not an escape sequence changed");
  // Escapes of any units, surrogate halves in any order included, decode on
  // UTF-8 to well-formed UTF-8: a pair is one character, a lone half U+FFFD.
  if (GetACP() == CP_UTF8 && IsAscii(text))
    FUZZ_CHECK(WideToUtf8(Utf8ToWide(decoded)) == decoded, "decoding made malformed UTF-8");
}

void CheckEscape(std::string_view text) {
  const std::string escaped = HtmlEscape(text);
  FUZZ_CHECK(escaped.find_first_of("<>\"'") == std::string::npos, "raw markup byte after escaping");
  FUZZ_CHECK(zelto::fuzz::HtmlUnescape(escaped) == text, "escaping lost or changed bytes");
  if (!HasHtmlSpecial(text)) FUZZ_CHECK(escaped == text, "plain text changed by escaping");
}

void CheckMarkers(std::string_view text) {
  const std::string escaped = HtmlEscape(text);
  const std::string faces = ConvertFaceCodes(escaped);
  FUZZ_CHECK(zelto::fuzz::OnlyMessageMarkup(faces), "face codes made unexpected markup");
  FUZZ_CHECK(faces.find("<a") == std::string::npos, "face codes made an anchor");
  const std::string linked = ConvertLinkMarkers(escaped);
  FUZZ_CHECK(zelto::fuzz::OnlyMessageMarkup(linked), "link markers made unexpected markup");
  FUZZ_CHECK(zelto::fuzz::AllLinksSafe(linked), "a link can run script");
  FUZZ_CHECK(ConvertLinkMarkers(escaped) == linked, "link markers are not deterministic");
  if (text.find('#') == std::string_view::npos)
    FUZZ_CHECK(linked == escaped, "a text without markers changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SetAnsiCodePage(data[0] & 1 ? CP_GBK : CP_UTF8);
  const std::string_view text = AsText(data + 1, size - 1);
  CheckDecode(text);
  CheckEscape(text);
  CheckMarkers(text);
  return 0;
}
