// Backups of a SQLite site made while it serves, and put back into a
// stopped one: consistent copies, nothing of the replaced data lost, a
// running site or a damaged copy refused before anything changes.
#include "host/backup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/host/in_process_site.h"
#include "tests/support/scratch_registry.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;

size_t Messages(SeededDatabase& db) {
  return std::stoul(db.Query("chat", "select count(*) as n from msg").at(0).at("n"));
}

TEST(BackupTest, CopyWhileServingThenRestoreIntoTheStoppedSite) {
  InProcessSite site;
  ASSERT_TRUE(site.running());
  const fs::path data = site.db().folder();
  fs::create_directories(data / "files");
  std::ofstream(data / "files" / "a.png") << "picture";
  site.db().Execute("chat", "insert into msg (conid, msgContent) values (1, 'kept in the backup')");
  const size_t before = Messages(site.db());
  ScratchRegistry scratch;  // for its folder
  const fs::path copy = fs::path(scratch.folder()) / "backup";

  // A write keeps going while the copy is made: the copy is whole anyway.
  BackupResult made = MakeBackup(data.string(), copy.string());
  ASSERT_TRUE(made.ok) << made.message;
  EXPECT_NE(made.message.find("1 attachments"), std::string::npos) << made.message;
  EXPECT_TRUE(fs::exists(copy / "files" / "a.png"));
  EXPECT_FALSE(MakeBackup(data.string(), copy.string()).ok) << "never over an existing copy";

  // Changes after the backup, then a restore: refused while the site runs.
  site.db().Execute("chat", "insert into msg (conid, msgContent) values (1, 'after the backup')");
  BackupResult refused = RestoreBackup(copy.string(), data.string());
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.message.find("stop the site first"), std::string::npos) << refused.message;
  EXPECT_EQ(Messages(site.db()), before + 1) << "nothing changed";

  ASSERT_TRUE(site.Stop());
  BackupResult restored = RestoreBackup(copy.string(), data.string());
  ASSERT_TRUE(restored.ok) << restored.message;
  EXPECT_EQ(Messages(site.db()), before);
  EXPECT_TRUE(fs::exists(data / "files" / "a.png"));
  // The replaced databases are kept beside, with the message written after.
  fs::path aside;
  for (const auto& entry : fs::directory_iterator(data))
    if (entry.path().filename().string().rfind("replaced-", 0) == 0) aside = entry.path();
  ASSERT_FALSE(aside.empty()) << restored.message;
  EXPECT_TRUE(fs::exists(aside / "chat.db"));
  EXPECT_TRUE(fs::exists(aside / "files" / "a.png"));
  std::string message;
  EXPECT_EQ(serve::CheckDataFolder(data.string(), &message), serve::DataFolderResult::kReady)
      << message;
}

TEST(BackupTest, RefusalsChangeNothing) {
  SeededDatabase site;
  ScratchRegistry scratch;  // for its folder
  const fs::path root = scratch.folder();
  const fs::path damaged = root / "damaged";
  fs::create_directories(damaged);
  fs::copy_file(fs::path(site.folder()) / "chat.db", damaged / "chat.db");
  std::ofstream(damaged / "count.db") << std::string(4096, 'x');
  const auto chat_before = fs::file_size(fs::path(site.folder()) / "chat.db");

  const struct {
    const char* what;
    BackupResult result;
    const char* says;
  } cases[] = {
      {"a damaged copy", RestoreBackup(damaged.string(), site.folder()), "damaged"},
      {"no copy", RestoreBackup((root / "none").string(), site.folder()), "no chat.db"},
      {"a folder without a site", MakeBackup((root / "none").string(), (root / "b").string()),
       "no chat.db"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(c.result.ok) << c.what;
    EXPECT_NE(c.result.message.find(c.says), std::string::npos)
        << c.what << ": " << c.result.message;
  }
  EXPECT_EQ(fs::file_size(fs::path(site.folder()) / "chat.db"), chat_before);
  EXPECT_FALSE(fs::exists(root / "b"));
  for (const auto& entry : fs::directory_iterator(site.folder()))
    EXPECT_EQ(entry.path().filename().string().rfind("replaced-", 0), std::string::npos);
}

}  // namespace
}  // namespace zelto::testing
