// Where `zelto` finds the ZeltoCom module, and its self-registration calls.
#pragma once

#include <string>

#include "platform/com/hresult.h"

namespace zelto {

// The running program's folder (from /proc/self/exe); "" when unknown.
std::string ProgramDirectory();

// ZeltoCom.so beside the running program (a build tree) when it is there,
// else in the private library folder of an installed program (found from
// the program's folder, so that an installed tree works wherever it is
// unpacked), else in the library folder the build was configured for.
std::string DefaultModulePath();

// Loads the module at `path` and calls its DllRegisterServer (or, with
// `unregister`, DllUnregisterServer). On failure `error` says what went
// wrong in one line: no file, not loadable, no such export, or the call's
// failing HRESULT.
HRESULT RegisterModule(const std::string& path, bool unregister, std::string* error);

// Registers DefaultModulePath() unless the component's ProgID is already
// registered and its class object can be had. `module`, when given, gets
// the registered module's path and whether it was registered now or before
// ("/usr/lib/zelto/ZeltoCom.so (registered now)").
HRESULT EnsureRegistered(std::string* error, std::string* module = nullptr);

// "0x80040154" for messages.
std::string HresultText(HRESULT hr);

}  // namespace zelto
