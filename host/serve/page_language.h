// PageLanguages: the languages the site's pages speak, one catalog file each
// (www/i18n/LANG.json, an object of key to text), which language a request
// gets, and the script that tells the pages.
//
// A request's language is the "zlang" cookie when it names a catalog (the
// pages' language switch sets it), else the best match of Accept-Language
// (by quality, then order; a tag matches a catalog by its primary subtag),
// else "zh". The host gives the component pages of the session the same
// language as the session value "ZeltoLanguage", so the component's own texts
// follow the page.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/asp/query_string.h"
#include "text/text_catalog.h"

namespace zelto::serve {

inline constexpr char kLanguageCookie[] = "zlang";
inline constexpr char kDefaultPageLanguage[] = "zh";
// The path of the script that tells a page its language, texts and charset.
inline constexpr char kPageLanguageScript[] = "/i18n/page.js";

class PageLanguages {
 public:
  // Reads every LANG.json in `catalog_dir`; a file that is not an object of
  // strings is left out (and named in `problems`). A missing folder gives no
  // languages: every request then gets "zh" and no texts.
  explicit PageLanguages(const std::filesystem::path& catalog_dir,
                         std::vector<std::string>* problems = nullptr);

  std::string Choose(std::string_view cookie_header, std::string_view accept_language) const;

  // JavaScript that sets window.ZeltoPage = {language, dir, charset,
  // languages: [{code, name}], texts}. Sent with no-cache: it varies with
  // the request's cookie and Accept-Language.
  std::string Script(const std::string& language, PageCharset charset) const;

  // The text of `key` in `language` (UTF-8); the key itself when missing.
  std::string Text(const std::string& language, const std::string& key) const;

 private:
  using Catalog = std::map<std::string, std::string>;
  std::map<std::string, Catalog> catalogs_;  // by language code
};

}  // namespace zelto::serve
