#include "platform/com/type_library.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/com/com_ptr.h"
#include "platform/com/load_type_lib.h"
#include "platform/com/registry.h"
#include "platform/com/typelib_registration.h"
#include "platform/win/codepage.h"
#include "tests/support/scratch_registry.h"

namespace {

using zelto::testing::ScratchRegistry;

constexpr char kLibid[] = "{0D0C0B0A-0000-4000-8000-000000000001}";
constexpr char kIid[] = "{0D0C0B0A-0000-4000-8000-000000000002}";
constexpr char kClsid[] = "{0D0C0B0A-0000-4000-8000-000000000003}";

constexpr char kIdl[] = R"(
import "oaidl.idl";
[object, uuid(0D0C0B0A-0000-4000-8000-000000000002), dual, helpstring("IGadget Interface")]
interface IGadget : IDispatch {
  HRESULT Start([in] IUnknown* context);
  [id(1), helpstring("method Spin")] HRESULT Spin([in] long turns, [in] BSTR label, [out, retval] long* done);
};
[object, uuid(0D0C0B0A-0000-4000-8000-000000000004)]
interface IPlain : IUnknown { HRESULT Ping(); };
[uuid(0D0C0B0A-0000-4000-8000-000000000001), version(2.3), lcid(0x0409), helpstring("Gadget 2.3 Type Library")]
library GadgetLib {
  importlib("stdole2.tlb");
  interface IPlain;
  [uuid(0D0C0B0A-0000-4000-8000-000000000003), helpstring("Gadget Class")]
  coclass Gadget { [default] interface IGadget; };
};
)";

GUID Guid(const char* text) { return *GuidFromString(text); }

ComPtr<ITypeLib> Build() {
  ComPtr<ITypeLib> lib;
  std::string error;
  EXPECT_EQ(CreateTypeLibFromIdl(kIdl, lib.Receive(), &error), S_OK) << error;
  return lib;
}

std::string Text(BSTR b) {
  std::string s = WideToUtf8(BstrView(b));
  SysFreeString(b);
  return s;
}

std::string WriteIdl(const std::string& folder, const char* name, const std::string& text) {
  std::string path = folder + "/" + name;
  std::ofstream(path) << text;
  return path;
}

TEST(TypeLibrary, DescribesEntriesInLibraryOrder) {
  ComPtr<ITypeLib> lib = Build();
  ASSERT_TRUE(lib);
  ASSERT_EQ(lib->GetTypeInfoCount(), 3u);
  TYPEKIND kinds[3];
  for (UINT i = 0; i < 3; ++i) ASSERT_EQ(lib->GetTypeInfoType(i, &kinds[i]), S_OK);
  EXPECT_EQ(kinds[0], TKIND_INTERFACE);  // IPlain, named first
  EXPECT_EQ(kinds[1], TKIND_DISPATCH);   // IGadget, dual, just before its class
  EXPECT_EQ(kinds[2], TKIND_COCLASS);
  TYPEKIND kind;
  EXPECT_EQ(lib->GetTypeInfoType(3, &kind), TYPE_E_ELEMENTNOTFOUND);

  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, Guid(kLibid));
  EXPECT_EQ(attr->lcid, 0x0409u);
  EXPECT_EQ(attr->wMajorVerNum, 2);
  EXPECT_EQ(attr->wMinorVerNum, 3);
  lib->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "GadgetLib");
  EXPECT_EQ(Text(doc), "Gadget 2.3 Type Library");
  ASSERT_EQ(lib->GetDocumentation(2, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "Gadget");
  EXPECT_EQ(Text(doc), "Gadget Class");
  EXPECT_EQ(lib->GetDocumentation(7, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);

  ComPtr<ITypeInfo> info;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(Guid("{0D0C0B0A-0000-4000-8000-0000000000FF}"), info.Receive()),
            TYPE_E_ELEMENTNOTFOUND);
  EXPECT_FALSE(info);
}

TEST(TypeLibrary, InterfaceTypeInfoGivesSlotsFlagsAndParameters) {
  ComPtr<ITypeLib> lib = Build();
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(Guid(kIid), info.Receive()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 2);
  EXPECT_EQ(attr->cbSizeVft, 9 * sizeof(void*));
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  info->ReleaseTypeAttr(attr);

  FUNCDESC* spin = nullptr;
  ASSERT_EQ(info->GetFuncDesc(1, &spin), S_OK);
  EXPECT_EQ(spin->memid, 1);
  EXPECT_EQ(spin->oVft, 8 * static_cast<SHORT>(sizeof(void*)));
  EXPECT_EQ(spin->invkind, INVOKE_FUNC);
  ASSERT_EQ(spin->cParams, 3);
  EXPECT_EQ(spin->lprgelemdescParam[0].tdesc.vt, VT_I4);
  EXPECT_EQ(spin->lprgelemdescParam[1].tdesc.vt, VT_BSTR);
  EXPECT_EQ(spin->lprgelemdescParam[2].tdesc.vt, VT_PTR);
  EXPECT_EQ(spin->lprgelemdescParam[2].tdesc.lptdesc->vt, VT_I4);
  EXPECT_EQ(spin->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  EXPECT_EQ(spin->elemdescFunc.tdesc.vt, VT_HRESULT);
  info->ReleaseFuncDesc(spin);
  FUNCDESC* none = nullptr;
  EXPECT_EQ(info->GetFuncDesc(2, &none), TYPE_E_ELEMENTNOTFOUND);

  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(1, names, 4, &count), S_OK);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(Text(names[0]), "Spin");
  EXPECT_EQ(Text(names[1]), "turns");
  EXPECT_EQ(Text(names[2]), "label");
  EXPECT_EQ(Text(names[3]), "done");

  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(info->GetDocumentation(1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "Spin");
  EXPECT_EQ(Text(doc), "method Spin");
  ASSERT_EQ(info->GetDocumentation(0x60020000, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "Start");
  EXPECT_EQ(doc, nullptr);  // no help string
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "IGadget");
  EXPECT_EQ(Text(doc), "IGadget Interface");

  ComPtr<ITypeLib> containing;
  UINT index = 99;
  ASSERT_EQ(info->GetContainingTypeLib(containing.Receive(), &index), S_OK);
  EXPECT_EQ(containing.Get(), lib.Get());
  EXPECT_EQ(index, 1u);
}

TEST(TypeLibrary, NamesResolveCaseInsensitively) {
  ComPtr<ITypeLib> lib = Build();
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(Guid(kIid), info.Receive()), S_OK);
  struct Case {
    std::vector<std::u16string> names;
    HRESULT hr;
    std::vector<MEMBERID> ids;
  };
  const Case cases[] = {
      {{u"spin"}, S_OK, {1}},
      {{u"START"}, S_OK, {0x60020000}},
      {{u"Spin", u"LABEL", u"turns"}, S_OK, {1, 1, 0}},
      {{u"Spin", u"nope"}, DISP_E_UNKNOWNNAME, {1, DISPID_UNKNOWN}},
      {{u"Spinner"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
      {{u""}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
  };
  for (const Case& c : cases) {
    std::vector<std::u16string> copies = c.names;
    std::vector<LPOLESTR> names;
    for (auto& n : copies) names.push_back(n.data());
    std::vector<MEMBERID> ids(names.size(), 12345);
    EXPECT_EQ(info->GetIDsOfNames(names.data(), static_cast<UINT>(names.size()), ids.data()), c.hr);
    EXPECT_EQ(ids, c.ids);
  }
}

TEST(TypeLibrary, ClassNamesItsDefaultInterface) {
  ComPtr<ITypeLib> lib = Build();
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(Guid(kClsid), coclass.Receive()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
  EXPECT_EQ(attr->cImplTypes, 1);
  HREFTYPE ref;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  EXPECT_EQ(coclass->GetRefTypeOfImplType(1, &ref), TYPE_E_ELEMENTNOTFOUND);
  ComPtr<ITypeInfo> iface;
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, iface.Receive()), S_OK);
  TYPEATTR* iface_attr = nullptr;
  ASSERT_EQ(iface->GetTypeAttr(&iface_attr), S_OK);
  EXPECT_EQ(iface_attr->guid, Guid(kIid));
}

// A type info keeps its library alive after the caller's last library
// reference goes (the sanitizer build would catch a use after free).
TEST(TypeLibrary, TypeInfoOutlivesTheCallersLibraryReference) {
  ComPtr<ITypeInfo> info;
  {
    ComPtr<ITypeLib> lib = Build();
    ASSERT_EQ(lib->GetTypeInfo(1, info.Receive()), S_OK);
  }
  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "IGadget");
}

TEST(LoadTypeLib, ReadsIdlFilesAndModulesAndCachesPerPath) {
  ScratchRegistry scratch;
  const std::string path = WriteIdl(scratch.folder(), "gadget.idl", kIdl);
  ComPtr<ITypeLib> first, second;
  ASSERT_EQ(LoadTypeLib(Utf8ToWide(path).c_str(), first.Receive()), S_OK) << LastTypeLibError();
  ASSERT_EQ(LoadTypeLib(Utf8ToWide(path).c_str(), second.Receive()), S_OK);
  EXPECT_EQ(first.Get(), second.Get());

  ComPtr<ITypeLib> module_lib;
  const std::string module = std::string(ZELTO_BIN_DIR) + "/ZeltoCom.so";
  ASSERT_EQ(LoadTypeLib(Utf8ToWide(module).c_str(), module_lib.Receive()), S_OK)
      << LastTypeLibError();
  BSTR name = nullptr;
  ASSERT_EQ(module_lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "ZELTOCOMLib");

  struct Case {
    std::string path;
    HRESULT hr;
  };
  const Case failures[] = {
      {scratch.folder() + "/missing.idl", TYPE_E_CANTLOADLIBRARY},
      {std::string(ZELTO_BIN_DIR) + "/libzplatform.so", TYPE_E_CANTLOADLIBRARY},  // no resource
      {WriteIdl(scratch.folder(), "bad.idl", "library {"), TYPE_E_INVDATAREAD},
  };
  for (const Case& c : failures) {
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLib(Utf8ToWide(c.path).c_str(), lib.Receive()), c.hr) << c.path;
    EXPECT_FALSE(lib);
    EXPECT_FALSE(LastTypeLibError().empty());
  }
}

TEST(TypeLibRegistration, WritesTheStandardKeysAndFindsThemForEveryLocale) {
  ScratchRegistry scratch;
  const std::string path = WriteIdl(scratch.folder(), "gadget.idl", kIdl);
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLib(Utf8ToWide(path).c_str(), lib.Receive()), S_OK);
  ASSERT_EQ(RegisterTypeLib(lib.Get(), Utf8ToWide(path).c_str(), u"/help/dir"), S_OK);
  ASSERT_EQ(RegistryUpdate([](RegistryTree& t) {
              t.SetValue("Interface\\{0D0C0B0A-0000-4000-8000-0000000000AA}", "", "Other");
              return S_OK;
            }),
            S_OK);

  const std::string version = std::string("TypeLib\\") + kLibid + "\\2.3";
  const std::string iface = std::string("Interface\\") + kIid;
  RegistryRead([&](const RegistryTree& t) {
    EXPECT_EQ(t.GetValue(version, ""), "Gadget 2.3 Type Library");
    EXPECT_EQ(t.GetValue(version + "\\0\\win32", ""), path);
    EXPECT_EQ(t.GetValue(version + "\\FLAGS", ""), "0");
    EXPECT_EQ(t.GetValue(version + "\\HELPDIR", ""), "/help/dir");
    EXPECT_EQ(t.GetValue(iface, ""), "IGadget");
    EXPECT_EQ(t.GetValue(iface + "\\ProxyStubClsid32", ""),
              "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(t.GetValue(iface + "\\TypeLib", ""), kLibid);
    EXPECT_EQ(t.GetValue(iface + "\\TypeLib", "Version"), "2.3");
    // Only dual and oleautomation interfaces get Interface keys.
    EXPECT_FALSE(t.KeyExists("Interface\\{0D0C0B0A-0000-4000-8000-000000000004}"));
  });

  struct Lookup {
    WORD major, minor;
    LCID lcid;
    HRESULT hr;
  };
  const Lookup lookups[] = {
      {2, 3, 0x0409, S_OK},
      {2, 0, 0x0804, S_OK},
      {2, 1, LOCALE_USER_DEFAULT, S_OK},
      {2, 3, 0, S_OK},
      {2, 4, 0, TYPE_E_LIBNOTREGISTERED},
      {1, 0, 0, TYPE_E_LIBNOTREGISTERED},
  };
  for (const Lookup& l : lookups) {
    ComPtr<ITypeLib> found;
    EXPECT_EQ(LoadRegTypeLib(Guid(kLibid), l.major, l.minor, l.lcid, found.Receive()), l.hr)
        << l.major << "." << l.minor << " lcid " << l.lcid;
    if (l.hr == S_OK) EXPECT_EQ(found.Get(), lib.Get());
  }

  ASSERT_EQ(UnRegisterTypeLib(Guid(kLibid), 2, 3, 0x0409, SYS_WIN32), S_OK);
  RegistryRead([&](const RegistryTree& t) {
    EXPECT_FALSE(t.KeyExists(std::string("TypeLib\\") + kLibid));
    EXPECT_FALSE(t.KeyExists(iface));
    EXPECT_TRUE(t.KeyExists("Interface\\{0D0C0B0A-0000-4000-8000-0000000000AA}"));
  });
  EXPECT_EQ(UnRegisterTypeLib(Guid(kLibid), 2, 3, 0x0409, SYS_WIN32), TYPE_E_REGISTRYACCESS);
  ComPtr<ITypeLib> gone;
  EXPECT_EQ(LoadRegTypeLib(Guid(kLibid), 2, 3, 0, gone.Receive()), TYPE_E_LIBNOTREGISTERED);
}

// A registration naming a file that holds another library is not this
// library's registration.
TEST(TypeLibRegistration, RejectsARegisteredFileOfAnotherLibrary) {
  ScratchRegistry scratch;
  std::string other = kIdl;
  other.replace(other.find("uuid(0D0C0B0A-0000-4000-8000-000000000001)"), 42,
                "uuid(0D0C0B0A-0000-4000-8000-000000000009)");
  const std::string path = WriteIdl(scratch.folder(), "other.idl", other);
  ASSERT_EQ(RegistryUpdate([&](RegistryTree& t) {
              t.SetValue(std::string("TypeLib\\") + kLibid + "\\2.3\\0\\win32", "", path);
              return S_OK;
            }),
            S_OK);
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(Guid(kLibid), 2, 3, 0, lib.Receive()), TYPE_E_LIBNOTREGISTERED);
}

}  // namespace
