#include "platform/com/module_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

namespace {

thread_local std::string last_error;

struct ModuleTable {
  std::mutex mutex;
  std::map<std::string, void*> by_path;
};

ModuleTable& Modules() {
  static ModuleTable* table = new ModuleTable;  // modules are never unloaded
  return *table;
}

std::string AbsolutePath(const char* path) {
  char resolved[PATH_MAX];
  return realpath(path, resolved) ? resolved : path;
}

}  // namespace

HRESULT LoadModule(const std::string& path, void** handle) {
  if (!handle) return E_POINTER;
  *handle = nullptr;
  ModuleTable& table = Modules();
  std::lock_guard<std::mutex> guard(table.mutex);
  if (auto it = table.by_path.find(path); it != table.by_path.end()) {
    *handle = it->second;
    return S_OK;
  }
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) {
    last_error = path + ": no such module file";
    return CO_E_DLLNOTFOUND;
  }
  void* loaded = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!loaded) {
    const char* message = dlerror();
    last_error = message ? message : path + ": cannot load";
    return CO_E_ERRORINDLL;
  }
  table.by_path.emplace(path, loaded);
  *handle = loaded;
  return S_OK;
}

std::string LastModuleError() { return last_error; }

void* GetModuleProc(void* handle, const char* name) {
  if (!handle || !name) return nullptr;
  return dlsym(handle, name);
}

std::string GetModuleFileName(const void* address_inside_module) {
  Dl_info info;
  if (!address_inside_module || !dladdr(address_inside_module, &info) || !info.dli_fname ||
      !*info.dli_fname) {
    return {};
  }
  return AbsolutePath(info.dli_fname);
}
