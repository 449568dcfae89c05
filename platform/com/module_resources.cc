#include "platform/com/module_resources.h"

#include "platform/com/module_loader.h"

std::optional<std::string_view> FindModuleResource(void* module, const char* type, UINT id) {
  if (!module || !type) return std::nullopt;
  auto lookup = reinterpret_cast<ModuleResourceProc>(GetModuleProc(module, kModuleResourceExport));
  const void* data = nullptr;
  size_t size = 0;
  if (!lookup || !lookup(type, id, &data, &size) || (!data && size)) return std::nullopt;
  return std::string_view(static_cast<const char*>(data), size);
}

std::optional<std::string> VersionField(std::string_view block, std::string_view field) {
  while (!block.empty()) {
    size_t end = block.find('\n');
    std::string_view line = block.substr(0, end);
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t eq = line.find('=');
    if (eq != std::string_view::npos && line.substr(0, eq) == field) {
      return std::string(line.substr(eq + 1));
    }
  }
  return std::nullopt;
}
