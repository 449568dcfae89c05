#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>

// Layout: [uint32 byte count][characters][NUL]; the BSTR points at the first
// character, so the count sits 4 bytes before it.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  const size_t bytes = sizeof(uint32_t) + (static_cast<size_t>(length) + 1) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(bytes));
  if (!block) return nullptr;
  const uint32_t byte_count = length * sizeof(OLECHAR);
  std::memcpy(block, &byte_count, sizeof byte_count);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
  if (text) {
    std::memcpy(chars, text, length * sizeof(OLECHAR));
  } else {
    std::memset(chars, 0, length * sizeof(OLECHAR));
  }
  chars[length] = u'\0';
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(std::char_traits<char16_t>::length(text)));
}

BSTR SysAllocStringView(std::u16string_view text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

UINT SysStringByteLen(BSTR text) {
  if (!text) return 0;
  uint32_t byte_count;
  std::memcpy(&byte_count, reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t),
              sizeof byte_count);
  return byte_count;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
}
