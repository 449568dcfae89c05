// Where `zelto` finds the ZeltoCom module, and its self-registration calls.
#pragma once

#include <string>

#include "platform/com/hresult.h"

namespace zelto {

// ZeltoCom.so beside the running program when it is there, else the
// installed /usr/local/lib/zelto/ZeltoCom.so.
std::string DefaultModulePath();

// Loads the module at `path` and calls its DllRegisterServer (or, with
// `unregister`, DllUnregisterServer). On failure `error` says what went
// wrong in one line: no file, not loadable, no such export, or the call's
// failing HRESULT.
HRESULT RegisterModule(const std::string& path, bool unregister, std::string* error);

// Registers DefaultModulePath() unless the component's ProgID is already
// registered and its class object can be had.
HRESULT EnsureRegistered(std::string* error);

// "0x80040154" for messages.
std::string HresultText(HRESULT hr);

}  // namespace zelto
