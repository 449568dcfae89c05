// DATE arithmetic: whole days since 1899-12-30 (negative before it) and the
// time of day as the fraction's magnitude, so -1.25 is 1899-12-29 06:00.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/com/date_text.h"
#include "platform/com/variant.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kEpochShift = -25569;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Valid DATE values: 0100-01-01 to 9999-12-31 23:59:59.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958466.0;

DATE FromParts(int64_t day, int64_t seconds_of_day) {
  const double fraction = static_cast<double>(seconds_of_day) / kSecondsPerDay;
  return day < 0 ? static_cast<double>(day) - fraction : static_cast<double>(day) + fraction;
}

}  // namespace

BOOL VariantTimeToSystemTime(DATE date, SYSTEMTIME* out) {
  if (!out || !std::isfinite(date) || date <= kMinDate - 1.0 || date >= kMaxDate) return FALSE;
  double whole_part;
  const double fraction = std::fabs(std::modf(date, &whole_part));
  int64_t day = static_cast<int64_t>(whole_part);
  int64_t seconds = std::llround(fraction * kSecondsPerDay);
  if (seconds >= kSecondsPerDay) {  // 23:59:59.6 rounds into the next day
    seconds -= kSecondsPerDay;
    ++day;
  }
  int64_t year;
  unsigned month, mday;
  CivilFromDays(day + kEpochShift, &year, &month, &mday);
  if (year < 100 || year > 9999) return FALSE;
  const int64_t unix_day = day + kEpochShift;
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(mday);
  out->wDayOfWeek = static_cast<WORD>(((unix_day % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  out->wHour = static_cast<WORD>(seconds / 3600);
  out->wMinute = static_cast<WORD>(seconds / 60 % 60);
  out->wSecond = static_cast<WORD>(seconds % 60);
  out->wMilliseconds = 0;
  return TRUE;
}

BOOL SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out) {
  if (!in || !out) return FALSE;
  if (in->wYear < 100 || in->wYear > 9999 || in->wMonth < 1 || in->wMonth > 12 || in->wDay < 1 ||
      in->wDay > DaysInMonth(in->wYear, in->wMonth) || in->wHour > 23 || in->wMinute > 59 ||
      in->wSecond > 59) {
    return FALSE;
  }
  const int64_t day = DaysFromCivil(in->wYear, in->wMonth, in->wDay) - kEpochShift;
  *out = FromParts(day, in->wHour * 3600 + in->wMinute * 60 + in->wSecond);
  return TRUE;
}

std::optional<std::string> DateToText(DATE date) {
  SYSTEMTIME st;
  if (!VariantTimeToSystemTime(date, &st)) return std::nullopt;
  const bool zero_day = st.wYear == 1899 && st.wMonth == 12 && st.wDay == 30;
  const bool midnight = st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0;
  char text[64];
  int length = 0;
  if (!zero_day || midnight) {
    if (!zero_day || !midnight) {
      length = std::snprintf(text, sizeof text, "%u/%u/%u", st.wMonth, st.wDay, st.wYear);
    }
  }
  if (!midnight || zero_day) {
    const unsigned hour12 = st.wHour % 12 == 0 ? 12 : st.wHour % 12;
    length += std::snprintf(text + length, sizeof text - length, "%s%u:%02u:%02u %s",
                            length ? " " : "", hour12, st.wMinute, st.wSecond,
                            st.wHour < 12 ? "AM" : "PM");
  }
  return std::string(text, length);
}

namespace {

// Splits on blanks, keeping ':' '/' '-' inside the tokens.
std::vector<std::string> Tokens(std::string_view text) {
  std::vector<std::string> tokens;
  std::string current;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!current.empty()) tokens.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(std::move(current));
  return tokens;
}

// Unsigned decimal fields separated by `sep`; false on anything else.
bool Fields(const std::string& token, char sep, std::vector<int>* out) {
  out->clear();
  int value = -1;
  for (char c : token) {
    if (c == sep) {
      if (value < 0) return false;
      out->push_back(value);
      value = -1;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      value = (value < 0 ? 0 : value) * 10 + (c - '0');
      if (value > 99999) return false;
    } else {
      return false;
    }
  }
  if (value < 0) return false;
  out->push_back(value);
  return true;
}

bool ParseDay(const std::string& token, int64_t* day) {
  std::vector<int> f;
  int y, m, d;
  if (Fields(token, '-', &f) && f.size() == 3) {
    y = f[0], m = f[1], d = f[2];
  } else if (Fields(token, '/', &f) && f.size() == 3) {
    if (token.find('/') >= 3) {
      y = f[0], m = f[1], d = f[2];  // 2006/01/02
    } else {
      m = f[0], d = f[1], y = f[2];  // 1/2/2006
    }
  } else {
    return false;
  }
  if (y < 100 && token.size() - token.find_last_of("-/") - 1 <= 2) y += y < 30 ? 2000 : 1900;
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 ||
      d > static_cast<int>(DaysInMonth(y, m))) {
    return false;
  }
  *day = DaysFromCivil(y, m, d) - kEpochShift;
  return true;
}

bool ParseTime(const std::string& token, int64_t* seconds) {
  std::vector<int> f;
  if (!Fields(token, ':', &f) || f.size() < 2 || f.size() > 3) return false;
  const int s = f.size() == 3 ? f[2] : 0;
  if (f[0] > 23 || f[1] > 59 || s > 59) return false;
  *seconds = f[0] * 3600 + f[1] * 60 + s;
  return true;
}

bool IsMeridiem(const std::string& token, bool* pm) {
  if (token.size() != 2 || std::toupper(static_cast<unsigned char>(token[1])) != 'M') return false;
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(token[0])));
  if (c != 'A' && c != 'P') return false;
  *pm = c == 'P';
  return true;
}

}  // namespace

std::optional<DATE> DateFromText(std::string_view text) {
  const std::vector<std::string> tokens = Tokens(text);
  int64_t day = 0, seconds = 0;
  bool have_day = false, have_time = false, have_meridiem = false, pm = false;
  for (const std::string& token : tokens) {
    bool is_pm;
    if (!have_day && !have_time && ParseDay(token, &day)) {
      have_day = true;
    } else if (!have_time && ParseTime(token, &seconds)) {
      have_time = true;
    } else if (have_time && !have_meridiem && IsMeridiem(token, &is_pm)) {
      have_meridiem = true;
      pm = is_pm;
    } else {
      return std::nullopt;
    }
  }
  if (!have_day && !have_time) return std::nullopt;
  if (have_meridiem) {
    const int64_t hour = seconds / 3600;
    if (hour < 1 || hour > 12) return std::nullopt;
    if (hour == 12) seconds -= 12 * 3600;
    if (pm) seconds += 12 * 3600;
  }
  return FromParts(day, seconds);
}
