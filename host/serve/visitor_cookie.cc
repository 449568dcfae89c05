#include "host/serve/visitor_cookie.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace zelto::serve {

bool IsVisitorLabel(std::string_view label) {
  if (label.empty() || label.size() > 50) return false;
  for (char c : label) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum) return false;
  }
  return true;
}

std::string VisitorCookie::Mac(std::string_view label) const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), secret_.data(), static_cast<int>(secret_.size()),
            reinterpret_cast<const unsigned char*>(label.data()), label.size(), digest, &length))
    return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

std::string VisitorCookie::Sign(std::string_view label) const {
  return std::string(label) + "." + Mac(label);
}

std::optional<std::string> VisitorCookie::Check(std::string_view value) const {
  const size_t dot = value.find('.');
  if (dot == std::string_view::npos || secret_.empty()) return std::nullopt;
  const std::string_view label = value.substr(0, dot);
  const std::string_view given = value.substr(dot + 1);
  if (!IsVisitorLabel(label)) return std::nullopt;
  const std::string expected = Mac(label);
  if (expected.empty() || given.size() != expected.size() ||
      CRYPTO_memcmp(given.data(), expected.data(), expected.size()) != 0)
    return std::nullopt;
  return std::string(label);
}

}  // namespace zelto::serve
