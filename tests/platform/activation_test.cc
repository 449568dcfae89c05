#include "platform/com/activation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/module_loader.h"
#include "platform/com/registry.h"
#include "tests/support/scratch_registry.h"

// The test module's interface; declared outside any anonymous namespace, as
// interfaces shared between modules must be (their type identity is by name).
struct ITestCounter : IUnknown {
  virtual LONG Bump() = 0;
};

namespace {

using zelto::testing::ScratchRegistry;

const CLSID kCounterClsid = {0x5A17E2C0, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};
const IID kCounterIid = {0x5A17E2C1, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};

std::string ModulePath() { return std::string(ZELTO_BIN_DIR) + "/com_test_module.so"; }

void* LoadTestModule() {
  void* module = nullptr;
  EXPECT_EQ(LoadModule(ModulePath(), &module), S_OK) << LastModuleError();
  return module;
}

HRESULT CallExport(const char* name) {
  auto fn = reinterpret_cast<HRESULT (*)()>(GetModuleProc(LoadTestModule(), name));
  return fn ? fn() : E_FAIL;
}

TEST(ModuleLoader, LoadsOnceAndReportsClearErrors) {
  void* first = LoadTestModule();
  void* again = nullptr;
  ASSERT_EQ(LoadModule(ModulePath(), &again), S_OK);
  EXPECT_EQ(first, again);
  EXPECT_NE(GetModuleProc(first, "DllGetClassObject"), nullptr);
  EXPECT_EQ(GetModuleProc(first, "NoSuchExport"), nullptr);

  char resolved[PATH_MAX];
  ASSERT_NE(realpath(ModulePath().c_str(), resolved), nullptr);
  EXPECT_EQ(GetModuleFileName(GetModuleProc(first, "DllCanUnloadNow")), resolved);
  EXPECT_EQ(GetModuleFileName(nullptr), "");

  void* handle = &handle;
  EXPECT_EQ(LoadModule("/nonexistent/m.so", &handle), CO_E_DLLNOTFOUND);
  EXPECT_EQ(handle, nullptr);
  EXPECT_NE(LastModuleError().find("/nonexistent/m.so"), std::string::npos);

  ScratchRegistry scratch;  // only for its scratch folder
  const std::string not_a_library = scratch.folder() + "/text.so";
  std::ofstream(not_a_library) << "not a shared library";
  EXPECT_EQ(LoadModule(not_a_library, &handle), CO_E_ERRORINDLL);
  EXPECT_FALSE(LastModuleError().empty());
}

TEST(Activation, CreatesARegisteredModuleClassByProgID) {
  ScratchRegistry scratch;
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  std::optional<std::string> server;
  RegistryRead([&](const RegistryTree& t) {
    server = t.GetValue("CLSID\\" + GuidToString(kCounterClsid) + "\\InprocServer32", "");
  });
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(ModulePath().c_str(), resolved), nullptr);
  EXPECT_EQ(server, resolved);

  // The version-independent ProgID has no CLSID of its own: CurVer leads on.
  for (const char16_t* progid : {u"Zelto.TestCounter", u"zelto.testcounter.1",
                                 u"{5A17E2C0-0000-4000-8000-00000000C0DE}"}) {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(progid, &clsid), S_OK);
    EXPECT_EQ(clsid, kCounterClsid);
  }

  ComPtr<ITestCounter> counter;
  ASSERT_EQ(CreateObjectByProgID("Zelto.TestCounter", kCounterIid, counter.ReceiveVoid()), S_OK);
  EXPECT_EQ(counter->Bump(), 1);
  EXPECT_EQ(counter->Bump(), 2);
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_FALSE);
  counter.Reset();
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK);

  ComPtr<IUnknown> unknown;
  EXPECT_EQ(CoCreateInstance(kCounterClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             unknown.ReceiveVoid()),
            E_NOINTERFACE);
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK);  // the refused object was destroyed

  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"Zelto.TestCounter", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CoCreateInstance(kCounterClsid, nullptr, CLSCTX_ALL, kCounterIid,
                             unknown.ReceiveVoid()),
            REGDB_E_CLASSNOTREG);
  bool clsid_key = false;
  RegistryRead([&](const RegistryTree& t) { clsid_key = t.KeyExists("CLSID"); });
  EXPECT_TRUE(clsid_key);
}

TEST(Activation, FailuresHaveTheirOwnCodes) {
  ScratchRegistry scratch;
  const std::string library_without_exports = std::string(ZELTO_BIN_DIR) + "/libzplatform.so";
  const CLSID missing_file = {1, 2, 3, {4}}, no_export = {1, 2, 3, {5}}, empty_path = {1, 2, 3, {6}};
  RegistryUpdate([&](RegistryTree& t) {
    t.SetValue("CLSID\\" + GuidToString(missing_file) + "\\InprocServer32", "", "/gone/x.so");
    t.SetValue("CLSID\\" + GuidToString(no_export) + "\\InprocServer32", "",
               library_without_exports);
    t.CreateKey("CLSID\\" + GuidToString(empty_path) + "\\InprocServer32");
    t.SetValue("Loop.A\\CurVer", "", "Loop.B");
    t.SetValue("Loop.B\\CurVer", "", "Loop.A");
    t.SetValue("Bad.Clsid\\CLSID", "", "not a guid");
    return S_OK;
  });
  const struct {
    CLSID clsid;
    CLSCTX context;
    HRESULT hr;
  } cases[] = {
      {missing_file, CLSCTX_ALL, CO_E_DLLNOTFOUND},
      {no_export, CLSCTX_ALL, CO_E_ERRORINDLL},
      {empty_path, CLSCTX_ALL, REGDB_E_CLASSNOTREG},
      {{9, 9, 9, {9}}, CLSCTX_ALL, REGDB_E_CLASSNOTREG},
      {missing_file, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
  };
  for (const auto& c : cases) {
    IUnknown* out = reinterpret_cast<IUnknown*>(&scratch);
    EXPECT_EQ(CoCreateInstance(c.clsid, nullptr, c.context, IID_IUnknown,
                               reinterpret_cast<void**>(&out)),
              c.hr)
        << GuidToString(c.clsid);
    EXPECT_EQ(out, nullptr);
  }
  CLSID clsid;
  for (const char16_t* progid : {u"Loop.A", u"Bad.Clsid", u"Never.Registered", u"", u"{bad}"}) {
    EXPECT_EQ(CLSIDFromProgID(progid, &clsid), CO_E_CLASSSTRING);
  }
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(missing_file, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
}

class CountingFactory : public IClassFactory {
 public:
  explicit CountingFactory(IUnknown* product) : product_(product) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    ++created;
    return product_->QueryInterface(riid, ppv);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
  std::atomic<ULONG> refs{1};
  std::atomic<int> created{0};

 private:
  IUnknown* product_;
};

// A plain object used as every built-in factory's product.
class Thing : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = this;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  std::atomic<ULONG> refs{1};
};

TEST(Activation, BuiltinClassesComeBeforeTheRegistry) {
  ScratchRegistry scratch;
  RegistryUpdate([](RegistryTree& t) {
    t.SetValue("Builtin.Thing\\CLSID", "", "{00000000-0000-0000-0000-00000000BAD0}");
    return S_OK;
  });
  Thing thing;
  CountingFactory factory(&thing);
  const CLSID clsid = {0xB0117, 1, 1, {1}};
  ASSERT_EQ(CoRegisterBuiltinClass(clsid, "Builtin.Thing", &factory), S_OK);
  EXPECT_EQ(factory.refs, 2u);
  EXPECT_EQ(CoRegisterBuiltinClass(clsid, "x", nullptr), E_INVALIDARG);

  CLSID found;
  ASSERT_EQ(CLSIDFromProgID(u"BUILTIN.THING", &found), S_OK);
  EXPECT_EQ(found, clsid);
  IUnknown* object = nullptr;
  ASSERT_EQ(CreateObjectByProgID("Builtin.Thing", IID_IUnknown, reinterpret_cast<void**>(&object)),
            S_OK);
  EXPECT_EQ(object, &thing);
  object->Release();
  EXPECT_EQ(factory.refs, 2u);  // CoCreateInstance gave its factory reference back
  EXPECT_EQ(thing.refs, 1u);
}

// Creation by ProgID remembers where it found a module's class; every change
// of the registry file, and a built-in class registered later, must still be
// seen by the next creation.
TEST(Activation, CreationByProgIDFollowsRegistryChanges) {
  ScratchRegistry scratch;
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  RegistryUpdate([](RegistryTree& t) {
    t.SetValue("Zelto.CounterAlias\\CLSID", "", GuidToString(kCounterClsid));
    return S_OK;
  });
  auto create = [](const char* progid) {
    ComPtr<ITestCounter> counter;
    const HRESULT hr = CreateObjectByProgID(progid, kCounterIid, counter.ReceiveVoid());
    EXPECT_EQ(SUCCEEDED(hr), counter.Get() != nullptr);
    return hr;
  };
  for (int i = 0; i < 3; ++i) ASSERT_EQ(create("Zelto.TestCounter"), S_OK);
  EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK);  // nothing kept locked by repeated creation

  const CLSID elsewhere = {9, 9, 9, {9}};
  RegistryUpdate([&](RegistryTree& t) {
    t.SetValue("Zelto.TestCounter\\CLSID", "", GuidToString(elsewhere));
    return S_OK;
  });
  EXPECT_EQ(create("Zelto.TestCounter"), REGDB_E_CLASSNOTREG);
  RegistryUpdate([](RegistryTree& t) {
    t.DeleteValue("Zelto.TestCounter\\CLSID", "");
    return S_OK;
  });
  EXPECT_EQ(create("Zelto.TestCounter"), S_OK);
  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
  EXPECT_EQ(create("Zelto.TestCounter"), CO_E_CLASSSTRING);
  EXPECT_EQ(create("Zelto.CounterAlias"), REGDB_E_CLASSNOTREG);  // its class is gone

  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  ASSERT_EQ(create("Zelto.CounterAlias"), S_OK);
  static Thing thing;  // built-in classes stay registered for the process
  static CountingFactory factory(&thing);
  ASSERT_EQ(CoRegisterBuiltinClass({7, 7, 7, {7}}, "Zelto.CounterAlias", &factory), S_OK);
  ComPtr<IUnknown> object;
  ASSERT_EQ(CreateObjectByProgID("Zelto.CounterAlias", IID_IUnknown, object.ReceiveVoid()), S_OK);
  EXPECT_EQ(object.Get(), &thing);
  EXPECT_EQ(factory.created, 1);
  ASSERT_EQ(CallExport("DllUnregisterServer"), S_OK);
}

TEST(Activation, BuiltinTableIsThreadSafe) {
  Thing thing;
  constexpr int kThreads = 4, kClasses = 50;
  std::vector<CountingFactory*> factories;
  for (int i = 0; i < kThreads * kClasses; ++i) factories.push_back(new CountingFactory(&thing));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kClasses; ++i) {
        const int n = t * kClasses + i;
        const CLSID clsid = {0xC0C0, 7, static_cast<uint16_t>(n), {7}};
        CoRegisterBuiltinClass(clsid, ("Threaded." + std::to_string(n)).c_str(), factories[n]);
        IUnknown* object = nullptr;
        if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                                       reinterpret_cast<void**>(&object)))) {
          object->Release();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (CountingFactory* f : factories) EXPECT_EQ(f->created, 1);
  EXPECT_EQ(thing.refs, 1u);
  // The table keeps its references for the life of the process; the
  // factories are deliberately left alive with it.
}

}  // namespace
