#include "host/component_call.h"

#include <cstdio>
#include <filesystem>

#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/com/module_loader.h"
#include "platform/win/codepage.h"

namespace {

std::string HexCode(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// The module is built beside the `zelto` program.
std::string DefaultModulePath() {
  const std::string self = GetModuleFileName(reinterpret_cast<const void*>(&DefaultModulePath));
  return (std::filesystem::path(self).parent_path() / "ZeltoCom.so").string();
}

HRESULT CreateComponent(IDispatch** out) {
  return CreateObjectByProgID(kComponentProgID, IID_IDispatch, reinterpret_cast<void**>(out));
}

bool NeedsRegistration(HRESULT hr) {
  return hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_KEYMISSING ||
         hr == CO_E_DLLNOTFOUND;
}

// Invokes `name` as a method with the given arguments (last one first).
HRESULT InvokeByName(IDispatch* object, const std::string& name, VARIANT* args, UINT count,
                     VARIANT* result, std::string* error) {
  std::u16string wide_name = Utf8ToWide(name);
  LPOLESTR names[] = {wide_name.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    *error = "the component has no method named '" + name + "' (" + HexCode(hr) + ")";
    return hr;
  }
  DISPPARAMS params{args, nullptr, count, 0};
  EXCEPINFO exception{};
  UINT arg_error = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                      &exception, &arg_error);
  if (hr == DISP_E_EXCEPTION && exception.scode != 0) hr = exception.scode;
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  if (hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW ||
      hr == DISP_E_PARAMNOTOPTIONAL) {
    *error = "the arguments do not fit " + name + " (" + HexCode(hr) + ")";
  }
  return hr;
}

}  // namespace

void SetDefaultDatabaseSettings(SessionValues& session, const std::string& data_dir) {
  session.SetText("DBServer", data_dir);
  session.SetText("DBName", "chat");
  session.SetText("DBUserName", "");
  session.SetText("DBPWD", "");
  session.SetText("DBCount", "count");
}

HRESULT EnsureComponentRegistered(std::string* error) {
  CLSID clsid;
  const std::u16string progid = Utf8ToWide(kComponentProgID);
  HRESULT hr = CLSIDFromProgID(progid.c_str(), &clsid);
  if (SUCCEEDED(hr)) {
    ComPtr<IClassFactory> factory;
    hr = CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                          factory.ReceiveVoid());
  }
  if (SUCCEEDED(hr) || !NeedsRegistration(hr)) return S_OK;  // creation reports the rest

  const std::string path = DefaultModulePath();
  void* module = nullptr;
  hr = LoadModule(path, &module);
  if (FAILED(hr)) {
    *error = "cannot load " + path + ": " + LastModuleError();
    return hr;
  }
  using RegisterFn = HRESULT (*)();
  auto register_server = reinterpret_cast<RegisterFn>(GetModuleProc(module, "DllRegisterServer"));
  if (!register_server) {
    *error = path + " has no DllRegisterServer";
    return CO_E_ERRORINDLL;
  }
  hr = register_server();
  if (FAILED(hr)) *error = "registering " + path + " failed (" + HexCode(hr) + ")";
  return hr;
}

ComponentCall CallComponent(const InMemoryPage& page, const std::string& method,
                            const std::optional<std::u16string>& argument) {
  ComponentCall call;
  call.hr = EnsureComponentRegistered(&call.error);
  if (FAILED(call.hr)) return call;

  ComPtr<IDispatch> object;
  call.hr = CreateComponent(object.Receive());
  if (FAILED(call.hr)) {
    call.error = std::string("cannot create ") + kComponentProgID + " (" + HexCode(call.hr) + ")";
    return call;
  }

  VARIANT context;
  VariantInit(&context);
  context.vt = VT_UNKNOWN;
  context.punkVal = page.context();  // borrowed for the call
  VARIANT ignored;
  VariantInit(&ignored);
  call.hr = InvokeByName(object.Get(), "OnStartPage", &context, 1, &ignored, &call.error);
  VariantClear(&ignored);
  if (FAILED(call.hr)) {
    if (call.error.empty()) call.error = "OnStartPage failed (" + HexCode(call.hr) + ")";
    return call;
  }

  VARIANT arg;
  VariantInit(&arg);
  if (argument) arg = MakeVariantBstr(*argument);
  VARIANT result;
  VariantInit(&result);
  call.hr = InvokeByName(object.Get(), method, &arg, argument ? 1 : 0, &result, &call.error);
  VariantClear(&arg);
  call.result = VariantValue::Adopt(result);

  std::string end_error;  // the method's outcome is what the caller hears about
  InvokeByName(object.Get(), "OnEndPage", nullptr, 0, &ignored, &end_error);
  VariantClear(&ignored);
  return call;
}
