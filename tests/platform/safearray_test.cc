#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/safearray.h"

namespace {

TEST(SafeArray, BytesVectorBoundsAndLocking) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 1, 3);
  ASSERT_NE(array, nullptr);
  LONG lower = 0, upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 3);
  EXPECT_EQ(SafeArrayGetUBound(array, 2, &upper), DISP_E_BADINDEX);

  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  std::memcpy(data, "xyz", 3);
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  BYTE b = 'q';
  LONG index = 2;
  EXPECT_EQ(SafeArrayPutElement(array, &index, &b), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);

  index = 3;
  ASSERT_EQ(SafeArrayGetElement(array, &index, &b), S_OK);
  EXPECT_EQ(b, 'z');
  index = 0;
  EXPECT_EQ(SafeArrayGetElement(array, &index, &b), DISP_E_BADINDEX);
  index = 4;
  EXPECT_EQ(SafeArrayGetElement(array, &index, &b), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);

  SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
  EXPECT_EQ(SafeArrayCreateVector(VT_RECORD, 0, 1), nullptr);
}

TEST(SafeArray, VariantRowsOwnTheirValuesAndCopyDeeply) {
  SAFEARRAY* row = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  ASSERT_NE(row, nullptr);
  VARIANT text = MakeVariantBstr(u"first");
  LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(row, &index, &text), S_OK);
  VariantClear(&text);
  VARIANT second = MakeVariantBstr(u"second");
  ASSERT_EQ(SafeArrayPutElement(row, &index, &second), S_OK);  // replaces, frees "first"
  VariantClear(&second);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(row, &copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(row), S_OK);
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(SafeArrayGetElement(copy, &index, &out), S_OK);
  EXPECT_EQ(BstrView(out.bstrVal), u"second");
  VariantClear(&out);
  index = 1;
  ASSERT_EQ(SafeArrayGetElement(copy, &index, &out), S_OK);
  EXPECT_EQ(out.vt, VT_EMPTY);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);

  SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 0, 1);
  index = 0;
  BSTR name = SysAllocString(u"n");
  ASSERT_EQ(SafeArrayPutElement(names, &index, name), S_OK);
  SysFreeString(name);  // the array holds its own copy
  BSTR read = nullptr;
  ASSERT_EQ(SafeArrayGetElement(names, &index, &read), S_OK);
  EXPECT_EQ(BstrView(read), u"n");
  SysFreeString(read);
  EXPECT_EQ(SafeArrayDestroy(names), S_OK);
}

}  // namespace
