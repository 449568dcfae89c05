#include "host/component_call.h"

#include <atomic>

#include "host/module_path.h"
#include "platform/asp/asp_objects.h"
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

// Request, Response and Application of the page as arguments, last first.
void PageObjectArguments(const InMemoryPage& page, VARIANT (&args)[3]) {
  for (VARIANT& v : args) VariantInit(&v);
  ComPtr<IScriptingContext> context;
  if (FAILED(page.context()->QueryInterface(IID_IScriptingContext, context.ReceiveVoid()))) return;
  ComPtr<IRequest> request;
  ComPtr<IResponse> response;
  ComPtr<IApplicationObject> application;
  context->get_Request(request.Receive());
  context->get_Response(response.Receive());
  context->get_Application(application.Receive());
  args[2].vt = args[1].vt = args[0].vt = VT_UNKNOWN;
  args[2].punkVal = request.Detach();
  args[1].punkVal = response.Detach();
  args[0].punkVal = application.Detach();
}

// `text` in GBK; `missing` tells whether a character GBK lacks became "?".
std::string ToGbk(std::u16string_view text, bool* missing) {
  *missing = false;
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_GBK, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  BOOL used_default = FALSE;
  WideCharToMultiByte(CP_GBK, 0, text.data(), length, out.data(), size, nullptr, &used_default);
  *missing = used_default != FALSE;
  return out;
}

}  // namespace

void SetDefaultDatabaseSettings(SessionValues& session, const std::string& data_dir) {
  session.SetText("DBServer", data_dir);
  session.SetText("DBName", "chat");
  session.SetText("DBUserName", "");
  session.SetText("DBPWD", "");
  session.SetText("DBCount", "count");
}

std::string EncodePageBody(const std::u16string& body, PageCharset charset) {
  if (charset == PageCharset::kUtf8) return WideToUtf8(body);
  bool missing = false;
  std::string out = ToGbk(body, &missing);
  if (!missing) return out;
  // Character by character: each one GBK lacks becomes its reference.
  out.clear();
  for (size_t i = 0; i < body.size();) {
    const bool pair =
        i + 1 < body.size() && IsHighSurrogate(body[i]) && IsLowSurrogate(body[i + 1]);
    const std::u16string_view character(body.data() + i, pair ? 2 : 1);
    const std::string bytes = ToGbk(character, &missing);
    if (!missing || character[0] == 0xFFFD) {
      out += bytes;  // a broken byte of the narrow text stays "?"
    } else {
      const char32_t code =
          pair ? SurrogatePairValue(character[0], character[1]) : char32_t{character[0]};
      out += "&#" + std::to_string(static_cast<uint32_t>(code)) + ";";
    }
    i += character.size();
  }
  return out;
}

ComponentCall CallComponent(const InMemoryPage& page, const std::string& method,
                            const std::optional<std::u16string>& argument) {
  ComponentCall call;
  // Once the module is registered it stays so for the process; a server
  // need not look again on every page.
  static std::atomic<bool> registered{false};
  if (!registered) {
    call.hr = zelto::EnsureRegistered(&call.error);
    if (FAILED(call.hr)) return call;
    registered = true;
  }

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
  std::string first_error;
  call.hr = InvokeByName(object.Get(), method, &arg, argument ? 1 : 0, &result, &first_error);
  VariantClear(&arg);
  if (call.hr == DISP_E_BADPARAMCOUNT && !argument) {
    // The visitor's chat page passes its Request, Response and Application
    // objects (GetClientMsg); a script host does the same.
    VARIANT objects[3];
    PageObjectArguments(page, objects);
    call.hr = InvokeByName(object.Get(), method, objects, 3, &result, &call.error);
    for (VARIANT& v : objects) VariantClear(&v);
    if (call.hr == DISP_E_BADPARAMCOUNT) call.error = first_error;
  } else {
    call.error = first_error;
  }
  call.result = VariantValue::Adopt(result);

  std::string end_error;  // the method's outcome is what the caller hears about
  InvokeByName(object.Get(), "OnEndPage", nullptr, 0, &ignored, &end_error);
  VariantClear(&ignored);
  return call;
}
