#include "host/module_path.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/module_loader.h"
#include "platform/com/registry.h"
#include "platform/win/codepage.h"

namespace zelto {
namespace {

namespace fs = std::filesystem;

constexpr char kModuleName[] = "ZeltoCom.so";
constexpr char kProgID[] = "ZeltoCom.CZeltoCom";
// The installed module's folder, as seen from the installed program's.
#ifndef ZELTO_MODULE_DIR_FROM_BIN
#define ZELTO_MODULE_DIR_FROM_BIN "../lib/zelto"
#endif
#ifndef ZELTO_MODULE_DIR
#define ZELTO_MODULE_DIR "/usr/local/lib/zelto"
#endif

// The module's path in the registry, when the component's class is there.
std::string RegisteredModule() {
  CLSID clsid;
  const std::u16string progid = Utf8ToWide(kProgID);
  if (FAILED(CLSIDFromProgID(progid.c_str(), &clsid))) return "";
  std::string path;
  RegistryRead([&](const RegistryTree& tree) {
    path = tree.GetValue("CLSID\\" + GuidToString(clsid) + "\\InprocServer32", "").value_or("");
  });
  return path;
}

}  // namespace

std::string ProgramDirectory() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

std::string HresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string DefaultModulePath() {
  const std::string dir = ProgramDirectory();
  if (!dir.empty()) {
    for (const fs::path& candidate :
         {fs::path(dir) / kModuleName, fs::path(dir) / ZELTO_MODULE_DIR_FROM_BIN / kModuleName}) {
      std::error_code ec;
      if (fs::is_regular_file(candidate, ec)) return candidate.lexically_normal().string();
    }
  }
  return fs::path(ZELTO_MODULE_DIR) / kModuleName;
}

HRESULT RegisterModule(const std::string& path, bool unregister, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    *error = "no module at " + path;
    return CO_E_DLLNOTFOUND;
  }
  // The module registers the path it was loaded from, so load it by its full name.
  const std::string full = std::filesystem::weakly_canonical(path, ec).string();
  void* module = nullptr;
  HRESULT hr = LoadModule(ec ? path : full, &module);
  if (FAILED(hr)) {
    *error = "cannot load " + path + ": " + LastModuleError();
    return hr;
  }
  const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  using EntryPoint = HRESULT (*)();
  auto entry = reinterpret_cast<EntryPoint>(GetModuleProc(module, name));
  if (!entry) {
    *error = path + " is not a self-registering module (no " + name + ")";
    return CO_E_ERRORINDLL;
  }
  hr = entry();
  if (FAILED(hr)) {
    *error = std::string(unregister ? "unregistering " : "registering ") + path + " failed (" +
             HresultText(hr) + ")";
  }
  return hr;
}

HRESULT EnsureRegistered(std::string* error, std::string* module) {
  CLSID clsid;
  const std::u16string progid = Utf8ToWide(kProgID);
  if (SUCCEEDED(CLSIDFromProgID(progid.c_str(), &clsid))) {
    ComPtr<IClassFactory> factory;
    if (SUCCEEDED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.ReceiveVoid()))) {
      if (module) *module = RegisteredModule() + " (registered before)";
      return S_OK;
    }
  }
  const HRESULT hr = RegisterModule(DefaultModulePath(), false, error);
  if (SUCCEEDED(hr) && module) *module = RegisteredModule() + " (registered now)";
  return hr;
}

}  // namespace zelto
