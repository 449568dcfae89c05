// The data folder: what may share it with the site and what clashes, and
// the lock that keeps a second host (or a restore) off a folder in use.
#include "host/serve/data_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/support/scratch_registry.h"
#include "tests/support/seeded_database.h"
#include "tests/support/serve_process.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;
using serve::DataFolderResult;

TEST(DataFolderTest, OtherEntriesAreLetBeClashesAreRefused) {
  SeededDatabase site;  // a folder with chat.db and count.db
  const fs::path dir = site.folder();
  ScratchRegistry scratch;  // for its folder
  const fs::path root = scratch.folder();
  const struct {
    const char* what;
    std::function<void(const fs::path&)> add;  // to a copy of the site's folder
    bool keep_databases;
    DataFolderResult result;
    const char* says;
  } cases[] = {
      {"dot files, lost+found, a backup",
       [](const fs::path& d) {
         std::ofstream(d / ".gitkeep");
         fs::create_directory(d / "lost+found");
         std::ofstream(d / "chat.db.bak") << "old";
         fs::create_directory(d / "replaced-20261208T145208");
       },
       true, DataFolderResult::kReady, ""},
      {"the same without databases", [](const fs::path& d) { std::ofstream(d / ".gitkeep"); },
       false, DataFolderResult::kCreated, ""},
      {"files as a file", [](const fs::path& d) { std::ofstream(d / "files"); }, true,
       DataFolderResult::kRefused, "files is not a folder"},
      {"a database that is a folder",
       [](const fs::path& d) { fs::create_directory(d / "chat.db"); }, false,
       DataFolderResult::kRefused, "chat.db is not a file"},
      {"one database", [](const fs::path& d) { std::ofstream(d / "count.db"); }, false,
       DataFolderResult::kRefused, "only one of chat.db and count.db"},
      {"a journal without its database",
       [](const fs::path& d) { std::ofstream(d / "chat.db-wal") << "x"; }, false,
       DataFolderResult::kRefused, "chat.db-wal is a journal without its database"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path copy = root / ("case" + std::to_string(n++));
    fs::create_directories(copy);
    if (c.keep_databases) {
      fs::copy_file(dir / "chat.db", copy / "chat.db");
      fs::copy_file(dir / "count.db", copy / "count.db");
    }
    c.add(copy);
    std::string message;
    EXPECT_EQ(serve::CheckDataFolder(copy.string(), &message), c.result) << c.what << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << c.what << ": " << message;
    fs::remove_all(copy);
  }
  std::string message;
  std::ofstream(root / "plain") << "x";
  EXPECT_EQ(serve::CheckDataFolder((root / "plain").string(), &message),
            DataFolderResult::kRefused);
  EXPECT_EQ(serve::CheckDataFolder((root / "missing").string(), &message),
            DataFolderResult::kCreated);
  EXPECT_FALSE(fs::exists(root / "missing")) << "a check changes nothing";
}

TEST(DataFolderTest, OneHolderAtATime) {
  ScratchRegistry scratch;  // for its folder
  const auto entries = [&] {
    return std::distance(fs::directory_iterator(scratch.folder()), fs::directory_iterator());
  };
  const auto before = entries();
  std::string error;
  auto first = serve::DataFolderLock::Take(scratch.folder(), &error);
  ASSERT_NE(first, nullptr) << error;
  EXPECT_EQ(serve::DataFolderLock::Take(scratch.folder(), &error), nullptr);
  EXPECT_NE(error.find("another zelto"), std::string::npos) << error;
  EXPECT_EQ(entries(), before) << "nothing is written into the folder";
  std::string output;
  EXPECT_EQ(ServeProcess::RunZelto({"init-db", "--data", scratch.folder(), "--force"}, &output), 1);
  EXPECT_NE(output.find("stop the site first"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(fs::path(scratch.folder()) / "chat.db"));
  first.reset();
  EXPECT_NE(serve::DataFolderLock::Take(scratch.folder(), &error), nullptr) << error;
  EXPECT_EQ(serve::DataFolderLock::Take(scratch.folder() + "/missing", &error), nullptr);
}

}  // namespace
}  // namespace zelto::testing
