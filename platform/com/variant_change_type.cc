// VariantChangeType and the scalar conversions, with OLE Automation's rules
// for the US locale. Every numeric value passes through a Number: an exact
// scaled integer for integers, currency, decimals and parsed text, or a double
// for R4, R8 and DATE, so that rounding (half to even) happens once, at the end.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "platform/com/date_text.h"
#include "platform/com/ascii.h"
#include "platform/com/dispatch.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/win/codepage.h"

namespace {

using u128 = unsigned __int128;
using i128 = __int128;

constexpr int kMaxScale = 38;  // 10^38 still fits in 128 bits
constexpr int kMaxDecimalScale = 28;
constexpr u128 kDecimalLimit = u128{1} << 96;
constexpr double kMinDate = -657435.0;  // exclusive bounds of 0100-01-01 .. 9999-12-31
constexpr double kMaxDate = 2958466.0;

u128 Pow10(int n) {
  u128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

struct Number {
  bool exact = true;
  bool negative = false;
  u128 magnitude = 0;  // exact: value is magnitude / 10^scale
  int scale = 0;
  double real = 0;  // when !exact
};

Number FromInteger(i128 value) {
  Number n;
  n.negative = value < 0;
  n.magnitude = n.negative ? static_cast<u128>(-value) : static_cast<u128>(value);
  return n;
}

Number FromReal(double value) {
  Number n;
  n.exact = false;
  n.real = value;
  return n;
}

// Divides by 10^digits, rounding half to even.
u128 DropDigits(u128 value, int digits) {
  if (digits <= 0) return value;
  if (digits > kMaxScale) return 0;
  const u128 divisor = Pow10(digits);
  u128 quotient = value / divisor;
  const u128 remainder = value % divisor;
  const u128 half = divisor / 2;
  if (remainder > half || (remainder == half && (quotient & 1))) ++quotient;
  return quotient;
}

std::string DigitsOf(u128 value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return digits;
}

// "-12.5": the exact value written out, trailing fraction zeros dropped.
std::string ExactText(bool negative, u128 magnitude, int scale) {
  std::string digits = DigitsOf(magnitude);
  if (scale > 0) {
    if (static_cast<int>(digits.size()) <= scale) {
      digits.insert(0, scale - digits.size() + 1, '0');
    }
    digits.insert(digits.size() - scale, 1, '.');
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  if (negative && magnitude != 0) digits.insert(0, 1, '-');
  return digits;
}

double ToDouble(const Number& n) {
  if (!n.exact) return n.real;
  if (n.scale == 0 && n.magnitude < (u128{1} << 53)) {
    const double d = static_cast<double>(n.magnitude);
    return n.negative ? -d : d;
  }
  // strtod rounds the exact decimal text correctly.
  std::string text = DigitsOf(n.magnitude) + "e-" + std::to_string(n.scale);
  if (n.negative) text.insert(0, 1, '-');
  return std::strtod(text.c_str(), nullptr);
}

HRESULT ToInteger(const Number& n, i128 min, i128 max, i128* out) {
  i128 value;
  if (n.exact) {
    const u128 whole = DropDigits(n.magnitude, n.scale);
    if (whole > static_cast<u128>(std::numeric_limits<int64_t>::max()) * 4) {
      return DISP_E_OVERFLOW;
    }
    value = n.negative ? -static_cast<i128>(whole) : static_cast<i128>(whole);
  } else {
    const double rounded = std::nearbyint(n.real);  // the default mode rounds half to even
    if (!std::isfinite(rounded) || std::fabs(rounded) > 1e20) return DISP_E_OVERFLOW;
    value = static_cast<i128>(rounded);
  }
  if (value < min || value > max) return DISP_E_OVERFLOW;
  *out = value;
  return S_OK;
}

HRESULT ToCurrency(const Number& n, CY* out) {
  i128 value;
  if (n.exact) {
    u128 scaled;
    if (n.scale <= 4) {
      const u128 factor = Pow10(4 - n.scale);
      if (n.magnitude > (~u128{0}) / factor) return DISP_E_OVERFLOW;
      scaled = n.magnitude * factor;
    } else {
      scaled = DropDigits(n.magnitude, n.scale - 4);
    }
    if (scaled > (u128{1} << 64)) return DISP_E_OVERFLOW;
    value = n.negative ? -static_cast<i128>(scaled) : static_cast<i128>(scaled);
  } else {
    const double rounded = std::nearbyint(n.real * 10000.0);
    if (!std::isfinite(rounded) || std::fabs(rounded) > 1e20) return DISP_E_OVERFLOW;
    value = static_cast<i128>(rounded);
  }
  if (value < std::numeric_limits<int64_t>::min() || value > std::numeric_limits<int64_t>::max()) {
    return DISP_E_OVERFLOW;
  }
  out->int64 = static_cast<int64_t>(value);
  return S_OK;
}

HRESULT ParseNumber(std::string_view text, Number* out);

HRESULT ToDecimal(const Number& n, DECIMAL* out) {
  Number exact = n;
  if (!n.exact) {
    // Fifteen significant digits, as the double to decimal conversion keeps.
    if (!std::isfinite(n.real)) return DISP_E_OVERFLOW;
    char text[40];
    std::snprintf(text, sizeof text, "%.15G", n.real);
    const HRESULT hr = ParseNumber(text, &exact);
    if (FAILED(hr) || !exact.exact) return DISP_E_OVERFLOW;
  }
  // Drop fraction digits until the value fits 96 bits with a scale up to 28.
  int drop = std::max(0, exact.scale - kMaxDecimalScale);
  u128 magnitude = DropDigits(exact.magnitude, drop);
  while (magnitude >= kDecimalLimit && drop < exact.scale) {
    ++drop;
    magnitude = DropDigits(exact.magnitude, drop);
  }
  if (magnitude >= kDecimalLimit) return DISP_E_OVERFLOW;
  *out = DECIMAL{};
  out->scale = static_cast<BYTE>(exact.scale - drop);
  out->sign = exact.negative && magnitude != 0 ? DECIMAL_NEG : 0;
  out->Hi32 = static_cast<ULONG>(magnitude >> 64);
  out->Lo64 = static_cast<ULONGLONG>(magnitude);
  return S_OK;
}

HRESULT FromDecimal(const DECIMAL& d, Number* out) {
  if (d.scale > kMaxDecimalScale || (d.sign & ~DECIMAL_NEG) != 0) return E_INVALIDARG;
  *out = Number{};
  out->negative = d.sign == DECIMAL_NEG;
  out->magnitude = (u128{d.Hi32} << 64) | d.Lo64;
  out->scale = d.scale;
  return S_OK;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// "&H1F" and "&O17", as scripts write them.
HRESULT ParseRadix(std::string_view text, Number* out) {
  const char kind = static_cast<char>(text.size() > 1 ? text[1] | 0x20 : 0);
  const int radix = kind == 'h' ? 16 : kind == 'o' ? 8 : 0;
  if (radix == 0 || text.size() < 3) return DISP_E_TYPEMISMATCH;
  u128 value = 0;
  for (char c : text.substr(2)) {
    int digit = IsDigit(c) ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : 99;
    if (digit >= radix) return DISP_E_TYPEMISMATCH;
    value = value * radix + digit;
    if (value > std::numeric_limits<uint64_t>::max()) return DISP_E_OVERFLOW;
  }
  *out = FromInteger(static_cast<i128>(value));
  return S_OK;
}

// Optional blanks and sign, digits with ',' group separators, an optional
// fraction and exponent, optional blanks. Nothing else.
HRESULT ParseNumber(std::string_view text, Number* out) {
  text = Trim(text);
  if (!text.empty() && text[0] == '&') return ParseRadix(text, out);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string digits;
  int fraction_digits = 0;
  bool any_digit = false;
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) {
      digits += text[i];
      any_digit = true;
    } else if (text[i] != ',' || !any_digit) {
      break;
    }
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
      digits += text[i];
      ++fraction_digits;
      any_digit = true;
    }
  }
  if (!any_digit) return DISP_E_TYPEMISMATCH;
  long exponent = 0;
  if (i < text.size() && ((text[i] | 0x20) == 'e' || (text[i] | 0x20) == 'd')) {
    size_t j = i + 1;
    bool exponent_negative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent_negative = text[j++] == '-';
    if (j >= text.size() || !IsDigit(text[j])) return DISP_E_TYPEMISMATCH;
    for (; j < text.size() && IsDigit(text[j]); ++j) {
      if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
    }
    if (exponent_negative) exponent = -exponent;
    i = j;
  }
  if (i != text.size()) return DISP_E_TYPEMISMATCH;

  const size_t first = digits.find_first_not_of('0');
  const std::string significant = first == std::string::npos ? "0" : digits.substr(first);
  long scale = fraction_digits - exponent;
  Number n;
  n.negative = negative;
  if (significant.size() <= static_cast<size_t>(kMaxScale) && scale <= kMaxScale &&
      scale >= -kMaxScale) {
    u128 magnitude = 0;
    for (char c : significant) magnitude = magnitude * 10 + (c - '0');
    bool fits = true;
    for (; scale < 0 && fits; ++scale) {
      fits = magnitude <= (~u128{0}) / 10;
      magnitude *= 10;
    }
    if (fits) {
      n.magnitude = magnitude;
      n.scale = static_cast<int>(scale);
      *out = n;
      return S_OK;
    }
  }
  std::string plain = (negative ? "-" : "") + digits + "e" + std::to_string(-(fraction_digits - exponent));
  *out = FromReal(std::strtod(plain.c_str(), nullptr));
  return S_OK;
}

// Text of a BSTR as ASCII; false when it holds anything a number cannot.
bool AsciiOf(BSTR text, std::string* out) {
  out->clear();
  for (char16_t c : BstrView(text)) {
    if (c == 0 || c > 0x7F) return false;
    out->push_back(static_cast<char>(c));
  }
  return true;
}

HRESULT NumberOf(const VARIANT& v, Number* out) {
  switch (v.vt) {
    case VT_EMPTY: *out = FromInteger(0); return S_OK;
    case VT_I1: *out = FromInteger(static_cast<signed char>(v.cVal)); return S_OK;
    case VT_UI1: *out = FromInteger(v.bVal); return S_OK;
    case VT_I2: *out = FromInteger(v.iVal); return S_OK;
    case VT_UI2: *out = FromInteger(v.uiVal); return S_OK;
    case VT_I4: case VT_INT: *out = FromInteger(v.lVal); return S_OK;
    case VT_UI4: case VT_UINT: *out = FromInteger(v.ulVal); return S_OK;
    case VT_I8: *out = FromInteger(v.llVal); return S_OK;
    case VT_UI8: *out = FromInteger(v.ullVal); return S_OK;
    case VT_BOOL: *out = FromInteger(v.boolVal ? -1 : 0); return S_OK;
    case VT_R4: *out = FromReal(v.fltVal); return S_OK;
    case VT_R8: *out = FromReal(v.dblVal); return S_OK;
    case VT_DATE: *out = FromReal(v.date); return S_OK;
    case VT_CY:
      *out = FromInteger(v.cyVal.int64);
      out->scale = 4;
      return S_OK;
    case VT_DECIMAL: return FromDecimal(v.decVal, out);
    case VT_BSTR: {
      std::string text;
      if (!AsciiOf(v.bstrVal, &text)) return DISP_E_TYPEMISMATCH;
      return ParseNumber(text, out);
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

std::string RealText(double value, int digits) {
  if (value == 0) return "0";  // never "-0"
  char text[48];
  std::snprintf(text, sizeof text, "%.*G", digits, value);
  return text;
}

std::string CurrencyText(CY value) {
  const bool negative = value.int64 < 0;
  const u128 magnitude = negative ? static_cast<u128>(-static_cast<i128>(value.int64))
                                  : static_cast<u128>(value.int64);
  return ExactText(negative, magnitude, 4);
}

HRESULT TextOf(const VARIANT& v, USHORT flags, std::string* out) {
  char text[32];
  switch (v.vt) {
    case VT_EMPTY: out->clear(); return S_OK;
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT:
    case VT_UINT: case VT_I8: case VT_UI8: {
      Number n;
      NumberOf(v, &n);
      *out = ExactText(n.negative, n.magnitude, 0);
      return S_OK;
    }
    case VT_R4: *out = RealText(v.fltVal, 7); return S_OK;
    case VT_R8: *out = RealText(v.dblVal, 15); return S_OK;
    case VT_CY: *out = CurrencyText(v.cyVal); return S_OK;
    case VT_DECIMAL: {
      Number n;
      const HRESULT hr = FromDecimal(v.decVal, &n);
      if (FAILED(hr)) return hr;
      *out = ExactText(n.negative, n.magnitude, n.scale);
      return S_OK;
    }
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
        *out = v.boolVal ? "True" : "False";
      } else {
        std::snprintf(text, sizeof text, "%d", v.boolVal ? -1 : 0);
        *out = text;
      }
      return S_OK;
    case VT_DATE: {
      std::optional<std::string> date = DateToText(v.date);
      if (!date) return DISP_E_OVERFLOW;
      *out = std::move(*date);
      return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

// The texts made here are ASCII.
std::u16string Widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

HRESULT ToBool(const VARIANT& v, VARIANT_BOOL* out) {
  if (v.vt == VT_BSTR) {
    std::string text;
    if (!AsciiOf(v.bstrVal, &text)) return DISP_E_TYPEMISMATCH;
    const std::string_view word = Trim(text);
    if (EqualsIgnoreCase(word, "true") || EqualsIgnoreCase(word, "#true#")) {
      *out = VARIANT_TRUE;
      return S_OK;
    }
    if (EqualsIgnoreCase(word, "false") || EqualsIgnoreCase(word, "#false#")) {
      *out = VARIANT_FALSE;
      return S_OK;
    }
  }
  Number n;
  const HRESULT hr = NumberOf(v, &n);
  if (FAILED(hr)) return hr;
  *out = (n.exact ? n.magnitude != 0 : n.real != 0) ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ToDate(const VARIANT& v, DATE* out) {
  if (v.vt == VT_BSTR) {
    std::string text;
    std::optional<DATE> date;
    if (AsciiOf(v.bstrVal, &text)) date = DateFromText(text);
    if (!date) return DISP_E_TYPEMISMATCH;
    *out = *date;
    return S_OK;
  }
  Number n;
  const HRESULT hr = NumberOf(v, &n);
  if (FAILED(hr)) return hr;
  const double d = ToDouble(n);
  if (!(d > kMinDate && d < kMaxDate)) return DISP_E_OVERFLOW;
  *out = d;
  return S_OK;
}

struct IntegerRange {
  i128 min, max;
};

bool IntegerRangeOf(VARTYPE vt, IntegerRange* range) {
  switch (vt) {
    case VT_I1: *range = {INT8_MIN, INT8_MAX}; return true;
    case VT_UI1: *range = {0, UINT8_MAX}; return true;
    case VT_I2: *range = {INT16_MIN, INT16_MAX}; return true;
    case VT_UI2: *range = {0, UINT16_MAX}; return true;
    case VT_I4: case VT_INT: *range = {INT32_MIN, INT32_MAX}; return true;
    case VT_UI4: case VT_UINT: *range = {0, UINT32_MAX}; return true;
    case VT_I8: *range = {INT64_MIN, INT64_MAX}; return true;
    case VT_UI8: *range = {0, UINT64_MAX}; return true;
    default: return false;
  }
}

HRESULT ToIntegerVariant(const VARIANT& v, VARTYPE vt, const IntegerRange& range, VARIANT* out) {
  Number n;
  HRESULT hr = NumberOf(v, &n);
  if (FAILED(hr)) return hr;
  i128 value;
  if (v.vt == VT_BOOL && range.min == 0) {
    value = v.boolVal ? range.max : 0;  // True is all bits set, as in VarUI1FromBool
  } else {
    hr = ToInteger(n, range.min, range.max, &value);
    if (FAILED(hr)) return hr;
  }
  out->vt = vt;
  out->ullVal = 0;
  switch (vt) {
    case VT_I1: out->cVal = static_cast<char>(value); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(value); break;
    case VT_I2: out->iVal = static_cast<SHORT>(value); break;
    case VT_UI2: out->uiVal = static_cast<USHORT>(value); break;
    case VT_I4: case VT_INT: out->lVal = static_cast<LONG>(value); break;
    case VT_UI4: case VT_UINT: out->ulVal = static_cast<ULONG>(value); break;
    case VT_I8: out->llVal = static_cast<LONGLONG>(value); break;
    default: out->ullVal = static_cast<ULONGLONG>(value); break;
  }
  return S_OK;
}

HRESULT ToInterface(const VARIANT& v, VARTYPE vt, VARIANT* out) {
  if (v.vt != VT_UNKNOWN && v.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  out->vt = vt;
  out->punkVal = nullptr;
  if (!v.punkVal) return S_OK;
  const HRESULT hr = v.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                               reinterpret_cast<void**>(&out->punkVal));
  if (FAILED(hr)) {
    out->vt = VT_EMPTY;
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

// An object's default property, as scripts read it.
HRESULT ValueProperty(const VARIANT& v, LCID lcid, VARIANT* out) {
  if (!v.punkVal) return DISP_E_TYPEMISMATCH;
  IDispatch* dispatch = nullptr;
  if (FAILED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return DISP_E_TYPEMISMATCH;
  }
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const HRESULT hr = dispatch->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none,
                                      out, nullptr, nullptr);
  dispatch->Release();
  return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT Convert(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, VARIANT* out);

HRESULT ConvertValueProperty(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt,
                             VARIANT* out) {
  if (flags & VARIANT_NOVALUEPROP) return DISP_E_TYPEMISMATCH;
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = ValueProperty(src, lcid, &value);
  // The value itself must be plain data: no second round of properties.
  if (SUCCEEDED(hr)) hr = Convert(value, lcid, flags | VARIANT_NOVALUEPROP, vt, out);
  VariantClear(&value);
  return hr;
}

HRESULT Convert(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, VARIANT* out) {
  if (src.vt == vt) return VariantCopy(out, &src);
  if (src.vt == VT_NULL || vt == VT_NULL) return DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY) return S_OK;
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) return ToInterface(src, vt, out);
  if (src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH) {
    return ConvertValueProperty(src, lcid, flags, vt, out);
  }
  if ((src.vt | vt) & VT_ARRAY) return DISP_E_TYPEMISMATCH;

  IntegerRange range;
  if (IntegerRangeOf(vt, &range)) return ToIntegerVariant(src, vt, range, out);
  HRESULT hr;
  Number n;
  switch (vt) {
    case VT_BSTR: {
      std::string text;
      hr = TextOf(src, flags, &text);
      if (FAILED(hr)) return hr;
      out->bstrVal = SysAllocStringView(Widen(text));
      if (!out->bstrVal) return E_OUTOFMEMORY;
      break;
    }
    case VT_BOOL: hr = ToBool(src, &out->boolVal); break;
    case VT_DATE: hr = ToDate(src, &out->date); break;
    case VT_R4:
    case VT_R8:
      hr = NumberOf(src, &n);
      if (SUCCEEDED(hr)) {
        const double d = ToDouble(n);
        if (vt == VT_R8) {
          out->dblVal = d;
        } else if (std::isfinite(d) && std::fabs(d) > FLT_MAX) {
          hr = DISP_E_OVERFLOW;
        } else {
          out->fltVal = static_cast<float>(d);
        }
      }
      break;
    case VT_CY:
      hr = NumberOf(src, &n);
      if (SUCCEEDED(hr)) hr = ToCurrency(n, &out->cyVal);
      break;
    case VT_DECIMAL:
      hr = NumberOf(src, &n);
      if (SUCCEEDED(hr)) hr = ToDecimal(n, &out->decVal);
      break;
    default: return DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) return hr;
  out->vt = vt;
  return S_OK;
}

bool IsConvertibleTarget(VARTYPE vt) {
  if (vt & (VT_BYREF | VT_VECTOR)) return false;
  switch (vt & ~VT_ARRAY) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4:
    case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BSTR: case VT_BOOL: case VT_DECIMAL: case VT_ERROR:
    case VT_UNKNOWN: case VT_DISPATCH: case VT_VARIANT:
      return vt != VT_VARIANT;
    default:
      return false;
  }
}

size_t ByRefSize(VARTYPE base) {
  switch (base) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: case VT_UNKNOWN: case VT_DISPATCH: return sizeof(void*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return 0;
  }
}

// A deep copy of `src` with references followed and narrow/wide pointers
// turned into BSTRs, the forms Convert works on.
HRESULT Normalize(const VARIANT& src, VARIANT* out) {
  if (src.vt == (VT_BYREF | VT_VARIANT)) {
    if (!src.pvarVal || (src.pvarVal->vt & VT_BYREF)) return DISP_E_BADVARTYPE;
    return Normalize(*src.pvarVal, out);
  }
  if (src.vt & VT_BYREF) {
    if (!src.byref) return E_INVALIDARG;
    VARIANT shallow;
    VariantInit(&shallow);
    shallow.vt = src.vt & ~VT_BYREF;
    if (shallow.vt & VT_ARRAY) {
      shallow.parray = *static_cast<SAFEARRAY**>(src.byref);
    } else {
      const size_t size = ByRefSize(shallow.vt);
      if (size == 0) return DISP_E_TYPEMISMATCH;
      std::memcpy(&shallow.llVal, src.byref, size);
    }
    return VariantCopy(out, &shallow);
  }
  if (src.vt == VT_LPSTR || src.vt == VT_LPWSTR) {
    const std::u16string wide = src.vt == VT_LPSTR
                                    ? AnsiToWide(src.pszVal ? src.pszVal : "")
                                    : std::u16string(src.pwszVal ? src.pwszVal : u"");
    *out = MakeVariantBstr(wide);
    return out->bstrVal ? S_OK : E_OUTOFMEMORY;
  }
  return VariantCopy(out, &src);
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID lcid, USHORT flags,
                            VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsConvertibleTarget(vt)) return DISP_E_BADVARTYPE;
  VARIANT source, result;
  VariantInit(&source);
  VariantInit(&result);
  HRESULT hr = Normalize(*src, &source);
  if (SUCCEEDED(hr)) hr = Convert(source, lcid, flags, vt, &result);
  VariantClear(&source);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // dest may be src: it is replaced only now, after the conversion worked.
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}

HRESULT VarBstrFromCy(CY value, LCID lcid, ULONG flags, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = SysAllocStringView(Widen(CurrencyText(value)));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT VarR8FromDec(const DECIMAL* value, double* out) {
  if (!value || !out) return E_INVALIDARG;
  Number n;
  const HRESULT hr = FromDecimal(*value, &n);
  if (FAILED(hr)) return hr;
  *out = ToDouble(n);
  return S_OK;
}

HRESULT VarI4FromDec(const DECIMAL* value, LONG* out) {
  if (!value || !out) return E_INVALIDARG;
  Number n;
  HRESULT hr = FromDecimal(*value, &n);
  i128 result;
  if (SUCCEEDED(hr)) hr = ToInteger(n, INT32_MIN, INT32_MAX, &result);
  if (FAILED(hr)) return hr;
  *out = static_cast<LONG>(result);
  return S_OK;
}

HRESULT VarI4FromCy(CY value, LONG* out) {
  if (!out) return E_INVALIDARG;
  Number n = FromInteger(value.int64);
  n.scale = 4;
  i128 result;
  const HRESULT hr = ToInteger(n, INT32_MIN, INT32_MAX, &result);
  if (FAILED(hr)) return hr;
  *out = static_cast<LONG>(result);
  return S_OK;
}
