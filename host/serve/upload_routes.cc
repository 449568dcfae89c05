// Attachments: a visitor or operator stores a file that a message then
// links (/files/NAME).
#include <fcntl.h>
#include <unistd.h>

#include "db/value_text.h"
#include "host/serve/random_bytes.h"
#include "host/serve/site_routes.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

// A file name safe to store: letters, digits, '.', '-' and '_' of its last
// path piece, without leading dots, at most 80 bytes.
std::string SanitizeFileName(std::string_view name) {
  if (const size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos)
    name.remove_prefix(slash + 1);
  std::string clean;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    clean += ok ? c : '_';
  }
  while (!clean.empty() && clean.front() == '.') clean.erase(0, 1);
  if (clean.size() > 80) clean.erase(0, clean.size() - 80);
  return clean.empty() ? "file" : clean;
}

// Writes `body` to a new file `name` in `dir`; false when it exists or fails.
bool WriteNewFile(const std::filesystem::path& dir, const std::string& name,
                  const std::string& body) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string path = (dir / name).string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t written = 0;
  while (written < body.size()) {
    const ssize_t n = ::write(fd, body.data() + written, body.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool ok = ::close(fd) == 0 && written == body.size();
  if (!ok) ::unlink(path.c_str());
  return ok;
}

// The bytes a visitor session has uploaded.
constexpr char kUploadedBytes[] = "uploaded_bytes";

// Counts the upload against the visitor session's, the client address's
// and the folder's quotas; false after answering 413 or 507.
bool ReserveUpload(SiteContext& site, SiteExchange& ex, bool is_operator, uint64_t bytes) {
  const AbuseLimits& limits = site.config().limits;
  const uint64_t before = static_cast<uint64_t>(SessionNumber(*ex.session, kUploadedBytes));
  if (!is_operator && before + bytes > limits.upload_session_bytes) {
    ex.Error(http::status::payload_too_large, "you have uploaded as much as a visit allows");
    return false;
  }
  switch (site.uploads().Reserve(ex.remote, bytes)) {
    case UploadQuota::Verdict::kAllowed:
      if (!is_operator) ex.session->SetLong(kUploadedBytes, static_cast<LONG>(before + bytes));
      return true;
    case UploadQuota::Verdict::kAddressFull:
      site.TooMany(ex, std::chrono::minutes(10), "too many uploads from your address; try later");
      return false;
    case UploadQuota::Verdict::kFolderFull:
      site.failures().Failed("upload", "the attachments folder is full; uploads refused");
      ex.Error(http::status::insufficient_storage, "the site cannot store more files now");
      return false;
  }
  return false;
}

void Upload(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  const bool is_operator = ex.session && SessionNumber(*ex.session, kOperatorId) != 0;
  if (is_operator ? !site.RequireOperator(ex, true) : !site.RequireVisitor(ex)) return;
  if (!site.RequireSameSite(ex)) return;
  const std::string& body = ex.request.body();
  if (body.empty()) return ex.Error(http::status::bad_request, "empty file");
  if (!ReserveUpload(site, ex, is_operator, body.size())) return;
  const std::string name = SanitizeFileName(ex.Form("name"));
  const std::string stored =
      CurrentTimestampText().substr(0, 10) + "-" + RandomHex128().substr(0, 8) + "-" + name;
  if (!WriteNewFile(site.config().files_dir, stored, body)) {
    site.uploads().Release(ex.remote, body.size());
    return ex.Error(http::status::internal_server_error, "cannot store the file");
  }
  ex.Json(http::status::ok, JsonAnswer(json::object{{"name", stored}}));
}

}  // namespace

void AddUploadRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/upload", [&site](SiteExchange& ex) { Upload(site, ex); });
}

}  // namespace zelto::serve
