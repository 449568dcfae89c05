// Type library objects built from a module's IDL text: one ITypeLib holding
// one ITypeInfo per interface and class the library lists, in that order.
// The library and its type infos share one thread-safe reference count, so
// a type info keeps its library alive and vice versa; the objects are
// immutable and may be used from any thread.
#pragma once

#include <string_view>

#include "platform/com/idl_parser.h"
#include "platform/com/typeinfo.h"

// Builds a library from IDL text. TYPE_E_INVDATAREAD for text the parser
// rejects; `error` (may be null) receives the parser's "line N: ..." message.
HRESULT CreateTypeLibFromIdl(std::string_view idl, ITypeLib** lib, std::string* error);

// The same from an already parsed library.
HRESULT CreateTypeLib(const IdlLibrary& library, ITypeLib** lib);
