#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/safearray.h"
#include "platform/com/variant.h"
#include "platform/win/codepage.h"

namespace {

std::string Utf8Of(BSTR text) { return WideToUtf8(BstrView(text)); }

VARIANT Bstr(const char* utf8) { return MakeVariantBstr(Utf8ToWide(utf8)); }

VARIANT R8(double d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}

VARIANT Typed(VARTYPE vt, LONGLONG payload) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.llVal = payload;
  return v;
}

VARIANT Cy(LONGLONG scaled) { return Typed(VT_CY, scaled); }

VARIANT Dec(bool negative, ULONGLONG lo, BYTE scale, ULONG hi = 0) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DECIMAL;
  v.decVal.sign = negative ? DECIMAL_NEG : 0;
  v.decVal.scale = scale;
  v.decVal.Hi32 = hi;
  v.decVal.Lo64 = lo;
  return v;
}

// Converts and returns the text result, or the failure code as text.
std::string ToText(VARIANT source, USHORT flags = 0) {
  VARIANT out;
  VariantInit(&out);
  const HRESULT hr = VariantChangeType(&out, &source, flags, VT_BSTR);
  VariantClear(&source);
  if (FAILED(hr)) return "hr:" + std::to_string(hr);
  std::string text = Utf8Of(out.bstrVal);
  VariantClear(&out);
  return text;
}

HRESULT ToI4(VARIANT source, LONG* value) {
  VARIANT out;
  VariantInit(&out);
  const HRESULT hr = VariantChangeType(&out, &source, 0, VT_I4);
  VariantClear(&source);
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(out.vt, VT_I4);
    *value = out.lVal;
  }
  return hr;
}

TEST(VariantChangeType, FormatsText) {
  const struct {
    VARIANT source;
    USHORT flags;
    const char* text;
  } cases[] = {
      {R8(3.14159), 0, "3.14159"},
      {R8(0.1 + 0.2), 0, "0.3"},
      {R8(-2.5), 0, "-2.5"},
      {R8(1e20), 0, "1E+20"},
      {R8(123456789012345.0), 0, "123456789012345"},
      {R8(-0.0), 0, "0"},
      {Typed(VT_BOOL, VARIANT_TRUE), 0, "-1"},
      {Typed(VT_BOOL, VARIANT_FALSE), 0, "0"},
      {Typed(VT_BOOL, VARIANT_TRUE), VARIANT_ALPHABOOL, "True"},
      {Typed(VT_BOOL, VARIANT_FALSE), VARIANT_ALPHABOOL, "False"},
      {Typed(VT_EMPTY, 0), 0, ""},
      {Typed(VT_I1, 0xFF), 0, "-1"},
      {Typed(VT_UI1, 200), 0, "200"},
      {Typed(VT_I4, -2147483647LL - 1), 0, "-2147483648"},
      {Typed(VT_UI4, 0xFFFFFFFF), 0, "4294967295"},
      {Typed(VT_I8, INT64_MIN), 0, "-9223372036854775808"},
      {Typed(VT_UI8, -1), 0, "18446744073709551615"},
      {Cy(125000), 0, "12.5"},
      {Cy(-30000), 0, "-3"},
      {Cy(1), 0, "0.0001"},
      {Cy(-5000), 0, "-0.5"},
      {Dec(true, 12345, 3), 0, "-12.345"},
      {Dec(false, 5, 4), 0, "0.0005"},
      {Dec(false, 1500, 2), 0, "15"},
      {Typed(VT_DATE, 0), 0, "12:00:00 AM"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToText(c.source, c.flags), c.text) << c.text;
  }
}

TEST(VariantChangeType, FormatsDates) {
  VARIANT date = Typed(VT_DATE, 0);
  SYSTEMTIME st = {2006, 1, 0, 2, 15, 4, 5, 0};
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &date.date));
  EXPECT_EQ(ToText(date), "1/2/2006 3:04:05 PM");
  date.date = std::floor(date.date);
  EXPECT_EQ(ToText(date), "1/2/2006");
  date.date = 0.5;
  EXPECT_EQ(ToText(date), "12:00:00 PM");
}

TEST(VariantChangeType, ParsesTextToI4) {
  const struct {
    const char* text;
    HRESULT hr;
    LONG value;
  } cases[] = {
      {"42", S_OK, 42},
      {"  -17  ", S_OK, -17},
      {"+8", S_OK, 8},
      {"2.5", S_OK, 2},
      {"3.5", S_OK, 4},
      {"-2.5", S_OK, -2},
      {"1,234", S_OK, 1234},
      {"1e3", S_OK, 1000},
      {"&H1F", S_OK, 31},
      {"2147483647", S_OK, 2147483647},
      {"2147483648", DISP_E_OVERFLOW, 0},
      {"-2147483649", DISP_E_OVERFLOW, 0},
      {"1e100", DISP_E_OVERFLOW, 0},
      {"abc", DISP_E_TYPEMISMATCH, 0},
      {"12abc", DISP_E_TYPEMISMATCH, 0},
      {"", DISP_E_TYPEMISMATCH, 0},
      {"-", DISP_E_TYPEMISMATCH, 0},
      {"1e", DISP_E_TYPEMISMATCH, 0},
      {"\xE4\xB8\x80", DISP_E_TYPEMISMATCH, 0},
  };
  for (const auto& c : cases) {
    LONG value = -99;
    EXPECT_EQ(ToI4(Bstr(c.text), &value), c.hr) << c.text;
    if (c.hr == S_OK) EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(VariantChangeType, RoundsRealsHalfToEvenAndChecksRange) {
  const struct {
    VARIANT source;
    VARTYPE vt;
    HRESULT hr;
    LONGLONG value;
  } cases[] = {
      {R8(2.5), VT_I4, S_OK, 2},       {R8(3.5), VT_I4, S_OK, 4},
      {R8(-2.5), VT_I4, S_OK, -2},     {R8(-2.7), VT_I4, S_OK, -3},
      {R8(255.4), VT_UI1, S_OK, 255},  {R8(255.5), VT_UI1, DISP_E_OVERFLOW, 0},
      {R8(-0.4), VT_UI1, S_OK, 0},     {R8(-1), VT_UI4, DISP_E_OVERFLOW, 0},
      {R8(NAN), VT_I4, DISP_E_OVERFLOW, 0},
      {R8(1.8446744073709552e19), VT_UI8, DISP_E_OVERFLOW, 0},
      {Cy(25000), VT_I4, S_OK, 2},     {Cy(35000), VT_I4, S_OK, 4},
      {Cy(-25001), VT_I4, S_OK, -3},   {Typed(VT_I4, 40000), VT_I2, DISP_E_OVERFLOW, 0},
      {Typed(VT_I4, -128), VT_I1, S_OK, -128},
      {Typed(VT_BOOL, VARIANT_TRUE), VT_I4, S_OK, -1},
      {Typed(VT_BOOL, VARIANT_TRUE), VT_UI1, S_OK, 255},
      {Dec(false, 25, 1), VT_I4, S_OK, 2}, {Dec(true, 35, 1), VT_I4, S_OK, -4},
      {Typed(VT_EMPTY, 0), VT_I4, S_OK, 0},
      {Typed(VT_NULL, 0), VT_I4, DISP_E_TYPEMISMATCH, 0},
  };
  int row = 0;
  for (const auto& c : cases) {
    VARIANT out;
    VariantInit(&out);
    const HRESULT hr = VariantChangeType(&out, &c.source, 0, c.vt);
    EXPECT_EQ(hr, c.hr) << "row " << row;
    if (c.hr == S_OK && hr == S_OK) {
      EXPECT_EQ(out.vt, c.vt);
      LONGLONG got = 0;
      switch (c.vt) {
        case VT_I1: got = static_cast<signed char>(out.cVal); break;
        case VT_UI1: got = out.bVal; break;
        case VT_I2: got = out.iVal; break;
        case VT_I4: got = out.lVal; break;
        default: got = out.llVal; break;
      }
      EXPECT_EQ(got, c.value) << "row " << row;
    }
    ++row;
  }
}

TEST(VariantChangeType, DecimalHolds96Bits) {
  VARIANT big = Dec(false, 0, 0, 1);  // 2^64
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &big, 0, VT_I8), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &big, 0, VT_R8), S_OK);
  EXPECT_EQ(out.dblVal, 18446744073709551616.0);
  EXPECT_EQ(ToText(big), "18446744073709551616");

  VARIANT text = Bstr("79228162514264337593543950336");  // 2^96: one too many
  EXPECT_EQ(VariantChangeType(&out, &text, 0, VT_DECIMAL), DISP_E_OVERFLOW);
  VariantClear(&text);
  text = Bstr("-1.00000000000000000000000000005");  // rounded to 28 places, half to even
  ASSERT_EQ(VariantChangeType(&out, &text, 0, VT_DECIMAL), S_OK);
  VariantClear(&text);
  EXPECT_EQ(out.decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(ToText(out), "-1");

  VARIANT real = R8(0.1);
  ASSERT_EQ(VariantChangeType(&out, &real, 0, VT_DECIMAL), S_OK);
  EXPECT_EQ(out.decVal.scale, 1);
  EXPECT_EQ(out.decVal.Lo64, 1u);
}

TEST(VariantChangeType, BooleanWordsMatchOnlyTheirOwnLetters) {
  struct Case {
    const char* text;
    bool converts;
    VARIANT_BOOL value;
  };
  // Only A-Z and a-z differ by case: "#" and the control byte 0x03 differ in
  // the same bit, and are still different characters.
  const Case cases[] = {{"#TRUE#", true, VARIANT_TRUE},
                        {"False", true, VARIANT_FALSE},
                        {"#true\x03", false, 0},
                        {"\x03" "false\x03", false, 0}};
  for (const Case& c : cases) {
    VARIANT out;
    VariantInit(&out);
    VARIANT text = Bstr(c.text);
    const HRESULT hr = VariantChangeType(&out, &text, 0, VT_BOOL);
    EXPECT_EQ(SUCCEEDED(hr), c.converts) << c.text;
    if (c.converts) {
      EXPECT_EQ(out.boolVal, c.value) << c.text;
    }
    VariantClear(&text);
  }
}

TEST(VariantChangeType, OtherTargets) {
  VARIANT out;
  VariantInit(&out);
  VARIANT text = Bstr(" TRUE ");
  ASSERT_EQ(VariantChangeType(&out, &text, 0, VT_BOOL), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  VariantClear(&text);
  text = Bstr("0.0");
  ASSERT_EQ(VariantChangeType(&out, &text, 0, VT_BOOL), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  VariantClear(&text);

  text = Bstr("12.34567");
  ASSERT_EQ(VariantChangeType(&out, &text, 0, VT_CY), S_OK);
  EXPECT_EQ(out.cyVal.int64, 123457);
  VariantClear(&text);

  VARIANT huge = R8(1e300);
  EXPECT_EQ(VariantChangeType(&out, &huge, 0, VT_R4), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &huge, 0, VT_CY), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&out, &huge, 0, VT_DATE), DISP_E_OVERFLOW);

  text = Bstr("2006-01-02 15:04:05");
  ASSERT_EQ(VariantChangeType(&out, &text, 0, VT_DATE), S_OK);
  VariantClear(&text);
  SYSTEMTIME st;
  ASSERT_TRUE(VariantTimeToSystemTime(out.date, &st));
  EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20060102);
  EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 150405);
  text = Bstr("1/2/06 3:04 PM");
  ASSERT_EQ(VariantChangeType(&out, &text, 0, VT_DATE), S_OK);
  VariantClear(&text);
  ASSERT_TRUE(VariantTimeToSystemTime(out.date, &st));
  EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20060102);
  EXPECT_EQ(st.wHour, 15);
  text = Bstr("2006-02-30");
  EXPECT_EQ(VariantChangeType(&out, &text, 0, VT_DATE), DISP_E_TYPEMISMATCH);
  VariantClear(&text);

  VARIANT null_value = Typed(VT_NULL, 0);
  for (VARTYPE vt : {VT_EMPTY, VT_BSTR, VT_BOOL, VT_R8}) {
    EXPECT_EQ(VariantChangeType(&out, &null_value, 0, vt), DISP_E_TYPEMISMATCH) << vt;
  }
  EXPECT_EQ(VariantChangeType(&out, &null_value, 0, VT_NULL), S_OK);
  EXPECT_EQ(out.vt, VT_NULL);
  EXPECT_EQ(VariantChangeType(&out, &null_value, 0, VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
}

TEST(VariantChangeType, FailureLeavesDestinationAndInPlaceWorks) {
  VARIANT dest = Bstr("keep");
  VARIANT bad = Bstr("x");
  EXPECT_EQ(VariantChangeType(&dest, &bad, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dest.vt, VT_BSTR);
  EXPECT_EQ(Utf8Of(dest.bstrVal), "keep");
  VariantClear(&bad);

  VARIANT self = Bstr("77");
  ASSERT_EQ(VariantChangeType(&self, &self, 0, VT_I4), S_OK);
  EXPECT_EQ(self.vt, VT_I4);
  EXPECT_EQ(self.lVal, 77);
  VariantClear(&dest);
}

TEST(VariantChangeType, FollowsReferencesAndWidensPointers) {
  LONG number = 5;
  VARIANT ref = Typed(VT_BYREF | VT_I4, 0);
  ref.plVal = &number;
  EXPECT_EQ(ToText(ref), "5");

  VARIANT inner = Bstr("9");
  VARIANT ref_variant = Typed(VT_BYREF | VT_VARIANT, 0);
  ref_variant.pvarVal = &inner;
  LONG value = 0;
  ASSERT_EQ(ToI4(ref_variant, &value), S_OK);  // clearing a reference frees nothing
  EXPECT_EQ(value, 9);
  EXPECT_EQ(Utf8Of(inner.bstrVal), "9");
  VariantClear(&inner);

  VARIANT narrow = Typed(VT_LPSTR, 0);
  narrow.pszVal = strdup("abc");
  EXPECT_EQ(ToText(narrow), "abc");
  VARIANT wide = Typed(VT_LPWSTR, 0);
  wide.pwszVal = static_cast<char16_t*>(std::malloc(3 * sizeof(char16_t)));
  std::memcpy(wide.pwszVal, u"12", 3 * sizeof(char16_t));
  ASSERT_EQ(ToI4(wide, &value), S_OK);
  EXPECT_EQ(value, 12);
}

// An object whose default property is a string, as a request value is.
class ValueObject : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    *result = MakeVariantBstr(u"31");
    return S_OK;
  }
  ULONG refs = 1;
};

TEST(VariantChangeType, ReadsAnObjectsValueProperty) {
  ValueObject object;
  VARIANT v = Typed(VT_DISPATCH, 0);
  v.pdispVal = &object;
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 31);
  EXPECT_EQ(VariantChangeType(&out, &v, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&out);
  EXPECT_EQ(object.refs, 1u);
}

TEST(VariantCopy, CopiesDeeplyAndClearFreesEverything) {
  VARIANT values[5];
  values[0] = Bstr("text");
  values[1] = Typed(VT_BLOB, 0);
  values[1].blob.cbSize = 3;
  values[1].blob.pBlobData = static_cast<BYTE*>(std::malloc(3));
  std::memcpy(values[1].blob.pBlobData, "abc", 3);
  values[2] = Typed(VT_ARRAY | VT_UI1, 0);
  values[2].parray = SafeArrayCreateVector(VT_UI1, 0, 4);
  values[3] = Typed(VT_LPSTR, 0);
  values[3].pszVal = strdup("narrow");
  values[4] = Dec(true, 7, 2);
  for (VARIANT& v : values) {
    VARIANT copy = Bstr("old");  // cleared by the copy, else a leak
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_EQ(copy.vt, v.vt);
    EXPECT_EQ(ToText(copy), ToText(v)) << v.vt;  // both freed here; a shared payload would double free
  }
  ValueObject object;
  VARIANT unk = Typed(VT_UNKNOWN, 0);
  unk.punkVal = &object;
  VARIANT copy;
  VariantInit(&copy);
  VariantCopy(&copy, &unk);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&copy);
  EXPECT_EQ(object.refs, 1u);
  EXPECT_EQ(copy.vt, VT_EMPTY);

  VARIANT odd = Typed(0x7FF, 0);
  EXPECT_EQ(VariantClear(&odd), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantCopy(&copy, &odd), DISP_E_BADVARTYPE);
}

TEST(VariantTime, ConvertsBothWays) {
  const struct {
    DATE date;
    WORD y, mo, d, h, mi, s;
  } cases[] = {
      {0.0, 1899, 12, 30, 0, 0, 0},
      {2.0, 1900, 1, 1, 0, 0, 0},
      {-1.25, 1899, 12, 29, 6, 0, 0},
      {38719.5, 2006, 1, 2, 12, 0, 0},
      {-657434.0, 100, 1, 1, 0, 0, 0},
      {2958465.0, 9999, 12, 31, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SYSTEMTIME st;
    ASSERT_TRUE(VariantTimeToSystemTime(c.date, &st)) << c.date;
    EXPECT_EQ(st.wYear, c.y);
    EXPECT_EQ(st.wMonth, c.mo);
    EXPECT_EQ(st.wDay, c.d);
    EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, c.h * 10000 + c.mi * 100 + c.s);
    DATE back;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &back));
    EXPECT_DOUBLE_EQ(back, c.date);
  }
  SYSTEMTIME st = {};
  EXPECT_FALSE(VariantTimeToSystemTime(-657435.0, &st));
  EXPECT_FALSE(VariantTimeToSystemTime(2958466.0, &st));
  EXPECT_FALSE(VariantTimeToSystemTime(NAN, &st));
  EXPECT_EQ(st.wYear, 0);  // untouched by the failed calls
  SYSTEMTIME feb29 = {2005, 2, 0, 29, 0, 0, 0, 0};
  DATE date;
  EXPECT_FALSE(SystemTimeToVariantTime(&feb29, &date));
}

TEST(VariantTime, RoundsToTheNearestSecond) {
  SYSTEMTIME st = {2006, 1, 0, 2, 3, 4, 5, 0};
  DATE date;
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
  ASSERT_TRUE(VariantTimeToSystemTime(date + 0.6 / 86400, &st));
  EXPECT_EQ(st.wSecond, 6);
  st = {2006, 12, 0, 31, 23, 59, 59, 0};
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &date));
  ASSERT_TRUE(VariantTimeToSystemTime(date + 0.7 / 86400, &st));
  EXPECT_EQ(st.wYear, 2007);
  EXPECT_EQ(st.wMonth * 100 + st.wDay, 101);
  EXPECT_EQ(st.wHour + st.wMinute + st.wSecond, 0);
  EXPECT_EQ(st.wDayOfWeek, 1);  // a Monday
}

TEST(VarConversions, ScalarHelpers) {
  DECIMAL d = {};
  d.Lo64 = 31415;
  d.scale = 4;
  double r;
  ASSERT_EQ(VarR8FromDec(&d, &r), S_OK);
  EXPECT_DOUBLE_EQ(r, 3.1415);
  LONG l;
  ASSERT_EQ(VarI4FromDec(&d, &l), S_OK);
  EXPECT_EQ(l, 3);
  d.scale = 29;
  EXPECT_EQ(VarI4FromDec(&d, &l), E_INVALIDARG);
  EXPECT_EQ(VarI4FromCy(CY{-15000}, &l), S_OK);
  EXPECT_EQ(l, -2);
  EXPECT_EQ(VarI4FromCy(CY{INT64_MAX}, &l), DISP_E_OVERFLOW);
  BSTR text = nullptr;
  ASSERT_EQ(VarBstrFromCy(CY{INT64_MIN}, 0x0400, 0, &text), S_OK);
  EXPECT_EQ(Utf8Of(text), "-922337203685477.5808");
  SysFreeString(text);
}

}  // namespace
