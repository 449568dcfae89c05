#include "platform/com/load_type_lib.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

#include "platform/com/com_ptr.h"
#include "platform/com/module_loader.h"
#include "platform/com/module_resources.h"
#include "platform/com/type_library.h"
#include "platform/win/codepage.h"

namespace {

thread_local std::string last_error;

std::mutex& CacheMutex() {
  static std::mutex mutex;
  return mutex;
}
// Holds one reference per library until the process ends.
std::map<std::string, ComPtr<ITypeLib>>& Cache() {
  static auto* cache = new std::map<std::string, ComPtr<ITypeLib>>();
  return *cache;
}

HRESULT Failed(HRESULT hr, std::string message) {
  last_error = std::move(message);
  return hr;
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

bool IsSharedLibrary(const std::string& path) {
  char magic[4] = {};
  std::ifstream in(path, std::ios::binary);
  return in.read(magic, sizeof magic) && std::string_view(magic, 4) ==
                                             "\x7f"
                                             "ELF";
}

HRESULT Load(const std::string& path, ITypeLib** lib) {
  std::string idl_text;
  if (IsSharedLibrary(path)) {
    void* module = nullptr;
    HRESULT hr = LoadModule(path, &module);
    if (FAILED(hr)) return Failed(TYPE_E_CANTLOADLIBRARY, "cannot load " + path);
    std::optional<std::string_view> idl = FindModuleResource(module, "TYPELIB", 1);
    if (!idl) return Failed(TYPE_E_CANTLOADLIBRARY, path + " has no type library resource");
    idl_text = std::string(*idl);
  } else {
    std::optional<std::string> content = ReadFile(path);
    if (!content) return Failed(TYPE_E_CANTLOADLIBRARY, "cannot read " + path);
    idl_text = std::move(*content);
  }
  std::string error;
  HRESULT hr = CreateTypeLibFromIdl(idl_text, lib, &error);
  if (FAILED(hr)) return Failed(hr, path + ": " + error);
  return S_OK;
}

}  // namespace

const std::string& LastTypeLibError() { return last_error; }

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  if (!file || !*file) return Failed(E_INVALIDARG, "no file name");
  last_error.clear();
  const std::string path = Canonical(WideToUtf8(file));
  std::lock_guard<std::mutex> lock(CacheMutex());
  auto cached = Cache().find(path);
  if (cached == Cache().end()) {
    ComPtr<ITypeLib> loaded;
    HRESULT hr = Load(path, loaded.Receive());
    if (FAILED(hr)) return hr;
    cached = Cache().emplace(path, loaded).first;
  }
  *lib = cached->second.Get();
  (*lib)->AddRef();
  return S_OK;
}
