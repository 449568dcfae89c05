#include "platform/com/idl_parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string ModuleIdl() {
  std::ifstream in(std::string(ZELTO_SOURCE_DIR) + "/component/ZeltoCom.idl");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A small library around one interface body, for the member-level cases.
std::string WithMembers(const std::string& members, const std::string& iface_attrs = "dual") {
  return "[object, uuid(11111111-2222-3333-4444-555555555555), " + iface_attrs +
         "]\n"
         "interface IThing : IDispatch\n{\n" +
         members +
         "\n};\n"
         "[uuid(11111111-2222-3333-4444-666666666666), version(2.3)]\n"
         "library ThingLib\n{\n"
         "  [uuid(11111111-2222-3333-4444-777777777777)] coclass Thing { [default] interface "
         "IThing; };\n"
         "};\n";
}

TEST(IdlParser, ModuleIdlDescribesTheComponent) {
  IdlParseResult parsed = ParseIdl(ModuleIdl());
  ASSERT_TRUE(parsed.library) << parsed.error;
  const IdlLibrary& lib = *parsed.library;
  EXPECT_EQ(lib.name, "ZELTOCOMLib");
  EXPECT_EQ(lib.major, 1);
  EXPECT_EQ(lib.minor, 0);
  EXPECT_EQ(lib.lcid, 0x0409u);
  EXPECT_EQ(lib.helpstring, "ZeltoCom 1.0 Type Library");
  ASSERT_EQ(lib.interfaces.size(), 1u);
  ASSERT_EQ(lib.coclasses.size(), 1u);
  ASSERT_EQ(lib.entries.size(), 2u);  // nothing but the interface and the class

  const IdlInterface& iface = lib.interfaces[0];
  EXPECT_EQ(iface.name, "ICZeltoCom");
  EXPECT_EQ(iface.helpstring, "ICZeltoCom Interface");
  EXPECT_EQ(iface.flags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(iface.slots, 20);
  struct Expected {
    const char* name;
    MEMBERID id;
    size_t params;
  };
  const Expected expected[] = {
      {"OnStartPage", 0x60020000, 1},
      {"OnEndPage", 0x60020001, 0},
      {"GetClientMsg", 1, 3},
      {"GetUserMsg", 2, 1},
      {"DoClientMsg", 3, 0},
      {"DoUserMsg", 4, 1},
      {"InvitUser", 5, 0},
      {"TranstoUser", 6, 1},
      {"Test", 7, 0},
      {"TestDB", 8, 0},
      {"GetClientList", 9, 1},
      {"GetMonitorList", 10, 1},
      {"CheckDomain", 11, 2},
  };
  ASSERT_EQ(iface.methods.size(), std::size(expected));
  for (size_t i = 0; i < iface.methods.size(); ++i) {
    const IdlMethod& m = iface.methods[i];
    EXPECT_EQ(m.name, expected[i].name);
    EXPECT_EQ(m.id, expected[i].id) << m.name;
    EXPECT_EQ(m.slot, static_cast<int>(7 + i)) << m.name;
    EXPECT_EQ(m.params.size(), expected[i].params) << m.name;
    EXPECT_EQ(m.helpstring, i < 2 ? "" : "method " + m.name);
  }
  const IdlMethod& check = iface.methods[12];
  EXPECT_EQ(check.params[0].type.vt, VT_BSTR);
  EXPECT_EQ(check.params[0].flags, PARAMFLAG_FIN);
  EXPECT_EQ(check.params[1].type.vt, VT_I4);
  EXPECT_TRUE(check.params[1].type.by_pointer);
  EXPECT_EQ(check.params[1].flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  EXPECT_EQ(iface.methods[0].params[0].type.vt, VT_UNKNOWN);
  EXPECT_FALSE(iface.methods[0].params[0].type.by_pointer);

  const IdlCoclass& coclass = lib.coclasses[0];
  EXPECT_EQ(coclass.name, "CZeltoCom");
  EXPECT_EQ(coclass.helpstring, "CZeltoCom Class");
  EXPECT_EQ(coclass.flags, TYPEFLAG_FCANCREATE);
  ASSERT_EQ(coclass.interfaces.size(), 1u);
  EXPECT_EQ(coclass.interfaces[0].interface, "ICZeltoCom");
  EXPECT_EQ(coclass.interfaces[0].flags, IMPLTYPEFLAG_FDEFAULT);
}

TEST(IdlParser, DefaultIdsFollowTheMemberIndexAndDepth) {
  IdlParseResult parsed = ParseIdl(WithMembers(
      "[id(5)] HRESULT A(); HRESULT B(); HRESULT C([in] double d, [out, retval] VARIANT* r);"));
  ASSERT_TRUE(parsed.library) << parsed.error;
  const IdlInterface& iface = parsed.library->interfaces[0];
  EXPECT_EQ(iface.methods[1].id, 0x60020001);
  EXPECT_EQ(iface.methods[2].id, 0x60020002);
  EXPECT_EQ(parsed.library->major, 2);
  EXPECT_EQ(parsed.library->minor, 3);

  // An interface deriving from IUnknown is one level less deep and has 3
  // inherited slots; one deriving from it continues its slots.
  parsed = ParseIdl(
      "[object, uuid(11111111-2222-3333-4444-555555555551)] interface IBase : IUnknown { HRESULT "
      "X(); };\n"
      "[object, uuid(11111111-2222-3333-4444-555555555552)] interface IMore : IBase { HRESULT Y(); "
      "};\n"
      "[uuid(11111111-2222-3333-4444-555555555553)] library L { interface IMore; };");
  ASSERT_TRUE(parsed.library) << parsed.error;
  ASSERT_EQ(parsed.library->interfaces.size(), 2u);  // the base comes in with IMore
  EXPECT_EQ(parsed.library->interfaces[0].methods[0].id, 0x60010000);
  EXPECT_EQ(parsed.library->interfaces[0].methods[0].slot, 3);
  EXPECT_EQ(parsed.library->interfaces[1].methods[0].id, 0x60020000);
  EXPECT_EQ(parsed.library->interfaces[1].methods[0].slot, 4);
  EXPECT_EQ(parsed.library->interfaces[1].flags & TYPEFLAG_FDISPATCHABLE, 0);
}

TEST(IdlParser, RejectsWhatItDoesNotSupportWithTheLine) {
  struct Case {
    std::string text;
    const char* fragment;  // expected in the message
  };
  const Case cases[] = {
      {WithMembers("HRESULT A(char c);"), "line 4: unknown type 'char'"},
      {WithMembers("long A();"), "line 4: method must return HRESULT"},
      {WithMembers("HRESULT A([in] long* p);"), "by-reference parameter 'p'"},
      {WithMembers("HRESULT A([out] long* p);"), "must be the retval"},
      {WithMembers("HRESULT A([out, retval] long p);"), "must be a pointer"},
      {WithMembers("HRESULT A([out, retval] long* p, long q);"), "the retval must be last"},
      {WithMembers("HRESULT A([in, out] VARIANT* p);"), "in-out parameter"},
      {WithMembers("HRESULT A([optional] long p);"), "must be an input VARIANT"},
      {WithMembers("HRESULT A(long a, long A);"), "parameter 'A' repeated"},
      {WithMembers("[id(1)] HRESULT A(); [id(1)] HRESULT B();"), "id 1 used twice"},
      {WithMembers("HRESULT A(); HRESULT a();"), "method 'a' repeated"},
      {WithMembers("[propget] HRESULT A([out, retval] long* p);"), "'propget' is not supported"},
      {WithMembers("[id(0x1FFFFFFFF)] HRESULT A();"), "bad number"},
      {WithMembers("[helpstring(x)] HRESULT A();"), "needs a quoted string"},
      {WithMembers("HRESULT A(IUnknown p);"), "'IUnknown' is not supported"},
      {WithMembers("HRESULT A(long***p);"), "'long***' is not supported"},
      {WithMembers("HRESULT A()"), "expected ';' after the method"},
      {WithMembers("HRESULT A();", "uuid(1)"), "line 1: attribute 'uuid' repeated"},
      {WithMembers("HRESULT A();", "dual, bogus"), "attribute 'bogus' is not supported"},
      {"[object, uuid(zz)] interface I : IUnknown {};", "malformed uuid 'zz'"},
      {"[object] interface I : IUnknown {};", "'I' has no uuid"},
      {"[object, uuid(11111111-2222-3333-4444-555555555555)] interface I : IFoo {};",
       "unknown base interface 'IFoo'"},
      {"[object, uuid(11111111-2222-3333-4444-555555555555), dual] interface I : IUnknown {};",
       "must derive from IDispatch"},
      {"[uuid(11111111-2222-3333-4444-555555555555)] library L { coclass C {}; };",
       "'C' has no uuid"},
      {"[uuid(11111111-2222-3333-4444-555555555555)] library L { interface Nope; };",
       "unknown interface 'Nope'"},
      {"[uuid(11111111-2222-3333-4444-555555555555)] library L {};\n"
       "[uuid(11111111-2222-3333-4444-555555555556)] library M {};",
       "line 2: a second library"},
      {"import \"oaidl.idl\";", "no library"},
      {"/* never closed", "unterminated comment"},
      {"\n\n[helpstring(\"open", "line 3: unterminated string"},
      {"#include <x>", "line 1: unexpected character '#'"},
      {"[uuid(11111111-2222-3333-4444-555555555555)] library L {", "library 'L' is not closed"},
      {"typedef long X;", "expected 'import', 'interface' or 'library'"},
  };
  for (const Case& c : cases) {
    IdlParseResult parsed = ParseIdl(c.text);
    EXPECT_FALSE(parsed.library) << c.text;
    EXPECT_NE(parsed.error.find(c.fragment), std::string::npos)
        << "error '" << parsed.error << "' lacks '" << c.fragment << "'";
  }
}

// Every prefix and a few corruptions of the real file: an error or a library,
// never a crash or a read past the end (the sanitizer build checks that).
TEST(IdlParser, SurvivesTruncatedAndCorruptedText) {
  const std::string idl = ModuleIdl();
  for (size_t n = 0; n < idl.size(); ++n) {
    IdlParseResult parsed = ParseIdl(std::string_view(idl.data(), n));
    EXPECT_TRUE(parsed.library || parsed.error.rfind("line ", 0) == 0) << n;
  }
  for (size_t i = 0; i < idl.size(); i += 7) {
    for (char c : {'\0', '"', '[', '(', '\xff'}) {
      std::string bad = idl;
      bad[i] = c;
      IdlParseResult parsed = ParseIdl(bad);
      EXPECT_TRUE(parsed.library || !parsed.error.empty());
    }
  }
}

}  // namespace
