// What the host refuses in a component page's query before the component
// runs: a NUL anywhere, and on the message pages an attachment that is not
// the plain name of an uploaded file.
#include "host/serve/page_input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/scratch_registry.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;

TEST(PageInputTest, NulAndForeignAttachmentsAreRefused) {
  ScratchRegistry scratch;  // only for its folder
  const fs::path files = fs::path(scratch.folder()) / "files";
  fs::create_directories(files / "folder.png");
  std::ofstream(files / "2024-05-20-ab12cd34-photo.png") << "png";
  std::ofstream(fs::path(scratch.folder()) / "outside.png") << "png";

  const serve::ComponentPage& post = *serve::FindComponentPage("/visitor/DoClientMsg.asp");
  const serve::ComponentPage& op_post = *serve::FindComponentPage("/OPERATOR/doUserMsg.ASP");
  const serve::ComponentPage& poll = *serve::FindComponentPage("/operator/GetUserMsg.asp");
  const struct {
    const serve::ComponentPage* page;
    std::string query;
    bool refused;
  } cases[] = {
      {&post, "cid=1&action=sub&msgContent=hi", false},
      {&post, "cid=1&msgContent=hi&adjunct=", false},
      {&post, "cid=1&adjunct=2024-05-20-ab12cd34-photo.png", false},
      {&op_post, "cid=1&adjunct=2024-05-20-ab12cd34-photo.png", false},
      {&post, "cid=1&msgContent=a%00b", true},
      {&poll, "cid=1%00", true},
      {&post, "cid=1&adjunct=missing.png", true},
      {&post, "cid=1&adjunct=../outside.png", true},
      {&post, "cid=1&adjunct=..%2Foutside.png", true},
      {&post, "cid=1&adjunct=%2Fetc%2Fpasswd", true},
      {&post, "cid=1&adjunct=.hidden", true},
      {&post, "cid=1&adjunct=folder.png", true},
      {&post, "cid=1&adjunct=javascript:alert(1)", true},
      {&poll, "cid=1&adjunct=../outside.png", false},  // the poll takes no attachment
  };
  for (const auto& c : cases) {
    const std::string reason = serve::RefusedPageInput(*c.page, c.query, PageCharset::kUtf8, files);
    EXPECT_EQ(!reason.empty(), c.refused) << c.page->method << "?" << c.query << ": " << reason;
  }
}

TEST(PageInputTest, StoredFileNames) {
  EXPECT_TRUE(serve::IsStoredFileName("2024-05-20-ab12cd34-photo_1.png"));
  for (const std::string& name :
       std::vector<std::string>{"", ".png", "a/b", "a\\b", "a b", "名.png", std::string(121, 'a')})
    EXPECT_FALSE(serve::IsStoredFileName(name)) << name;
  EXPECT_TRUE(serve::IsStoredFileName(std::string(120, 'a')));
}

}  // namespace
}  // namespace zelto::testing
