#include "host/backup.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "host/serve/data_folder.h"
#include "platform/ado/sqlite_backup.h"

namespace zelto {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDatabases[] = {"chat.db", "count.db"};
constexpr const char* kJournals[] = {"-wal", "-shm", "-journal"};

BackupResult Failed(std::string why) { return {false, std::move(why)}; }

// The attachments of `from` into `to` (made); regular files only, so that a
// link never takes the copy outside the folder. Counts them in `copied`.
bool CopyAttachments(const fs::path& from, const fs::path& to, size_t* copied, std::string* error) {
  std::error_code ec;
  fs::create_directories(to, ec);
  if (ec) {
    *error = "cannot create " + to.string() + ": " + ec.message();
    return false;
  }
  if (!fs::is_directory(from, ec)) return true;
  for (const auto& entry : fs::directory_iterator(from, ec)) {
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    fs::copy_file(entry.path(), to / entry.path().filename(), ec);
    if (ec) {
      *error = "cannot copy " + entry.path().string() + ": " + ec.message();
      return false;
    }
    ++*copied;
  }
  if (ec) {
    *error = "cannot read " + from.string() + ": " + ec.message();
    return false;
  }
  return true;
}

// The databases and attachments of `from` into the new folder `to`.
bool CopySite(const fs::path& from, const fs::path& to, size_t* attachments, std::string* error) {
  std::error_code ec;
  fs::create_directories(to, ec);
  if (ec) {
    *error = "cannot create " + to.string() + ": " + ec.message();
    return false;
  }
  for (const char* name : kDatabases) {
    if (!ado::BackupSqliteFile((from / name).string(), (to / name).string(), error)) return false;
  }
  return CopyAttachments(from / "files", to / "files", attachments, error);
}

// "20261208T145208"
std::string TimeLabel() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &local);
  return text;
}

// A sibling of `path` for work in progress: ".NAME.partial-PID".
fs::path PartialOf(const fs::path& path) {
  return path.parent_path() /
         ("." + path.filename().string() + ".partial-" + std::to_string(::getpid()));
}

bool HoldsSite(const fs::path& dir, std::string* why) {
  std::string message;
  if (serve::CheckDataFolder(dir.string(), &message) == serve::DataFolderResult::kReady)
    return true;
  *why = message.empty() ? dir.string() + " holds no chat.db and count.db" : message;
  return false;
}

// Moves the site's own entries of `dir` into `aside` (made when needed).
bool MoveAside(const fs::path& dir, const fs::path& aside, std::string* error) {
  std::error_code ec;
  for (const char* db : kDatabases) {
    std::vector<std::string> names = {db};
    for (const char* journal : kJournals) names.push_back(std::string(db) + journal);
    for (const std::string& name : names) {
      if (!fs::exists(dir / name, ec)) continue;
      fs::create_directories(aside, ec);
      fs::rename(dir / name, aside / name, ec);
      if (ec) {
        *error = "cannot move " + (dir / name).string() + " aside: " + ec.message();
        return false;
      }
    }
  }
  if (fs::exists(dir / "files", ec)) {
    fs::create_directories(aside, ec);
    fs::rename(dir / "files", aside / "files", ec);
    if (ec) {
      *error = "cannot move " + (dir / "files").string() + " aside: " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace

BackupResult MakeBackup(const std::string& data_dir, const std::string& to) {
  std::string why;
  if (!HoldsSite(data_dir, &why)) return Failed(why);
  std::error_code ec;
  const fs::path target = fs::absolute(to, ec).lexically_normal();
  if (fs::exists(target, ec)) return Failed(to + " exists already; give a new folder");
  const fs::path partial = PartialOf(target);
  fs::remove_all(partial, ec);
  size_t attachments = 0;
  std::string error;
  if (!CopySite(data_dir, partial, &attachments, &error)) {
    fs::remove_all(partial, ec);
    return Failed(error);
  }
  fs::rename(partial, target, ec);
  if (ec) {
    fs::remove_all(partial, ec);
    return Failed("cannot rename the copy to " + to + ": " + ec.message());
  }
  return {true, "backed up " + data_dir + " to " + to + " (chat.db, count.db, " +
                    std::to_string(attachments) + " attachments)"};
}

BackupResult RestoreBackup(const std::string& from, const std::string& data_dir) {
  std::string error;
  if (!HoldsSite(from, &error)) return Failed(error);
  for (const char* name : kDatabases) {
    if (!ado::CheckSqliteFile((fs::path(from) / name).string(), &error))
      return Failed("the backup is damaged: " + error);
  }
  std::error_code ec;
  fs::create_directories(data_dir, ec);
  if (ec) return Failed("cannot create " + data_dir + ": " + ec.message());
  auto lock = serve::DataFolderLock::Take(data_dir, &error);
  if (!lock) return Failed(error + "; stop the site first");
  const fs::path dir = fs::absolute(data_dir, ec).lexically_normal();
  // Copied next to the data first: what changes in DIR are renames only.
  const fs::path staged = dir / (".restore-partial-" + std::to_string(::getpid()));
  fs::remove_all(staged, ec);
  size_t attachments = 0;
  if (!CopySite(from, staged, &attachments, &error)) {
    fs::remove_all(staged, ec);
    return Failed(error);
  }
  const fs::path aside = dir / ("replaced-" + TimeLabel());
  if (!MoveAside(dir, aside, &error)) {
    fs::remove_all(staged, ec);
    return Failed(error + " (what was moved is in " + aside.string() + ")");
  }
  for (const char* name : {"chat.db", "count.db", "files"}) {
    fs::rename(staged / name, dir / name, ec);
    if (ec)
      return Failed("cannot put " + std::string(name) + " in place: " + ec.message() +
                    " (the copy is in " + staged.string() + ", the replaced data in " +
                    aside.string() + ")");
  }
  fs::remove_all(staged, ec);
  std::string kept = fs::exists(aside, ec) ? "; the replaced data is in " + aside.string() : "";
  return {true, "restored " + from + " into " + data_dir + " (chat.db, count.db, " +
                    std::to_string(attachments) + " attachments)" + kept};
}

}  // namespace zelto
