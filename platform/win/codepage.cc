#include "platform/win/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/com/ascii.h"

// Conversion rules, the same in both directions:
//  - narrowing: a character the code page lacks, or a lone surrogate, becomes
//    the default character ("?", or U+FFFD's UTF-8 form when the target is
//    UTF-8); the rest of the text is still converted.
//  - widening: a byte that does not start a valid character of the code page
//    (including a sequence cut off at the end) becomes U+FFFD, and decoding
//    resumes at the next byte.
// ASCII text takes a shortcut: both supported code page families keep it as is.

namespace {

constexpr UINT kDefaultCodePage = CP_GBK;
constexpr char16_t kReplacement = u'\uFFFD';

// The iconv name of a code page, or empty when we do not know one.
std::string IconvName(UINT code_page) {
  switch (code_page) {
    case CP_UTF8:
      return "UTF-8";
    case CP_GBK:
      return "GBK";
    case 20127:
      return "ASCII";
    case 28591:
      return "ISO-8859-1";
    default:
      return "CP" + std::to_string(code_page);
  }
}

const char* WideIconvName() {
  return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

// iconv descriptors carry shift state and are not thread-safe: each thread
// keeps its own, opened on first use and closed when the thread ends.
class IconvCache {
 public:
  ~IconvCache() {
    for (auto& [key, cd] : descriptors_) iconv_close(cd);
  }
  // (iconv_t)-1 when iconv cannot serve the pair.
  iconv_t Get(UINT code_page, bool to_wide) {
    auto key = std::make_pair(code_page, to_wide);
    auto it = descriptors_.find(key);
    if (it == descriptors_.end()) {
      const std::string name = IconvName(code_page);
      iconv_t cd = to_wide ? iconv_open(WideIconvName(), name.c_str())
                           : iconv_open(name.c_str(), WideIconvName());
      it = descriptors_.emplace(key, cd).first;
    }
    if (it->second != reinterpret_cast<iconv_t>(-1))
      iconv(it->second, nullptr, nullptr, nullptr, nullptr);
    return it->second;
  }

 private:
  std::map<std::pair<UINT, bool>, iconv_t> descriptors_;
};

IconvCache& ThreadIconv() {
  thread_local IconvCache cache;
  return cache;
}

bool IsInvalid(iconv_t cd) { return cd == reinterpret_cast<iconv_t>(-1); }

bool IsAscii(const char* begin, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (static_cast<unsigned char>(begin[i]) >= 0x80) return false;
  return true;
}

bool IsAscii(const char16_t* begin, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (begin[i] >= 0x80) return false;
  return true;
}

// The length of the well-formed UTF-8 character at `at` (no overlong form,
// no surrogate, nothing above U+10FFFF), or 0 when the bytes there are not
// one.
size_t Utf8SequenceLength(const char* at, size_t left) {
  const auto* p = reinterpret_cast<const unsigned char*>(at);
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (p[0] < 0x80) return 1;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) {
    length = 2;
  } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    length = 3;
    if (p[0] == 0xE0) low = 0xA0;
    if (p[0] == 0xED) high = 0x9F;
  } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
    length = 4;
    if (p[0] == 0xF0) low = 0x90;
    if (p[0] == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

// Runs iconv over the whole input, calling `on_bad` at every position where
// it stops on an invalid or incomplete sequence. `on_bad` appends the
// replacement to `out` and returns how many input bytes to skip.
template <typename OnBad>
bool RunIconv(iconv_t cd, const char* in, size_t in_size, std::string& out, OnBad on_bad) {
  char* in_ptr = const_cast<char*>(in);
  size_t in_left = in_size;
  char buffer[1024];
  while (in_left > 0) {
    char* out_ptr = buffer;
    size_t out_left = sizeof buffer;
    const size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    out.append(buffer, out_ptr - buffer);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno != EILSEQ && errno != EINVAL) return false;
    const size_t skip = std::min(on_bad(in_ptr, in_left, out), in_left);
    in_ptr += skip;
    in_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state (none for the code pages we serve, but cheap).
  char* out_ptr = buffer;
  size_t out_left = sizeof buffer;
  iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
  out.append(buffer, out_ptr - buffer);
  return true;
}

UINT ResolveCodePage(UINT code_page) { return code_page == CP_ACP ? GetACP() : code_page; }

// Narrowing; false only when iconv cannot serve the code page.
bool Narrow(UINT code_page, std::u16string_view text, const char* default_char, std::string& out,
            bool* used_default) {
  out.clear();
  if (used_default) *used_default = false;
  if (IsAscii(text.data(), text.size())) {
    out.resize(text.size());
    std::copy(text.begin(), text.end(), out.begin());
    return true;
  }
  iconv_t cd = ThreadIconv().Get(code_page, false);
  if (IsInvalid(cd)) return false;
  const std::string replacement =
      default_char ? std::string(default_char, 1)
                   : (code_page == CP_UTF8 ? std::string("\xEF\xBF\xBD") : std::string("?"));
  auto on_bad = [&](const char* at, size_t left, std::string& sink) -> size_t {
    if (used_default) *used_default = true;
    sink += replacement;
    char16_t unit;
    if (left < sizeof unit) return left;
    std::memcpy(&unit, at, sizeof unit);
    // A valid surrogate pair the code page lacks is one character: skip both.
    if (IsHighSurrogate(unit) && left >= 2 * sizeof unit) {
      char16_t next;
      std::memcpy(&next, at + sizeof unit, sizeof next);
      if (IsLowSurrogate(next)) return 2 * sizeof unit;
    }
    return sizeof unit;
  };
  return RunIconv(cd, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t),
                  out, on_bad);
}

bool IsStateless(UINT code_page);
bool IsLeadByteIn(UINT code_page, unsigned char byte);

// Widening `text` as one piece; false only when iconv fails.
bool WidenWhole(iconv_t cd, std::string_view text, std::u16string& out) {
  auto on_bad = [](const char*, size_t, std::string& sink) -> size_t {
    const char16_t replacement = kReplacement;
    sink.append(reinterpret_cast<const char*>(&replacement), sizeof replacement);
    return 1;
  };
  std::string bytes;
  if (!RunIconv(cd, text.data(), text.size(), bytes, on_bad)) return false;
  const size_t start = out.size();
  out.resize(start + bytes.size() / sizeof(char16_t));
  std::memcpy(out.data() + start, bytes.data(), (out.size() - start) * sizeof(char16_t));
  return true;
}

// Widening a mostly ASCII text of a code page whose ASCII bytes at a
// character's start are always characters of their own (pages are mostly
// ASCII markup): ASCII is copied, and only the runs of other characters go
// through iconv. False, with `out` undefined, at the first malformed or
// unmappable byte, where a run's end could differ from where iconv would
// resume: the caller then converts the whole text.
bool WidenByRuns(UINT code_page, iconv_t cd, std::string_view text, std::u16string& out) {
  bool malformed = false;
  auto on_bad = [&malformed](const char*, size_t left, std::string&) -> size_t {
    malformed = true;
    return left;  // the rest of the run: the caller starts over anyway
  };
  auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  std::string bytes;
  size_t i = 0;
  while (i < text.size()) {
    const size_t run = std::find_if(text.begin() + i, text.end(),
                                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) -
                       text.begin();
    out.append(text.begin() + i, text.begin() + run);
    if (run == text.size()) break;
    size_t end = run;
    while (end < text.size() && byte(end) >= 0x80) end += IsLeadByteIn(code_page, byte(end)) ? 2 : 1;
    end = std::min(end, text.size());
    bytes.clear();
    if (!RunIconv(cd, text.data() + run, end - run, bytes, on_bad) || malformed) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      return false;
    }
    const size_t at = out.size();
    out.resize(at + bytes.size() / sizeof(char16_t));
    std::memcpy(out.data() + at, bytes.data(), (out.size() - at) * sizeof(char16_t));
    i = end;
  }
  return true;
}

// Widening; false only when iconv cannot serve the code page.
bool Widen(UINT code_page, std::string_view text, std::u16string& out) {
  out.clear();
  if (IsAscii(text.data(), text.size())) {
    out.assign(text.begin(), text.end());
    return true;
  }
  iconv_t cd = ThreadIconv().Get(code_page, true);
  if (IsInvalid(cd)) return false;
  if ((IsStateless(code_page) || code_page == CP_UTF8) && WidenByRuns(code_page, cd, text, out)) {
    return true;
  }
  out.clear();
  return WidenWhole(cd, text, out);
}

// The character of a well-formed UTF-8 sequence of `length` bytes.
char32_t DecodeUtf8(const char* at, size_t length) {
  const auto* p = reinterpret_cast<const unsigned char*>(at);
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = p[0] & kLeadBits[length];
  for (size_t i = 1; i < length; ++i) c = c << 6 | (p[i] & 0x3F);
  return c;
}

// Whether `byte` starts a two-byte character in `code_page`.
bool IsLeadByteIn(UINT code_page, unsigned char byte) {
  switch (code_page) {
    case 936:  // GBK
    case 949:  // Unified Hangul
    case 950:  // Big5
      return byte >= 0x81 && byte <= 0xFE;
    case 932:  // Shift JIS
      return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    default:
      return false;
  }
}

// Code pages without shift states, whose characters convert one at a time.
bool IsStateless(UINT code_page) {
  switch (code_page) {
    case 874:
    case 932:
    case 936:
    case 949:
    case 950:
    case 20127:
    case 28591:
      return true;
    default:
      return code_page >= 1250 && code_page <= 1258;
  }
}

// What each character of the Basic Multilingual Plane becomes in one code
// page, learnt through iconv the first time the character is met, so that
// narrowing text afterwards costs a table look-up per character. Others
// (and the rare character longer than three bytes) go through iconv each time.
class CharacterTable {
 public:
  explicit CharacterTable(UINT code_page) : code_page_(code_page) {}
  UINT code_page() const { return code_page_; }

  void Append(char32_t c, std::string& out) {
    if (c > 0xFFFF) return AppendNarrowed(c, out);
    uint32_t entry = entries_[c].load(std::memory_order_relaxed);
    if (entry == 0) entry = Learn(c);
    if (entry == kThroughIconv) return AppendNarrowed(c, out);
    for (uint32_t i = 0, length = entry >> 24 & 3; i < length; ++i) {
      out += static_cast<char>(entry >> (8 * i) & 0xFF);
    }
  }

 private:
  // Entries: 0 until learnt; else the known bit, the length in bits 24-25
  // and the bytes from the lowest up.
  static constexpr uint32_t kKnown = 1u << 31;
  static constexpr uint32_t kThroughIconv = 1u << 30;

  // The slow paths stay out of the loop that calls Append.
  [[gnu::noinline]] void AppendNarrowed(char32_t c, std::string& out) {
    char16_t units[2];
    size_t count = 1;
    if (c > 0xFFFF) {
      units[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      count = 2;
    } else {
      units[0] = static_cast<char16_t>(c);
    }
    std::string bytes;
    Narrow(code_page_, std::u16string_view(units, count), nullptr, bytes, nullptr);
    out += bytes;
  }

  [[gnu::noinline]] uint32_t Learn(char32_t c) {
    const char16_t unit = static_cast<char16_t>(c);
    std::string bytes;
    Narrow(code_page_, std::u16string_view(&unit, 1), nullptr, bytes, nullptr);
    uint32_t entry = kThroughIconv;
    if (bytes.size() <= 3) {
      entry = kKnown | static_cast<uint32_t>(bytes.size()) << 24;
      for (size_t i = 0; i < bytes.size(); ++i) {
        entry |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
      }
    }
    // Threads that learn the same character store the same entry.
    entries_[c].store(entry, std::memory_order_relaxed);
    return entry;
  }

  const UINT code_page_;
  std::atomic<uint32_t> entries_[0x10000] = {};
};

// The table of a stateless code page iconv serves, or null. Tables live as
// long as the process.
CharacterTable* CharacterTableFor(UINT code_page) {
  static std::atomic<CharacterTable*> last{nullptr};
  CharacterTable* table = last.load(std::memory_order_acquire);
  if (table && table->code_page() == code_page) return table;
  if (!IsStateless(code_page) || IsInvalid(ThreadIconv().Get(code_page, false))) return nullptr;
  static auto* mutex = new std::mutex;
  static auto* tables = new std::map<UINT, CharacterTable*>;
  std::lock_guard lock(*mutex);
  CharacterTable*& entry = (*tables)[code_page];
  if (!entry) entry = new CharacterTable(code_page);
  last.store(entry, std::memory_order_release);
  return entry;
}

bool CanServe(UINT code_page) {
  return !IsInvalid(ThreadIconv().Get(code_page, true)) &&
         !IsInvalid(ThreadIconv().Get(code_page, false));
}

// ZELTO_CODEPAGE: a number (936, 65001, ...) or one of the names utf-8, gbk.
UINT CodePageFromEnvironment() {
  const char* value = std::getenv("ZELTO_CODEPAGE");
  if (!value || !*value) return kDefaultCodePage;
  const UINT code_page = ParseCodePage(value);
  if (code_page == 0) {
    std::fprintf(stderr,
                 "zelto: ZELTO_CODEPAGE=%s is not a code page this system can convert; "
                 "using %u\n",
                 value, kDefaultCodePage);
    return kDefaultCodePage;
  }
  return code_page;
}

std::atomic<UINT> g_code_page{0};
std::once_flag g_code_page_once;

// Copies `result` into a caller's buffer with the Windows size rules.
template <typename Char>
int CopyOut(const std::basic_string<Char>& result, Char* dst, int dst_size) {
  if (dst_size < 0) return 0;
  if (dst_size == 0) return static_cast<int>(result.size());
  if (!dst || result.size() > static_cast<size_t>(dst_size)) return 0;
  std::memcpy(dst, result.data(), result.size() * sizeof(Char));
  return static_cast<int>(result.size());
}

}  // namespace

UINT ParseCodePage(std::string_view name) {
  const std::string text = LowerAscii(name);
  UINT code_page = 0;
  if (text == "utf-8" || text == "utf8") {
    code_page = CP_UTF8;
  } else if (text == "gbk" || text == "cp936") {
    code_page = CP_GBK;
  } else {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) && *end == '\0' &&
        parsed > 0 && parsed <= 65535)
      code_page = static_cast<UINT>(parsed);
  }
  return code_page != 0 && CanServe(code_page) ? code_page : 0;
}

UINT GetACP() {
  // Asked once per character by the code-page-aware searches: once known,
  // the code page is read without the once-guard.
  if (const UINT known = g_code_page.load(std::memory_order_acquire)) return known;
  std::call_once(g_code_page_once, [] {
    UINT expected = 0;
    g_code_page.compare_exchange_strong(expected, CodePageFromEnvironment());
  });
  return g_code_page.load();
}

bool SetAnsiCodePage(UINT code_page) {
  if (code_page == CP_ACP || !CanServe(code_page)) return false;
  std::call_once(g_code_page_once, [] {});  // the environment no longer matters
  g_code_page.store(code_page);
  return true;
}

BOOL IsDBCSLeadByte(BYTE byte) { return IsLeadByteIn(GetACP(), byte); }

int WideCharToMultiByte(UINT code_page, DWORD flags, const char16_t* src, int src_len, char* dst,
                        int dst_size, const char* default_char, BOOL* used_default) {
  if (!src || src_len == 0 || src_len < -1) return 0;
  const size_t length =
      src_len == -1 ? std::char_traits<char16_t>::length(src) + 1 : static_cast<size_t>(src_len);
  std::string result;
  bool used = false;
  if (!Narrow(ResolveCodePage(code_page), std::u16string_view(src, length), default_char, result,
              &used))
    return 0;
  if (used_default) *used_default = used ? TRUE : FALSE;
  return CopyOut(result, dst, dst_size);
}

int MultiByteToWideChar(UINT code_page, DWORD flags, const char* src, int src_len, char16_t* dst,
                        int dst_size) {
  if (!src || src_len == 0 || src_len < -1) return 0;
  const size_t length = src_len == -1 ? std::strlen(src) + 1 : static_cast<size_t>(src_len);
  std::u16string result;
  if (!Widen(ResolveCodePage(code_page), std::string_view(src, length), result)) return 0;
  return CopyOut(result, dst, dst_size);
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  Narrow(GetACP(), text, nullptr, out, nullptr);
  return out;
}

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out;
  Widen(GetACP(), text, out);
  return out;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string out;
  Widen(CP_UTF8, text, out);
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  Narrow(CP_UTF8, text, nullptr, out, nullptr);
  return out;
}

std::string Utf8ToAnsi(std::string_view text) {
  std::string out;
  Utf8ToAnsi(text, out);
  return out;
}

void Utf8ToAnsi(std::string_view text, std::string& out) {
  if (IsAscii(text.data(), text.size())) {
    out.assign(text);
    return;
  }
  const UINT code_page = GetACP();
  CharacterTable* table = code_page == CP_UTF8 ? nullptr : CharacterTableFor(code_page);
  if (code_page != CP_UTF8 && !table) {
    out = WideToAnsi(Utf8ToWide(text));
    return;
  }
  // Character by character, with the result of going through UTF-16: a bad
  // byte is U+FFFD (and UTF-8 to UTF-8 repairs it so).
  out.clear();
  out.reserve(text.size());  // seldom longer than the UTF-8
  const char* p = text.data();
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(p + i, text.size() - i);
    if (length == 1) {
      size_t end = i + 1;
      while (end < text.size() && static_cast<unsigned char>(p[end]) < 0x80) ++end;
      out.append(p + i, end - i);
      i = end;
    } else if (code_page == CP_UTF8) {
      out.append(length ? std::string_view(p + i, length) : std::string_view("\xEF\xBF\xBD"));
      i += length ? length : 1;
    } else {
      table->Append(length ? DecodeUtf8(p + i, length) : kReplacement, out);
      i += length ? length : 1;
    }
  }
}

std::string AnsiToUtf8(std::string_view text) { return WideToUtf8(AnsiToWide(text)); }

const std::string& AnsiText(const char* utf8_literal) {
  // Keyed by content, not address: two copies of one literal share an entry.
  // unordered_map keeps element references valid as it grows.
  // Never destroyed, so references stay good during exit too.
  static auto* mutex = new std::mutex;
  static auto* cache = new std::map<UINT, std::unordered_map<std::string, std::string>>;
  const UINT code_page = GetACP();
  std::lock_guard lock(*mutex);
  auto& texts = (*cache)[code_page];
  auto it = texts.find(utf8_literal);
  if (it == texts.end()) it = texts.emplace(utf8_literal, Utf8ToAnsi(utf8_literal)).first;
  return it->second;
}
