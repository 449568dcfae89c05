// Operator passwords: hashes made and checked by the system's crypt(3)
// (libcrypt; yescrypt for new hashes), never by a hash of our own. Checking
// takes the time the hash's method asks for, which is the point.
#pragma once

#include <string>
#include <string_view>

namespace zelto::serve {

// A new "$y$..." hash of `password` with a random salt; empty on failure.
std::string HashPassword(std::string_view password);
// True when `password` matches `hash`; false for an empty or unusable hash.
bool CheckPassword(std::string_view password, const std::string& hash);

}  // namespace zelto::serve
