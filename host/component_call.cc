#include "host/component_call.h"

#include "host/module_path.h"
#include "platform/com/activation.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/win/codepage.h"

namespace {

HRESULT CreateComponent(IDispatch** out) {
  return CreateObjectByProgID(kComponentProgID, IID_IDispatch, reinterpret_cast<void**>(out));
}

// Invokes `name` as a method with the given arguments (last one first).
HRESULT InvokeByName(IDispatch* object, const std::string& name, VARIANT* args, UINT count,
                     VARIANT* result, std::string* error) {
  std::u16string wide_name = Utf8ToWide(name);
  LPOLESTR names[] = {wide_name.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    *error = "the component has no method named '" + name + "' (" + zelto::HresultText(hr) + ")";
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
    *error = "the arguments do not fit " + name + " (" + zelto::HresultText(hr) + ")";
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

ComponentCall CallComponent(const InMemoryPage& page, const std::string& method,
                            const std::optional<std::u16string>& argument) {
  ComponentCall call;
  call.hr = zelto::EnsureRegistered(&call.error);
  if (FAILED(call.hr)) return call;

  ComPtr<IDispatch> object;
  call.hr = CreateComponent(object.Receive());
  if (FAILED(call.hr)) {
    call.error =
        std::string("cannot create ") + kComponentProgID + " (" + zelto::HresultText(call.hr) + ")";
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
    if (call.error.empty()) call.error = "OnStartPage failed (" + zelto::HresultText(call.hr) + ")";
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
