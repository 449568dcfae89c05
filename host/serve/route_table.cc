#include "host/serve/route_table.h"

namespace zelto::serve {

void RouteTable::Add(std::string path, Handler handler) {
  exact_[std::move(path)] = std::move(handler);
}

void RouteTable::AddPrefix(std::string prefix, Handler handler) {
  prefixes_[std::move(prefix)] = std::move(handler);
}

const RouteTable::Handler* RouteTable::Find(std::string_view path) const {
  if (auto it = exact_.find(path); it != exact_.end()) return &it->second;
  const Handler* longest = nullptr;
  size_t length = 0;
  for (const auto& [prefix, handler] : prefixes_) {
    if (prefix.size() >= length && path.starts_with(prefix)) {
      longest = &handler;
      length = prefix.size();
    }
  }
  return longest;
}

}  // namespace zelto::serve
