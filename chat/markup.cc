#include "chat/markup.h"

#include <array>
#include <cstdlib>
#include <string>

#include "platform/win/codepage.h"
#include "text/ansi_search.h"

namespace {

constexpr std::string_view kLinkOpen = "#link#";
constexpr std::string_view kLinkMid = "#link_mid#";
constexpr std::string_view kLinkEnd = "#link_end#";
// A marker left as text is written with its '#' as an entity: the page shows
// it as sent, and no later pass can take it for a marker or a face code.
constexpr std::string_view kLinkOpenAsText = "&#35;link&#35;";
constexpr std::string_view kLinkMidAsText = "&#35;link_mid&#35;";
constexpr int kFaceCount = 56;

struct FaceCode {
  std::string code;  // ":#7#"
  std::string tag;   // "<img src='images/face/7.gif' border=0>"
};

// Written once: every message of every poll goes through all of them.
const std::array<FaceCode, kFaceCount>& FaceCodes() {
  static const std::array<FaceCode, kFaceCount> codes = [] {
    std::array<FaceCode, kFaceCount> made;
    for (int k = 0; k < kFaceCount; ++k) {
      made[k].code = ":#" + std::to_string(k) + "#";
      made[k].tag = "<img src='images/face/" + std::to_string(k) + ".gif' border=0>";
    }
    return made;
  }();
  return codes;
}

// The code unit of the escape whose four digits start at `digits`.
char16_t ReadEscapeUnit(std::string_view digits) {
  char buffer[5] = {digits[0], digits[1], digits[2], digits[3], '\0'};
  return static_cast<char16_t>(std::strtol(buffer, nullptr, 16) & 0xFFFF);
}

// Whether a whole escape ("%u" and four more bytes) starts at `i`.
bool IsEscapeAt(std::string_view text, size_t i) {
  return i + 5 < text.size() && text[i] == '%' && text[i + 1] == 'u';
}

// Appends one character of one or two code units (a surrogate pair) in the
// ANSI code page; nothing for the unit 0.
void AppendCharacter(std::string& out, const char16_t* units, int count) {
  if (count == 1 && units[0] == 0) return;
  // Room for any character: a double-byte code page never needs more than
  // two bytes, UTF-8 three for one unit and four for a pair.
  char bytes[4];
  int written = WideCharToMultiByte(CP_ACP, 0, units, count, bytes, sizeof bytes, nullptr, nullptr);
  if (written > 0) out.append(bytes, written);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Where the address after the "#link#" that ends at `start` stops: at the
// next "#link_mid#" or "#link#" (whichever comes first), else at the end.
size_t AddressEnd(std::string_view text, size_t start) {
  for (size_t pos = start; pos < text.size(); pos += AnsiCharLength(text, pos)) {
    std::string_view rest = text.substr(pos);
    if (rest.starts_with(kLinkMid) || rest.starts_with(kLinkOpen)) return pos;
  }
  return text.size();
}

// The first marker pass: every "#link#" with a safe address opens an anchor.
std::string ConvertLinkOpenings(std::string_view text) {
  std::string out;
  size_t copied = 0;
  for (size_t hit = FindAnsi(text, kLinkOpen); hit != std::string_view::npos;
       hit = FindAnsi(text, kLinkOpen, copied)) {
    out.append(text, copied, hit - copied);
    size_t address = hit + kLinkOpen.size();
    size_t end = AddressEnd(text, address);
    if (IsSafeLinkAddress(text.substr(address, end - address))) {
      out += "<a target='_blank' href='";
      copied = address;
      continue;
    }
    out += kLinkOpenAsText;
    out.append(text, address, end - address);
    copied = end;
    if (text.substr(end).starts_with(kLinkMid)) {
      out += kLinkMidAsText;
      copied = end + kLinkMid.size();
    }
  }
  out.append(text, copied);
  return out;
}

}  // namespace

std::string DecodeUnicodeEscapes(std::string_view text) {
  const size_t n = text.size();
  if (n < 6 || !text.starts_with("%u")) return std::string(text);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n;) {
    if (IsEscapeAt(text, i)) {
      // A character beyond the Basic Multilingual Plane comes as two
      // escapes, a high and a low surrogate: converted together, they are
      // one character (an emoji), not two defaults.
      char16_t units[2] = {ReadEscapeUnit(text.substr(i + 2, 4)), 0};
      int count = 1;
      if (IsHighSurrogate(units[0]) && IsEscapeAt(text, i + 6)) {
        units[1] = ReadEscapeUnit(text.substr(i + 8, 4));
        if (IsLowSurrogate(units[1])) count = 2;
      }
      AppendCharacter(out, units, count);
      i += 6 * count;
    } else {
      out += text[i];
      ++i;
    }
  }
  return out;
}

bool IsSafeLinkAddress(std::string_view address) {
  if (StartsWithNoCase(address, "http://") || StartsWithNoCase(address, "https://")) return true;
  size_t scheme_end = address.find(':');
  return scheme_end == std::string_view::npos ||
         address.find_first_of("/?#") < scheme_end;
}

std::string ConvertLinkMarkers(std::string_view text) {
  std::string converted = ConvertLinkOpenings(text);
  converted = ReplaceAllAnsi(converted, kLinkMid, "'>");
  converted = ReplaceAllAnsi(converted, kLinkEnd, "</a>");
  return ConvertFaceCodes(converted);
}

std::string ConvertFaceCodes(std::string_view text) {
  std::string converted(text);
  // Most messages hold few face codes or none: a pass whose code is not
  // even in the bytes is skipped before it copies the text.
  if (converted.find(":#") == std::string::npos) return converted;
  for (const FaceCode& face : FaceCodes()) {
    if (converted.find(face.code) == std::string::npos) continue;
    converted = ReplaceAllAnsi(converted, face.code, face.tag);
  }
  return converted;
}
