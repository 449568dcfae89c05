#include "host/serve/password.h"

#include <crypt.h>

#include <memory>

#include "host/serve/http_text.h"

namespace zelto::serve {

std::string HashPassword(std::string_view password) {
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt)) return {};
  auto data = std::make_unique<crypt_data>();
  const char* hash = crypt_r(std::string(password).c_str(), salt, data.get());
  if (!hash || hash[0] == '*') return {};
  return hash;
}

bool CheckPassword(std::string_view password, const std::string& hash) {
  if (hash.empty() || hash[0] == '*' || password.find('\0') != std::string_view::npos) return false;
  auto data = std::make_unique<crypt_data>();
  const char* computed = crypt_r(std::string(password).c_str(), hash.c_str(), data.get());
  if (!computed || computed[0] == '*') return false;
  return SameToken(computed, hash);
}

}  // namespace zelto::serve
