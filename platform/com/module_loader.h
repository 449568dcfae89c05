// In-process modules: shared libraries loaded with dlopen (RTLD_NOW |
// RTLD_LOCAL), once per path, and kept loaded for the life of the process.
#pragma once

#include <string>

#include "platform/com/hresult.h"

// CO_E_DLLNOTFOUND when no file is at `path`, CO_E_ERRORINDLL when the file
// cannot be loaded (not a library, unresolved symbols). Thread-safe.
HRESULT LoadModule(const std::string& path, void** handle);
// The loader's message for the calling thread's last failed LoadModule.
std::string LastModuleError();
// An exported symbol of a loaded module; null when absent.
void* GetModuleProc(void* handle, const char* name);
// The absolute path of the file holding `address` (code or data of a loaded
// module or of the program); empty when it belongs to none.
std::string GetModuleFileName(const void* address_inside_module);
