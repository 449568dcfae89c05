#include "page/page_context.h"

#include "platform/asp/asp_objects.h"
#include "platform/com/variant.h"
#include "platform/win/codepage.h"

namespace {

// The narrow text of a string value, ending at its first NUL, so that no
// value carries a NUL into SQL text or markup, where a database's C interface
// or a browser would cut it somewhere else.
std::string Narrow(BSTR text) {
  std::u16string_view view = BstrView(text);
  view = view.substr(0, view.find(u'\0'));
  return WideToAnsi(view);
}

}  // namespace

PageContext::PageContext() = default;

PageContext::~PageContext() {
  if (connection_.IsOpen()) connection_.Close();
  application_.Reset();
  server_.Reset();
  session_.Reset();
  response_.Reset();
  request_.Reset();
  // The connection object itself goes with the members.
}

HRESULT PageContext::Start(IUnknown* scripting_context) {
  if (!scripting_context) return E_POINTER;
  End();

  ComPtr<IScriptingContext> context;
  HRESULT hr = scripting_context->QueryInterface(IID_IScriptingContext, context.ReceiveVoid());
  if (FAILED(hr)) return hr;

  if (FAILED(hr = context->get_Request(request_.Receive())) ||
      FAILED(hr = context->get_Response(response_.Receive())) ||
      FAILED(hr = context->get_Server(server_.Receive())) ||
      FAILED(hr = context->get_Session(session_.Receive())) ||
      FAILED(hr = context->get_Application(application_.Receive()))) {
    End();  // releases what this call took; the context goes with `context`
    return hr;
  }

  settings_.server = GetSessionValue("DBServer");
  settings_.database = GetSessionValue("DBName");
  settings_.user = GetSessionValue("DBUserName");
  settings_.password = GetSessionValue("DBPWD");
  settings_.count_database = GetSessionValue("DBCount");

  // A refused connection shows later, when a method reads its rows.
  connection_.Connect(settings_.server, settings_.database, settings_.user, settings_.password, -1);
  started_ = true;
  return S_OK;
}

void PageContext::End() {
  request_.Reset();
  response_.Reset();
  server_.Reset();
  session_.Reset();
  application_.Reset();
  started_ = false;
  language_.reset();
}

bool PageContext::IsStarted() const { return started_; }

bool PageContext::HasSession() const { return static_cast<bool>(session_); }

std::string PageContext::ReadCollection(HRESULT (IRequest::*collection)(IRequestDictionary**),
                                        const std::string& key) {
  if (!request_) return {};
  ComPtr<IRequestDictionary> values;
  if (FAILED((request_.Get()->*collection)(values.Receive())) || !values) return {};

  ScopedBstr name(AnsiToWide(key));
  VARIANT item_key;
  VariantInit(&item_key);
  item_key.vt = VT_BSTR;
  item_key.bstrVal = name.get();  // borrowed: get_Item takes its key by value
  VARIANT value;
  VariantInit(&value);
  std::string text;
  if (SUCCEEDED(values->get_Item(item_key, &value)) &&
      (value.vt == VT_BSTR || SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR))))
    text = Narrow(value.bstrVal);
  VariantClear(&value);
  return text;
}

std::string PageContext::GetQueryValue(const std::string& key) {
  return ReadCollection(&IRequest::get_QueryString, key);
}

std::string PageContext::GetServerVariable(const std::string& key) {
  return ReadCollection(&IRequest::get_ServerVariables, key);
}

std::string PageContext::GetSessionValue(const std::string& key) {
  if (!session_) return {};
  ScopedBstr name(AnsiToWide(key));
  VARIANT value;
  VariantInit(&value);
  std::string text;
  if (SUCCEEDED(session_->get_Value(name.get(), &value)) && value.vt == VT_BSTR)
    text = Narrow(value.bstrVal);
  VariantClear(&value);
  return text;
}

TextLanguage PageContext::language() {
  if (!language_) language_ = TextLanguageFromTag(GetSessionValue(kLanguageSessionKey));
  return *language_;
}

const std::string& PageContext::Text(ComponentText id) { return CatalogText(language(), id); }

void PageContext::WriteResponse(const std::string& text) {
  if (!response_) return;
  VARIANT value = MakeVariantBstr(AnsiToWide(text));
  response_->Write(value);  // a failing Write is ignored
  VariantClear(&value);
}

void PageContext::EndResponse() {
  if (response_) response_->End();
}
