// The registration script parser and the registry it writes: a parsed
// script written back parses to the same keys; applying it gives a registry
// whose file form round trips; removing it again leaves nothing behind when
// no key of it is kept on purpose (NoRemove) or deleted (Delete).
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/com/registrar.h"
#include "platform/com/registry.h"

namespace {

const std::map<std::string, std::string> kReplacements = {{"MODULE", "/opt/zelto/ZeltoCom.so"},
                                                          {"CLSID", "{A6147B43-DFE3-4BAE-85DA-D118B8F653E3}"}};

std::string Quote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "'";
}

void Write(const std::vector<RegistrarKey>& keys, std::string& out) {
  for (const RegistrarKey& key : keys) {
    switch (key.flag) {
      case RegistrarKey::Flag::kForceRemove: out += "ForceRemove "; break;
      case RegistrarKey::Flag::kNoRemove: out += "NoRemove "; break;
      case RegistrarKey::Flag::kDelete: out += "Delete "; break;
      case RegistrarKey::Flag::kNone: break;
    }
    out += Quote(key.name);
    if (key.default_value) out += " = s " + Quote(*key.default_value);
    out += "\n{\n";
    for (const auto& [name, data] : key.values) out += "val " + Quote(name) + " = s " + Quote(data) + "\n";
    Write(key.subkeys, out);
    out += "}\n";
  }
}

bool Same(const std::vector<RegistrarKey>& a, const std::vector<RegistrarKey>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].flag != b[i].flag || a[i].default_value != b[i].default_value ||
        a[i].values != b[i].values || !Same(a[i].subkeys, b[i].subkeys))
      return false;
  }
  return true;
}

bool KeepsOrDeletes(const std::vector<RegistrarKey>& keys) {
  for (const RegistrarKey& key : keys) {
    if (key.flag == RegistrarKey::Flag::kNoRemove || key.flag == RegistrarKey::Flag::kDelete ||
        KeepsOrDeletes(key.subkeys))
      return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view script = zelto::fuzz::AsText(data, size);
  std::vector<RegistrarKey> keys;
  if (ParseRegistrarScript(script, kReplacements, &keys) != S_OK) {
    if (size > 0) RegistryTree::Parse(script);  // the registry file form must not crash either
    return 0;
  }
  std::string written = "HKCR\n{\n";
  Write(keys, written);
  written += "}\n";
  std::vector<RegistrarKey> reparsed;
  FUZZ_CHECK(ParseRegistrarScript(written, kReplacements, &reparsed) == S_OK,
             "a written script does not parse");
  FUZZ_CHECK(Same(keys, reparsed), "parse -> write -> parse changed the keys");

  RegistryTree tree;
  RegistrarApply(keys, tree);
  const std::string file = tree.Serialize();
  const auto loaded = RegistryTree::Parse(file);
  FUZZ_CHECK(loaded.has_value(), "the registry's own file form does not load");
  FUZZ_CHECK(loaded->Serialize() == file, "the registry's file form does not round trip");

  RegistrarRemove(keys, tree);
  if (!KeepsOrDeletes(keys))
    FUZZ_CHECK(tree.SubKeys("").empty() && tree.ValueNames("").empty(),
               "unregistration left keys of the script behind");
  return 0;
}
