#include "platform/inet/wininet.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/inet/http_fetch.h"
#include "platform/inet/internet_settings.h"

namespace {

struct InternetHandle {
  virtual ~InternetHandle() = default;
};

struct SessionHandle : InternetHandle {
  std::string agent;
  bool use_proxy_environment = true;
};

struct UrlHandle : InternetHandle {
  std::mutex mutex;  // guards `offset` against readers on several threads
  std::string body;
  size_t offset = 0;
};

// Every live handle, so that a stale or foreign pointer is refused instead of
// dereferenced. shared_ptr keeps a handle alive for a reader on another
// thread while it is being closed.
class HandleTable {
 public:
  HINTERNET Add(std::shared_ptr<InternetHandle> handle) {
    HINTERNET key = handle.get();
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.emplace(key, std::move(handle));
    return key;
  }

  template <typename T>
  std::shared_ptr<T> Find(HINTERNET key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = handles_.find(key);
    if (found == handles_.end()) return nullptr;
    return std::dynamic_pointer_cast<T>(found->second);
  }

  bool Remove(HINTERNET key) {
    std::shared_ptr<InternetHandle> removed;  // destroyed outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = handles_.find(key);
    if (found == handles_.end()) return false;
    removed = std::move(found->second);
    handles_.erase(found);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HINTERNET, std::shared_ptr<InternetHandle>> handles_;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // outlives static destructors
  return *table;
}

// "A: b\r\nC: d\r\n" -> {"A: b", "C: d"}; blank lines dropped.
std::vector<std::string> SplitHeaderLines(const char* headers, DWORD length) {
  std::vector<std::string> lines;
  if (!headers) return lines;
  std::string_view text = length == static_cast<DWORD>(-1)
                              ? std::string_view(headers)
                              : std::string_view(headers, length);
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    if (!line.empty()) lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace

HINTERNET InternetOpenA(const char* agent, DWORD access_type, const char* proxy,
                        const char* proxy_bypass, DWORD flags) {
  bool supported_access =
      access_type == INTERNET_OPEN_TYPE_PRECONFIG || access_type == INTERNET_OPEN_TYPE_DIRECT;
  if (!agent || !supported_access || proxy || proxy_bypass || flags != 0) return nullptr;
  auto session = std::make_shared<SessionHandle>();
  session->agent = agent;
  session->use_proxy_environment = access_type == INTERNET_OPEN_TYPE_PRECONFIG;
  return Handles().Add(std::move(session));
}

HINTERNET InternetOpenUrlA(HINTERNET internet, const char* url, const char* headers,
                           DWORD headers_length, DWORD flags, DWORD_PTR context) {
  std::shared_ptr<SessionHandle> session = Handles().Find<SessionHandle>(internet);
  if (!session || !url) return nullptr;
  InternetSettings settings = InternetGetSettings();
  if (settings.offline) return nullptr;

  HttpFetchRequest request;
  request.url = url;
  request.user_agent = session->agent;
  request.headers = SplitHeaderLines(headers, headers_length);
  request.use_proxy_environment = session->use_proxy_environment;
  HttpFetchResult fetched = HttpFetch(request, settings);
  if (!fetched.ok) return nullptr;

  auto page = std::make_shared<UrlHandle>();
  page->body = std::move(fetched.body);
  return Handles().Add(std::move(page));
}

BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD to_read, DWORD* read) {
  if (read) *read = 0;
  std::shared_ptr<UrlHandle> page = Handles().Find<UrlHandle>(file);
  if (!page || !read || (!buffer && to_read > 0)) return FALSE;
  std::lock_guard<std::mutex> lock(page->mutex);
  size_t count = std::min<size_t>(to_read, page->body.size() - page->offset);
  if (count > 0) std::memcpy(buffer, page->body.data() + page->offset, count);
  page->offset += count;
  *read = static_cast<DWORD>(count);
  return TRUE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
  return handle && Handles().Remove(handle) ? TRUE : FALSE;
}
