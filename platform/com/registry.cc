#include "platform/com/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/com/ascii.h"

namespace {

// Path components; empty ones (doubled or edge backslashes) are skipped.
std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

struct RegistryTree::Key {
  std::string name;  // as first written
  // Both maps are keyed by the folded name.
  std::map<std::string, std::unique_ptr<Key>> subkeys;
  std::map<std::string, std::pair<std::string, std::string>> values;  // name, data

  std::unique_ptr<Key> Clone() const {
    auto copy = std::make_unique<Key>();
    copy->name = name;
    copy->values = values;
    for (const auto& [folded, child] : subkeys) copy->subkeys.emplace(folded, child->Clone());
    return copy;
  }
};

namespace {

using Key = RegistryTree::Key;

}  // namespace

RegistryTree::RegistryTree() : root_(std::make_unique<Key>()) {}
RegistryTree::~RegistryTree() = default;
RegistryTree::RegistryTree(const RegistryTree& other) : root_(other.root_->Clone()) {}
RegistryTree& RegistryTree::operator=(const RegistryTree& other) {
  if (this != &other) root_ = other.root_->Clone();
  return *this;
}
RegistryTree::RegistryTree(RegistryTree&& other) noexcept
    : root_(std::exchange(other.root_, std::make_unique<Key>())) {}
RegistryTree& RegistryTree::operator=(RegistryTree&& other) noexcept {
  std::swap(root_, other.root_);
  return *this;
}

namespace {

const Key* Find(const Key* root, std::string_view path) {
  const Key* key = root;
  for (std::string_view part : SplitPath(path)) {
    auto it = key->subkeys.find(LowerAscii(part));
    if (it == key->subkeys.end()) return nullptr;
    key = it->second.get();
  }
  return key;
}

Key* FindOrCreate(Key* root, std::string_view path) {
  Key* key = root;
  for (std::string_view part : SplitPath(path)) {
    std::unique_ptr<Key>& child = key->subkeys[LowerAscii(part)];
    if (!child) {
      child = std::make_unique<Key>();
      child->name = std::string(part);
    }
    key = child.get();
  }
  return key;
}

}  // namespace

bool RegistryTree::KeyExists(std::string_view path) const { return Find(root_.get(), path); }

void RegistryTree::CreateKey(std::string_view path) { FindOrCreate(root_.get(), path); }

bool RegistryTree::DeleteKeyTree(std::string_view path) {
  std::vector<std::string_view> parts = SplitPath(path);
  if (parts.empty()) return false;
  const std::string last = LowerAscii(parts.back());
  parts.pop_back();
  Key* parent = root_.get();
  for (std::string_view part : parts) {
    auto it = parent->subkeys.find(LowerAscii(part));
    if (it == parent->subkeys.end()) return false;
    parent = it->second.get();
  }
  return parent->subkeys.erase(last) > 0;
}

void RegistryTree::SetValue(std::string_view path, std::string_view name, std::string_view data) {
  Key* key = FindOrCreate(root_.get(), path);
  auto& entry = key->values[LowerAscii(name)];
  if (entry.first.empty()) entry.first = std::string(name);
  entry.second = std::string(data);
}

std::optional<std::string> RegistryTree::GetValue(std::string_view path,
                                                  std::string_view name) const {
  const Key* key = Find(root_.get(), path);
  if (!key) return std::nullopt;
  auto it = key->values.find(LowerAscii(name));
  if (it == key->values.end()) return std::nullopt;
  return it->second.second;
}

bool RegistryTree::DeleteValue(std::string_view path, std::string_view name) {
  const Key* found = Find(root_.get(), path);
  return found && const_cast<Key*>(found)->values.erase(LowerAscii(name)) > 0;
}

std::vector<std::string> RegistryTree::SubKeys(std::string_view path) const {
  std::vector<std::string> names;
  if (const Key* key = Find(root_.get(), path)) {
    for (const auto& [folded, child] : key->subkeys) names.push_back(child->name);
  }
  return names;
}

std::vector<std::string> RegistryTree::ValueNames(std::string_view path) const {
  std::vector<std::string> names;
  if (const Key* key = Find(root_.get(), path)) {
    for (const auto& [folded, entry] : key->values) names.push_back(entry.first);
  }
  return names;
}

// The file: a comment line, then one "[path]" line per key (every key, so
// that empty keys survive) followed by its values, "@" naming the default:
//   [CLSID\{...}\InprocServer32]
//   @="/opt/zelto/ZeltoCom.so"
//   "ThreadingModel"="Apartment"
// Quoted texts escape \ " and control bytes (\n \r \t \xHH). In key names,
// which cannot hold a backslash, control bytes, '%', '[' and ']' are
// written as %HH.
namespace {

constexpr char kHeader[] = "; zelto registry: HKEY_CLASSES_ROOT\n";

char HexDigit(int v) { return "0123456789ABCDEF"[v & 15]; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

void AppendKeyName(std::string* out, std::string_view name) {
  for (unsigned char c : name) {
    if (IsControl(c) || c == '%' || c == '[' || c == ']') {
      *out += '%';
      *out += HexDigit(c >> 4);
      *out += HexDigit(c);
    } else {
      *out += static_cast<char>(c);
    }
  }
}

void AppendQuoted(std::string* out, std::string_view text) {
  *out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '\\': *out += "\\\\"; break;
      case '"': *out += "\\\""; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (IsControl(c)) {
          *out += "\\x";
          *out += HexDigit(c >> 4);
          *out += HexDigit(c);
        } else {
          *out += static_cast<char>(c);
        }
    }
  }
  *out += '"';
}

void SerializeKey(const Key& key, const std::string& path, std::string* out) {
  if (!path.empty() || !key.values.empty()) {
    *out += '[';
    *out += path;
    *out += "]\n";
  }
  for (const auto& [folded, entry] : key.values) {
    if (entry.first.empty()) {
      *out += '@';
    } else {
      AppendQuoted(out, entry.first);
    }
    *out += '=';
    AppendQuoted(out, entry.second);
    *out += '\n';
  }
  for (const auto& [folded, child] : key.subkeys) {
    std::string child_path = path;
    if (!child_path.empty()) child_path += '\\';
    AppendKeyName(&child_path, child->name);
    SerializeKey(*child, child_path, out);
  }
}

std::optional<std::string> DecodeKeyPath(std::string_view text) {
  std::string path;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      path += static_cast<char>(hi << 4 | lo);
      i += 2;
    } else if (IsControl(c) || c == '[' || c == ']') {
      return std::nullopt;
    } else {
      path += static_cast<char>(c);
    }
  }
  return path;
}

// Reads a quoted text at `*pos`, leaving `*pos` after the closing quote.
bool ReadQuoted(std::string_view line, size_t* pos, std::string* out) {
  size_t i = *pos;
  if (i >= line.size() || line[i] != '"') return false;
  out->clear();
  for (++i; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (IsControl(static_cast<unsigned char>(c))) return false;
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (++i >= line.size()) return false;
    switch (line[i]) {
      case '\\': *out += '\\'; break;
      case '"': *out += '"'; break;
      case 'n': *out += '\n'; break;
      case 'r': *out += '\r'; break;
      case 't': *out += '\t'; break;
      case 'x': {
        if (i + 2 >= line.size()) return false;
        const int hi = HexValue(line[i + 1]), lo = HexValue(line[i + 2]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi << 4 | lo);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return false;
}

// Key names as written are split on the raw backslashes, then decoded, so
// that an encoded name never turns into two.
std::optional<std::vector<std::string>> ParseKeyLine(std::string_view inner) {
  std::vector<std::string> names;
  for (std::string_view part : SplitPath(inner)) {
    std::optional<std::string> name = DecodeKeyPath(part);
    if (!name) return std::nullopt;
    names.push_back(std::move(*name));
  }
  return names;
}

}  // namespace

std::string RegistryTree::Serialize() const {
  std::string text = kHeader;
  SerializeKey(*root_, "", &text);
  return text;
}

std::optional<RegistryTree> RegistryTree::Parse(std::string_view text) {
  RegistryTree tree;
  Key* current = tree.root_.get();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return std::nullopt;
      auto names = ParseKeyLine(line.substr(1, line.size() - 2));
      if (!names) return std::nullopt;
      current = tree.root_.get();
      for (const std::string& name : *names) {
        std::unique_ptr<Key>& child = current->subkeys[LowerAscii(name)];
        if (!child) {
          child = std::make_unique<Key>();
          child->name = name;
        }
        current = child.get();
      }
      continue;
    }
    std::string name, data;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, &pos, &name) || name.empty()) {
      return std::nullopt;
    }
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    ++pos;
    if (!ReadQuoted(line, &pos, &data) || pos != line.size()) return std::nullopt;
    current->values[LowerAscii(name)] = {name, data};
  }
  return tree;
}

// ---- Persistence ----

namespace {

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

bool MakeParentDirectories(const std::string& file) {
  for (size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    const std::string dir = file.substr(0, slash);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// A file descriptor closed on scope exit.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

enum class ReadResult { kOk, kMissing, kError };

ReadResult ReadAll(int fd, std::string* out) {
  out->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return ReadResult::kOk;
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadResult::kError;
    }
    out->append(buffer, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// What identifies one version of the file; a replaced file is a new inode.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  timespec mtime{};
  timespec ctime{};
  bool operator==(const FileStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

FileStamp StampOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// Loads the file; a missing file is an empty registry.
HRESULT LoadTree(const std::string& path, RegistryTree* tree, FileStamp* stamp) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno != ENOENT) return REGDB_E_READREGDB;
    *tree = RegistryTree();
    *stamp = FileStamp{};
    return S_OK;
  }
  struct stat st;
  std::string text;
  if (fstat(fd.get(), &st) != 0 || ReadAll(fd.get(), &text) != ReadResult::kOk) {
    return REGDB_E_READREGDB;
  }
  std::optional<RegistryTree> parsed = RegistryTree::Parse(text);
  if (!parsed) return REGDB_E_READREGDB;
  *tree = std::move(*parsed);
  *stamp = StampOf(st);
  return S_OK;
}

HRESULT SaveTree(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp." + std::to_string(getpid());
  {
    Fd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.get() < 0) return REGDB_E_WRITEREGDB;
    if (!WriteAll(fd.get(), text) || fsync(fd.get()) != 0) {
      unlink(temp.c_str());
      return REGDB_E_WRITEREGDB;
    }
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return REGDB_E_WRITEREGDB;
  }
  // Make the rename itself durable.
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  Fd dir_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_fd.get() >= 0) fsync(dir_fd.get());
  return S_OK;
}

struct Cache {
  std::mutex mutex;
  std::string path;
  FileStamp stamp;
  bool valid = false;
  std::shared_ptr<const RegistryTree> tree;
};

Cache& TheCache() {
  static Cache* cache = new Cache;  // never destroyed: used until the process ends
  return *cache;
}

}  // namespace

std::string RegistryFilePath() {
  if (const char* path = std::getenv("ZELTO_REGISTRY"); path && *path) return path;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
    return std::string(data) + "/zelto/registry";
  }
  return HomeDirectory() + "/.local/share/zelto/registry";
}

HRESULT RegistryUpdate(const std::function<HRESULT(RegistryTree&)>& change) {
  const std::string path = RegistryFilePath();
  if (!MakeParentDirectories(path)) return REGDB_E_WRITEREGDB;
  // Threads of one process open the lock file separately, so flock excludes
  // them from each other as it does other processes.
  Fd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return REGDB_E_WRITEREGDB;
  while (flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return REGDB_E_WRITEREGDB;
  }
  RegistryTree tree;
  FileStamp stamp;
  HRESULT hr = LoadTree(path, &tree, &stamp);
  if (FAILED(hr)) return hr;
  const std::string before = tree.Serialize();
  hr = change(tree);
  if (FAILED(hr)) return hr;
  const std::string after = tree.Serialize();
  if (after != before) {
    const HRESULT saved = SaveTree(path, after);
    if (FAILED(saved)) return saved;
  }
  return hr;  // the lock goes with the descriptor
}

HRESULT RegistrySnapshot(std::shared_ptr<const RegistryTree>* snapshot) {
  const std::string path = RegistryFilePath();
  Cache& cache = TheCache();
  {
    struct stat st;
    FileStamp now;
    if (stat(path.c_str(), &st) == 0) now = StampOf(st);
    std::lock_guard<std::mutex> guard(cache.mutex);
    if (cache.valid && cache.path == path && cache.stamp == now) {
      *snapshot = cache.tree;
      return S_OK;
    }
  }
  auto fresh = std::make_shared<RegistryTree>();
  FileStamp stamp;
  const HRESULT hr = LoadTree(path, fresh.get(), &stamp);
  if (FAILED(hr)) return hr;
  std::lock_guard<std::mutex> guard(cache.mutex);
  cache.path = path;
  cache.stamp = stamp;
  cache.tree = fresh;
  cache.valid = true;
  *snapshot = std::move(fresh);
  return S_OK;
}

HRESULT RegistryRead(const std::function<void(const RegistryTree&)>& read) {
  std::shared_ptr<const RegistryTree> snapshot;
  const HRESULT hr = RegistrySnapshot(&snapshot);
  if (FAILED(hr)) return hr;
  read(*snapshot);
  return S_OK;
}
