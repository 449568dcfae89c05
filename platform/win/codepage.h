// The process's ANSI code page and conversions between it and UTF-16, through
// iconv. The code page is 936 (GBK) unless ZELTO_CODEPAGE names another
// (936, 65001 for UTF-8) or the host calls SetAnsiCodePage before any use.
// A character the code page cannot represent becomes "?".
#pragma once

#include <string>
#include <string_view>

#include "platform/com/hresult.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr UINT CP_GBK = 936;

UINT GetACP();
// The code page a name gives: a number ("936", "65001") or "utf-8", "utf8",
// "gbk", "cp936" (any case); 0 when it names none this system can convert.
UINT ParseCodePage(std::string_view name);
// Returns false (and changes nothing) for a code page iconv cannot serve.
bool SetAnsiCodePage(UINT code_page);

// The Windows calls, with their length conventions: a source length of -1
// means NUL-terminated (the terminator is converted too); a destination size
// of 0 asks for the required size. Returns the number of units written (or
// required), 0 on failure.
int WideCharToMultiByte(UINT code_page, DWORD flags, const char16_t* src, int src_len,
                        char* dst, int dst_size, const char* default_char, BOOL* used_default);
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* src, int src_len,
                        char16_t* dst, int dst_size);
// True when `byte` starts a two-byte character in the ANSI code page (always
// false for UTF-8, whose trailing bytes callers recognise themselves).
BOOL IsDBCSLeadByte(BYTE byte);

// The halves of a UTF-16 surrogate pair, and the character a pair stands for.
constexpr bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr char32_t SurrogatePairValue(char16_t high, char16_t low) {
  return 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (low - 0xDC00);
}

// Conveniences over the calls above.
std::string WideToAnsi(std::u16string_view text);
std::u16string AnsiToWide(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);
// The same into `out` (its content replaced, its storage reused).
void Utf8ToAnsi(std::string_view text, std::string& out);
std::string AnsiToUtf8(std::string_view text);
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

// A text of the system written in UTF-8 in the source, in the ANSI code page.
// Converted once per code page and cached; the reference stays valid.
const std::string& AnsiText(const char* utf8_literal);
