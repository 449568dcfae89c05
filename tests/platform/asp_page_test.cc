#include <gtest/gtest.h>

#include <functional>

#include "platform/asp/in_memory_page.h"
#include "platform/com/com_ptr.h"

namespace {

ComPtr<IScriptingContext> ContextOf(const InMemoryPage& page) {
  ComPtr<IScriptingContext> context;
  EXPECT_EQ(page.context()->QueryInterface(IID_IScriptingContext, context.ReceiveVoid()), S_OK);
  return context;
}

// The value of `key` in the page's QueryString (or ServerVariables) collection.
VARIANT Item(const InMemoryPage& page, const char16_t* key, bool server_variables = false) {
  ComPtr<IRequest> request;
  EXPECT_EQ(ContextOf(page)->get_Request(request.Receive()), S_OK);
  ComPtr<IRequestDictionary> values;
  EXPECT_EQ(server_variables ? request->get_ServerVariables(values.Receive())
                             : request->get_QueryString(values.Receive()),
            S_OK);
  VARIANT name = MakeVariantBstr(key);
  VARIANT value;
  EXPECT_EQ(values->get_Item(name, &value), S_OK);
  VariantClear(&name);
  return value;
}

std::u16string TextOf(VARIANT value) {
  EXPECT_EQ(value.vt, VT_BSTR);
  std::u16string text(BstrView(value.vt == VT_BSTR ? value.bstrVal : nullptr));
  VariantClear(&value);
  return text;
}

TEST(InMemoryPage, QueryAndServerVariables) {
  InMemoryPage page = InMemoryPage::Builder()
                          .QueryString("cid=12&Action=sub&cid=13")
                          .QueryValue(u"n", MakeVariantI4(5))
                          .ServerVariable("REMOTE_ADDR", "10.1.2.3")
                          .Build();
  EXPECT_EQ(TextOf(Item(page, u"CID")), u"12");
  EXPECT_EQ(TextOf(Item(page, u"action")), u"sub");
  EXPECT_EQ(TextOf(Item(page, u"remote_addr", true)), u"10.1.2.3");
  VARIANT number = Item(page, u"n");
  EXPECT_EQ(number.vt, VT_I4);
  EXPECT_EQ(number.lVal, 5);
  EXPECT_EQ(Item(page, u"missing").vt, VT_EMPTY);
  EXPECT_EQ(Item(page, u"cid", true).vt, VT_EMPTY) << "collections are separate";
}

TEST(InMemoryPage, EachMemberFailsWithItsChosenCode) {
  const HRESULT kCode = static_cast<HRESULT>(0x80070666u);
  using Call = std::function<HRESULT(IScriptingContext*)>;
  struct Case {
    PageMember member;
    Call call;
  } cases[] = {
      {PageMember::kRequest,
       [](IScriptingContext* c) {
         ComPtr<IRequest> p;
         return c->get_Request(p.Receive());
       }},
      {PageMember::kResponse,
       [](IScriptingContext* c) {
         ComPtr<IResponse> p;
         return c->get_Response(p.Receive());
       }},
      {PageMember::kServer,
       [](IScriptingContext* c) {
         ComPtr<IServer> p;
         return c->get_Server(p.Receive());
       }},
      {PageMember::kSession,
       [](IScriptingContext* c) {
         ComPtr<ISessionObject> p;
         return c->get_Session(p.Receive());
       }},
      {PageMember::kApplication,
       [](IScriptingContext* c) {
         ComPtr<IApplicationObject> p;
         return c->get_Application(p.Receive());
       }},
      {PageMember::kQueryString,
       [](IScriptingContext* c) {
         ComPtr<IRequest> r;
         c->get_Request(r.Receive());
         ComPtr<IRequestDictionary> d;
         return r->get_QueryString(d.Receive());
       }},
      {PageMember::kSessionValue,
       [](IScriptingContext* c) {
         ComPtr<ISessionObject> s;
         c->get_Session(s.Receive());
         VARIANT v;
         BSTR key = SysAllocString(u"DBName");
         const HRESULT hr = s->get_Value(key, &v);
         SysFreeString(key);
         EXPECT_EQ(v.vt, VT_EMPTY);
         return hr;
       }},
      {PageMember::kEnd,
       [](IScriptingContext* c) {
         ComPtr<IResponse> r;
         c->get_Response(r.Receive());
         return r->End();
       }},
  };
  for (const Case& c : cases) {
    InMemoryPage healthy = InMemoryPage::Builder().Build();
    EXPECT_EQ(c.call(ContextOf(healthy).Get()), S_OK) << static_cast<int>(c.member);
    InMemoryPage failing = InMemoryPage::Builder().Fail(c.member, kCode).Build();
    EXPECT_EQ(c.call(ContextOf(failing).Get()), kCode) << static_cast<int>(c.member);
    EXPECT_FALSE(failing.ended());
  }

  InMemoryPage no_context =
      InMemoryPage::Builder().Fail(PageMember::kScriptingContext, kCode).Build();
  void* out = &no_context;
  EXPECT_EQ(no_context.context()->QueryInterface(IID_IScriptingContext, &out), kCode);
  EXPECT_EQ(out, nullptr);
}

TEST(InMemoryPage, NoSessionGivesNullWithSuccess) {
  InMemoryPage page = InMemoryPage::Builder().SessionText("DBName", "chat").NoSession().Build();
  ISessionObject* session = reinterpret_cast<ISessionObject*>(&page);
  EXPECT_EQ(ContextOf(page)->get_Session(&session), S_OK);
  EXPECT_EQ(session, nullptr);
  EXPECT_EQ(page.session(), nullptr);
}

TEST(InMemoryPage, ResponseCollectsTextUntilEnd) {
  InMemoryPage page = InMemoryPage::Builder().Build();
  ComPtr<IResponse> response;
  ASSERT_EQ(ContextOf(page)->get_Response(response.Receive()), S_OK);
  VARIANT text = MakeVariantBstr(u"<b>你</b>");
  EXPECT_EQ(response->Write(text), S_OK);
  EXPECT_EQ(response->Write(MakeVariantI4(-7)), S_OK);
  EXPECT_EQ(response->End(), S_OK);
  EXPECT_EQ(response->Write(text), S_OK);
  VariantClear(&text);
  EXPECT_EQ(page.body(), u"<b>你</b>-7");
  EXPECT_TRUE(page.ended());

  InMemoryPage failing = InMemoryPage::Builder().Fail(PageMember::kWrite, E_FAIL).Build();
  ASSERT_EQ(ContextOf(failing)->get_Response(response.Receive()), S_OK);
  EXPECT_EQ(response->Write(MakeVariantI4(1)), E_FAIL);
  EXPECT_EQ(failing.body(), u"");
}

TEST(InMemoryPage, SessionIsSharedBetweenPages) {
  auto session = std::make_shared<SessionValues>();
  session->SetText("DBServer", "/srv/data");
  InMemoryPage first = InMemoryPage::Builder().Session(session).Build();
  ComPtr<ISessionObject> object;
  ASSERT_EQ(ContextOf(first)->get_Session(object.Receive()), S_OK);
  BSTR key = SysAllocString(u"timelabel");
  EXPECT_EQ(object->put_Value(key, MakeVariantI4(42)), S_OK);

  InMemoryPage second = InMemoryPage::Builder().Session(session).Build();
  ASSERT_EQ(ContextOf(second)->get_Session(object.Receive()), S_OK);
  VARIANT value;
  EXPECT_EQ(object->get_Value(key, &value), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 42);
  SysFreeString(key);
  key = SysAllocString(u"dbserver");
  EXPECT_EQ(object->get_Value(key, &value), S_OK);
  EXPECT_EQ(TextOf(value), u"/srv/data");
  SysFreeString(key);
  EXPECT_EQ(session->size(), 2u);
}

TEST(InMemoryPage, CountsReferencesOthersHold) {
  InMemoryPage page = InMemoryPage::Builder().Build();
  ComPtr<IScriptingContext> context = ContextOf(page);
  EXPECT_EQ(page.ExternalReferences(PageMember::kScriptingContext), 1);
  ComPtr<IRequest> request;
  context->get_Request(request.Receive());
  ComPtr<IRequest> again;
  context->get_Request(again.Receive());
  EXPECT_EQ(page.ExternalReferences(PageMember::kRequest), 2);
  EXPECT_EQ(page.ExternalReferences(PageMember::kResponse), 0);
  request.Reset();
  again.Reset();
  context.Reset();
  EXPECT_EQ(page.ExternalReferences(PageMember::kRequest), 0);
  EXPECT_EQ(page.ExternalReferences(PageMember::kScriptingContext), 0);
}

TEST(InMemoryPage, ObjectsOutliveThePage) {
  ComPtr<IResponse> response;
  {
    InMemoryPage page = InMemoryPage::Builder().Build();
    ContextOf(page)->get_Response(response.Receive());
  }
  EXPECT_EQ(response->Write(MakeVariantI4(1)), S_OK);
  EXPECT_EQ(response->End(), S_OK);
}

}  // namespace
