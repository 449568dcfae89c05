// BSTR: length-prefixed UTF-16 text, as OLE Automation lays it out: a 32-bit
// byte count immediately before the first character, and a terminating NUL
// after the last. A null BSTR is an empty string.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/hresult.h"

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

// Copies a NUL-terminated string; null in gives null out.
BSTR SysAllocString(const OLECHAR* text);
// Copies `length` characters (embedded NULs kept); null text gives zeros.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// Number of characters, not counting the terminator; 0 for null.
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
void SysFreeString(BSTR text);

// Conveniences for C++ callers (not part of the Windows API).
BSTR SysAllocStringView(std::u16string_view text);
inline std::u16string_view BstrView(BSTR text) {
  return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}

// Owns a BSTR made from `text` (embedded NULs kept) for the length of one
// call that borrows it; frees it when it goes.
class ScopedBstr {
 public:
  explicit ScopedBstr(std::u16string_view text) : text_(SysAllocStringView(text)) {}
  ~ScopedBstr() { SysFreeString(text_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR get() const { return text_; }

 private:
  BSTR text_;
};
