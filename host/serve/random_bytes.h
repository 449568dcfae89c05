// The host's one source of secrets: OpenSSL's RAND_bytes (a generator the
// kernel seeds), written as lower-case hex. Session ids, cross-site tokens,
// stored file names, the site secret and the visitor labels' host tag all
// come from here.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace zelto::serve {

// `bytes` random bytes as 2 * `bytes` hex digits; nullopt when the
// generator fails (it cannot be seeded).
std::optional<std::string> RandomHex(size_t bytes);

// 128 random bits as 32 hex digits (session ids, tokens). Throws
// std::runtime_error when the generator fails, which a running host never
// sees once its site secret was made.
std::string RandomHex128();

}  // namespace zelto::serve
