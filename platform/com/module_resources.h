// Resources of a module: the data Windows keeps in a DLL's resource section
// (type library, registration script, string table, version block), embedded
// at build time and found through one exported function, never through files
// beside the module.
//
// A module exports, with C linkage:
//   BOOL ZeltoGetModuleResource(const char* type, UINT id, const void** data,
//                               size_t* size);
// which points *data at `size` bytes that live as long as the module, or
// returns FALSE (leaving both untouched) for a type and id it does not have.
//
// Types and their formats:
//   "TYPELIB"  1    the library's IDL text (see idl_parser.h)
//   "REGISTRY" n    a registration script (see registrar.h)
//   "STRING"   n    one string of the string table, UTF-8
//   "VERSION"  1    the version block, UTF-8 lines "Name=Value": the numeric
//                   fields FILEVERSION, PRODUCTVERSION ("1.0.0.1"), FILETYPE,
//                   FILEOS, Translation ("0409 1200", language and code page),
//                   then the string fields (FileVersion, ProductName, ...);
//                   a field present with an empty value is "Name=".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"

inline constexpr char kModuleResourceExport[] = "ZeltoGetModuleResource";
using ModuleResourceProc = BOOL (*)(const char* type, UINT id, const void** data, size_t* size);

// The resource of a loaded module (handle from LoadModule); nullopt when the
// module has no lookup function or no such resource.
std::optional<std::string_view> FindModuleResource(void* module, const char* type, UINT id);

// The value of `field` in a VERSION resource text; nullopt when absent.
std::optional<std::string> VersionField(std::string_view version_block, std::string_view field);
