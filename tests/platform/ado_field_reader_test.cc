// The recordset's IFieldReader gives what Collect gives, field for field:
// character values as the same text in the ANSI code page, every other value
// as the same VARIANT, and the same errors.
#include <gtest/gtest.h>

#include <string>

#include "platform/ado/ado.h"
#include "platform/ado/field_reader.h"
#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/com/safearray.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"

namespace {

// A value as comparable text: its type and, where it has one, its text.
std::string Show(const VARIANT& v) {
  std::string shown = std::to_string(v.vt) + ":";
  if (v.vt == (VT_ARRAY | VT_UI1)) {
    LONG upper = -1;
    SafeArrayGetUBound(v.parray, 1, &upper);
    return shown + std::to_string(upper + 1) + " bytes";
  }
  VARIANT text;
  VariantInit(&text);
  if (SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR)))
    shown += WideToUtf8(BstrView(text.bstrVal));
  VariantClear(&text);
  return shown;
}

class FieldReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Execute("chat",
                "create table v(i INT, t NVARCHAR(20), d DATETIME, m DECIMAL(10,2), b BIT, "
                "x VARBINARY(10), [名字] NVARCHAR(5));"
                "insert into v values('abc', 5, 'not a date', '12.5', 1, X'0102', '王');"
                "insert into v values(7, '文字 text', '2024-05-20 09:17:25', 3, 0, 'ab', 'x');"
                "insert into v values(NULL, NULL, NULL, NULL, NULL, NULL, NULL);");
  }

  ComPtr<_Recordset> Open(const std::string& sql) {
    ComPtr<_Connection> c;
    EXPECT_EQ(CreateObjectByProgID("ADODB.Connection", IID__Connection, c.ReceiveVoid()), S_OK);
    BSTR cs = SysAllocStringView(Utf8ToWide(db_.ConnectionString("chat")));
    BSTR text = SysAllocStringView(Utf8ToWide(sql));
    EXPECT_EQ(c->Open(cs, nullptr, nullptr, adOptionUnspecified), S_OK);
    ComPtr<_Recordset> rs;
    EXPECT_EQ(c->Execute(text, nullptr, adCmdText, rs.Receive()), S_OK);
    SysFreeString(cs);
    SysFreeString(text);
    return rs;
  }

  zelto::testing::SeededDatabase db_;
};

TEST_F(FieldReaderTest, GivesWhatCollectGives) {
  ComPtr<_Recordset> rs = Open("select *, i || '!' as computed, 1.5 as real, 2 as whole from v");
  ComPtr<IFieldReader> reader;
  ASSERT_EQ(rs->QueryInterface(IID_IFieldReader, reader.ReceiveVoid()), S_OK);
  int texts = 0;
  for (int row = 0; row < 3; ++row, rs->MoveNext()) {
    for (LONG column = 0; column < 10; ++column) {
      VARIANT collected, read;
      VariantInit(&collected);
      VariantInit(&read);
      std::string ansi = "left over";
      ASSERT_EQ(rs->get_Collect(MakeVariantI4(column), &collected), S_OK);
      ASSERT_EQ(reader->ReadField(column, &read, &ansi), S_OK);
      if (collected.vt == VT_BSTR) {
        ++texts;
        EXPECT_EQ(read.vt, VT_EMPTY) << row << "/" << column;
        EXPECT_EQ(ansi, WideToAnsi(BstrView(collected.bstrVal))) << row << "/" << column;
      } else {
        EXPECT_EQ(Show(read), Show(collected)) << row << "/" << column;
      }
      VariantClear(&collected);
      VariantClear(&read);
    }
  }
  EXPECT_GE(texts, 8);  // text storage in typed columns, and computed text
}

TEST_F(FieldReaderTest, FindsNamesAndFailsAsCollect) {
  ComPtr<_Recordset> rs = Open("select i, t as I, [名字] from v where i = 7");
  ComPtr<IFieldReader> reader;
  ASSERT_EQ(rs->QueryInterface(IID_IFieldReader, reader.ReceiveVoid()), S_OK);
  LONG ordinal = -1;
  EXPECT_EQ(reader->FindField("I", &ordinal), S_OK);
  EXPECT_EQ(ordinal, 0);  // the first of two names
  EXPECT_EQ(reader->FindField(AnsiText("名字"), &ordinal), S_OK);
  EXPECT_EQ(ordinal, 2);
  EXPECT_EQ(reader->FindField(AnsiText("名"), &ordinal), adErrItemNotFound);
  EXPECT_EQ(reader->FindField("", &ordinal), adErrItemNotFound);

  VARIANT value;
  VariantInit(&value);
  std::string ansi;
  EXPECT_EQ(reader->ReadField(3, &value, &ansi), adErrItemNotFound);
  EXPECT_EQ(reader->ReadField(-1, &value, &ansi), adErrItemNotFound);
  ASSERT_EQ(rs->MoveNext(), S_OK);
  EXPECT_EQ(reader->ReadField(0, &value, &ansi), adErrNoCurrentRecord);
  ASSERT_EQ(rs->Close(), S_OK);
  EXPECT_EQ(reader->FindField("i", &ordinal), adErrObjectClosed);
  EXPECT_EQ(reader->ReadField(0, &value, &ansi), adErrObjectClosed);
}

}  // namespace
