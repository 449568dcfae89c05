// Static files as an attacker asks for them: every way out of the folder
// (dots, escapes, backslashes, links), hidden files and things that are not
// files are "not found"; ordinary files come with their type.
#include "host/serve/static_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/scratch_registry.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;

class StaticFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(scratch_.folder()) / "www";
    Write(root_ / "index.html", "start");
    Write(root_ / "site" / "index.html", "company");
    Write(root_ / "css" / "a.CSS", "body{}");
    Write(root_ / "data.bin", "\x01\x02");
    Write(root_ / ".hidden", "no");
    Write(root_ / "site" / ".git" / "config", "no");
    Write(fs::path(scratch_.folder()) / "secret.txt", "never");
    fs::create_symlink(fs::path(scratch_.folder()) / "secret.txt", root_ / "link.txt");
    fs::create_directory_symlink(scratch_.folder(), root_ / "up");
    fs::create_symlink(root_ / "site" / "index.html", root_ / "inside.html");
  }
  static void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  ScratchRegistry scratch_;  // only for its folder
  fs::path root_;
};

TEST_F(StaticFilesTest, NothingOutsideTheFolderOrHidden) {
  const serve::StaticFiles files(root_);
  for (const char* path :
       {"/../secret.txt", "/%2e%2e/secret.txt", "/%2E%2E/secret.txt", "/site/../../secret.txt",
        "/site/%2e%2e/%2e%2e/secret.txt", "/..%2fsecret.txt", "/..%5csecret.txt", "/..\\secret.txt",
        "/link.txt", "/up/secret.txt", "/.hidden", "/site/.git/config", "/%2ehidden", "/nothing",
        "/site/index.html%00.png", "/%zz", "/css/"}) {
    EXPECT_FALSE(files.Load(path).has_value()) << path;
  }
}

TEST_F(StaticFilesTest, FilesFoldersAndTypes) {
  const serve::StaticFiles files(root_);
  const struct {
    const char* path;
    const char* body;
    const char* type;
  } cases[] = {
      {"/", "start", "text/html; charset=utf-8"},
      {"/site", "company", "text/html; charset=utf-8"},
      {"//site//index.html", "company", "text/html; charset=utf-8"},
      {"/%73ite/index.html", "company", "text/html; charset=utf-8"},
      {"/css/a.CSS", "body{}", "text/css; charset=utf-8"},
      {"/data.bin", "\x01\x02", "application/octet-stream"},
      {"/inside.html", "company", "text/html; charset=utf-8"},
  };
  for (const auto& c : cases) {
    const auto file = files.Load(c.path);
    ASSERT_TRUE(file.has_value()) << c.path;
    EXPECT_EQ(file->body, c.body) << c.path;
    EXPECT_EQ(file->content_type, c.type) << c.path;
  }
  EXPECT_FALSE(serve::StaticFiles(root_ / "missing").Load("/").has_value());
}

}  // namespace
}  // namespace zelto::testing
