#include "host/serve/page_language.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/scratch_registry.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;

class PageLanguagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Write("en.json", R"({"language.name":"English","greeting":"Hello {name}"})");
    Write("zh.json", R"({"language.name":"中文","greeting":"你好"})");
    Write("ar.json", R"({"language.name":"العربية","language.dir":"rtl"})");
    Write("broken.json", R"({"a": 1})");
    Write("notes.txt", "not a catalog");
    languages_ = std::make_unique<serve::PageLanguages>(folder_, &problems_);
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(fs::path(folder_) / name) << text;
  }

  ScratchRegistry scratch_;  // only for its folder
  std::string folder_ = scratch_.folder();
  std::vector<std::string> problems_;
  std::unique_ptr<serve::PageLanguages> languages_;
};

TEST_F(PageLanguagesTest, ChoosesByCookieThenAcceptLanguage) {
  const struct {
    const char* cookie;
    const char* accept;
    const char* chosen;
  } cases[] = {
      {"", "", "zh"},
      {"", "en", "en"},
      {"", "EN-us", "en"},
      {"", "de, en;q=0.5, zh;q=0.8", "zh"},
      {"", "zh;q=0.5, en;q=0.5", "zh"},  // equal quality: the first listed
      {"", "en;q=0, de", "zh"},          // q=0 means not wanted
      {"", "en;q=bad, ar;q=0.1", "ar"},
      {"", "*, fr", "zh"},
      {"zlang=en", "zh", "en"},
      {"a=1; zlang=AR; b=2", "", "ar"},
      {"zlang=broken", "en", "en"},  // no such catalog
      {"zlang=../zh", "", "zh"},
      {"zlang=en\"</script><script>alert(1)//", "ar", "ar"},  // only a catalog's name counts
      {"", "en\"</script>;q=1, ar", "ar"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(languages_->Choose(c.cookie, c.accept), c.chosen) << c.cookie << " | " << c.accept;
  }
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_NE(problems_[0].find("broken.json"), std::string::npos);
}

TEST_F(PageLanguagesTest, ScriptAndTexts) {
  const std::string arabic = languages_->Script("ar", PageCharset::kGbk);
  EXPECT_EQ(arabic.rfind("window.ZeltoPage = {\"language\":\"ar\",\"dir\":\"rtl\","
                         "\"charset\":\"gbk\",\"languages\":[{\"code\":\"ar\",",
                         0),
            0u)
      << arabic;
  EXPECT_EQ(languages_->Text("en", "greeting"), "Hello {name}");
  EXPECT_EQ(languages_->Text("en", "missing"), "missing");
  EXPECT_EQ(languages_->Text("xx", "greeting"), "greeting");
  // No folder: no languages, every request the default and no texts.
  serve::PageLanguages none(fs::path(folder_) / "absent");
  EXPECT_EQ(none.Choose("zlang=en", "en"), "zh");
  EXPECT_NE(none.Script("zh", PageCharset::kUtf8).find("\"languages\":[],\"texts\":{}"),
            std::string::npos);
}

}  // namespace
}  // namespace zelto::testing
