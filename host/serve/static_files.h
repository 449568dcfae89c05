// StaticFiles: files under one folder by URL path, with a content type from
// the extension. A path that would leave the folder ("..", encoded or not,
// symbolic links pointing out), names starting with '.', and anything that
// is not a regular file are not found. A folder's path gives its index.html.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zelto::serve {

struct StaticFile {
  std::string body;
  std::string content_type;
};

class StaticFiles {
 public:
  explicit StaticFiles(std::filesystem::path root);
  // `url_path` is the request's path without its query, still %-encoded.
  std::optional<StaticFile> Load(std::string_view url_path) const;
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

// "text/html; charset=utf-8", "image/gif", ...; application/octet-stream
// for an unknown extension.
std::string ContentTypeFor(const std::filesystem::path& file);

// The site's pages: $ZELTO_WWW, else the installed share/zelto/www found
// from the program's folder (bin/../share/zelto/www), else host/www of the
// source tree it was built from.
std::filesystem::path FindWwwRoot();

}  // namespace zelto::serve
