#include <gtest/gtest.h>

#include <cmath>

#include "platform/com/com_ptr.h"
#include "platform/com/type_library.h"
#include "platform/win/codepage.h"

namespace {

constexpr char kIdl[] = R"(
[object, uuid(0E0C0B0A-0000-4000-8000-000000000002), dual]
interface IProbe : IDispatch {
  HRESULT Add([in] long a, [in] long b, [out, retval] long* sum);
  [id(2)] HRESULT Echo([in] BSTR text, [out, retval] BSTR* copy);
  [id(3)] HRESULT Keep([in] VARIANT v, [out, retval] VARIANT* same);
  [id(4)] HRESULT Mix([in] short s, [in] double d, [in] VARIANT_BOOL b, [in] float f, [out, retval] double* total);
  [id(5)] HRESULT Fail([in] long code);
  [id(6)] HRESULT Opt([in] long a, [in, optional] VARIANT v, [out, retval] long* missing);
  [id(7)] HRESULT Take([in] IUnknown* p, [out, retval] long* is_null);
  [id(8)] HRESULT Sum8(long a, long b, long c, long d, long e, long f, long g, long h, [out, retval] long* s);
  [id(9)] HRESULT FailAfterWriting([out, retval] BSTR* text);
};
[uuid(0E0C0B0A-0000-4000-8000-000000000001), version(1.0)]
library ProbeLib { interface IProbe; };
)";

const GUID kIid = *GuidFromString("{0E0C0B0A-0000-4000-8000-000000000002}");

struct IProbe : IDispatch {
  virtual HRESULT Add(LONG a, LONG b, LONG* sum) = 0;
  virtual HRESULT Echo(BSTR text, BSTR* copy) = 0;
  virtual HRESULT Keep(VARIANT v, VARIANT* same) = 0;
  virtual HRESULT Mix(SHORT s, double d, VARIANT_BOOL b, float f, double* total) = 0;
  virtual HRESULT Fail(LONG code) = 0;
  virtual HRESULT Opt(LONG a, VARIANT v, LONG* missing) = 0;
  virtual HRESULT Take(IUnknown* p, LONG* is_null) = 0;
  virtual HRESULT Sum8(LONG a, LONG b, LONG c, LONG d, LONG e, LONG f, LONG g, LONG h, LONG* s) = 0;
  virtual HRESULT FailAfterWriting(BSTR* text) = 0;
};

// Records what reached it, so the tests see the coerced values themselves.
class Probe final : public IProbe {
 public:
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT Add(LONG a, LONG b, LONG* sum) override {
    ++calls;
    *sum = a + b;
    return S_OK;
  }
  HRESULT Echo(BSTR text, BSTR* copy) override {
    *copy = SysAllocStringView(BstrView(text));
    return S_OK;
  }
  HRESULT Keep(VARIANT v, VARIANT* same) override { return VariantCopy(same, &v); }
  HRESULT Mix(SHORT s, double d, VARIANT_BOOL b, float f, double* total) override {
    *total = s + d + (b == VARIANT_TRUE ? 1000 : 0) + f;
    return S_OK;
  }
  HRESULT Fail(LONG code) override { return code; }
  HRESULT Opt(LONG, VARIANT v, LONG* missing) override {
    *missing = v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
    return S_OK;
  }
  HRESULT Take(IUnknown* p, LONG* is_null) override {
    *is_null = p == nullptr;
    return S_OK;
  }
  HRESULT Sum8(LONG a, LONG b, LONG c, LONG d, LONG e, LONG f, LONG g, LONG h, LONG* s) override {
    *s = a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h;
    return S_OK;
  }
  HRESULT FailAfterWriting(BSTR* text) override {
    *text = SysAllocString(u"partial");
    return E_FAIL;
  }

  int calls = 0;
};

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ComPtr<ITypeLib> lib;
    std::string error;
    ASSERT_EQ(CreateTypeLibFromIdl(kIdl, lib.Receive(), &error), S_OK) << error;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kIid, info_.Receive()), S_OK);
  }

  // Calls with the arguments in reading order (reversed into rgvarg here).
  HRESULT Call(MEMBERID id, std::vector<VARIANT> args, VARIANT* result, UINT* arg_err = nullptr,
               WORD flags = DISPATCH_METHOD) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    HRESULT hr =
        info_->Invoke(static_cast<IProbe*>(&probe_), id, flags, &params, result, nullptr, arg_err);
    for (VARIANT& v : args) VariantClear(&v);
    return hr;
  }

  static VARIANT R8(double d) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
  }
  static VARIANT Str(std::u16string_view s) { return MakeVariantBstr(s); }
  static VARIANT I4(LONG l) { return MakeVariantI4(l); }
  static VARIANT Missing() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
  }

  Probe probe_;
  ComPtr<ITypeInfo> info_;
};

TEST_F(DispatchTest, CoercesArgumentsToTheDeclaredTypes) {
  VARIANT result;
  ASSERT_EQ(Call(0x60020000, {Str(u"40"), R8(2.5)}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 42);  // 2.5 rounds half to even

  ASSERT_EQ(Call(2, {I4(-17)}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(BstrView(result.bstrVal), u"-17");
  VariantClear(&result);

  VARIANT yes;
  VariantInit(&yes);
  yes.vt = VT_BOOL;
  yes.boolVal = VARIANT_TRUE;
  ASSERT_EQ(Call(4, {Str(u"3"), R8(0.25), yes, R8(0.5)}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_DOUBLE_EQ(result.dblVal, 1003.75);

  // Eight arguments: some travel on the stack.
  ASSERT_EQ(Call(8, {I4(1), I4(1), I4(1), I4(1), I4(1), I4(1), I4(1), I4(2)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 1 + 2 + 3 + 4 + 5 + 6 + 7 + 16);
}

TEST_F(DispatchTest, PassesVariantsAndReferencesThrough) {
  VARIANT result;
  ASSERT_EQ(Call(3, {Str(u"as is")}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(BstrView(result.bstrVal), u"as is");
  VariantClear(&result);

  // A script variable passed by reference is read through the reference.
  LONG held = 5;
  VARIANT by_ref;
  VariantInit(&by_ref);
  by_ref.vt = VT_BYREF | VT_I4;
  by_ref.plVal = &held;
  ASSERT_EQ(Call(0x60020000, {by_ref, I4(1)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 6);

  VARIANT nothing;
  VariantInit(&nothing);
  nothing.vt = VT_DISPATCH;
  nothing.pdispVal = nullptr;
  ASSERT_EQ(Call(7, {nothing}, &result), S_OK);
  EXPECT_EQ(result.lVal, 1);
}

TEST_F(DispatchTest, RejectsBadCallsBeforeCalling) {
  struct Case {
    const char* what;
    MEMBERID id;
    std::vector<VARIANT> args;
    WORD flags;
    HRESULT hr;
    UINT arg_err;  // rgvarg index, checked when not ~0u
  };
  const Case cases[] = {
      {"too few", 0x60020000, {I4(1)}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, ~0u},
      {"too many", 0x60020000, {I4(1), I4(2), I4(3)}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, ~0u},
      {"bad last", 0x60020000, {I4(1), Str(u"x")}, DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 0},
      {"bad first", 0x60020000, {Str(u"x"), I4(1)}, DISPATCH_METHOD, DISP_E_TYPEMISMATCH, 1},
      {"too big", 0x60020000, {I4(1), Str(u"99999999999")}, DISPATCH_METHOD, DISP_E_OVERFLOW, 0},
      {"required missing",
       0x60020000,
       {Missing(), I4(1)},
       DISPATCH_METHOD,
       DISP_E_PARAMNOTOPTIONAL,
       1},
      {"unknown id", 77, {}, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND, ~0u},
      {"property put", 5, {I4(0)}, DISPATCH_PROPERTYPUT, DISP_E_MEMBERNOTFOUND, ~0u},
  };
  for (const Case& c : cases) {
    VARIANT result;
    VariantInit(&result);
    UINT arg_err = ~0u;
    EXPECT_EQ(Call(c.id, c.args, &result, &arg_err, c.flags), c.hr) << c.what;
    if (c.arg_err != ~0u) EXPECT_EQ(arg_err, c.arg_err) << c.what;
    EXPECT_EQ(result.vt, VT_EMPTY) << c.what;
  }
  EXPECT_EQ(probe_.calls, 0);

  VARIANT arg = I4(1);
  DISPID named = 0;
  DISPPARAMS params{&arg, &named, 1, 1};
  EXPECT_EQ(info_->Invoke(static_cast<IProbe*>(&probe_), 5, DISPATCH_METHOD, &params, nullptr,
                          nullptr, nullptr),
            DISP_E_NONAMEDARGS);
}

TEST_F(DispatchTest, OptionalVariantArrivesAsMissing) {
  VARIANT result;
  ASSERT_EQ(Call(6, {I4(1)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 1);
  ASSERT_EQ(Call(6, {I4(1), Missing()}, &result), S_OK);
  EXPECT_EQ(result.lVal, 1);
  ASSERT_EQ(Call(6, {I4(1), I4(2)}, &result), S_OK);
  EXPECT_EQ(result.lVal, 0);
}

TEST_F(DispatchTest, MethodResultCodesPassThrough) {
  for (HRESULT code : {S_OK, S_FALSE, E_ACCESSDENIED, DISP_E_EXCEPTION}) {
    VARIANT result;
    EXPECT_EQ(Call(5, {I4(code)}, &result), code);
    EXPECT_EQ(result.vt, VT_EMPTY);
  }
  // A failing method's out value is dropped (and freed), never returned.
  VARIANT result;
  EXPECT_EQ(Call(9, {}, &result), E_FAIL);
  EXPECT_EQ(result.vt, VT_EMPTY);
  // Without a result VARIANT the value is freed too.
  EXPECT_EQ(Call(2, {Str(u"dropped")}, nullptr), S_OK);
}

}  // namespace
