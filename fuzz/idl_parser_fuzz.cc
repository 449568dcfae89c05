// The IDL parser: it either gives a consistent library or an error that
// names a line of the text.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/com/idl_parser.h"

namespace {

bool ErrorNamesALine(const std::string& error, std::string_view text) {
  if (!error.starts_with("line ")) return false;
  size_t i = 5;
  size_t line = 0;
  while (i < error.size() && std::isdigit(static_cast<unsigned char>(error[i])) && line < 1000000)
    line = line * 10 + (error[i++] - '0');
  if (i == 5 || error.compare(i, 2, ": ") != 0 || error.size() == i + 2) return false;
  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  return line >= 1 && line <= lines;
}

void CheckLibrary(const IdlLibrary& library) {
  for (const IdlEntry& entry : library.entries) {
    if (entry.kind == TKIND_COCLASS) {
      FUZZ_CHECK(entry.index < library.coclasses.size(), "an entry names a missing coclass");
    } else {
      FUZZ_CHECK(entry.kind == TKIND_DISPATCH || entry.kind == TKIND_INTERFACE, "an unknown entry kind");
      FUZZ_CHECK(entry.index < library.interfaces.size(), "an entry names a missing interface");
    }
  }
  for (const IdlInterface& iface : library.interfaces) {
    FUZZ_CHECK(!iface.name.empty() && !iface.base.empty(), "an interface without a name or base");
    int previous = iface.base == "IUnknown" ? 2 : iface.base == "IDispatch" ? 6 : -1;
    for (const IdlMethod& method : iface.methods) {
      FUZZ_CHECK(method.slot > previous, "methods share or reorder slots");
      FUZZ_CHECK(method.slot < iface.slots, "a method lies beyond the interface's slots");
      previous = method.slot;
      int retvals = 0;
      for (const IdlParam& param : method.params) retvals += (param.flags & PARAMFLAG_FRETVAL) != 0;
      FUZZ_CHECK(retvals <= 1, "a method with two return values");
    }
  }
  for (const IdlCoclass& coclass : library.coclasses) FUZZ_CHECK(!coclass.name.empty(), "a nameless coclass");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = zelto::fuzz::AsText(data, size);
  const IdlParseResult result = ParseIdl(text);
  if (result.library) {
    FUZZ_CHECK(result.error.empty(), "a parsed library with an error");
    CheckLibrary(*result.library);
  } else {
    FUZZ_CHECK(ErrorNamesALine(result.error, text), "an error that names no line of the text");
  }
  const IdlParseResult again = ParseIdl(text);
  FUZZ_CHECK(again.library.has_value() == result.library.has_value() && again.error == result.error,
             "parsing is not deterministic");
  return 0;
}
