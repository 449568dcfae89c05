// "ADODB.Connection" and "ADODB.Recordset" as a page reaches them: created by
// ProgID, failures as HRESULTs, values as typed VARIANTs.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/ado/ado.h"
#include "platform/ado/field_value.h"
#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"

namespace {

struct Bstr {
  explicit Bstr(std::u16string_view text) : b(SysAllocStringView(text)) {}
  explicit Bstr(const std::string& utf8) : Bstr(Utf8ToWide(utf8)) {}
  ~Bstr() { SysFreeString(b); }
  BSTR b;
};

class AdoObjectsTest : public ::testing::Test {
 protected:
  ComPtr<_Connection> OpenConnection() {
    ComPtr<_Connection> c;
    EXPECT_EQ(CreateObjectByProgID("ADODB.Connection", IID__Connection, c.ReceiveVoid()), S_OK);
    Bstr cs(db_.ConnectionString("chat"));
    Bstr empty(u"");
    EXPECT_EQ(c->Open(cs.b, empty.b, empty.b, adOptionUnspecified), S_OK);
    return c;
  }
  ComPtr<_Recordset> Run(_Connection* c, const std::string& sql, HRESULT expected = S_OK) {
    ComPtr<_Recordset> rs;
    Bstr text(sql);
    EXPECT_EQ(c->Execute(text.b, nullptr, adCmdText, rs.Receive()), expected) << sql;
    return rs;
  }
  VARIANT Field(_Recordset* rs, const char16_t* name) {
    VARIANT index = MakeVariantBstr(name);
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(rs->get_Collect(index, &value), S_OK);
    VariantClear(&index);
    return value;
  }
  zelto::testing::SeededDatabase db_;
};

TEST_F(AdoObjectsTest, ClassesAreCreatedByProgIdWithTheirRealIds) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"ADODB.Connection", &clsid), S_OK);
  EXPECT_EQ(GuidToString(clsid), "{00000514-0000-0010-8000-00AA006D2EA4}");
  ASSERT_EQ(CLSIDFromProgID(u"ADODB.Recordset", &clsid), S_OK);
  EXPECT_EQ(GuidToString(clsid), "{00000535-0000-0010-8000-00AA006D2EA4}");
  ComPtr<_Recordset> rs;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID__Recordset, rs.ReceiveVoid()), S_OK);
  LONG state = -1;
  EXPECT_EQ(rs->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateClosed);
  VARIANT_BOOL eof;
  EXPECT_EQ(rs->get_EOF(&eof), adErrObjectClosed);
  EXPECT_EQ(rs->MoveNext(), adErrObjectClosed);
  EXPECT_EQ(rs->Close(), adErrObjectClosed);
}

TEST_F(AdoObjectsTest, ConnectionStateAndFailures) {
  ComPtr<_Connection> c;
  ASSERT_EQ(CreateObjectByProgID("ADODB.Connection", IID__Connection, c.ReceiveVoid()), S_OK);
  ComPtr<_Recordset> rs;
  Bstr sql(u"select 1");
  EXPECT_EQ(c->Execute(sql.b, nullptr, adCmdText, rs.Receive()), adErrObjectClosed);
  EXPECT_EQ(c->Close(), adErrObjectClosed);
  Bstr empty(u"");
  Bstr other(u"Provider=Microsoft.Jet.OLEDB.4.0; Data Source=x");
  EXPECT_EQ(c->Open(other.b, empty.b, empty.b, -1), adErrProviderNotFound);
  Bstr garbage(u"no equals sign");
  EXPECT_TRUE(FAILED(c->Open(garbage.b, empty.b, empty.b, -1)));
  c = OpenConnection();
  LONG state = 0;
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateOpen);
  Bstr cs(db_.ConnectionString());
  EXPECT_EQ(c->Open(cs.b, empty.b, empty.b, -1), adErrObjectOpen);
  EXPECT_EQ(c->CommitTrans(), XACT_E_NOTRANSACTION);
  Run(c.Get(), "select * from nosuch", DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(c->Close(), S_OK);
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateClosed);
}

// One thread opening different connection strings in turn (pages of two
// sites, or a bad string between good ones) reaches each one's own database.
TEST_F(AdoObjectsTest, EachOpenUsesItsOwnConnectionString) {
  zelto::testing::SeededDatabase other;
  Bstr empty(u"");
  auto open = [&](const std::string& text) {
    ComPtr<_Connection> c;
    EXPECT_EQ(CreateObjectByProgID("ADODB.Connection", IID__Connection, c.ReceiveVoid()), S_OK);
    Bstr cs(text);
    const HRESULT hr = c->Open(cs.b, empty.b, empty.b, adOptionUnspecified);
    return std::make_pair(hr, c);
  };
  const std::string mine = db_.ConnectionString("chat"), theirs = other.ConnectionString("chat");
  for (const std::string& text : {mine, theirs, std::string("no equals sign"), mine}) {
    auto [hr, c] = open(text);
    if (text == "no equals sign") {
      EXPECT_TRUE(FAILED(hr));
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    Run(c.Get(), "insert into preMsg(cstlabel,conid) values('" +
                     std::string(text == mine ? "mine" : "theirs") + "',1)");
  }
  EXPECT_EQ(db_.Scalar("chat", "select group_concat(cstlabel) from preMsg"), "mine,mine");
  EXPECT_EQ(other.Scalar("chat", "select group_concat(cstlabel) from preMsg"), "theirs");
}

TEST_F(AdoObjectsTest, ChangesGiveAClosedRecordsetAndTheirCount) {
  ComPtr<_Connection> c = OpenConnection();
  db_.Execute("chat", "insert into preMsg values('a',1); insert into preMsg values('b',1)");
  VARIANT affected;
  VariantInit(&affected);
  ComPtr<_Recordset> rs;
  Bstr sql(u"update preMsg set conid=2 where conid=1");
  ASSERT_EQ(c->Execute(sql.b, &affected, adCmdText, rs.Receive()), S_OK);
  EXPECT_EQ(affected.vt, VT_I4);
  EXPECT_EQ(affected.lVal, 2);
  LONG state = -1;
  rs->get_State(&state);
  EXPECT_EQ(state, adStateClosed);
  ASSERT_EQ(c->Execute(sql.b, nullptr, adExecuteNoRecords, rs.Receive()), S_OK);
  EXPECT_FALSE(rs);
}

TEST_F(AdoObjectsTest, CursorMovesForwardToEof) {
  db_.Execute("chat", "insert into preMsg values('a',1); insert into preMsg values('b',2)");
  ComPtr<_Connection> c = OpenConnection();
  ComPtr<_Recordset> rs = Run(c.Get(), "select cstlabel, conid from preMsg order by conid");
  VARIANT_BOOL bof, eof;
  ASSERT_EQ(rs->get_BOF(&bof), S_OK);
  ASSERT_EQ(rs->get_EOF(&eof), S_OK);
  EXPECT_FALSE(bof);
  EXPECT_FALSE(eof);
  VARIANT by_ordinal = MakeVariantI4(1);
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(rs->get_Collect(by_ordinal, &value), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 1);
  VARIANT missing = MakeVariantBstr(u"nosuch");
  EXPECT_EQ(rs->get_Collect(missing, &value), adErrItemNotFound);
  VARIANT past = MakeVariantI4(2);
  EXPECT_EQ(rs->get_Collect(past, &value), adErrItemNotFound);
  EXPECT_EQ(rs->MoveNext(), S_OK);
  EXPECT_EQ(rs->MoveNext(), S_OK);
  ASSERT_EQ(rs->get_EOF(&eof), S_OK);
  EXPECT_TRUE(eof);
  EXPECT_EQ(rs->MoveNext(), adErrNoCurrentRecord);
  EXPECT_EQ(rs->get_Collect(by_ordinal, &value), adErrNoCurrentRecord);
  VariantClear(&missing);
  // The recordset outlives its connection.
  ComPtr<_Recordset> kept = Run(c.Get(), "select cstlabel from preMsg");
  c->Close();
  value = Field(kept.Get(), u"CSTLABEL");
  EXPECT_EQ(BstrView(value.bstrVal), u"a");
  VariantClear(&value);
}

TEST_F(AdoObjectsTest, ValuesAreTypedByDeclaredType) {
  db_.Execute("chat",
              "create table kinds(i INT, s SMALLINT, t TINYINT, b BIT, f FLOAT, r REAL, m MONEY, "
              "d DECIMAL(9,3), dt DATETIME, bad DATETIME, v NVARCHAR(9), bin IMAGE, big BIGINT, "
              "i_text INT);"
              "insert into kinds values(7, -3, 200, 0, 0.5, 0.25, 1.2345, '-12.500', "
              "'2024-02-29 23:59:59.6', 'soon', 'héllo', 0x00ff, 9000000000, 'x')");
  ComPtr<_Connection> c = OpenConnection();
  ComPtr<_Recordset> rs = Run(c.Get(), "select *, i + 1 as calc, null as nil from kinds");
  struct Expect {
    const char16_t* name;
    VARTYPE vt;
  };
  const Expect expected[] = {
      {u"i", VT_I4},     {u"s", VT_I2},   {u"t", VT_UI1},    {u"b", VT_BOOL},
      {u"f", VT_R8},     {u"r", VT_R4},   {u"m", VT_CY},     {u"d", VT_DECIMAL},
      {u"dt", VT_DATE},  {u"bad", VT_BSTR}, {u"v", VT_BSTR}, {u"bin", VT_ARRAY | VT_UI1},
      {u"big", VT_I8},   {u"i_text", VT_BSTR}, {u"calc", VT_I4}, {u"nil", VT_NULL},
  };
  for (const Expect& e : expected) {
    VARIANT v = Field(rs.Get(), e.name);
    EXPECT_EQ(v.vt, e.vt) << WideToUtf8(e.name);
    VariantClear(&v);
  }
  VARIANT m = Field(rs.Get(), u"m");
  EXPECT_EQ(m.cyVal.int64, 12345);
  VARIANT d = Field(rs.Get(), u"d");
  EXPECT_EQ(d.decVal.scale, 3);
  EXPECT_EQ(d.decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(d.decVal.Lo64, 12500u);
  VARIANT v = Field(rs.Get(), u"v");
  EXPECT_EQ(BstrView(v.bstrVal), u"héllo");
  VariantClear(&v);
  VARIANT dt = Field(rs.Get(), u"dt");
  SYSTEMTIME st;
  ASSERT_TRUE(VariantTimeToSystemTime(dt.date, &st));  // rounds up into March
  EXPECT_EQ(st.wMonth, 3);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wHour, 0);
}

TEST(SqlDateTextTest, AcceptsOnlyRealDates) {
  EXPECT_TRUE(zelto::ado::DateFromSqlText("2024-05-20 09:15:02"));
  EXPECT_TRUE(zelto::ado::DateFromSqlText("2024-05-20"));
  EXPECT_TRUE(zelto::ado::DateFromSqlText("2024-05-20T09:15"));
  EXPECT_TRUE(zelto::ado::DateFromSqlText("1899-12-29 06:00:00.25"));
  for (const char* bad : {"2023-02-29", "2024-13-01", "2024-05-20 24:00:00", "2024-5-20",
                          "2024-05-20 09:15:02x", "2024-05-20 09:15:02.", ""}) {
    EXPECT_FALSE(zelto::ado::DateFromSqlText(bad)) << bad;
  }
  // Before 1899-12-30 the time of day still counts forward.
  DATE before = *zelto::ado::DateFromSqlText("1899-12-29 06:00:00");
  EXPECT_DOUBLE_EQ(before, -1.25);
}

}  // namespace
