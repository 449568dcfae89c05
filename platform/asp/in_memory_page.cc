#include "platform/asp/in_memory_page.h"

#include <utility>
#include <vector>

#include "platform/com/single_interface_object.h"
#include "platform/win/codepage.h"

using Values = std::vector<std::pair<std::u16string, VariantValue>>;

struct InMemoryPage::State {
  Values query;
  Values server_variables;
  std::shared_ptr<SessionValues> session = std::make_shared<SessionValues>();
  bool has_session = true;
  std::map<PageMember, HRESULT> failures;
  std::u16string body;
  bool ended = false;

  HRESULT FailureOf(PageMember member) const {
    auto it = failures.find(member);
    return it == failures.end() ? S_OK : it->second;
  }
};

namespace {

using State = InMemoryPage::State;

// A reference-counted page object answering for IUnknown and one interface.
// The count is atomic because a host may release on another thread.
template <typename Interface, const IID& kIid>
class PageObject : public SingleInterfaceObject<Interface, kIid> {
 public:
  using InterfaceType = Interface;

  int references() const { return static_cast<int>(this->reference_count()); }

 protected:
  explicit PageObject(std::shared_ptr<State> state)
      : SingleInterfaceObject<Interface, kIid>(0), state_(std::move(state)) {}

  // Hands out one new reference to `object` unless `member` is set to fail.
  template <typename T>
  HRESULT GiveOut(PageMember member, const ComPtr<T>& object, T** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (const HRESULT hr = state_->FailureOf(member); FAILED(hr)) return hr;
    if (object) {
      object->AddRef();
      *out = object.Get();
    }
    return S_OK;
  }

  std::shared_ptr<State> state_;
};

// Creates an object with its first reference taken.
template <typename T, typename... Args>
ComPtr<typename T::InterfaceType> Create(Args&&... args) {
  return ComPtr<typename T::InterfaceType>(new T(std::forward<Args>(args)...));
}

class Dictionary final : public PageObject<IRequestDictionary, IID_IRequestDictionary> {
 public:
  Dictionary(std::shared_ptr<State> state, const Values State::*values, PageMember item_member)
      : PageObject(std::move(state)),
        values_(values),
        item_member_(item_member) {}

  HRESULT get_Item(VARIANT key, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (const HRESULT hr = state_->FailureOf(item_member_); FAILED(hr)) return hr;
    VARIANT key_text;
    VariantInit(&key_text);
    const HRESULT hr = VariantChangeType(&key_text, &key, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    const std::u16string_view name = BstrView(key_text.bstrVal);
    HRESULT result = S_OK;
    for (const auto& [stored_name, stored_value] : (*state_).*values_) {
      if (KeysEqual(stored_name, name)) {
        result = stored_value.CopyTo(value);
        break;
      }
    }
    VariantClear(&key_text);
    return result;
  }

  HRESULT get_Count(int* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<int>(((*state_).*values_).size());
    return S_OK;
  }

 private:
  const Values State::*values_;
  PageMember item_member_;
};

class Request final : public PageObject<IRequest, IID_IRequest> {
 public:
  explicit Request(std::shared_ptr<State> state)
      : PageObject(state),
        query_(Create<Dictionary>(state, &State::query, PageMember::kQueryItem)),
        server_variables_(
            Create<Dictionary>(state, &State::server_variables, PageMember::kServerVariableItem)) {}

  HRESULT get_QueryString(IRequestDictionary** values) override {
    return GiveOut(PageMember::kQueryString, query_, values);
  }
  HRESULT get_ServerVariables(IRequestDictionary** values) override {
    return GiveOut(PageMember::kServerVariables, server_variables_, values);
  }

  const ComPtr<IRequestDictionary> query_;
  const ComPtr<IRequestDictionary> server_variables_;
};

class Response final : public PageObject<IResponse, IID_IResponse> {
 public:
  explicit Response(std::shared_ptr<State> state) : PageObject(std::move(state)) {}

  HRESULT Write(VARIANT text) override {
    if (const HRESULT hr = state_->FailureOf(PageMember::kWrite); FAILED(hr)) return hr;
    if (state_->ended) return S_OK;  // the page stopped; the client sees nothing more
    if (text.vt == VT_BSTR) {
      state_->body += BstrView(text.bstrVal);
      return S_OK;
    }
    if (text.vt == VT_EMPTY || text.vt == VT_NULL) return S_OK;
    VARIANT converted;
    VariantInit(&converted);
    const HRESULT hr = VariantChangeType(&converted, &text, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    state_->body += BstrView(converted.bstrVal);
    VariantClear(&converted);
    return S_OK;
  }

  HRESULT End() override {
    if (const HRESULT hr = state_->FailureOf(PageMember::kEnd); FAILED(hr)) return hr;
    state_->ended = true;
    return S_OK;
  }
};

class Session final : public PageObject<ISessionObject, IID_ISessionObject> {
 public:
  explicit Session(std::shared_ptr<State> state) : PageObject(std::move(state)) {}

  HRESULT get_Value(BSTR key, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (const HRESULT hr = state_->FailureOf(PageMember::kSessionValue); FAILED(hr)) return hr;
    return state_->session->Get(BstrView(key), value);
  }

  HRESULT put_Value(BSTR key, VARIANT value) override {
    state_->session->Set(BstrView(key), value);
    return S_OK;
  }
};

class Server final : public PageObject<IServer, IID_IServer> {
 public:
  explicit Server(std::shared_ptr<State> state) : PageObject(std::move(state)) {}
};

class Application final : public PageObject<IApplicationObject, IID_IApplicationObject> {
 public:
  explicit Application(std::shared_ptr<State> state) : PageObject(std::move(state)) {}
};

class Context final : public PageObject<IScriptingContext, IID_IScriptingContext> {
 public:
  explicit Context(std::shared_ptr<State> state)
      : PageObject(state),
        request_(Create<Request>(state)),
        response_(Create<Response>(state)),
        server_(Create<Server>(state)),
        session_(state->has_session ? Create<Session>(state) : ComPtr<ISessionObject>()),
        application_(Create<Application>(state)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv && riid == IID_IScriptingContext) {
      if (const HRESULT hr = state_->FailureOf(PageMember::kScriptingContext); FAILED(hr)) {
        *ppv = nullptr;
        return hr;
      }
    }
    return PageObject::QueryInterface(riid, ppv);
  }

  HRESULT get_Request(IRequest** out) override {
    return GiveOut(PageMember::kRequest, request_, out);
  }
  HRESULT get_Response(IResponse** out) override {
    return GiveOut(PageMember::kResponse, response_, out);
  }
  HRESULT get_Server(IServer** out) override { return GiveOut(PageMember::kServer, server_, out); }
  HRESULT get_Session(ISessionObject** out) override {
    return GiveOut(PageMember::kSession, session_, out);
  }
  HRESULT get_Application(IApplicationObject** out) override {
    return GiveOut(PageMember::kApplication, application_, out);
  }

  // References beyond the one its owner keeps (the page for the context, the
  // context for its objects, the request for the collections).
  int ExternalReferences(PageMember member) const {
    auto request = static_cast<Request*>(request_.Get());
    switch (member) {
      case PageMember::kScriptingContext:
        return references() - 1;
      case PageMember::kRequest:
        return request->references() - 1;
      case PageMember::kResponse:
      case PageMember::kWrite:
      case PageMember::kEnd:
        return static_cast<Response*>(response_.Get())->references() - 1;
      case PageMember::kServer:
        return static_cast<Server*>(server_.Get())->references() - 1;
      case PageMember::kSession:
      case PageMember::kSessionValue:
        return session_ ? static_cast<Session*>(session_.Get())->references() - 1 : 0;
      case PageMember::kApplication:
        return static_cast<Application*>(application_.Get())->references() - 1;
      case PageMember::kQueryString:
      case PageMember::kQueryItem:
        return static_cast<Dictionary*>(request->query_.Get())->references() - 1;
      case PageMember::kServerVariables:
      case PageMember::kServerVariableItem:
        return static_cast<Dictionary*>(request->server_variables_.Get())->references() - 1;
    }
    return 0;
  }

 private:
  const ComPtr<IRequest> request_;
  const ComPtr<IResponse> response_;
  const ComPtr<IServer> server_;
  const ComPtr<ISessionObject> session_;
  const ComPtr<IApplicationObject> application_;
};

void AddValue(Values& values, std::u16string_view key, const VARIANT& value) {
  values.emplace_back(std::u16string(key), VariantValue(value));
}

void AddText(Values& values, std::u16string_view key, std::u16string_view text) {
  AddValue(values, key, VariantValue::Adopt(MakeVariantBstr(text)).get());
}

}  // namespace

InMemoryPage::InMemoryPage(InMemoryPage&&) noexcept = default;
InMemoryPage& InMemoryPage::operator=(InMemoryPage&&) noexcept = default;
InMemoryPage::~InMemoryPage() = default;

IUnknown* InMemoryPage::context() const { return context_.Get(); }
const std::u16string& InMemoryPage::body() const { return state_->body; }
bool InMemoryPage::ended() const { return state_->ended; }

const std::shared_ptr<SessionValues>& InMemoryPage::session() const {
  static const std::shared_ptr<SessionValues> none;
  return state_->has_session ? state_->session : none;
}

int InMemoryPage::ExternalReferences(PageMember member) const {
  return static_cast<const Context*>(context_.Get())->ExternalReferences(member);
}

InMemoryPage::Builder::Builder() : state_(std::make_shared<State>()) {}
InMemoryPage::Builder::~Builder() = default;

InMemoryPage::Builder& InMemoryPage::Builder::QueryString(std::string_view query,
                                                          PageCharset charset) {
  for (const auto& [key, value] : ParseQueryString(query, charset))
    AddText(state_->query, key, value);
  return *this;
}

InMemoryPage::Builder& InMemoryPage::Builder::QueryValue(std::u16string_view key,
                                                         const VARIANT& value) {
  AddValue(state_->query, key, value);
  return *this;
}

InMemoryPage::Builder& InMemoryPage::Builder::ServerVariable(std::string_view key,
                                                             std::string_view value) {
  AddText(state_->server_variables, Utf8ToWide(key), Utf8ToWide(value));
  return *this;
}

InMemoryPage::Builder& InMemoryPage::Builder::Session(std::shared_ptr<SessionValues> session) {
  state_->session = session ? std::move(session) : std::make_shared<SessionValues>();
  state_->has_session = true;
  return *this;
}

InMemoryPage::Builder& InMemoryPage::Builder::SessionText(std::string_view key,
                                                          std::string_view value) {
  state_->session->SetText(key, value);
  return *this;
}

InMemoryPage::Builder& InMemoryPage::Builder::SessionLong(std::string_view key, LONG value) {
  state_->session->SetLong(key, value);
  return *this;
}

InMemoryPage::Builder& InMemoryPage::Builder::NoSession() {
  state_->has_session = false;
  return *this;
}

InMemoryPage::Builder& InMemoryPage::Builder::Fail(PageMember member, HRESULT hr) {
  state_->failures[member] = hr;
  return *this;
}

InMemoryPage InMemoryPage::Builder::Build() {
  InMemoryPage page;
  page.state_ = std::exchange(state_, std::make_shared<State>());
  page.context_ = Create<Context>(page.state_);
  return page;
}
