#include "host/serve/random_bytes.h"

#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace zelto::serve {

std::optional<std::string> RandomHex(size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (bytes > 0 && RAND_bytes(random.data(), static_cast<int>(bytes)) != 1) return std::nullopt;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes);
  for (unsigned char b : random) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::string RandomHex128() {
  std::optional<std::string> hex = RandomHex(16);
  if (!hex) throw std::runtime_error("no random bytes (RAND_bytes failed)");
  return *hex;
}

}  // namespace zelto::serve
