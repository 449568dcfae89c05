// The ZeltoCom module as clients see it: loaded from the built ZeltoCom.so,
// through its exports, the registry and CoCreateInstance by ProgID.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "component/iczeltocom.h"
#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/com/module_loader.h"
#include "platform/com/module_resources.h"
#include "platform/com/registry.h"
#include "platform/com/typeinfo.h"
#include "platform/win/codepage.h"
#include "tests/support/scratch_registry.h"

namespace {

using zelto::testing::ScratchRegistry;

const std::string kModule = std::string(ZELTO_BIN_DIR) + "/ZeltoCom.so";
const std::string kZelto = std::string(ZELTO_BIN_DIR) + "/zelto";
const std::string kClassKey = "CLSID\\" + GuidToString(CLSID_CZeltoCom);

void* Module() {
  void* module = nullptr;
  EXPECT_EQ(LoadModule(kModule, &module), S_OK) << LastModuleError();
  return module;
}

template <typename F>
F Export(const char* name) {
  auto fn = reinterpret_cast<F>(GetModuleProc(Module(), name));
  EXPECT_NE(fn, nullptr) << name;
  return fn;
}

HRESULT CanUnloadNow() { return Export<HRESULT (*)()>("DllCanUnloadNow")(); }
HRESULT RegisterServer() { return Export<HRESULT (*)()>("DllRegisterServer")(); }
HRESULT UnregisterServer() { return Export<HRESULT (*)()>("DllUnregisterServer")(); }
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return Export<HRESULT (*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(clsid, riid, ppv);
}

ComPtr<IClassFactory> Factory() {
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(GetClassObject(CLSID_CZeltoCom, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
  return factory;
}

int RunShell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ZeltoComModule, ExportsOnlyItsEntryPointsAndResources) {
  for (const char* name : {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                           "DllUnregisterServer", kModuleResourceExport}) {
    EXPECT_NE(GetModuleProc(Module(), name), nullptr) << name;
  }
  // Internal functions stay inside (ModuleLock(), CZeltoCom's constructor).
  for (const char* name : {"_Z10ModuleLockv", "_ZN9CZeltoComC1EP8IUnknown", "CheckDomain"}) {
    EXPECT_EQ(GetModuleProc(Module(), name), nullptr) << name;
  }

  EXPECT_EQ(FindModuleResource(Module(), "TYPELIB", 1),
            ReadFile(std::string(ZELTO_SOURCE_DIR) + "/component/ZeltoCom.idl"));
  EXPECT_EQ(FindModuleResource(Module(), "REGISTRY", 102),
            ReadFile(std::string(ZELTO_SOURCE_DIR) + "/component/ZeltoCom.rgs"));
  EXPECT_EQ(FindModuleResource(Module(), "STRING", 100), "ZeltoCom");
  EXPECT_EQ(FindModuleResource(Module(), "STRING", 101), std::nullopt);
  EXPECT_EQ(FindModuleResource(Module(), "TYPELIB", 2), std::nullopt);

  std::optional<std::string_view> version = FindModuleResource(Module(), "VERSION", 1);
  ASSERT_TRUE(version);
  const std::pair<const char*, const char*> fields[] = {
      {"FILEVERSION", "1.0.0.1"},
      {"PRODUCTVERSION", "1.0.0.1"},
      {"FileVersion", "1, 0, 0, 1"},
      {"ProductVersion", "1, 0, 0, 1"},
      {"FileDescription", "ZeltoCom Module"},
      {"ProductName", "ZeltoCom Module"},
      {"InternalName", "ZeltoCom"},
      {"OriginalFilename", "ZeltoCom.DLL"},
      {"CompanyName", ""},
      {"OLESelfRegister", ""},
      {"Translation", "0409 1200"},
      {"FILETYPE", "VFT_DLL"},
  };
  for (const auto& [name, value] : fields) {
    EXPECT_EQ(VersionField(*version, name), value) << name;
  }
}

TEST(ZeltoComModule, GetClassObjectServesOnlyItsClass) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetClassObject(IID_IDispatch, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(GetClassObject(CLSID_CZeltoCom, IID_IClassFactory, nullptr), E_POINTER);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetClassObject(CLSID_CZeltoCom, IID_ICZeltoCom, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  // One cached factory for every caller and thread.
  std::vector<void*> seen(8);
  std::vector<std::thread> threads;
  for (void*& slot : seen) {
    threads.emplace_back([&slot] { GetClassObject(CLSID_CZeltoCom, IID_IClassFactory, &slot); });
  }
  for (std::thread& t : threads) t.join();
  for (void* f : seen) {
    EXPECT_EQ(f, seen[0]);
    static_cast<IClassFactory*>(f)->Release();
  }
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(ZeltoComModule, CanUnloadOnlyWithoutObjectsLocksOrFactoryReferences) {
  ASSERT_EQ(CanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory = Factory();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // a factory reference beyond the cache's

  ComPtr<ICZeltoCom> first, second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICZeltoCom, first.ReceiveVoid()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, second.ReceiveVoid()), S_OK);
  factory.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  first.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  second.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);

  Factory()->LockServer(TRUE);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  Factory()->LockServer(FALSE);
  EXPECT_EQ(CanUnloadNow(), S_OK);

  // A query the object cannot answer destroys the new object.
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(Factory()->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// An outer object that exposes ICZeltoCom through the aggregated inner one
// and counts the calls the inner object hands to it.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    ++queries;
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    if (riid == IID_ICZeltoCom && inner) return inner->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }

  IUnknown* inner = nullptr;
  ULONG refs = 1;
  int queries = 0;
};

TEST(ZeltoComModule, AggregatedObjectDelegatesIUnknownToTheOuterObject) {
  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(Factory()->CreateInstance(&outer, IID_ICZeltoCom, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_OK);

  ASSERT_EQ(Factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
            S_OK);
  EXPECT_EQ(outer.refs, 1u);  // the inner unknown's own count is separate
  EXPECT_EQ(CanUnloadNow(), S_FALSE);

  ICZeltoCom* zelto = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_ICZeltoCom, reinterpret_cast<void**>(&zelto)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // the interface's reference is the outer object's
  zelto->AddRef();
  EXPECT_EQ(outer.refs, 3u);
  zelto->Release();
  EXPECT_EQ(outer.refs, 2u);

  void* unknown = nullptr;
  ASSERT_EQ(zelto->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, &outer);  // identity is the outer object's
  outer.Release();
  void* errors = reinterpret_cast<void*>(1);
  int before = outer.queries;
  EXPECT_EQ(zelto->QueryInterface(IID_ISupportErrorInfo, &errors), E_NOINTERFACE);
  EXPECT_EQ(outer.queries, before + 1);
  EXPECT_EQ(zelto->Test(), S_OK);
  zelto->Release();
  EXPECT_EQ(outer.refs, 1u);

  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

class ZeltoComRegistration : public ::testing::Test {
 protected:
  std::optional<std::string> Value(const std::string& key, const std::string& name = "") {
    std::optional<std::string> value;
    RegistryRead([&](const RegistryTree& t) { value = t.GetValue(key, name); });
    return value;
  }
  bool Exists(const std::string& key) {
    bool exists = false;
    RegistryRead([&](const RegistryTree& t) { exists = t.KeyExists(key); });
    return exists;
  }
  size_t ClassKeys() {
    size_t count = 0;
    RegistryRead([&](const RegistryTree& t) {
      for (const std::string& k : t.SubKeys("CLSID")) count += "CLSID\\" + k == kClassKey;
    });
    return count;
  }
  void Set(const std::string& key) {
    ASSERT_EQ(RegistryUpdate([&](RegistryTree& t) {
                t.CreateKey(key);
                return S_OK;
              }),
              S_OK);
  }

  ScratchRegistry scratch_;
};

TEST_F(ZeltoComRegistration, RegisteringTwiceLeavesOneFreshClassKey) {
  const std::string other = "CLSID\\{0D0C0B0A-0000-4000-8000-0000000000BB}";
  Set(other);
  ASSERT_EQ(RegisterServer(), S_OK);
  Set(kClassKey + "\\Stale");
  Set(kClassKey + "\\Programmable\\Stale");
  ASSERT_EQ(RegisterServer(), S_OK);
  EXPECT_EQ(ClassKeys(), 1u);
  EXPECT_FALSE(Exists(kClassKey + "\\Stale"));
  EXPECT_FALSE(Exists(kClassKey + "\\Programmable\\Stale"));
  EXPECT_TRUE(Exists(kClassKey + "\\Programmable"));
  EXPECT_TRUE(Exists(other));

  const std::string clsid = GuidToString(CLSID_CZeltoCom);
  const std::string libid = GuidToString(LIBID_ZELTOCOMLib);
  const std::string dir = std::filesystem::path(kModule).parent_path().string();
  const std::pair<std::string, std::optional<std::string>> expected[] = {
      {"ZeltoCom.CZeltoCom.1", "CZeltoCom Class"},
      {"ZeltoCom.CZeltoCom.1\\CLSID", clsid},
      {"ZeltoCom.CZeltoCom", "CZeltoCom Class"},
      {"ZeltoCom.CZeltoCom\\CLSID", clsid},
      {"ZeltoCom.CZeltoCom\\CurVer", "ZeltoCom.CZeltoCom.1"},
      {kClassKey, "CZeltoCom Class"},
      {kClassKey + "\\ProgID", "ZeltoCom.CZeltoCom.1"},
      {kClassKey + "\\VersionIndependentProgID", "ZeltoCom.CZeltoCom"},
      {kClassKey + "\\InprocServer32", kModule},
      {kClassKey + "\\TypeLib", libid},
      {"TypeLib\\" + libid + "\\1.0", "ZeltoCom 1.0 Type Library"},
      {"TypeLib\\" + libid + "\\1.0\\0\\win32", kModule},
      {"TypeLib\\" + libid + "\\1.0\\HELPDIR", dir},
      {"Interface\\" + GuidToString(IID_ICZeltoCom), "ICZeltoCom"},
      {"Interface\\" + GuidToString(IID_ICZeltoCom) + "\\ProxyStubClsid32",
       "{00020424-0000-0000-C000-000000000046}"},
      {"Interface\\" + GuidToString(IID_ICZeltoCom) + "\\TypeLib", libid},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(Value(key), value) << key;
  EXPECT_EQ(Value(kClassKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
}

TEST_F(ZeltoComRegistration, UnregisteringKeepsTheClsidKeyAndOtherClasses) {
  const std::string other = "CLSID\\{0D0C0B0A-0000-4000-8000-0000000000BB}";
  Set(other);
  ASSERT_EQ(RegisterServer(), S_OK);
  ASSERT_EQ(UnregisterServer(), S_OK);
  EXPECT_TRUE(Exists("CLSID"));
  EXPECT_TRUE(Exists(other));
  for (const std::string& key :
       {kClassKey, std::string("ZeltoCom.CZeltoCom"), std::string("ZeltoCom.CZeltoCom.1"),
        "TypeLib\\" + GuidToString(LIBID_ZELTOCOMLib),
        "Interface\\" + GuidToString(IID_ICZeltoCom)}) {
    EXPECT_FALSE(Exists(key)) << key;
  }
  EXPECT_EQ(UnregisterServer(), S_OK);  // nothing left to remove is no failure
}

// A page's way in: ProgID, CoCreateInstance, then late-bound calls.
TEST_F(ZeltoComRegistration, DispatchByNameAndIdMatchesTheVirtualTable) {
  ASSERT_EQ(RegisterServer(), S_OK);
  ComPtr<IDispatch> object;
  ASSERT_EQ(CreateObjectByProgID("ZeltoCom.CZeltoCom", IID_IDispatch, object.ReceiveVoid()), S_OK);
  ComPtr<ICZeltoCom> direct;
  ASSERT_EQ(object->QueryInterface(IID_ICZeltoCom, direct.ReceiveVoid()), S_OK);
  EXPECT_EQ(static_cast<void*>(direct.Get()), static_cast<void*>(object.Get()));

  struct Case {
    const char16_t* name;
    DISPID id;
    HRESULT (*vtable)(ICZeltoCom*);
  };
  const Case cases[] = {
      {u"test", 7, [](ICZeltoCom* z) { return z->Test(); }},
      {u"TESTDB", 8, [](ICZeltoCom* z) { return z->TestDB(); }},
      {u"DoClientMsg", 3, [](ICZeltoCom* z) { return z->DoClientMsg(); }},
  };
  for (const Case& c : cases) {
    std::u16string name = c.name;
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, c.id);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(
        object->Invoke(id, IID_NULL, 0x0804, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
        c.vtable(direct.Get()));
    EXPECT_EQ(result.vt, VT_EMPTY);
  }

  // CheckDomain through dispatch id 11 with one text argument.
  for (const char16_t* list : {u"solo", u"a;;b"}) {
    VARIANT arg = MakeVariantBstr(list);
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT by_dispatch = object->Invoke(11, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                         &params, &result, nullptr, nullptr);
    LONG value = -5;
    HRESULT by_vtable = direct->CheckDomain(arg.bstrVal, &value);
    EXPECT_EQ(by_dispatch, by_vtable);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, value);
    VariantClear(&arg);
  }

  std::u16string unknown = u"Nope";
  LPOLESTR names[] = {unknown.data()};
  DISPID id;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(object->GetIDsOfNames(IID_IUnknown, names, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(object->GetTypeInfo(1, 0, info.Receive()), DISP_E_BADINDEX);
  ASSERT_EQ(object->GetTypeInfo(0, 0, info.Receive()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_ICZeltoCom);
}

TEST_F(ZeltoComRegistration, CommandRegistersAPathWithAQuote) {
  const std::string folder = scratch_.folder() + "/it's here";
  std::filesystem::create_directories(folder);
  const std::string copy = folder + "/ZeltoCom.so";
  std::filesystem::copy_file(kModule, copy);
  ASSERT_EQ(RunShell("'" + kZelto + "' register \"" + copy + "\" >/dev/null"), 0);
  EXPECT_EQ(Value(kClassKey + "\\InprocServer32"), copy);
  EXPECT_EQ(Value("TypeLib\\" + GuidToString(LIBID_ZELTOCOMLib) + "\\1.0\\0\\win32"), copy);
  ASSERT_EQ(RunShell("'" + kZelto + "' unregister \"" + copy + "\" >/dev/null"), 0);
  EXPECT_FALSE(Exists(kClassKey));

  EXPECT_EQ(RunShell("'" + kZelto + "' register " + scratch_.folder() + "/none.so 2>/dev/null"), 1);
  EXPECT_EQ(RunShell("'" + kZelto + "' register '" + std::string(ZELTO_BIN_DIR) +
                     "/libzplatform.so' 2>/dev/null"),
            1);
  EXPECT_EQ(RunShell("'" + kZelto + "' register a b 2>/dev/null"), 2);
  EXPECT_FALSE(Exists(kClassKey));
}

// Two processes registering while this one writes its own keys: every
// writer's changes survive.
TEST_F(ZeltoComRegistration, ConcurrentRegistrationsLoseNothing) {
  std::thread writer([] {
    for (int i = 0; i < 40; ++i) {
      RegistryUpdate([i](RegistryTree& t) {
        t.SetValue("Concurrent\\Key" + std::to_string(i), "", std::to_string(i));
        return S_OK;
      });
    }
  });
  const std::string zelto = "'" + kZelto + "' register '" + kModule + "' >/dev/null";
  int status = RunShell(zelto + " & " + zelto + " & " + zelto + "; wait");
  writer.join();
  EXPECT_EQ(status, 0);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(Value("Concurrent\\Key" + std::to_string(i)), std::to_string(i)) << i;
  }
  EXPECT_EQ(Value(kClassKey + "\\InprocServer32"), kModule);
  EXPECT_TRUE(Exists("TypeLib\\" + GuidToString(LIBID_ZELTOCOMLib) + "\\1.0\\0\\win32"));
  EXPECT_EQ(ClassKeys(), 1u);
}

}  // namespace
