#include "fuzz/markup_properties.h"

#include <cctype>

namespace zelto::fuzz {
namespace {

constexpr std::string_view kEntities[][2] = {
    {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}};

bool IsSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// Numeric and the five named entities, as far as the chat's output can hold them.
std::string DecodeEntities(std::string_view html) {
  std::string out;
  for (size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '&' && i + 2 < html.size() && html[i + 1] == '#') {
      size_t j = i + 2;
      unsigned value = 0;
      while (j < html.size() && std::isdigit(static_cast<unsigned char>(html[j])) && value < 0x110000)
        value = value * 10 + (html[j++] - '0');
      if (j > i + 2) {
        out += value < 0x80 ? static_cast<char>(value) : '?';
        i = j < html.size() && html[j] == ';' ? j : j - 1;
        continue;
      }
    }
    bool named = false;
    for (const auto& entity : kEntities) {
      if (html.substr(i).starts_with(entity[0])) {
        out += entity[1];
        i += entity[0].size() - 1;
        named = true;
        break;
      }
    }
    if (!named) out += html[i];
  }
  return out;
}

}  // namespace

std::string HtmlUnescape(std::string_view html) {
  std::string out;
  for (size_t i = 0; i < html.size(); ++i) {
    bool matched = false;
    for (const auto& entity : kEntities) {
      if (html.substr(i).starts_with(entity[0])) {
        out += entity[1];
        i += entity[0].size() - 1;
        matched = true;
        break;
      }
    }
    if (!matched) out += html[i];
  }
  return out;
}

bool OnlyMessageMarkup(std::string_view html) {
  static constexpr std::string_view kTags[] = {"<a target='_blank' href='", "</a>",
                                               "<img src='images/face/"};
  if (html.find('"') != std::string_view::npos) return false;
  for (size_t lt = html.find('<'); lt != std::string_view::npos; lt = html.find('<', lt + 1)) {
    bool known = false;
    for (std::string_view tag : kTags) known = known || html.substr(lt).starts_with(tag);
    if (!known) return false;
  }
  return true;
}

bool AllLinksSafe(std::string_view html) {
  constexpr std::string_view kHref = "href='";
  for (size_t at = html.find(kHref); at != std::string_view::npos; at = html.find(kHref, at + 1)) {
    const size_t start = at + kHref.size();
    const size_t end = html.find('\'', start);
    std::string url;
    for (char c : DecodeEntities(html.substr(start, end == std::string_view::npos ? end : end - start)))
      if (static_cast<unsigned char>(c) > ' ') url += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    std::string_view scheme = std::string_view(url).substr(0, colon);
    bool is_scheme = std::isalpha(static_cast<unsigned char>(scheme[0]));
    for (char c : scheme) is_scheme = is_scheme && IsSchemeChar(c);
    if (is_scheme && scheme != "http" && scheme != "https") return false;
  }
  return true;
}

}  // namespace zelto::fuzz
