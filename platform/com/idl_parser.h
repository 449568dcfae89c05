// The interface definition language subset a module's type library is
// written in: `import` lines (ignored), attributed `interface` definitions
// deriving from IUnknown, IDispatch or an interface defined earlier, one
// `library` block with `importlib` lines (ignored), `coclass` definitions and
// interface references. Parameter types: long, short, int, float, double,
// BSTR, VARIANT, VARIANT_BOOL, DATE, IUnknown*, IDispatch*, and one more `*`
// for [out, retval]. Methods return HRESULT.
//
// ParseIdl never throws and never reads past its input: anything outside the
// subset is an error naming the line ("line 12: unknown type 'char'").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/typeinfo.h"

struct IdlType {
  VARTYPE vt = VT_EMPTY;    // VT_I4, VT_BSTR, VT_UNKNOWN, VT_VARIANT, ...
  bool by_pointer = false;  // one `*` beyond the type itself ("long*", "IUnknown**")
};

struct IdlParam {
  std::string name;
  IdlType type;
  USHORT flags = PARAMFLAG_FIN;  // PARAMFLAG_FIN / FOUT / FRETVAL / FOPT
};

struct IdlMethod {
  std::string name;
  MEMBERID id = 0;  // the declared id, else the default 0x60000000 + depth << 16 + index
  std::string helpstring;
  std::vector<IdlParam> params;
  int slot = 0;  // virtual-table slot, counted from 0 (QueryInterface)
};

struct IdlInterface {
  std::string name;
  GUID iid{};
  std::string helpstring;
  std::string base;  // "IDispatch", "IUnknown" or an interface of the same text
  WORD flags = 0;    // TYPEFLAG_FDUAL, FOLEAUTOMATION, FDISPATCHABLE, FNONEXTENSIBLE
  std::vector<IdlMethod> methods;
  int slots = 0;  // total virtual-table slots, inherited ones included
};

struct IdlImplemented {
  std::string interface;
  INT flags = 0;  // IMPLTYPEFLAG_FDEFAULT, FSOURCE
};

struct IdlCoclass {
  std::string name;
  GUID clsid{};
  std::string helpstring;
  WORD flags = TYPEFLAG_FCANCREATE;
  std::vector<IdlImplemented> interfaces;
};

// One entry of the library, in the order the library lists them.
struct IdlEntry {
  TYPEKIND kind;  // TKIND_DISPATCH (dual), TKIND_INTERFACE or TKIND_COCLASS
  size_t index;   // into `interfaces` or `coclasses`
};

struct IdlLibrary {
  std::string name;
  GUID libid{};
  WORD major = 0;
  WORD minor = 0;
  LCID lcid = 0;
  std::string helpstring;
  std::vector<IdlInterface> interfaces;  // only those the library contains
  std::vector<IdlCoclass> coclasses;
  std::vector<IdlEntry> entries;
};

struct IdlParseResult {
  std::optional<IdlLibrary> library;  // set on success
  std::string error;                  // "line N: ..." on failure
};

IdlParseResult ParseIdl(std::string_view text);
