// The administration commands as an administrator runs them on a site's
// data folder: the ids they print, the table and JSON they list, the exit
// statuses, and what they leave in the database.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/scratch_registry.h"
#include "tests/support/serve_process.h"

namespace zelto::testing {
namespace {

class AdminCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string output;
    ASSERT_EQ(ServeProcess::RunZelto({"init-db", "--data", data_}, &output), 0) << output;
    ASSERT_EQ(ServeProcess::RunZelto({"operator", "list", "--data", data_}, &output), 0) << output;
    std::ofstream(password_) << "s3cret-enough\n";
    std::ofstream(short_password_) << "short\n";
  }

  // Runs `zelto ARGS... --data DATA`; the exit status, output in `out`.
  int Zelto(std::vector<std::string> args, std::string* out = nullptr) {
    args.push_back("--data");
    args.push_back(data_);
    std::string output;
    const int status = ServeProcess::RunZelto(args, &output);
    if (out) *out = output;
    return status;
  }

  ScratchRegistry scratch_;
  const std::string data_ = scratch_.folder() + "/data";
  const std::string password_ = scratch_.folder() + "/pw";
  const std::string short_password_ = scratch_.folder() + "/short";
};

TEST_F(AdminCommandsTest, ADayOneSetUpPrintsIdsAndListsThem) {
  std::string out;
  ASSERT_EQ(Zelto({"company", "add", "--name", "Acme", "--origins", "https://acme.example"}, &out),
            0)
      << out;
  EXPECT_EQ(out, "1\n");
  ASSERT_EQ(Zelto({"operator", "add", "--id", "41", "--name", "Alice", "--company", "1",
                   "--rights", "list,invite,monitor,admin", "--password-file", password_},
                  &out),
            0)
      << out;
  EXPECT_EQ(out, "41\n");
  ASSERT_EQ(Zelto({"operator", "add", "--name", "王芳", "--company", "1", "--password-file",
                   password_},
                  &out),
            0)
      << out;
  EXPECT_EQ(out, "42\n");  // the next free id

  ASSERT_EQ(Zelto({"operator", "list"}, &out), 0);
  EXPECT_EQ(out,
            "ID  NAME   COMPANY  RIGHTS                     STATE\n"
            "41  Alice  1        list,invite,monitor,admin  active\n"
            "42  王芳   1        list,invite                active\n");
  ASSERT_EQ(Zelto({"operator", "set", "--id", "42", "--rights", "none"}, &out), 0) << out;
  ASSERT_EQ(Zelto({"operator", "remove", "--id", "41"}, &out), 0) << out;
  ASSERT_EQ(Zelto({"operator", "list", "--json"}, &out), 0);
  EXPECT_EQ(out,
            "[{\"id\":41,\"name\":\"Alice\",\"company\":1,\"rights\":\"list,invite,monitor,"
            "admin\",\"state\":\"removed\"},{\"id\":42,\"name\":\"王芳\",\"company\":1,"
            "\"rights\":\"none\",\"state\":\"active\"}]\n");
  ASSERT_EQ(Zelto({"company", "list", "--json"}, &out), 0);
  EXPECT_EQ(out,
            "[{\"id\":1,\"name\":\"Acme\",\"origins\":[\"https://acme.example\"],"
            "\"chatLimit\":4}]\n");
  ASSERT_EQ(Zelto({"company", "add", "--name", "Busy", "--chat-limit", "2"}, &out), 0) << out;
  ASSERT_EQ(Zelto({"company", "set", "--id", "1", "--chat-limit", "6"}, &out), 0) << out;
  ASSERT_EQ(Zelto({"company", "list"}, &out), 0);
  EXPECT_EQ(out,
            "ID  NAME  CHAT LIMIT  ORIGINS\n"
            "1   Acme  6           https://acme.example\n"
            "2   Busy  2\n");
}

TEST_F(AdminCommandsTest, RefusalsSayWhyAndChangeNothing) {
  std::string out;
  ASSERT_EQ(Zelto({"company", "add", "--name", "Acme"}), 0);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"operator", "add", "--name", "A", "--company", "9", "--password-file", password_}, 1,
       "no company 9"},
      {{"operator", "add", "--name", "A", "--company", "1", "--password-file", short_password_},
       1, "at least 8 characters"},
      {{"operator", "add", "--name", "A", "--company", "1", "--rights", "root"}, 2,
       "--rights takes"},
      {{"operator", "add", "--company", "1"}, 2, "--name NAME is required"},
      {{"operator", "passwd", "--id", "77", "--password-file", password_}, 1, "no operator 77"},
      {{"operator", "remove", "--id", "77"}, 1, "no operator 77"},
      {{"operator", "frobnicate"}, 2, "unknown subcommand"},
      {{"company", "set", "--id", "1", "--origins", "ftp://x"}, 2, "not a site address"},
      {{"company", "set", "--id", "3", "--name", "B"}, 1, "no company 3"},
      {{"company", "set", "--id", "1", "--chat-limit", "0"}, 2, "--chat-limit wants a number from 1"},
      {{"company", "add", "--name", "C", "--chat-limit", "101"}, 2, "to 100"},
      {{"purge"}, 2, "--retain-days N is required"},
      {{"visitor", "forget"}, 2, "give one visitor label or address"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Zelto(c.args, &out), c.status) << c.args[0] << " " << c.args[1] << ": " << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
  }
  ASSERT_EQ(Zelto({"operator", "list", "--json"}, &out), 0);
  EXPECT_EQ(out, "[]\n");
  // A new folder gets empty databases, as the site's first start makes them.
  std::string output;
  EXPECT_EQ(ServeProcess::RunZelto(
                {"operator", "list", "--data", scratch_.folder() + "/new"}, &output),
            0);
  EXPECT_NE(output.find("created new databases in"), std::string::npos) << output;
  EXPECT_TRUE(std::filesystem::exists(scratch_.folder() + "/new/chat.db"));
}

TEST_F(AdminCommandsTest, PurgeAndForgetReportWhatWent) {
  std::string out;
  ASSERT_EQ(Zelto({"purge", "--retain-days", "30"}, &out), 0) << out;
  EXPECT_EQ(out,
            "removed 0 conversations, 0 messages, 0 attachment files, 0 visit tracks, 0 address "
            "records\n");
  ASSERT_EQ(ServeProcess::RunZelto({"visitor", "forget", "--data", data_, "10.0.0.1"}, &out), 0)
      << out;
  EXPECT_EQ(out.substr(0, 8), "removed ");
}

}  // namespace
}  // namespace zelto::testing
