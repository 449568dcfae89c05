#include "platform/com/activation.h"

#include "platform/com/ascii.h"

#include <cctype>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/module_loader.h"
#include "platform/com/registry.h"
#include "platform/win/codepage.h"

namespace {

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

struct BuiltinClass {
  CLSID clsid;
  std::string progid;
  IClassFactory* factory;  // one reference, kept for the life of the process
};

struct BuiltinTable {
  std::mutex mutex;
  std::vector<BuiltinClass> classes;
};

BuiltinTable& Builtins() {
  static BuiltinTable* table = new BuiltinTable;  // outlives every static destructor
  return *table;
}

// Where CreateObjectByProgID found a module's class, by ProgID, for as long
// as the registry snapshot it was found in is current (modules stay loaded,
// so the entry point stays valid). A page creating its component on every
// request then costs one look at the registry file instead of two reads, a
// module lookup and a symbol lookup. The class object itself is asked for
// each time: a reference kept here would keep the module locked.
struct ModuleClass {
  std::string progid;
  CLSID clsid;
  DllGetClassObjectFn get_class_object;
};
struct FactoryCache {
  std::mutex mutex;
  std::shared_ptr<const RegistryTree> snapshot;
  std::vector<ModuleClass> classes;
};
constexpr size_t kMaxCachedClasses = 64;

FactoryCache& Factories() {
  static FactoryCache* cache = new FactoryCache;  // outlives every static destructor
  return *cache;
}

bool FindBuiltinByProgID(std::string_view progid, CLSID* clsid) {
  BuiltinTable& table = Builtins();
  std::lock_guard<std::mutex> guard(table.mutex);
  for (const BuiltinClass& c : table.classes) {
    if (!c.progid.empty() && EqualsIgnoreCase(c.progid, progid)) {
      *clsid = c.clsid;
      return true;
    }
  }
  return false;
}

// The built-in factory for `clsid` with a new reference, or empty.
ComPtr<IClassFactory> FindBuiltinFactory(REFCLSID clsid) {
  BuiltinTable& table = Builtins();
  std::lock_guard<std::mutex> guard(table.mutex);
  for (const BuiltinClass& c : table.classes) {
    if (c.clsid == clsid) return ComPtr<IClassFactory>(c.factory);
  }
  return nullptr;
}

// <ProgID>\CLSID, or the CLSID of the ProgID its CurVer names.
HRESULT ProgIDFromRegistry(const std::string& progid, CLSID* clsid) {
  std::optional<std::string> text;
  const HRESULT hr = RegistryRead([&](const RegistryTree& tree) {
    std::string current = progid;
    // A short chain only: CurVer loops must not hang the caller.
    for (int hop = 0; hop < 8 && !text && tree.KeyExists(current); ++hop) {
      text = tree.GetValue(current + "\\CLSID", "");
      if (text) break;
      std::optional<std::string> next = tree.GetValue(current + "\\CurVer", "");
      if (!next || next->empty() || next->find('\\') != std::string::npos) break;
      current = *next;
    }
  });
  if (FAILED(hr)) return hr;
  if (!text) return CO_E_CLASSSTRING;
  std::optional<GUID> guid = GuidFromString(*text);
  if (!guid) return CO_E_CLASSSTRING;
  *clsid = *guid;
  return S_OK;
}

HRESULT InprocServerPath(REFCLSID clsid, std::string* path) {
  std::optional<std::string> value;
  const HRESULT hr = RegistryRead([&](const RegistryTree& tree) {
    value = tree.GetValue("CLSID\\" + GuidToString(clsid) + "\\InprocServer32", "");
  });
  if (FAILED(hr)) return hr;
  if (!value || value->empty()) return REGDB_E_CLASSNOTREG;
  *path = std::move(*value);
  return S_OK;
}

// The DllGetClassObject of the module registered for `clsid`, loaded when
// it is not yet.
HRESULT ModuleClassObject(REFCLSID clsid, DllGetClassObjectFn* get_class_object) {
  std::string path;
  HRESULT hr = InprocServerPath(clsid, &path);
  if (FAILED(hr)) return hr;
  void* module = nullptr;
  hr = LoadModule(path, &module);
  if (FAILED(hr)) return hr;
  *get_class_object =
      reinterpret_cast<DllGetClassObjectFn>(GetModuleProc(module, "DllGetClassObject"));
  return *get_class_object ? S_OK : CO_E_ERRORINDLL;
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid) {
  if (!progid || !clsid) return E_INVALIDARG;
  const std::string name = WideToUtf8(progid);
  if (name.empty()) return CO_E_CLASSSTRING;
  if (name[0] == '{') {
    std::optional<GUID> guid = GuidFromString(name);
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
  }
  if (FindBuiltinByProgID(name, clsid)) return S_OK;
  return ProgIDFromRegistry(name, clsid);
}

HRESULT CoGetClassObject(REFCLSID clsid, CLSCTX context, void* reserved, REFIID riid,
                         void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (ComPtr<IClassFactory> builtin = FindBuiltinFactory(clsid)) {
    return builtin->QueryInterface(riid, ppv);
  }
  // Only in-process servers exist here.
  if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  DllGetClassObjectFn get_class_object = nullptr;
  const HRESULT hr = ModuleClassObject(clsid, &get_class_object);
  if (FAILED(hr)) return hr;
  return get_class_object(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, CLSCTX context, REFIID riid,
                         void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  const HRESULT hr =
      CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  return factory->CreateInstance(outer, riid, ppv);
}

HRESULT CoRegisterBuiltinClass(REFCLSID clsid, const char* progid, IClassFactory* factory) {
  if (!factory) return E_INVALIDARG;
  factory->AddRef();
  IClassFactory* replaced = nullptr;
  {
    BuiltinTable& table = Builtins();
    std::lock_guard<std::mutex> guard(table.mutex);
    BuiltinClass entry{clsid, progid ? progid : "", factory};
    bool found = false;
    for (BuiltinClass& c : table.classes) {
      if (c.clsid == clsid) {
        replaced = c.factory;
        c = std::move(entry);
        found = true;
        break;
      }
    }
    if (!found) table.classes.push_back(std::move(entry));
  }
  // Released outside the lock: a factory's destructor may call back in.
  if (replaced) replaced->Release();
  return S_OK;
}

namespace {

// The class object for `progid`, or a failure. Built-in classes come first
// and are not cached (their table is the cache).
HRESULT FindFactoryByProgID(const char* progid, ComPtr<IClassFactory>* factory) {
  CLSID clsid;
  if (FindBuiltinByProgID(progid, &clsid)) {
    return CoGetClassObject(clsid, CLSCTX_ALL, nullptr, IID_IClassFactory,
                            factory->ReceiveVoid());
  }
  std::shared_ptr<const RegistryTree> snapshot;
  HRESULT hr = RegistrySnapshot(&snapshot);
  if (FAILED(hr)) return hr;
  FactoryCache& cache = Factories();
  DllGetClassObjectFn get_class_object = nullptr;
  {
    std::lock_guard<std::mutex> guard(cache.mutex);
    if (cache.snapshot != snapshot) {
      cache.classes.clear();
      cache.snapshot = snapshot;
    }
    for (const ModuleClass& c : cache.classes) {
      if (c.progid == progid) {
        clsid = c.clsid;
        get_class_object = c.get_class_object;
        break;
      }
    }
  }
  if (get_class_object) {
    return get_class_object(clsid, IID_IClassFactory, factory->ReceiveVoid());
  }
  hr = CLSIDFromProgID(Utf8ToWide(progid).c_str(), &clsid);
  if (FAILED(hr)) return hr;
  if (FindBuiltinFactory(clsid)) {  // the registry named a built-in class
    return CoGetClassObject(clsid, CLSCTX_ALL, nullptr, IID_IClassFactory,
                            factory->ReceiveVoid());
  }
  hr = ModuleClassObject(clsid, &get_class_object);
  if (FAILED(hr)) return hr;
  {
    std::lock_guard<std::mutex> guard(cache.mutex);
    if (cache.snapshot == snapshot && cache.classes.size() < kMaxCachedClasses) {
      cache.classes.push_back({progid, clsid, get_class_object});
    }
  }
  return get_class_object(clsid, IID_IClassFactory, factory->ReceiveVoid());
}

}  // namespace

HRESULT CreateObjectByProgID(const char* progid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!progid) return E_INVALIDARG;
  ComPtr<IClassFactory> factory;
  const HRESULT hr = FindFactoryByProgID(progid, &factory);
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, riid, ppv);
}
