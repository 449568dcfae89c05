#include "host/serve/page_input.h"

#include <cstring>
#include <system_error>

#include "platform/win/codepage.h"

namespace zelto::serve {
namespace {

bool TakesAttachment(const ComponentPage& page) {
  return std::strcmp(page.method, "DoClientMsg") == 0 || std::strcmp(page.method, "DoUserMsg") == 0;
}

}  // namespace

bool IsStoredFileName(std::string_view name) {
  if (name.empty() || name.size() > 120 || name.front() == '.') return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string RefusedPageInput(const ComponentPage& page, std::string_view query, PageCharset charset,
                             const std::filesystem::path& files_dir) {
  if (query.find("%00") != std::string_view::npos) return "the request holds a NUL character (%00)";
  if (!TakesAttachment(page)) return "";
  const NamedValues values = ParseQueryString(query, charset);
  const std::u16string* adjunct = FindValue(values, u"adjunct");
  if (!adjunct || adjunct->empty()) return "";
  const std::string name = WideToUtf8(*adjunct);
  std::error_code ec;
  if (!IsStoredFileName(name) || !std::filesystem::is_regular_file(files_dir / name, ec))
    return "adjunct must be the name of an uploaded file";
  return "";
}

}  // namespace zelto::serve
