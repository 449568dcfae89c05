#include "host/module_path.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/com/module_loader.h"
#include "platform/win/codepage.h"

namespace zelto {
namespace {

constexpr char kModuleName[] = "ZeltoCom.so";
constexpr char kInstalledModule[] = "/usr/local/lib/zelto/ZeltoCom.so";
constexpr char kProgID[] = "ZeltoCom.CZeltoCom";

std::string ProgramDirectory() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

}  // namespace

std::string HresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string DefaultModulePath() {
  const std::string dir = ProgramDirectory();
  if (!dir.empty()) {
    std::filesystem::path beside = std::filesystem::path(dir) / kModuleName;
    std::error_code ec;
    if (std::filesystem::is_regular_file(beside, ec)) return beside.string();
  }
  return kInstalledModule;
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

HRESULT EnsureRegistered(std::string* error) {
  CLSID clsid;
  const std::u16string progid = Utf8ToWide(kProgID);
  if (SUCCEEDED(CLSIDFromProgID(progid.c_str(), &clsid))) {
    ComPtr<IClassFactory> factory;
    if (SUCCEEDED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.ReceiveVoid()))) {
      return S_OK;
    }
  }
  return RegisterModule(DefaultModulePath(), false, error);
}

}  // namespace zelto
