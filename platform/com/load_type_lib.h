// LoadTypeLib: a type library from a file. A module (shared library) gives
// its "TYPELIB" resource 1 (module_resources.h); any other file is read as
// IDL text. Libraries are cached per file for the life of the process, so
// every caller shares one library object per file. Thread-safe.
#pragma once

#include <string>

#include "platform/com/bstr.h"
#include "platform/com/typeinfo.h"

// TYPE_E_CANTLOADLIBRARY when the file, the module or its resource is
// missing; TYPE_E_INVDATAREAD when the IDL text does not parse.
HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** lib);

// Why the calling thread's last LoadTypeLib failed ("" after a success).
const std::string& LastTypeLibError();
