#include "platform/com/typelib_registration.h"

#include <cstdio>
#include <optional>
#include <string>

#include "platform/com/com_ptr.h"
#include "platform/com/load_type_lib.h"
#include "platform/com/registry.h"
#include "platform/win/codepage.h"

namespace {

// The automation marshaler every dual and oleautomation interface uses.
constexpr char kAutomationProxy[] = "{00020424-0000-0000-C000-000000000046}";
constexpr char kNeutralLocale[] = "0";
constexpr const char* kPlatforms[] = {"win32", "win64"};

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string VersionText(WORD major, WORD minor) { return Hex(major) + "." + Hex(minor); }

std::string LibraryKey(REFGUID libid) { return "TypeLib\\" + GuidToString(libid); }

// "a.b" in hexadecimal; false for anything else.
bool ParseVersion(const std::string& text, unsigned* major, unsigned* minor) {
  int used = 0;
  return std::sscanf(text.c_str(), "%x.%x%n", major, minor, &used) == 2 &&
         static_cast<size_t>(used) == text.size() && *major <= 0xFFFF && *minor <= 0xFFFF;
}

struct Entry {
  std::string version_key;   // TypeLib\{LIBID}\1.0
  std::string locale_key;    // ...\0
  std::string platform_key;  // ...\0\win32
  std::string path;
};

std::optional<Entry> FindEntry(const RegistryTree& tree, REFGUID libid, WORD major, WORD minor,
                               LCID lcid) {
  const std::string lib_key = LibraryKey(libid);
  std::optional<unsigned> best_minor;
  std::string best_name;
  for (const std::string& name : tree.SubKeys(lib_key)) {
    unsigned ma, mi;
    if (ParseVersion(name, &ma, &mi) && ma == major && mi >= minor &&
        (!best_minor || mi > *best_minor)) {
      best_minor = mi;
      best_name = name;
    }
  }
  if (!best_minor) return std::nullopt;
  Entry entry;
  entry.version_key = lib_key + "\\" + best_name;
  for (const std::string& locale : {Hex(lcid), Hex(lcid & 0x3FF), std::string(kNeutralLocale)}) {
    for (const char* platform : kPlatforms) {
      std::string key = entry.version_key + "\\" + locale + "\\" + platform;
      std::optional<std::string> path = tree.GetValue(key, "");
      if (path && !path->empty()) {
        entry.locale_key = entry.version_key + "\\" + locale;
        entry.platform_key = key;
        entry.path = *path;
        return entry;
      }
    }
  }
  return std::nullopt;
}

std::string Utf8(BSTR text) { return WideToUtf8(BstrView(text)); }

void RegisterInterfaces(ITypeLib* lib, const std::string& libid, const std::string& version,
                        RegistryTree& tree) {
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    if (FAILED(lib->GetTypeInfo(i, info.Receive())) || FAILED(info->GetTypeAttr(&attr))) continue;
    const bool is_interface = attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH;
    const bool marshaled = attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
    const std::string key = "Interface\\" + GuidToString(attr->guid);
    info->ReleaseTypeAttr(attr);
    if (!is_interface || !marshaled) continue;
    BSTR name = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    tree.SetValue(key, "", Utf8(name));
    SysFreeString(name);
    tree.SetValue(key + "\\ProxyStubClsid", "", kAutomationProxy);
    tree.SetValue(key + "\\ProxyStubClsid32", "", kAutomationProxy);
    tree.SetValue(key + "\\TypeLib", "", libid);
    tree.SetValue(key + "\\TypeLib", "Version", version);
  }
}

void DeleteIfEmpty(RegistryTree& tree, const std::string& key) {
  if (tree.KeyExists(key) && tree.SubKeys(key).empty() && tree.ValueNames(key).empty()) {
    tree.DeleteKeyTree(key);
  }
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR full_path, LPCOLESTR help_dir) {
  if (!lib || !full_path) return E_INVALIDARG;
  TLIBATTR* attr = nullptr;
  HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const GUID libid = attr->guid;
  const std::string version = VersionText(attr->wMajorVerNum, attr->wMinorVerNum);
  const std::string flags = std::to_string(attr->wLibFlags);
  lib->ReleaseTLibAttr(attr);
  BSTR name = nullptr, doc = nullptr;
  hr = lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  const std::string title = SysStringLen(doc) ? Utf8(doc) : Utf8(name);
  SysFreeString(name);
  SysFreeString(doc);
  const std::string path = WideToUtf8(full_path);
  const std::optional<std::string> help =
      help_dir ? std::optional<std::string>(WideToUtf8(help_dir)) : std::nullopt;

  return RegistryUpdate([&](RegistryTree& tree) {
    const std::string key = LibraryKey(libid) + "\\" + version;
    tree.SetValue(key, "", title);
    tree.SetValue(key + "\\" + kNeutralLocale + "\\win32", "", path);
    tree.SetValue(key + "\\FLAGS", "", flags);
    if (help) tree.SetValue(key + "\\HELPDIR", "", *help);
    RegisterInterfaces(lib, GuidToString(libid), version, tree);
    return S_OK;
  });
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND) {
  const std::string lib_text = GuidToString(libid);
  return RegistryUpdate([&](RegistryTree& tree) {
    std::optional<Entry> entry = FindEntry(tree, libid, major, minor, lcid);
    if (!entry) return TYPE_E_REGISTRYACCESS;
    const std::string version = entry->version_key.substr(entry->version_key.rfind('\\') + 1);
    tree.DeleteKeyTree(entry->platform_key);
    DeleteIfEmpty(tree, entry->locale_key);
    bool other_locales = false;
    for (const std::string& sub : tree.SubKeys(entry->version_key)) {
      if (sub != "FLAGS" && sub != "HELPDIR") other_locales = true;
    }
    if (!other_locales) {
      tree.DeleteKeyTree(entry->version_key);
      for (const std::string& iid : tree.SubKeys("Interface")) {
        const std::string key = "Interface\\" + iid;
        if (tree.GetValue(key + "\\TypeLib", "") == lib_text &&
            tree.GetValue(key + "\\TypeLib", "Version") == version) {
          tree.DeleteKeyTree(key);
        }
      }
      DeleteIfEmpty(tree, LibraryKey(libid));
    }
    return S_OK;
  });
}

HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, BSTR* path) {
  if (!path) return E_INVALIDARG;
  *path = nullptr;
  std::optional<Entry> entry;
  HRESULT hr = RegistryRead(
      [&](const RegistryTree& tree) { entry = FindEntry(tree, libid, major, minor, lcid); });
  if (FAILED(hr)) return hr;
  if (!entry) return TYPE_E_LIBNOTREGISTERED;
  *path = SysAllocStringView(Utf8ToWide(entry->path));
  return *path ? S_OK : E_OUTOFMEMORY;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
  if (!lib) return E_INVALIDARG;
  *lib = nullptr;
  BSTR path = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(libid, major, minor, lcid, &path);
  if (FAILED(hr)) return hr;
  ComPtr<ITypeLib> loaded;
  hr = LoadTypeLib(path, loaded.Receive());
  SysFreeString(path);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = loaded->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const bool same = attr->guid == libid && attr->wMajorVerNum == major;
  loaded->ReleaseTLibAttr(attr);
  // A registration pointing at some other library is no registration.
  if (!same) return TYPE_E_LIBNOTREGISTERED;
  *lib = loaded.Detach();
  return S_OK;
}
