// The registry: HKEY_CLASSES_ROOT as a tree of keys holding named string
// values, persisted in one text file shared by every process of the user.
//
// Key names are case-insensitive and keep the case they were first written
// with; paths separate names with backslashes ("CLSID\\{...}\\InprocServer32").
// Value data is UTF-8 text; the value name "" is the key's default value.
//
// The file is RegistryFilePath(): $ZELTO_REGISTRY, else
// $XDG_DATA_HOME/zelto/registry, else ~/.local/share/zelto/registry. Changes go
// through RegistryUpdate, which holds an exclusive lock on a lock file beside
// it, reloads, changes and atomically replaces the file, so concurrent writers
// never lose each other's changes. A corrupt file gives REGDB_E_READREGDB.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"

class RegistryTree {  // one snapshot
 public:
  RegistryTree();
  ~RegistryTree();
  RegistryTree(const RegistryTree& other);
  RegistryTree& operator=(const RegistryTree& other);
  RegistryTree(RegistryTree&&) noexcept;
  RegistryTree& operator=(RegistryTree&&) noexcept;

  bool KeyExists(std::string_view path) const;
  // Creates the key and any missing parents. An empty path names the root.
  void CreateKey(std::string_view path);
  // Deletes the key with everything below it; false when absent. The root
  // itself cannot be deleted (false).
  bool DeleteKeyTree(std::string_view path);
  // Creates the key when needed.
  void SetValue(std::string_view path, std::string_view name, std::string_view data);
  std::optional<std::string> GetValue(std::string_view path, std::string_view name) const;
  bool DeleteValue(std::string_view path, std::string_view name);
  // Names as first written, in case-insensitive order; empty when absent.
  std::vector<std::string> SubKeys(std::string_view path) const;
  std::vector<std::string> ValueNames(std::string_view path) const;

  // The file form and back. Parse returns nullopt for a malformed text.
  std::string Serialize() const;
  static std::optional<RegistryTree> Parse(std::string_view text);

  struct Key;  // a node; defined privately in registry.cc

 private:
  std::unique_ptr<Key> root_;
};

// Lock, load, run `change`, save when it returns a success code, unlock.
// Returns what `change` returned, or REGDB_E_READREGDB / REGDB_E_WRITEREGDB.
HRESULT RegistryUpdate(const std::function<HRESULT(RegistryTree&)>& change);
// Runs `read` on a consistent snapshot (cached by file identity and mtime).
// A missing file reads as an empty registry.
HRESULT RegistryRead(const std::function<void(const RegistryTree&)>& read);
// The snapshot RegistryRead would run on: the same object for as long as the
// file is unchanged, a new one once it changed, so a caller may keep what it
// derived from a snapshot for as long as this gives that same snapshot back.
HRESULT RegistrySnapshot(std::shared_ptr<const RegistryTree>* snapshot);
std::string RegistryFilePath();
