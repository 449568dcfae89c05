// Field values as page text and as 32-bit integers, by variant type.
#include "db/value_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "platform/com/safearray.h"
#include "platform/win/codepage.h"

namespace {

VARIANT Make(VARTYPE vt, auto setter) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  setter(v);
  return v;
}

struct TextCase {
  const char* name;
  VARIANT value;
  const char* text;
};

TEST(VariantToTextTest, RendersEachTypeOneFixedWay) {
  SYSTEMTIME st{2006, 1, 0, 2, 3, 4, 5, 0};
  DATE date = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
  const TextCase cases[] = {
      {"empty", Make(VT_EMPTY, [](VARIANT&) {}), ""},
      {"null", Make(VT_NULL, [](VARIANT&) {}), ""},
      {"i2", Make(VT_I2, [](VARIANT& v) { v.iVal = -12; }), "-12"},
      {"i4", Make(VT_I4, [](VARIANT& v) { v.lVal = -2147483647 - 1; }), "-2147483648"},
      {"float", Make(VT_R4, [](VARIANT& v) { v.fltVal = 3.14159f; }), "3.1416"},
      {"double", Make(VT_R8, [](VARIANT& v) { v.dblVal = 3.14159; }), "3.14159000"},
      {"bit true", Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), "TRUE"},
      {"bit false", Make(VT_BOOL, [](VARIANT& v) { v.boolVal = 0; }), "FALSE"},
      {"tinyint 200", Make(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), "200"},
      {"i1 low byte unsigned", Make(VT_I1, [](VARIANT& v) { v.cVal = -1; }), "255"},
      {"ui2", Make(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; }), "65535"},
      {"ui4 in full", Make(VT_UI4, [](VARIANT& v) { v.ulVal = 4000000000u; }), "4000000000"},
      {"i8 in full", Make(VT_I8, [](VARIANT& v) { v.llVal = -5000000000LL; }), "-5000000000"},
      {"ui8 in full", Make(VT_UI8, [](VARIANT& v) { v.ullVal = 18446744073709551615ull; }),
       "18446744073709551615"},
      {"void", Make(VT_VOID, [](VARIANT& v) { v.ulVal = 0xbeef; }), "    beef"},
      {"dispatch", Make(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; }), "UN_KNOW"},
      {"error", Make(VT_ERROR, [](VARIANT& v) { v.scode = 0; }), "UN_KNOW"},
      {"tag 15", Make(15, [](VARIANT&) {}), "UN_KNOW"},
      {"hresult", Make(VT_HRESULT, [](VARIANT&) {}), "UN_KNOW"},
      {"byref i4", Make(VT_BYREF | VT_I4, [](VARIANT& v) { v.plVal = nullptr; }), "UN_KNOW"},
      {"array of i4", Make(VT_ARRAY | VT_I4, [](VARIANT& v) { v.parray = nullptr; }), "UN_KNOW"},
      {"blob", Make(VT_BLOB, [](VARIANT& v) { v.blob = {0, nullptr}; }), "[BLOB]"},
      {"bytes", Make(VT_ARRAY | VT_UI1, [](VARIANT& v) { v.parray = nullptr; }), "[BLOB]"},
      {"date rounded", Make(VT_DATE, [&](VARIANT& v) { v.date = date + 0.6 / 86400; }),
       "2006-01-02 03:04:06"},
      {"date out of range", Make(VT_DATE, [](VARIANT& v) { v.date = -700000; }), ""},
      {"null bstr", Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; }), ""},
  };
  for (const TextCase& c : cases) {
    std::string out = "unchanged";
    EXPECT_TRUE(VariantToText(c.value, out)) << c.name;
    EXPECT_EQ(out, c.text) << c.name;
  }
}

TEST(VariantToTextTest, StringsAreNarrowedAndEndAtNul) {
  VARIANT v = MakeVariantBstr(std::u16string(u"ab\0cd", 5));
  std::string out;
  EXPECT_TRUE(VariantToText(v, out));
  EXPECT_EQ(out, "ab");
  VariantClear(&v);
  v = MakeVariantBstr(u"王芳");
  EXPECT_TRUE(VariantToText(v, out));
  EXPECT_EQ(out, WideToAnsi(u"王芳"));
  VariantClear(&v);
}

TEST(VariantToTextTest, DecimalAndCurrencyUseTheStandardConversions) {
  VARIANT d = Make(VT_DECIMAL, [](VARIANT& v) {
    v.decVal.scale = 2;
    v.decVal.sign = DECIMAL_NEG;
    v.decVal.Lo64 = 12345;
  });
  std::string out;
  EXPECT_TRUE(VariantToText(d, out));
  EXPECT_EQ(out, "-123.45000000");
  VARIANT cy = Make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 123450; });
  EXPECT_TRUE(VariantToText(cy, out));
  EXPECT_EQ(out, "12.345");
}

struct LongCase {
  const char* name;
  VARIANT value;
  LONG result;
};

TEST(VariantToLongTest, ConvertsEachType) {
  const LongCase cases[] = {
      {"null", Make(VT_NULL, [](VARIANT&) {}), 0},
      {"i2", Make(VT_I2, [](VARIANT& v) { v.iVal = -7; }), -7},
      {"bit true is -1", Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), -1},
      {"ui2 stays positive", Make(VT_UI2, [](VARIANT& v) { v.uiVal = 40000; }), 40000},
      {"ui4 payload", Make(VT_UI4, [](VARIANT& v) { v.ulVal = 0xFFFFFFFFu; }), -1},
      {"2.4", Make(VT_R8, [](VARIANT& v) { v.dblVal = 2.4; }), 2},
      {"2.5", Make(VT_R8, [](VARIANT& v) { v.dblVal = 2.5; }), 3},
      {"-2.5", Make(VT_R8, [](VARIANT& v) { v.dblVal = -2.5; }), -2},
      {"-2.7", Make(VT_R4, [](VARIANT& v) { v.fltVal = -2.7f; }), -2},
      {"tinyint 200", Make(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), 200},
      {"i8 is 0", Make(VT_I8, [](VARIANT& v) { v.llVal = 5; }), 0},
      {"date is 0", Make(VT_DATE, [](VARIANT& v) { v.date = 40000; }), 0},
      {"cy", Make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 25000; }), 2},
  };
  for (const LongCase& c : cases) {
    LONG out = 12345;
    EXPECT_TRUE(VariantToLong(c.value, out)) << c.name;
    EXPECT_EQ(out, c.result) << c.name;
  }
}

TEST(VariantToLongTest, StringsReadTheLeadingInteger) {
  const std::pair<const char16_t*, LONG> cases[] = {
      {u"12abc", 12}, {u"abc", 0}, {u"", 0}, {u"  -42 x", -42}, {u"+7", 7},
      {u"99999999999", 2147483647}, {u"-99999999999", -2147483647 - 1},
  };
  for (auto [text, expected] : cases) {
    VARIANT v = MakeVariantBstr(text);
    LONG out = 1;
    EXPECT_TRUE(VariantToLong(v, out));
    EXPECT_EQ(out, expected);
    VariantClear(&v);
  }
}

TEST(VariantToLongTest, OutOfRangeNumbersFail) {
  VARIANT big = Make(VT_R8, [](VARIANT& v) { v.dblVal = 1e12; });
  LONG out = 0;
  EXPECT_FALSE(VariantToLong(big, out));
  VARIANT cy = Make(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 100000000000000LL; });
  EXPECT_FALSE(VariantToLong(cy, out));
}

TEST(CurrentTimestampTextTest, HasTheInsertForm) {
  std::string now = CurrentTimestampText();
  EXPECT_TRUE(std::regex_match(now, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << now;
}

}  // namespace
