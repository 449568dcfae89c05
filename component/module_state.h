// Module-wide state of ZeltoCom: the lock count DllCanUnloadNow reads, the
// type information of ICZeltoCom shared by every object, and the module's
// own file and resources. Everything here is thread-safe.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/dispatch_impl.h"

// The lock count: one per live CZeltoCom, per LockServer(TRUE), and while
// the cached class factory is referenced by anyone but the cache.
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

// The module-wide critical section (class factory creation).
std::mutex& ModuleMutex();

DispatchTypeInfo& ICZeltoComTypeInfo();

// The absolute path of the file this code was loaded from.
std::string ModuleFileName();
// A resource embedded in this module (module_resources.h for the types).
std::optional<std::string_view> ModuleResource(const char* type, UINT id);

extern "C" BOOL ZeltoGetModuleResource(const char* type, UINT id, const void** data,
                                       std::size_t* size);
