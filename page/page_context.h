// The page context a method runs in: the page's intrinsic objects, the
// database settings read from the session, the page connection, and the page
// operations the methods use. Every operation gives empty text on failure.
// The component object owns one per page (OnStartPage to OnEndPage); the
// chat methods and the console lists read their inputs from it and write
// their output to it, and know nothing of the object that owns it.
#pragma once

#include <optional>
#include <string>

#include "db/db_connection.h"
#include "platform/asp/asp_objects.h"
#include "platform/com/com_ptr.h"
#include "text/text_catalog.h"

struct DbSettings {
  std::string server;          // "DBServer"
  std::string database;        // "DBName"
  std::string user;            // "DBUserName"
  std::string password;        // "DBPWD"
  std::string count_database;  // "DBCount"
};

class PageContext {
 public:
  PageContext();
  ~PageContext();  // closes the page connection, releases what is still held

  // OnStartPage: E_POINTER for null; the scripting context's failure code
  // with nothing held; else takes the five objects, reads the settings, opens
  // the page connection (result ignored) and returns S_OK. Objects held from
  // an earlier Start are released first, so a second Start never leaks them.
  HRESULT Start(IUnknown* scripting_context);
  // OnEndPage: releases the five objects; the connection stays open.
  void End();
  // True between a successful Start and End. Methods called outside that
  // window return S_FALSE and write nothing.
  bool IsStarted() const;
  // The page has a session object (a page may have none).
  bool HasSession() const;

  // Values are narrowed to the ANSI code page and end at the first NUL.
  std::string GetQueryValue(const std::string& key);
  std::string GetServerVariable(const std::string& key);
  // Only a string value counts; anything else is empty text.
  std::string GetSessionValue(const std::string& key);
  // The component's text `id` in the language of the session value
  // "ZeltoLanguage" (read once per page); the Chinese texts without one.
  const std::string& Text(ComponentText id);
  TextLanguage language();
  void WriteResponse(const std::string& text);
  void EndResponse();

  CDbConnection& connection() { return connection_; }
  const DbSettings& settings() const { return settings_; }

 private:
  std::string ReadCollection(HRESULT (IRequest::*collection)(IRequestDictionary**),
                             const std::string& key);

  bool started_ = false;
  ComPtr<IRequest> request_;
  ComPtr<IResponse> response_;
  ComPtr<IServer> server_;
  ComPtr<ISessionObject> session_;
  ComPtr<IApplicationObject> application_;
  DbSettings settings_;
  std::optional<TextLanguage> language_;
  CDbConnection connection_;
};
