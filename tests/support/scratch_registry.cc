#include "tests/support/scratch_registry.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace zelto::testing {

ScratchRegistry::ScratchRegistry() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelto-reg-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  path_ = folder_ + "/registry";
  if (const char* old = std::getenv("ZELTO_REGISTRY")) previous_ = old;
  setenv("ZELTO_REGISTRY", path_.c_str(), 1);
}

ScratchRegistry::~ScratchRegistry() {
  if (previous_) {
    setenv("ZELTO_REGISTRY", previous_->c_str(), 1);
  } else {
    unsetenv("ZELTO_REGISTRY");
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

}  // namespace zelto::testing
