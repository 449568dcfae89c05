#include "db/value_text.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/win/codepage.h"
#include "platform/win/local_time.h"

namespace {

// printf into `out`, reusing its storage.
void Format(std::string& out, const char* format, auto... args) {
  char buf[512];
  int n = std::snprintf(buf, sizeof buf, format, args...);
  if (n < 0) {
    out.clear();
  } else if (static_cast<size_t>(n) < sizeof buf) {
    out.assign(buf, n);
  } else {
    // Only "%.8f" of a huge double needs more room.
    out.assign(n + 1, '\0');
    std::snprintf(out.data(), out.size(), format, args...);
    out.resize(n);
  }
}

// "%d" and its kin for any integer, without going through printf.
void IntegerText(std::string& out, auto value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out.assign(buf, end - buf);
}

// "%04d-%02d-%02d %02d:%02d:%02d" of the time.
void TimeText(const SYSTEMTIME& t, std::string& out) {
  if (t.wYear > 9999 || t.wMonth > 99 || t.wDay > 99 || t.wHour > 99 || t.wMinute > 99 ||
      t.wSecond > 99) {
    return Format(out, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
  }
  char buf[19];
  auto digits = [&buf](int at, int value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10)
      buf[at + i] = static_cast<char>('0' + value % 10);
  };
  digits(0, t.wYear, 4);
  buf[4] = '-';
  digits(5, t.wMonth, 2);
  buf[7] = '-';
  digits(8, t.wDay, 2);
  buf[10] = ' ';
  digits(11, t.wHour, 2);
  buf[13] = ':';
  digits(14, t.wMinute, 2);
  buf[16] = ':';
  digits(17, t.wSecond, 2);
  out.assign(buf, sizeof buf);
}

// Narrow text of a wide string, ending at its first NUL.
std::string Narrow(std::u16string_view wide) {
  size_t nul = wide.find(u'\0');
  return WideToAnsi(nul == wide.npos ? wide : wide.substr(0, nul));
}

// Text of a string-pointer variant through the standard conversion to BSTR.
bool StringPointerText(const VARIANT& value, std::string& out) {
  VARIANT bstr;
  VariantInit(&bstr);
  if (FAILED(VariantChangeType(&bstr, &value, 0, VT_BSTR))) return false;
  out = Narrow(BstrView(bstr.bstrVal));
  VariantClear(&bstr);
  return true;
}

}  // namespace

// atol's reading (blanks, sign, digits), saturating at the 32-bit bounds as a
// 32-bit atol does instead of wrapping.
LONG TextToLong(const std::string& text) {
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > std::numeric_limits<LONG>::max()) return std::numeric_limits<LONG>::max();
  if (v < std::numeric_limits<LONG>::min()) return std::numeric_limits<LONG>::min();
  return static_cast<LONG>(v);
}

bool VariantToText(const VARIANT& value, std::string& out) {
  const char* const kUnknown = "UN_KNOW";
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      out.clear();
      return true;
    case VT_I2:
      IntegerText(out, value.iVal);
      return true;
    case VT_I4:
    case VT_INT:
      IntegerText(out, value.lVal);
      return true;
    case VT_R4:
      Format(out, "%.4f", static_cast<double>(value.fltVal));
      return true;
    case VT_R8:
      Format(out, "%.8f", value.dblVal);
      return true;
    case VT_CY: {
      BSTR text = nullptr;
      if (FAILED(VarBstrFromCy(value.cyVal, 0x400, 0, &text))) return false;
      out = Narrow(BstrView(text));
      SysFreeString(text);
      return true;
    }
    case VT_DATE: {
      SYSTEMTIME t;
      if (VariantTimeToSystemTime(value.date, &t)) {
        TimeText(t, out);
      } else {
        out.clear();
      }
      return true;
    }
    case VT_BSTR:
      out = Narrow(BstrView(value.bstrVal));
      return true;
    case VT_BOOL:
      out = value.boolVal ? "TRUE" : "FALSE";
      return true;
    case VT_DECIMAL: {
      double d = 0;
      if (FAILED(VarR8FromDec(&value.decVal, &d))) return false;
      Format(out, "%.8f", d);
      return true;
    }
    case VT_I1:
    case VT_UI1:
      IntegerText(out, static_cast<int>(value.bVal));
      return true;
    case VT_UI2:
      IntegerText(out, static_cast<int>(value.uiVal));
      return true;
    // Unsigned and 64-bit values in full, not cut to their low 32 bits.
    case VT_UI4:
    case VT_UINT:
      IntegerText(out, value.ulVal);
      return true;
    case VT_I8:
      IntegerText(out, static_cast<long long>(value.llVal));
      return true;
    case VT_UI8:
      IntegerText(out, static_cast<unsigned long long>(value.ullVal));
      return true;
    case VT_VOID:
      Format(out, "%8x", value.ulVal);
      return true;
    case VT_LPSTR:
    case VT_LPWSTR:
      return StringPointerText(value, out);
    case VT_BLOB:
    case VT_BLOB_OBJECT:
    case VT_ARRAY | VT_UI1:
      out = "[BLOB]";
      return true;
    default:
      out = kUnknown;
      return true;
  }
}

bool VariantToLong(const VARIANT& value, LONG& out) {
  switch (value.vt) {
    case VT_I2:
    case VT_BOOL:
      out = value.iVal;
      return true;
    case VT_UI2:
      out = value.uiVal;  // 0 to 65535, never negative
      return true;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
      out = value.lVal;
      return true;
    case VT_R4:
    case VT_R8: {
      double v = (value.vt == VT_R4 ? static_cast<double>(value.fltVal) : value.dblVal) + 0.5;
      // Out of range (or NaN) has no 32-bit value: a failed conversion.
      if (!(v > -2147483649.0 && v < 2147483648.0)) return false;
      out = static_cast<LONG>(v);
      return true;
    }
    case VT_CY:
      return SUCCEEDED(VarI4FromCy(value.cyVal, &out));
    case VT_DECIMAL:
      return SUCCEEDED(VarI4FromDec(&value.decVal, &out));
    case VT_BSTR:
    case VT_LPSTR:
    case VT_LPWSTR: {
      std::string text;
      if (!VariantToText(value, text)) return false;
      out = TextToLong(text);
      return true;
    }
    case VT_I1:
    case VT_UI1:
      out = value.bVal;
      return true;
    default:
      out = 0;
      return true;
  }
}

std::string CurrentTimestampText() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string text;
  TimeText(now, text);
  return text;
}
