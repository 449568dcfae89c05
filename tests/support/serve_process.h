// ServeProcess: one `zelto serve` for a test, on 127.0.0.1 at a port the
// system picks, with a scratch registry and the given data folder. Its
// output goes to a file the test can read. Stop() sends a signal and waits;
// the destructor stops it when the test did not.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_registry.h"

namespace zelto::testing {

class ServeProcess {
 public:
  // Starts `zelto serve --listen 127.0.0.1:0 --data DATA_DIR EXTRA...` and
  // waits (up to 30 s) for its address; port() is 0 when it never came.
  // `env` is set in the child only.
  ServeProcess(const std::string& data_dir, std::vector<std::string> extra = {},
               std::vector<std::pair<std::string, std::string>> env = {});
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  // Everything the process wrote so far (stdout and stderr).
  std::string Output() const;
  // Sends `signal`, waits for the end; the exit status (-1 when killed).
  int Stop(int signal = 15);

  // Runs `zelto ARGS...` to its end (30 s at most); exit status and output.
  static int RunZelto(const std::vector<std::string>& args, std::string* output);

 private:
  ScratchRegistry registry_;
  std::string output_path_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace zelto::testing
