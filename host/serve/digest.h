// SHA-256 digests over OpenSSL, written as lower-case hex: the visitor
// cookie's MAC, webhook signatures and stored API key hashes. Empty when
// OpenSSL fails (it does not for these inputs in practice).
#pragma once

#include <string>
#include <string_view>

namespace zelto::serve {

std::string Sha256Hex(std::string_view data);
std::string HmacSha256Hex(std::string_view key, std::string_view data);
// Whether two texts are equal, in a time that does not depend on where they
// differ (for secrets; lengths may leak).
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace zelto::serve
