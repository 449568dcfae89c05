// The module's four entry points, exported with C linkage (exports.map keeps
// every other symbol inside the module).
#include <map>
#include <string>

#include "component/class_factory.h"
#include "component/iczeltocom.h"
#include "component/module_state.h"
#include "platform/com/com_ptr.h"
#include "platform/com/load_type_lib.h"
#include "platform/com/registrar.h"
#include "platform/com/typelib_registration.h"
#include "platform/win/codepage.h"

#define ZELTO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr UINT kRegistryScript = 102;

std::string DoubleQuotes(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

// The registration script and its %MODULE% replacement.
HRESULT RegistrationScript(std::string* path, std::string_view* script,
                           std::map<std::string, std::string>* replacements) {
  *path = ModuleFileName();
  std::optional<std::string_view> text = ModuleResource("REGISTRY", kRegistryScript);
  if (path->empty() || !text) return E_UNEXPECTED;
  *script = *text;
  (*replacements)["MODULE"] = DoubleQuotes(*path);
  return S_OK;
}

HRESULT RegisterOwnTypeLib(const std::string& path) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLib(Utf8ToWide(path).c_str(), lib.Receive());
  if (FAILED(hr)) return hr;
  const std::string dir = path.substr(0, path.find_last_of('/'));
  return RegisterTypeLib(lib.Get(), Utf8ToWide(path).c_str(), Utf8ToWide(dir).c_str());
}

}  // namespace

ZELTO_EXPORT HRESULT DllCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

ZELTO_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_CZeltoCom) return CLASS_E_CLASSNOTAVAILABLE;
  return GetZeltoComClassFactory(riid, ppv);
}

// The class is registered only together with its type library: when the
// library cannot be registered, the class entries just written are removed
// again, so that no half-registered class remains.
ZELTO_EXPORT HRESULT DllRegisterServer() {
  std::string path;
  std::string_view script;
  std::map<std::string, std::string> replacements;
  HRESULT hr = RegistrationScript(&path, &script, &replacements);
  if (FAILED(hr)) return hr;
  hr = RegistrarRegister(script, replacements);
  if (FAILED(hr)) return hr;
  hr = RegisterOwnTypeLib(path);
  if (FAILED(hr)) RegistrarUnregister(script, replacements);
  return hr;
}

// A library that was not registered is no failure; a registry that cannot be
// read or written is.
ZELTO_EXPORT HRESULT DllUnregisterServer() {
  std::string path;
  std::string_view script;
  std::map<std::string, std::string> replacements;
  HRESULT hr = RegistrationScript(&path, &script, &replacements);
  if (FAILED(hr)) return hr;
  hr = RegistrarUnregister(script, replacements);
  HRESULT lib_hr =
      UnRegisterTypeLib(LIBID_ZELTOCOMLib, kZeltoComLibMajor, kZeltoComLibMinor, 0, SYS_WIN32);
  if (FAILED(hr)) return hr;
  return FAILED(lib_hr) && lib_hr != TYPE_E_REGISTRYACCESS ? lib_hr : S_OK;
}
