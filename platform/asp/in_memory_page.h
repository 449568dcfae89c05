// InMemoryPage: one page request's intrinsic objects, built from plain values
// instead of a web server: the query string, server variables and a session
// (shared, so a host can keep it between requests, or none at all). The
// response collects the written text and whether End was called; nothing
// written after End reaches the body. Any member can be made to fail with a
// chosen HRESULT, so callers can test their failure paths.
//
//   InMemoryPage page = InMemoryPage::Builder()
//                           .QueryString("cid=12&action=sub")
//                           .ServerVariable("REMOTE_ADDR", "127.0.0.1")
//                           .Build();
//   object->OnStartPage(page.context());
//   ... page.body(), page.ended()
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/asp/asp_objects.h"
#include "platform/asp/query_string.h"
#include "platform/asp/session_values.h"
#include "platform/com/com_ptr.h"

// The members that can be made to fail.
enum class PageMember {
  kScriptingContext,    // QueryInterface for IScriptingContext
  kRequest,             // get_Request
  kResponse,            // get_Response
  kServer,              // get_Server
  kSession,             // get_Session
  kApplication,         // get_Application
  kQueryString,         // IRequest::get_QueryString
  kServerVariables,     // IRequest::get_ServerVariables
  kQueryItem,           // get_Item of the QueryString collection
  kServerVariableItem,  // get_Item of the ServerVariables collection
  kSessionValue,        // ISessionObject::get_Value
  kWrite,               // IResponse::Write (nothing is written)
  kEnd,                 // IResponse::End (the response is not ended)
};

class InMemoryPage {
 public:
  class Builder;
  struct State;

  InMemoryPage(InMemoryPage&&) noexcept;
  InMemoryPage& operator=(InMemoryPage&&) noexcept;
  ~InMemoryPage();

  // The scripting context to hand to OnStartPage. The page keeps its own
  // reference; the caller takes one only if it AddRefs.
  IUnknown* context() const;

  // The text that reached the body, in order of writing.
  const std::u16string& body() const;
  bool ended() const;
  // Null for a page without a session.
  const std::shared_ptr<SessionValues>& session() const;

  // References to the object behind `member` (the getters' objects and the
  // collections) held by anyone but the page itself: 0 once every caller has
  // released what it took.
  int ExternalReferences(PageMember member) const;

 private:
  InMemoryPage() = default;
  std::shared_ptr<State> state_;
  ComPtr<IScriptingContext> context_;
};

class InMemoryPage::Builder {
 public:
  Builder();
  ~Builder();

  // Parsed as application/x-www-form-urlencoded in `charset`; adds to the
  // values given so far.
  Builder& QueryString(std::string_view query, PageCharset charset = PageCharset::kUtf8);
  // One query value of any type (a deep copy), after those given so far.
  Builder& QueryValue(std::u16string_view key, const VARIANT& value);
  Builder& ServerVariable(std::string_view key, std::string_view value);  // UTF-8
  // The page's session values; by default a fresh, empty session.
  Builder& Session(std::shared_ptr<SessionValues> session);
  Builder& SessionText(std::string_view key, std::string_view value);  // UTF-8
  Builder& SessionLong(std::string_view key, LONG value);
  // The page has no session object: get_Session succeeds with null.
  Builder& NoSession();
  Builder& Fail(PageMember member, HRESULT hr);

  InMemoryPage Build();

 private:
  std::shared_ptr<State> state_;
};
