#include "host/serve/data_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "db/schema/schema_scripts.h"
#include "host/serve/password.h"
#include "platform/ado/engine.h"

namespace zelto::serve {
namespace fs = std::filesystem;
namespace {

constexpr const char* kCatalogs[] = {kChatCatalog, kCountCatalog};

constexpr DemoLogin kDemoLogins[] = {
    {5, "王芳", "demo5"},
    {12, "李明", "demo12"},
    {7, "张伟", "demo7"},
};

// Why `entry` clashes with what the site keeps in its folder; "" when it
// does not (another program's file, or the site's own of the right kind).
std::string Clash(const fs::directory_entry& entry, const fs::path& dir) {
  std::error_code ec;
  const std::string name = entry.path().filename().string();
  if (name == "files")
    return entry.is_directory(ec) ? "" : "files is not a folder (the site keeps attachments there)";
  for (const char* catalog : kCatalogs) {
    const std::string db = std::string(catalog) + ".db";
    if (name == db) return entry.is_regular_file(ec) ? "" : db + " is not a file";
    for (const char* suffix : {"-wal", "-journal"}) {
      if (name == db + suffix && !fs::exists(dir / db, ec))
        return name + " is a journal without its database " + db +
               "; move it away (a new database would take it for its own)";
    }
  }
  return "";
}

bool CreateDatabases(const std::string& dir, bool demo, std::string* message) {
  for (const char* catalog : kCatalogs) {
    std::string script;
    if (!DatabaseScript("sqlite", catalog, demo, &script, message)) return false;
    if (!ado::CreateDatabase(dir, catalog, script, false, message)) return false;
  }
  return true;
}

}  // namespace

DataFolderResult CheckDataFolder(const std::string& dir, std::string* message) {
  std::error_code ec;
  if (!fs::exists(dir, ec)) return DataFolderResult::kCreated;
  if (!fs::is_directory(dir, ec)) {
    *message = dir + " is not a folder";
    return DataFolderResult::kRefused;
  }
  int databases = 0;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (std::string clash = Clash(entry, dir); !clash.empty()) {
      *message = "the data folder " + dir + " cannot be used: " + clash;
      return DataFolderResult::kRefused;
    }
    const std::string name = entry.path().filename().string();
    if (name == "chat.db" || name == "count.db") ++databases;
  }
  if (ec) {
    *message = "cannot read " + dir + ": " + ec.message();
    return DataFolderResult::kRefused;
  }
  if (databases == 1) {
    *message = dir +
               " has only one of chat.db and count.db; create both with "
               "'zelto init-db --data " +
               dir + " --force'";
    return DataFolderResult::kRefused;
  }
  return databases == 2 ? DataFolderResult::kReady : DataFolderResult::kCreated;
}

DataFolderResult PrepareDataFolder(const std::string& dir, bool demo, std::string* message) {
  const DataFolderResult checked = CheckDataFolder(dir, message);
  if (checked == DataFolderResult::kRefused) return checked;
  if (checked == DataFolderResult::kReady)
    return UseExistingDatabases(SiteDatabase(dir, "", ""), "using the databases in " + dir,
                                message);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    *message = "cannot create " + dir + ": " + ec.message();
    return DataFolderResult::kRefused;
  }
  if (!CreateDatabases(dir, demo, message)) return DataFolderResult::kRefused;
  *message = std::string("created new databases") + (demo ? " with demo data" : "") + " in " + dir;
  return DataFolderResult::kCreated;
}

std::unique_ptr<DataFolderLock> DataFolderLock::Take(const std::string& dir, std::string* error) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open the data folder " + dir + ": " + std::strerror(errno);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int why = errno;
    ::close(fd);
    *error = why == EWOULDBLOCK
                 ? "another zelto (serve or restore) is using the data folder " + dir +
                       "; one host per SQLite data folder (several hosts share a "
                       "PostgreSQL database instead)"
                 : "cannot lock the data folder " + dir + ": " + std::strerror(why);
    return nullptr;
  }
  return std::unique_ptr<DataFolderLock>(new DataFolderLock(fd));
}

DataFolderLock::~DataFolderLock() { ::close(fd_); }

DataFolderResult UseExistingDatabases(const SiteDatabase& db, const std::string& using_text,
                                      std::string* message) {
  std::string upgraded;
  if (!db.Upgrade(&upgraded)) {
    *message = upgraded;
    return DataFolderResult::kRefused;
  }
  *message = upgraded.empty() ? using_text : using_text + "\n" + upgraded;
  return DataFolderResult::kReady;
}

std::vector<DemoLogin> WorkingDemoLogins(const SiteDatabase& db) {
  std::vector<DemoLogin> working;
  for (const DemoLogin& login : kDemoLogins) {
    std::vector<SiteDatabase::Row> rows;
    std::string error;
    if (db.Query(kChatCatalog, "select pwdHash from userinfo where ID=" + std::to_string(login.id),
                 {"pwdHash"}, &rows, &error) &&
        !rows.empty() && CheckPassword(login.password, rows[0][0]))
      working.push_back(login);
  }
  return working;
}

std::string RefusedDemoLogins(const SiteDatabase& db, bool demo) {
  if (demo) return "";
  const std::vector<DemoLogin> working = WorkingDemoLogins(db);
  if (working.empty()) return "";
  std::string ids;
  for (const DemoLogin& login : working) ids += (ids.empty() ? "" : ", ") + std::to_string(login.id);
  return "demo operators (" + ids +
         ") still have their published passwords: start with --demo to serve the demo, or "
         "give them passwords of their own ('zelto operator passwd --id N') or remove them "
         "('zelto operator remove --id N')";
}

}  // namespace zelto::serve
