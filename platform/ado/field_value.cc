#include "platform/ado/field_value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "platform/com/safearray.h"
#include "platform/win/codepage.h"

namespace zelto::ado {
namespace {

bool ReadInt(std::string_view s, size_t& pos, size_t digits, int& out) {
  if (pos + digits > s.size()) return false;
  auto [end, ec] = std::from_chars(s.data() + pos, s.data() + pos + digits, out);
  if (ec != std::errc() || end != s.data() + pos + digits) return false;
  pos += digits;
  return true;
}

bool Expect(std::string_view s, size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

std::string RealText(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

// The stored value as text, as SQLite would render it.
std::string StoredText(const SqlValue& v) {
  switch (v.kind) {
    case SqlValue::Kind::kInteger:
      return std::to_string(v.integer);
    case SqlValue::Kind::kReal:
      return RealText(v.real);
    default:
      return v.bytes;
  }
}

// A BSTR of UTF-8 text; ASCII is widened in place, without a wide copy.
BSTR BstrFromUtf8(std::string_view utf8) {
  for (char c : utf8) {
    if (static_cast<unsigned char>(c) >= 0x80) return SysAllocStringView(Utf8ToWide(utf8));
  }
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(utf8.size()));
  if (b) std::copy(utf8.begin(), utf8.end(), b);
  return b;
}

HRESULT PutBytes(const std::string& bytes, VARIANT* out) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) return E_OUTOFMEMORY;
  void* data = nullptr;
  if (!bytes.empty()) {
    HRESULT hr = SafeArrayAccessData(array, &data);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
  }
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = array;
  return S_OK;
}

// What a computed column gives: typed by storage class; character values
// are left to the caller in `*text`.
HRESULT ByStorage(const SqlValue& v, VARIANT* out, std::string_view* text) {
  switch (v.kind) {
    case SqlValue::Kind::kNull:
      out->vt = VT_NULL;
      return S_OK;
    case SqlValue::Kind::kInteger:
      if (v.integer >= std::numeric_limits<LONG>::min() &&
          v.integer <= std::numeric_limits<LONG>::max()) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(v.integer);
      } else {
        out->vt = VT_I8;
        out->llVal = v.integer;
      }
      return S_OK;
    case SqlValue::Kind::kReal:
      out->vt = VT_R8;
      out->dblVal = v.real;
      return S_OK;
    case SqlValue::Kind::kText:
      *text = v.bytes;
      return S_OK;
    case SqlValue::Kind::kBlob:
      return PutBytes(v.bytes, out);
  }
  return E_UNEXPECTED;
}

bool InRange(int64_t v, int64_t lo, int64_t hi) { return v >= lo && v <= hi; }

// The value as a whole number when it is one (an integer, or an integral real).
std::optional<int64_t> WholeNumber(const SqlValue& v) {
  if (v.kind == SqlValue::Kind::kInteger) return v.integer;
  if (v.kind == SqlValue::Kind::kReal && std::trunc(v.real) == v.real && std::fabs(v.real) < 9e18) {
    return static_cast<int64_t>(v.real);
  }
  return std::nullopt;
}

std::optional<double> Number(const SqlValue& v) {
  if (v.kind == SqlValue::Kind::kInteger) return static_cast<double>(v.integer);
  if (v.kind == SqlValue::Kind::kReal) return v.real;
  return std::nullopt;
}

}  // namespace

std::optional<DATE> DateFromSqlText(std::string_view s) {
  SYSTEMTIME st{};
  int year, month, day, hour = 0, minute = 0, second = 0;
  size_t pos = 0;
  if (!ReadInt(s, pos, 4, year) || !Expect(s, pos, '-') || !ReadInt(s, pos, 2, month) ||
      !Expect(s, pos, '-') || !ReadInt(s, pos, 2, day)) {
    return std::nullopt;
  }
  double fraction = 0;
  if (pos < s.size()) {
    if (s[pos] != ' ' && s[pos] != 'T') return std::nullopt;
    ++pos;
    if (!ReadInt(s, pos, 2, hour) || !Expect(s, pos, ':') || !ReadInt(s, pos, 2, minute)) {
      return std::nullopt;
    }
    if (pos < s.size() && !(Expect(s, pos, ':') && ReadInt(s, pos, 2, second))) return std::nullopt;
    if (pos < s.size() && s[pos] == '.') {
      size_t start = ++pos;
      while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
      if (pos == start) return std::nullopt;
      fraction =
          std::strtod(std::string("0.").append(s.substr(start, pos - start)).c_str(), nullptr);
    }
    if (pos != s.size()) return std::nullopt;
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  DATE date = 0;
  if (!SystemTimeToVariantTime(&st, &date)) return std::nullopt;
  // The time of day runs away from zero on both sides of 1899-12-30.
  double part = fraction / 86400.0;
  return date < 0 ? date - part : date + part;
}

std::optional<DECIMAL> DecimalFromText(std::string_view s) {
  DECIMAL d{};
  size_t pos = 0;
  if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) {
    if (s[pos] == '-') d.sign = DECIMAL_NEG;
    ++pos;
  }
  unsigned __int128 magnitude = 0;
  const unsigned __int128 kMax = (static_cast<unsigned __int128>(1) << 96) - 1;
  int digits = 0, scale = 0;
  bool point = false;
  for (; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
    if (magnitude > kMax || ++digits > 29) return std::nullopt;
    if (point) ++scale;
  }
  if (digits == 0 || scale > 28) return std::nullopt;
  d.scale = static_cast<BYTE>(scale);
  d.Hi32 = static_cast<ULONG>(magnitude >> 64);
  d.Lo64 = static_cast<ULONGLONG>(magnitude);
  if (magnitude == 0) d.sign = 0;
  return d;
}

HRESULT SqlValueToVariantOrText(const SqlValue& v, const ResultColumn& column, VARIANT* out,
                                std::string_view* text, std::string* scratch) {
  const SqlType type = column.type;
  VariantInit(out);
  if (v.kind == SqlValue::Kind::kNull) {
    out->vt = VT_NULL;
    return S_OK;
  }
  std::optional<int64_t> whole = WholeNumber(v);
  std::optional<double> number = Number(v);
  switch (type) {
    case SqlType::kInt:
      if (whole && InRange(*whole, INT32_MIN, INT32_MAX)) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(*whole);
        return S_OK;
      }
      break;
    case SqlType::kSmallInt:
      if (whole && InRange(*whole, INT16_MIN, INT16_MAX)) {
        out->vt = VT_I2;
        out->iVal = static_cast<SHORT>(*whole);
        return S_OK;
      }
      break;
    case SqlType::kTinyInt:
      if (whole && InRange(*whole, 0, 255)) {
        out->vt = VT_UI1;
        out->bVal = static_cast<BYTE>(*whole);
        return S_OK;
      }
      break;
    case SqlType::kBit:
      if (whole) {
        out->vt = VT_BOOL;
        out->boolVal = *whole ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      }
      break;
    case SqlType::kBigInt:
      if (whole) {
        out->vt = VT_I8;
        out->llVal = *whole;
        return S_OK;
      }
      break;
    case SqlType::kFloat:
      if (number) {
        out->vt = VT_R8;
        out->dblVal = *number;
        return S_OK;
      }
      break;
    case SqlType::kReal:
      if (number) {
        out->vt = VT_R4;
        out->fltVal = static_cast<float>(*number);
        return S_OK;
      }
      break;
    case SqlType::kMoney:
      if (number && std::fabs(*number) < 9.2e14) {
        out->vt = VT_CY;
        out->cyVal.int64 = whole ? *whole * 10000 : std::llround(*number * 10000);
        return S_OK;
      }
      break;
    case SqlType::kDecimal: {
      std::string digits = v.kind == SqlValue::Kind::kText ? v.bytes : StoredText(v);
      // The engine may store a decimal as a real: give it back at its scale.
      if (number && column.scale >= 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", column.scale, *number);
        digits = buf;
      }
      if (auto d = DecimalFromText(digits)) {
        out->vt = VT_DECIMAL;
        out->decVal = *d;
        return S_OK;
      }
      break;
    }
    case SqlType::kDateTime:
      if (v.kind == SqlValue::Kind::kText) {
        if (auto date = DateFromSqlText(v.bytes)) {
          out->vt = VT_DATE;
          out->date = *date;
          return S_OK;
        }
      }
      break;
    case SqlType::kText:
      if (v.kind == SqlValue::Kind::kText) {
        *text = v.bytes;
        return S_OK;
      }
      if (v.kind != SqlValue::Kind::kBlob) {
        *scratch = StoredText(v);
        *text = *scratch;
        return S_OK;
      }
      break;
    case SqlType::kBinary:
      return PutBytes(v.kind == SqlValue::Kind::kBlob || v.kind == SqlValue::Kind::kText
                          ? v.bytes
                          : StoredText(v),
                      out);
    case SqlType::kUnknown:
      break;
  }
  return ByStorage(v, out, text);
}

HRESULT SqlValueToVariant(const SqlValue& value, const ResultColumn& column, VARIANT* out) {
  std::string_view text;
  std::string scratch;
  HRESULT hr = SqlValueToVariantOrText(value, column, out, &text, &scratch);
  if (FAILED(hr) || out->vt != VT_EMPTY) return hr;
  BSTR b = BstrFromUtf8(text);
  if (!b) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = b;
  return S_OK;
}

}  // namespace zelto::ado
