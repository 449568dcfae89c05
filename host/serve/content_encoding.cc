#include "host/serve/content_encoding.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>

#include "platform/com/ascii.h"

namespace zelto::serve {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Calls `each` with every comma-separated element of a header's list,
// trimmed; empty elements are skipped. Stops when `each` returns true.
template <typename Each>
bool AnyListElement(std::string_view list, Each each) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view element = Trim(list.substr(0, comma));
    if (!element.empty() && each(element)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// The quality of a coding element ("gzip;q=0.5"): 1 without a q parameter,
// 0 for a q of zero ("0", "0.0", "0.000") or one that is not a number.
bool QualityAboveZero(std::string_view parameters) {
  while (!parameters.empty()) {
    const size_t semicolon = parameters.find(';');
    const std::string_view parameter = Trim(parameters.substr(0, semicolon));
    if (parameter.size() >= 2 && (parameter[0] == 'q' || parameter[0] == 'Q') &&
        parameter[1] == '=') {
      const std::string_view value = Trim(parameter.substr(2));
      if (value.empty() || (value[0] != '0' && value[0] != '1')) return false;
      return value.find_first_of("123456789") != std::string_view::npos;
    }
    if (semicolon == std::string_view::npos) break;
    parameters.remove_prefix(semicolon + 1);
  }
  return true;
}

std::string_view OpaqueTag(std::string_view tag) {
  tag = Trim(tag);
  if (tag.size() >= 2 && tag[0] == 'W' && tag[1] == '/') tag.remove_prefix(2);
  return tag;
}

}  // namespace

bool AcceptsGzip(std::string_view accept_encoding) {
  return AnyListElement(accept_encoding, [](std::string_view element) {
    const size_t semicolon = element.find(';');
    const std::string_view name = Trim(element.substr(0, semicolon));
    if (!EqualsIgnoreCase(name, "gzip") && !EqualsIgnoreCase(name, "x-gzip") && name != "*")
      return false;
    return semicolon == std::string_view::npos || QualityAboveZero(element.substr(semicolon + 1));
  });
}

bool IsCompressible(std::string_view content_type) {
  const std::string type = LowerAscii(Trim(content_type.substr(0, content_type.find(';'))));
  return type.rfind("text/", 0) == 0 || type == "application/json" ||
         type == "application/javascript" || type == "image/svg+xml" ||
         type == "application/xml";
}

std::optional<std::string> Gzip(std::string_view body) {
  z_stream stream{};
  // 15 window bits + 16: the gzip wrapper; memory level 8 as zlib's default.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return std::nullopt;
  std::string out(deflateBound(&stream, body.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  stream.avail_in = static_cast<uInt>(body.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  const size_t written = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) return std::nullopt;
  out.resize(written);
  return out;
}

std::string EntityTag(std::string_view body) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : body) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  char tag[64];
  std::snprintf(tag, sizeof tag, "\"z%016llx-%zx\"", static_cast<unsigned long long>(hash),
                body.size());
  return tag;
}

bool MatchesEntityTag(std::string_view if_none_match, std::string_view tag) {
  if (Trim(if_none_match) == "*") return true;
  const std::string_view wanted = OpaqueTag(tag);
  return AnyListElement(if_none_match,
                        [wanted](std::string_view element) { return OpaqueTag(element) == wanted; });
}

}  // namespace zelto::serve
