#include "console/check_domain.h"

#include <string>
#include <vector>

#include "console/fetch_page_text.h"
#include "platform/win/codepage.h"

namespace {

// Splits "a;b;" into its items; false at an empty item. `text` ends in ";".
bool SplitDomainItems(std::string_view text, std::vector<std::string_view>& items) {
  size_t start = 0;
  for (size_t separator; (separator = text.find(';', start)) != std::string_view::npos;
       start = separator + 1) {
    if (separator == start) return false;
    items.push_back(text.substr(start, separator - start));
  }
  return true;
}

}  // namespace

HRESULT CheckDomainList(std::string_view domains, LONG* plRet) {
  if (!plRet) return E_POINTER;
  *plRet = 1;
  if (domains.find(';') == std::string_view::npos) return S_OK;
  *plRet = 0;
  std::string text(domains);
  if (text.back() != ';') text += ';';
  std::vector<std::string_view> items;
  if (!SplitDomainItems(text, items)) return S_FALSE;

  std::string first = FetchPageText(items.front());
  if (first.empty()) return S_FALSE;
  for (size_t i = 1; i < items.size(); ++i) {
    if (FetchPageText(items[i]) != first) return S_FALSE;
  }
  *plRet = 1;
  return S_OK;
}

HRESULT CheckDomain(BSTR bszDomain, LONG* plRet) {
  return CheckDomainList(WideToAnsi(BstrView(bszDomain)), plRet);
}
