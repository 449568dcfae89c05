#include "host/serve/static_files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include "host/serve/http_text.h"
#include "platform/com/ascii.h"

namespace zelto::serve {
namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxFileSize = 32 * 1024 * 1024;

// The relative path a URL path names, or nullopt when it is not a plain
// path below the root.
std::optional<fs::path> RelativePath(std::string_view url_path) {
  auto decoded = PercentDecode(url_path, false);
  if (!decoded || decoded->find('\\') != std::string::npos) return std::nullopt;
  fs::path relative;
  std::string_view rest = *decoded;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty()) continue;
    if (part.front() == '.') return std::nullopt;  // "..", "." and hidden files
    relative /= std::string(part);
  }
  return relative;
}

bool Inside(const fs::path& file, const fs::path& root) {
  auto f = file.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++f) {
    if (f == file.end() || *f != *r) return false;
  }
  return true;
}

}  // namespace

StaticFiles::StaticFiles(fs::path root) : root_(std::move(root)) {}

std::optional<StaticFile> StaticFiles::Load(std::string_view url_path) const {
  auto relative = RelativePath(url_path);
  if (!relative) return std::nullopt;
  std::error_code ec;
  const fs::path root = fs::canonical(root_, ec);
  if (ec) return std::nullopt;
  fs::path file = fs::canonical(root / *relative, ec);
  if (ec || !Inside(file, root)) return std::nullopt;
  if (fs::is_directory(file, ec)) file /= "index.html";
  if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > kMaxFileSize || ec)
    return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream body;
  body << in.rdbuf();
  return StaticFile{body.str(), ContentTypeFor(file)};
}

std::string ContentTypeFor(const fs::path& file) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".json", "application/json"},
      {".txt", "text/plain; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".gif", "image/gif"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".webp", "image/webp"},
      {".ico", "image/x-icon"},
      {".pdf", "application/pdf"},
      {".zip", "application/zip"},
  };
  const std::string ext = LowerAscii(file.extension().string());
  for (const auto& [suffix, type] : kTypes) {
    if (ext == suffix) return type;
  }
  return "application/octet-stream";
}

// The installed pages' folder, as seen from the installed program's.
#ifndef ZELTO_WWW_DIR_FROM_BIN
#define ZELTO_WWW_DIR_FROM_BIN "../share/zelto/www"
#endif

fs::path FindWwwRoot() {
  if (const char* env = std::getenv("ZELTO_WWW"); env && *env) return env;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path installed = (self.parent_path() / ZELTO_WWW_DIR_FROM_BIN).lexically_normal();
    if (fs::is_directory(installed, ec)) return installed;
  }
#ifdef ZELTO_WWW_SOURCE_DIR
  return ZELTO_WWW_SOURCE_DIR;
#else
  return "www";
#endif
}

}  // namespace zelto::serve
