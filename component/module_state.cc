#include "component/module_state.h"

#include <atomic>

#include "component/iczeltocom.h"
#include "platform/com/module_loader.h"

namespace {

std::atomic<LONG> lock_count{0};

}  // namespace

void ModuleLock() { ++lock_count; }
void ModuleUnlock() { --lock_count; }
LONG ModuleLockCount() { return lock_count.load(); }

std::mutex& ModuleMutex() {
  static std::mutex mutex;
  return mutex;
}

DispatchTypeInfo& ICZeltoComTypeInfo() {
  static DispatchTypeInfo info(LIBID_ZELTOCOMLib, IID_ICZeltoCom, kZeltoComLibMajor,
                               kZeltoComLibMinor);
  return info;
}

std::string ModuleFileName() {
  return GetModuleFileName(reinterpret_cast<const void*>(&ModuleFileName));
}

std::optional<std::string_view> ModuleResource(const char* type, UINT id) {
  const void* data = nullptr;
  std::size_t size = 0;
  if (!ZeltoGetModuleResource(type, id, &data, &size)) return std::nullopt;
  return std::string_view(static_cast<const char*>(data), size);
}
