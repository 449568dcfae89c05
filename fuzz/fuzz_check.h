// What every fuzz target shares: FUZZ_CHECK(condition, message) aborts with
// the message, the file and the line when a property does not hold, so that
// libFuzzer keeps the input as a finding. FuzzInput splits one input into
// several texts without losing a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition, message)                                                       \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: property failed: %s (%s)\n", __FILE__, __LINE__, message, \
                   #condition);                                                              \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

namespace zelto::fuzz {

// Reads an input as a sequence of pieces separated by a NUL byte; the last
// piece runs to the end, missing pieces are empty.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  std::string_view Next() {
    const size_t nul = rest_.find('\0');
    std::string_view piece = rest_.substr(0, nul);
    rest_ = nul == std::string_view::npos ? std::string_view() : rest_.substr(nul + 1);
    return piece;
  }
  // One byte as a choice (0 when the input is used up).
  uint8_t Byte() {
    if (rest_.empty()) return 0;
    const uint8_t b = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

}  // namespace zelto::fuzz
