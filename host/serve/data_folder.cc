#include "host/serve/data_folder.h"

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

// The site's own entries: the databases with their journals, and files/.
bool IsSiteEntry(const fs::directory_entry& entry) {
  const std::string name = entry.path().filename().string();
  if (name == "files") return entry.is_directory();
  for (const char* catalog : kCatalogs) {
    const std::string db = std::string(catalog) + ".db";
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      if (name == db + suffix) return true;
    }
  }
  return false;
}

bool CreateDemoDatabases(const std::string& dir, std::string* message) {
  for (const char* catalog : kCatalogs) {
    std::string script;
    if (!DatabaseScript("sqlite", catalog, true, &script, message)) return false;
    if (!ado::CreateDatabase(dir, catalog, script, false, message)) return false;
  }
  return true;
}

}  // namespace

DataFolderResult PrepareDataFolder(const std::string& dir, std::string* message) {
  std::error_code ec;
  bool empty = true;
  int databases = 0;
  if (fs::exists(dir, ec)) {
    if (!fs::is_directory(dir, ec)) {
      *message = dir + " is not a folder";
      return DataFolderResult::kRefused;
    }
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      empty = false;
      if (!IsSiteEntry(entry)) {
        *message = dir + " holds " + entry.path().filename().string() +
                   ", which is not the site's; give an empty or new folder with --data";
        return DataFolderResult::kRefused;
      }
      const std::string name = entry.path().filename().string();
      if (name == "chat.db" || name == "count.db") ++databases;
    }
    if (ec) {
      *message = "cannot read " + dir + ": " + ec.message();
      return DataFolderResult::kRefused;
    }
  }
  if (!empty && databases == 2)
    return UseExistingDatabases(SiteDatabase(dir, "", ""), "using the databases in " + dir,
                                message);
  if (!empty && databases != 0) {
    *message = dir +
               " has only one of chat.db and count.db; create both with "
               "'zelto init-db --data " +
               dir + " --force'";
    return DataFolderResult::kRefused;
  }
  fs::create_directories(dir, ec);
  if (ec) {
    *message = "cannot create " + dir + ": " + ec.message();
    return DataFolderResult::kRefused;
  }
  if (!CreateDemoDatabases(dir, message)) return DataFolderResult::kRefused;
  *message = "created new databases with demo data in " + dir;
  return DataFolderResult::kCreated;
}

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

}  // namespace zelto::serve
