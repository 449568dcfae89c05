// Points ZELTO_REGISTRY at a fresh registry file in a new temporary folder
// for the life of the object, and puts the previous value back afterwards.
// Not for tests that run threads changing the environment.
#pragma once

#include <optional>
#include <string>

namespace zelto::testing {

class ScratchRegistry {
 public:
  ScratchRegistry();
  ~ScratchRegistry();
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  std::string path_;
  std::optional<std::string> previous_;
};

}  // namespace zelto::testing
