#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "tests/support/scratch_registry.h"

namespace {

using zelto::testing::ScratchRegistry;

TEST(RegistryTree, KeysAreCaseInsensitiveAndKeepTheirFirstCase) {
  RegistryTree tree;
  tree.SetValue("CLSID\\{AB}\\InprocServer32", "", "/m.so");
  tree.SetValue("clsid\\{ab}\\INPROCSERVER32", "ThreadingModel", "Apartment");
  tree.SetValue("CLSID\\{AB}\\InprocServer32", "threadingmodel", "Both");
  EXPECT_TRUE(tree.KeyExists("CLSID"));
  EXPECT_TRUE(tree.KeyExists("Clsid\\{aB}"));
  EXPECT_TRUE(tree.KeyExists(""));
  EXPECT_FALSE(tree.KeyExists("CLSID\\{AC}"));
  EXPECT_EQ(tree.SubKeys(""), std::vector<std::string>{"CLSID"});
  EXPECT_EQ(tree.SubKeys("CLSID\\{AB}"), std::vector<std::string>{"InprocServer32"});
  EXPECT_EQ(tree.ValueNames("CLSID\\{AB}\\InprocServer32"),
            (std::vector<std::string>{"", "ThreadingModel"}));
  EXPECT_EQ(tree.GetValue("CLSID\\{AB}\\InprocServer32", "THREADINGMODEL"), "Both");
  EXPECT_EQ(tree.GetValue("CLSID\\{AB}\\InprocServer32", ""), "/m.so");
  EXPECT_EQ(tree.GetValue("CLSID\\{AB}", ""), std::nullopt);
  EXPECT_EQ(tree.GetValue("Nowhere", ""), std::nullopt);
}

TEST(RegistryTree, DeletesTreesAndValues) {
  RegistryTree tree;
  tree.CreateKey("A\\B\\C");
  tree.SetValue("A\\B", "v", "1");
  tree.CreateKey("A\\Bee");
  EXPECT_TRUE(tree.DeleteValue("a\\b", "V"));
  EXPECT_FALSE(tree.DeleteValue("a\\b", "V"));
  EXPECT_FALSE(tree.DeleteValue("missing", "V"));
  EXPECT_TRUE(tree.DeleteKeyTree("A\\B"));
  EXPECT_FALSE(tree.KeyExists("A\\B\\C"));
  EXPECT_TRUE(tree.KeyExists("A\\Bee"));
  EXPECT_FALSE(tree.DeleteKeyTree("A\\B"));
  EXPECT_FALSE(tree.DeleteKeyTree("X\\Y"));
  EXPECT_FALSE(tree.DeleteKeyTree(""));
  EXPECT_TRUE(tree.KeyExists("A"));
}

TEST(RegistryTree, TextFormRoundTripsAwkwardNamesAndData) {
  RegistryTree tree;
  const std::string awkward = "quote\" back\\slash\nnew\tline\r\x01 [x] %41 \xE4\xB8\xAD";
  tree.SetValue("Key [1] %20\x02", awkward, awkward);
  tree.SetValue("Key [1] %20\x02\\Sub", "", "");
  tree.CreateKey("Empty\\Leaf");
  tree.SetValue("", "rootvalue", "r");
  std::optional<RegistryTree> back = RegistryTree::Parse(tree.Serialize());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Serialize(), tree.Serialize());
  EXPECT_EQ(back->GetValue("key [1] %20\x02", awkward), awkward);
  EXPECT_EQ(back->SubKeys("Key [1] %20\x02"), std::vector<std::string>{"Sub"});
  EXPECT_EQ(back->GetValue("Key [1] %20\x02\\Sub", ""), "");
  EXPECT_TRUE(back->KeyExists("Empty\\Leaf"));
  EXPECT_EQ(back->GetValue("", "rootvalue"), "r");
}

TEST(RegistryTree, RejectsMalformedText) {
  for (const char* text : {"[unclosed\n", "\"name\"=\"data\n", "\"n\"=\"d\" trailing\n",
                           "garbage\n", "[a]\n\"\"=\"empty name must be @\"\n",
                           "[a]\n@=\"bad escape \\q\"\n", "[a%4]\n", "[a]\n@=\"x\\x4\"\n",
                           "\x7F\x45LF\x02\x01\x01"}) {
    EXPECT_FALSE(RegistryTree::Parse(text)) << text;
  }
  EXPECT_TRUE(RegistryTree::Parse("; comment only\n\n"));
  EXPECT_TRUE(RegistryTree::Parse("[a\\b]\r\n@=\"x\"\r\n"));
}

// Sets environment variables for its life, restoring the previous values.
class EnvironmentOverride {
 public:
  void Set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) setenv(name, value, 1); else unsetenv(name);
  }
  ~EnvironmentOverride() {
    for (const auto& [name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1); else unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(Registry, FileLocationFollowsTheEnvironment) {
  EnvironmentOverride env;
  env.Set("ZELTO_REGISTRY", nullptr);
  env.Set("XDG_DATA_HOME", "/data/home");
  EXPECT_EQ(RegistryFilePath(), "/data/home/zelto/registry");
  env.Set("XDG_DATA_HOME", "relative");  // ignored, as the XDG rules say
  env.Set("HOME", "/home/u");
  EXPECT_EQ(RegistryFilePath(), "/home/u/.local/share/zelto/registry");
  env.Set("ZELTO_REGISTRY", "/x/reg");
  EXPECT_EQ(RegistryFilePath(), "/x/reg");
}

TEST(Registry, UpdatePersistsOnlySuccessfulChanges) {
  ScratchRegistry scratch;
  setenv("ZELTO_REGISTRY", (scratch.folder() + "/deep/er/registry").c_str(), 1);
  ASSERT_EQ(RegistryUpdate([](RegistryTree& t) {
              t.SetValue("ZeltoCom.CZeltoCom\\CLSID", "", "{X}");
              return S_FALSE;
            }),
            S_FALSE);
  EXPECT_EQ(RegistryUpdate([](RegistryTree& t) {
              t.DeleteKeyTree("ZeltoCom.CZeltoCom");
              t.SetValue("Half", "", "done");
              return E_FAIL;
            }),
            E_FAIL);
  std::optional<std::string> clsid, half;
  ASSERT_EQ(RegistryRead([&](const RegistryTree& t) {
              clsid = t.GetValue("zeltocom.czeltocom\\clsid", "");
              half = t.GetValue("Half", "");
            }),
            S_OK);
  EXPECT_EQ(clsid, "{X}");
  EXPECT_EQ(half, std::nullopt);
}

TEST(Registry, MissingFileReadsEmptyAndCorruptFileFailsCleanly) {
  ScratchRegistry scratch;
  bool called = false;
  EXPECT_EQ(RegistryRead([&](const RegistryTree& t) { called = t.SubKeys("").empty(); }), S_OK);
  EXPECT_TRUE(called);
  std::ofstream(scratch.path()) << "[ok]\n@=\"unterminated\n";
  called = false;
  EXPECT_EQ(RegistryRead([&](const RegistryTree&) { called = true; }), REGDB_E_READREGDB);
  EXPECT_FALSE(called);
  EXPECT_EQ(RegistryUpdate([&](RegistryTree&) {
              called = true;
              return S_OK;
            }),
            REGDB_E_READREGDB);
  EXPECT_FALSE(called);
  std::ifstream in(scratch.path());
  std::string kept((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(kept, "[ok]\n@=\"unterminated\n");  // never overwritten
}

TEST(Registry, ReadSeesChangesMadeBehindItsBack) {
  ScratchRegistry scratch;
  ASSERT_EQ(RegistryUpdate([](RegistryTree& t) {
              t.SetValue("K", "", "one");
              return S_OK;
            }),
            S_OK);
  std::optional<std::string> value;
  RegistryRead([&](const RegistryTree& t) { value = t.GetValue("K", ""); });
  EXPECT_EQ(value, "one");
  // Another writer replaces the file with one of the same size.
  std::ofstream(scratch.path() + ".new") << "[K]\n@=\"two\"\n";
  ASSERT_EQ(std::rename((scratch.path() + ".new").c_str(), scratch.path().c_str()), 0);
  RegistryRead([&](const RegistryTree& t) { value = t.GetValue("K", ""); });
  EXPECT_EQ(value, "two");
}

// Writers in several processes and threads at once: every change survives.
TEST(Registry, ConcurrentWritersLoseNothing) {
  ScratchRegistry scratch;
  constexpr int kProcesses = 4, kThreads = 2, kWrites = 15;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([p, t] {
          for (int i = 0; i < kWrites; ++i) {
            const std::string name = std::to_string(p) + "-" + std::to_string(t) + "-" +
                                     std::to_string(i);
            RegistryUpdate([&](RegistryTree& tree) {
              tree.SetValue("Writers\\" + name, "", name);
              return S_OK;
            });
          }
        });
      }
      for (auto& thread : threads) thread.join();
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  size_t count = 0;
  ASSERT_EQ(RegistryRead([&](const RegistryTree& t) { count = t.SubKeys("Writers").size(); }),
            S_OK);
  EXPECT_EQ(count, static_cast<size_t>(kProcesses * kThreads * kWrites));
}

}  // namespace
