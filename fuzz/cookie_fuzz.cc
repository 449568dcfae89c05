// The host's cookie handling: reading a cookie out of a Cookie header, and
// the signed ZVISITOR cookie, which only its genuine value passes.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "host/serve/http_text.h"
#include "host/serve/visitor_cookie.h"

namespace {

const zelto::serve::VisitorCookie& Cookie() {
  static const zelto::serve::VisitorCookie cookie("a site secret of the fuzz target");
  return cookie;
}

void CheckCookieHeader(std::string_view header, std::string_view name) {
  const std::string value = zelto::serve::CookieValue(header, name);
  if (!value.empty()) {
    FUZZ_CHECK(header.find(std::string(name) + "=" + value) != std::string_view::npos,
               "a cookie value that is not in the header");
    FUZZ_CHECK(value.find(';') == std::string::npos, "a cookie value runs into the next cookie");
  }
  if (header.find(name) == std::string_view::npos)
    FUZZ_CHECK(value.empty(), "a value for a cookie the header does not name");
}

void CheckVisitorCookie(std::string_view value, uint8_t flip) {
  if (auto label = Cookie().Check(value)) {
    FUZZ_CHECK(zelto::serve::IsVisitorLabel(*label), "a checked label has the wrong shape");
    FUZZ_CHECK(Cookie().Sign(*label) == value, "a value other than the genuine one verified");
  }
  const std::string_view label = value.substr(0, value.find('.'));
  if (!zelto::serve::IsVisitorLabel(label)) return;
  std::string genuine = Cookie().Sign(label);
  FUZZ_CHECK(Cookie().Check(genuine) == std::string(label), "a genuine cookie was refused");
  genuine[flip % genuine.size()] ^= static_cast<char>(1 + (flip >> 5));
  FUZZ_CHECK(!Cookie().Check(genuine), "an altered cookie verified");
  FUZZ_CHECK(!zelto::serve::VisitorCookie("another secret").Check(Cookie().Sign(label)),
             "a cookie signed with another secret verified");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zelto::fuzz::FuzzInput input(data, size);
  const uint8_t flip = input.Byte();
  const std::string_view name = input.Next();
  const std::string_view header = input.Rest();
  CheckCookieHeader(header, "ZSESSIONID");
  CheckCookieHeader(header, "ZVISITOR");
  if (!name.empty()) CheckCookieHeader(header, name);
  CheckVisitorCookie(zelto::serve::CookieValue(header, "ZVISITOR"), flip);
  CheckVisitorCookie(header, flip);
  return 0;
}
