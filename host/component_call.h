// One page request against the component, the way a page makes it: the
// object is created by its ProgID (registering the module beside this
// program first when the ProgID is unknown), OnStartPage gets the page's
// scripting context, the method is called by name through IDispatch with an
// optional text argument (the dispatch layer coerces it), OnEndPage runs and
// the object is released. Used by `zelto call` and by the web server.
#pragma once

#include <optional>
#include <string>

#include "platform/asp/in_memory_page.h"
#include "platform/asp/variant_value.h"

inline constexpr char kComponentProgID[] = "ZeltoCom.CZeltoCom";

// The default settings of a page's session: DBServer = `data_dir`, DBName
// "chat", DBCount "count", DBUserName and DBPWD empty.
void SetDefaultDatabaseSettings(SessionValues& session, const std::string& data_dir);

struct ComponentCall {
  // The method's HRESULT; or the failure that stopped the request earlier
  // (creation, OnStartPage, an unknown method name), then `error` says which.
  HRESULT hr = E_FAIL;
  std::string error;    // empty when the method was called
  VariantValue result;  // VT_EMPTY unless the method has a result value
};

// The page's body as bytes in `charset` (what goes to the browser). A
// character GBK lacks (possible when the component's code page is UTF-8)
// goes to a GBK page as an HTML character reference ("&#128512;"): the
// component's answers are markup, or scripts carrying markup, so the browser
// shows the character itself. U+FFFD (a broken byte of the component's
// narrow text) stays "?", so a GBK component's output is what it always was.
std::string EncodePageBody(const std::u16string& body, PageCharset charset);

ComponentCall CallComponent(const InMemoryPage& page, const std::string& method,
                            const std::optional<std::u16string>& argument);
