// RouteTable: the site's routes by path. Route modules (host/serve/
// *_routes.cc) register their handlers at the Site's start; a request's
// path finds its exact route, else the longest registered prefix that
// starts it ("/api/visitor/" answers the visitor paths no route has).
// Registration happens before the first request; Find is then safe from
// any thread.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace zelto::serve {

struct SiteExchange;

class RouteTable {
 public:
  using Handler = std::function<void(SiteExchange&)>;

  // A path registered twice keeps the last handler.
  void Add(std::string path, Handler handler);
  void AddPrefix(std::string prefix, Handler handler);
  // Null when no route takes `path`.
  const Handler* Find(std::string_view path) const;

 private:
  std::map<std::string, Handler, std::less<>> exact_;
  std::map<std::string, Handler, std::less<>> prefixes_;
};

}  // namespace zelto::serve
