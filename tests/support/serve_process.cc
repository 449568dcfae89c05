#include "tests/support/serve_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

pid_t Spawn(const std::vector<std::string>& args, const std::string& output_path,
            const Env& env = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    const int fd = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits for `pid` up to `limit`; kills it past that. The exit status, or -1.
int WaitFor(pid_t pid, std::chrono::seconds limit) {
  int status = 0;
  if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) != 0; }, limit)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ServeProcess::ServeProcess(const std::string& data_dir, std::vector<std::string> extra,
                           std::vector<std::pair<std::string, std::string>> env) {
  output_path_ = registry_.folder() + "/serve.out";
  std::vector<std::string> args = {ZELTO_BIN_DIR "/zelto", "serve",  "--listen",
                                   "127.0.0.1:0",          "--data", data_dir, "--demo"};
  args.insert(args.end(), extra.begin(), extra.end());
  pid_ = Spawn(args, output_path_, env);
  // Its address, or its end.
  const std::string marker = "ZeltoCom chat site: http://127.0.0.1:";
  WaitUntil(
      [&] {
        const std::string out = Output();
        if (const size_t at = out.find(marker); at != std::string::npos) {
          port_ = static_cast<uint16_t>(std::atoi(out.c_str() + at + marker.size()));
          if (port_ != 0) return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
        pid_ = -1;
        return true;
      },
      std::chrono::seconds(30));
}

ServeProcess::~ServeProcess() {
  if (pid_ > 0) Stop(SIGTERM);
}

std::string ServeProcess::Output() const { return ReadAll(output_path_); }

int ServeProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  const int status = WaitFor(pid_, std::chrono::seconds(30));
  pid_ = -1;
  return status;
}

int ServeProcess::RunZelto(const std::vector<std::string>& args, std::string* output) {
  ScratchRegistry registry;
  const std::string path = registry.folder() + "/zelto.out";
  std::vector<std::string> full = {ZELTO_BIN_DIR "/zelto"};
  full.insert(full.end(), args.begin(), args.end());
  const pid_t pid = Spawn(full, path);
  const int status = WaitFor(pid, std::chrono::seconds(30));
  *output = ReadAll(path);
  return status;
}

}  // namespace zelto::testing
