// Object activation: ProgID to CLSID through the registry, class objects from
// in-process modules (InprocServer32 path, loaded once with dlopen and kept
// loaded) or from classes built into the platform, and CoCreateInstance.
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

using CLSCTX = DWORD;
inline constexpr CLSCTX CLSCTX_INPROC_SERVER = 0x1;
inline constexpr CLSCTX CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr CLSCTX CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr CLSCTX CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr CLSCTX CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// Built-in classes (the database classes, say) are found before the registry.
HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid);
HRESULT CoGetClassObject(REFCLSID clsid, CLSCTX context, void* reserved, REFIID riid,
                         void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, CLSCTX context, REFIID riid,
                         void** ppv);

// Registers a class implemented inside the platform itself. `factory` is kept
// (one reference taken) for the life of the process. Thread-safe.
HRESULT CoRegisterBuiltinClass(REFCLSID clsid, const char* progid, IClassFactory* factory);

// Creates an object by ProgID (UTF-8 text) in one step, as a script's
// CreateObject does. Not part of the Windows API.
HRESULT CreateObjectByProgID(const char* progid, REFIID riid, void** ppv);
