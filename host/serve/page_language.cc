#include "host/serve/page_language.h"

#include <boost/json/parse.hpp>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/serve/http_text.h"
#include "host/serve/json_answer.h"
#include "platform/com/ascii.h"

namespace zelto::serve {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  const size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

// The primary subtag of a language tag, in lower case ("zh" of "zh-CN").
std::string PrimarySubtag(std::string_view tag) {
  tag = TrimBlanks(tag);
  return LowerAscii(tag.substr(0, tag.find_first_of("-_")));
}

// The quality of one Accept-Language entry's parameters (";q=0.8"); 1 when
// none is given, 0 for a malformed one.
double Quality(std::string_view parameters) {
  const size_t q = parameters.find("q=");
  if (q == std::string_view::npos) return 1;
  const std::string number(TrimBlanks(parameters.substr(q + 2)));
  char* end = nullptr;
  const double quality = std::strtod(number.c_str(), &end);
  return end != number.c_str() && *end == '\0' && quality >= 0 && quality <= 1 ? quality : 0;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

PageLanguages::PageLanguages(const std::filesystem::path& catalog_dir,
                             std::vector<std::string>* problems) {
  std::error_code ec;
  for (const auto& file : std::filesystem::directory_iterator(catalog_dir, ec)) {
    if (file.path().extension() != ".json") continue;
    boost::system::error_code parse_error;
    const boost::json::value parsed = boost::json::parse(ReadFile(file.path()), parse_error);
    Catalog catalog;
    bool strings = !parse_error && parsed.is_object();
    if (strings) {
      for (const auto& [key, value] : parsed.as_object()) {
        if (!value.is_string()) strings = false;
        if (strings) catalog.emplace(key, value.as_string());
      }
    }
    if (!strings) {
      if (problems) problems->push_back(file.path().string() + ": not an object of strings");
      continue;
    }
    catalogs_.emplace(LowerAscii(file.path().stem().string()), std::move(catalog));
  }
}

std::string PageLanguages::Choose(std::string_view cookie_header,
                                  std::string_view accept_language) const {
  const std::string chosen = LowerAscii(CookieValue(cookie_header, kLanguageCookie));
  if (catalogs_.contains(chosen)) return chosen;
  std::string best = kDefaultPageLanguage;
  double best_quality = 0;
  while (!accept_language.empty()) {
    const size_t comma = accept_language.find(',');
    const std::string_view entry = accept_language.substr(0, comma);
    accept_language.remove_prefix(comma == std::string_view::npos ? accept_language.size()
                                                                  : comma + 1);
    const size_t semicolon = entry.find(';');
    const std::string code = PrimarySubtag(entry.substr(0, semicolon));
    const double quality =
        semicolon == std::string_view::npos ? 1 : Quality(entry.substr(semicolon));
    if (quality > best_quality && catalogs_.contains(code)) {
      best = code;
      best_quality = quality;
    }
  }
  return best;
}

std::string PageLanguages::Script(const std::string& language, PageCharset charset) const {
  boost::json::object page;
  page["language"] = language;
  page["dir"] = Text(language, "language.dir") == "rtl" ? "rtl" : "ltr";
  page["charset"] = charset == PageCharset::kGbk ? "gbk" : "utf-8";
  boost::json::array languages;
  for (const auto& [code, catalog] : catalogs_) {
    const auto name = catalog.find("language.name");
    languages.push_back(
        boost::json::object{{"code", code}, {"name", name == catalog.end() ? code : name->second}});
  }
  page["languages"] = std::move(languages);
  boost::json::object texts;
  if (const auto it = catalogs_.find(language); it != catalogs_.end()) {
    for (const auto& [key, text] : it->second) texts[key] = text;
  }
  page["texts"] = std::move(texts);
  return "window.ZeltoPage = " + JsonAnswer(page) + ";\n";
}

std::string PageLanguages::Text(const std::string& language, const std::string& key) const {
  const auto catalog = catalogs_.find(language);
  if (catalog == catalogs_.end()) return key;
  const auto text = catalog->second.find(key);
  return text == catalog->second.end() ? key : text->second;
}

}  // namespace zelto::serve
