#include "platform/com/registrar.h"

#include <gtest/gtest.h>

#include "tests/support/scratch_registry.h"

namespace {

using zelto::testing::ScratchRegistry;

constexpr char kClsid[] = "{11111111-2222-3333-4444-555555555555}";
constexpr char kScript[] = R"(HKCR
{
	Zelto.Test.1 = s 'Test Class'
	{
		CLSID = s '{11111111-2222-3333-4444-555555555555}'
	}
	Zelto.Test = s 'Test Class'
	{
		CLSID = s '{11111111-2222-3333-4444-555555555555}'
		CurVer = s 'Zelto.Test.1'
	}
	NoRemove CLSID
	{
		ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Test Class'
		{
			ProgID = s 'Zelto.Test.1'
			VersionIndependentProgID = s 'Zelto.Test'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '{AAAAAAAA-2222-3333-4444-555555555555}'
		}
	}
}
)";

std::string ClassKey(const char* sub = nullptr) {
  std::string key = std::string("CLSID\\") + kClsid;
  return sub ? key + "\\" + sub : key;
}

RegistryTree Snapshot() {
  RegistryTree copy;
  EXPECT_EQ(RegistryRead([&](const RegistryTree& t) { copy = t; }), S_OK);
  return copy;
}

void Seed(const std::function<void(RegistryTree&)>& seed) {
  ASSERT_EQ(RegistryUpdate([&](RegistryTree& t) {
              seed(t);
              return S_OK;
            }),
            S_OK);
}

TEST(Registrar, RegistersTheEntriesOfTheScript) {
  ScratchRegistry scratch;
  ASSERT_EQ(RegistrarRegister(kScript, {{"MODULE", "/opt/it''s/m.so"}}), S_OK);
  RegistryTree t = Snapshot();
  const struct {
    std::string key, name, data;
  } expected[] = {
      {"Zelto.Test.1", "", "Test Class"},
      {"Zelto.Test.1\\CLSID", "", kClsid},
      {"Zelto.Test", "", "Test Class"},
      {"Zelto.Test\\CurVer", "", "Zelto.Test.1"},
      {ClassKey(), "", "Test Class"},
      {ClassKey("ProgID"), "", "Zelto.Test.1"},
      {ClassKey("VersionIndependentProgID"), "", "Zelto.Test"},
      {ClassKey("InprocServer32"), "", "/opt/it's/m.so"},
      {ClassKey("InprocServer32"), "ThreadingModel", "Apartment"},
      {ClassKey("TypeLib"), "", "{AAAAAAAA-2222-3333-4444-555555555555}"},
  };
  for (const auto& e : expected) EXPECT_EQ(t.GetValue(e.key, e.name), e.data) << e.key;
  EXPECT_TRUE(t.KeyExists(ClassKey("Programmable")));
  EXPECT_TRUE(t.ValueNames(ClassKey("Programmable")).empty());
}

TEST(Registrar, ForceRemoveReplacesTheClassKeyOnReregistration) {
  ScratchRegistry scratch;
  ASSERT_EQ(RegistrarRegister(kScript, {{"MODULE", "/old.so"}}), S_OK);
  Seed([](RegistryTree& t) {
    t.SetValue(ClassKey("Stale"), "", "left by an older version");
    t.SetValue(ClassKey("Programmable"), "junk", "x");
    t.SetValue("Zelto.Test\\Extra", "", "kept: not force-removed");
  });
  ASSERT_EQ(RegistrarRegister(kScript, {{"MODULE", "/new.so"}}), S_OK);
  RegistryTree t = Snapshot();
  EXPECT_FALSE(t.KeyExists(ClassKey("Stale")));
  EXPECT_TRUE(t.ValueNames(ClassKey("Programmable")).empty());
  EXPECT_EQ(t.GetValue(ClassKey("InprocServer32"), ""), "/new.so");
  EXPECT_EQ(t.SubKeys("CLSID").size(), 1u);
  EXPECT_TRUE(t.KeyExists("Zelto.Test\\Extra"));
}

TEST(Registrar, UnregisterRemovesWhatTheScriptCreatedOnly) {
  ScratchRegistry scratch;
  Seed([](RegistryTree& t) {
    t.SetValue("CLSID\\{OTHER}", "", "another class");
    t.SetValue("Zelto.Test.1", "Foreign", "someone else's value");
  });
  ASSERT_EQ(RegistrarRegister(kScript, {{"MODULE", "/m.so"}}), S_OK);
  ASSERT_EQ(RegistrarUnregister(kScript, {{"MODULE", "/m.so"}}), S_OK);
  RegistryTree t = Snapshot();
  EXPECT_FALSE(t.KeyExists(ClassKey()));
  EXPECT_FALSE(t.KeyExists("Zelto.Test"));
  EXPECT_TRUE(t.KeyExists("CLSID"));
  EXPECT_EQ(t.GetValue("CLSID\\{OTHER}", ""), "another class");
  // The script's parts of this key went; the foreign value keeps it.
  EXPECT_EQ(t.ValueNames("Zelto.Test.1"), std::vector<std::string>{"Foreign"});
  EXPECT_TRUE(t.SubKeys("Zelto.Test.1").empty());
  // Unregistering again finds nothing to do and is no failure.
  EXPECT_EQ(RegistrarUnregister(kScript, {{"MODULE", "/m.so"}}), S_OK);
}

TEST(Registrar, NoRemoveKeepsTheKeyButNotItsNamedValues) {
  ScratchRegistry scratch;
  const char* script = "HKEY_CLASSES_ROOT { NoRemove Shared = s 'd' { val Mine = s '1' } }";
  Seed([](RegistryTree& t) { t.SetValue("Shared", "Theirs", "2"); });
  ASSERT_EQ(RegistrarRegister(script, {}), S_OK);
  ASSERT_EQ(RegistrarUnregister(script, {}), S_OK);
  RegistryTree t = Snapshot();
  EXPECT_EQ(t.GetValue("Shared", "Theirs"), "2");
  EXPECT_EQ(t.GetValue("Shared", "Mine"), std::nullopt);
  EXPECT_EQ(t.GetValue("Shared", ""), "d");
}

TEST(Registrar, ParsesQuotesKeywordsAndPlaceholders) {
  std::vector<RegistrarKey> keys;
  ASSERT_EQ(ParseRegistrarScript(
                "HKCR{\n 'val' = s 'it''s %A%%%' { val 'x y' = s '' }\n Delete Old\n}",
                {{"a", "50"}}, &keys),
            S_OK);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].name, "val");
  EXPECT_EQ(keys[0].default_value, "it's 50%");
  ASSERT_EQ(keys[0].values.size(), 1u);
  EXPECT_EQ(keys[0].values[0].first, "x y");
  EXPECT_EQ(keys[1].flag, RegistrarKey::Flag::kDelete);
  EXPECT_FALSE(keys[1].default_value);
}

TEST(Registrar, MalformedScriptsChangeNothing) {
  ScratchRegistry scratch;
  Seed([](RegistryTree& t) { t.SetValue("Before", "", "1"); });
  const char* bad[] = {
      "HKCR { A = s 'unterminated }",
      "HKCR { A = s 'x' ",
      "HKCR { A = d '5' }",
      "HKCR { A = s }",
      "HKLM { A }",
      "HKCR { A } }",
      "HKCR { val V = s 'root has no values' }",
      "HKCR { 'a\\b' }",
      "HKCR { '' }",
      "HKCR { Good = s 'x' Bad = }",
      "HKCR { A = s '%UNKNOWN%' }",
      "HKCR { A = s '50%' }",
  };
  for (const char* script : bad) {
    std::vector<RegistrarKey> keys;
    EXPECT_EQ(ParseRegistrarScript(script, {}, &keys), E_INVALIDARG) << script;
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(RegistrarRegister(script, {}), E_INVALIDARG) << script;
  }
  RegistryTree t = Snapshot();
  EXPECT_EQ(t.SubKeys(""), std::vector<std::string>{"Before"});
}

}  // namespace
