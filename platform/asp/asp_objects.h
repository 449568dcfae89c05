// The page framework's intrinsic objects as the component reaches them: the
// scripting context handed to OnStartPage and the Request, Response, Server,
// Session and Application objects it gives out. Only the members the
// component calls are declared; every getter returns one new reference.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

struct IRequest;
struct IRequestDictionary;
struct IResponse;
struct IServer;
struct ISessionObject;
struct IApplicationObject;

extern const IID IID_IScriptingContext;
extern const IID IID_IRequest;
extern const IID IID_IRequestDictionary;
extern const IID IID_IResponse;
extern const IID IID_IServer;
extern const IID IID_ISessionObject;
extern const IID IID_IApplicationObject;

struct IScriptingContext : IUnknown {
  virtual HRESULT get_Request(IRequest** request) = 0;
  virtual HRESULT get_Response(IResponse** response) = 0;
  virtual HRESULT get_Server(IServer** server) = 0;
  // Succeeds with null when the page has no session.
  virtual HRESULT get_Session(ISessionObject** session) = 0;
  virtual HRESULT get_Application(IApplicationObject** application) = 0;
};

// A read-only collection of named values (QueryString, ServerVariables).
// Keys compare without regard to ASCII case; a missing key gives VT_EMPTY.
struct IRequestDictionary : IUnknown {
  virtual HRESULT get_Item(VARIANT key, VARIANT* value) = 0;
  virtual HRESULT get_Count(int* count) = 0;
};

struct IRequest : IUnknown {
  virtual HRESULT get_QueryString(IRequestDictionary** values) = 0;
  virtual HRESULT get_ServerVariables(IRequestDictionary** values) = 0;
};

struct IResponse : IUnknown {
  // Appends the value as text (non-strings by the standard conversion).
  // After End nothing more reaches the body.
  virtual HRESULT Write(VARIANT text) = 0;
  virtual HRESULT End() = 0;
};

struct ISessionObject : IUnknown {
  // A missing key gives VT_EMPTY. Keys compare without regard to ASCII case.
  virtual HRESULT get_Value(BSTR key, VARIANT* value) = 0;
  virtual HRESULT put_Value(BSTR key, VARIANT value) = 0;
};

// Held by the component for the page's life; it calls nothing on them.
struct IServer : IUnknown {};
struct IApplicationObject : IUnknown {};
