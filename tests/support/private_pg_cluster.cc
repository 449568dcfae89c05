#include "tests/support/private_pg_cluster.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

namespace zelto::testing {
namespace {

int Cluster(const std::string& action, const std::string& state) {
  const std::string command = "bash " ZELTO_SOURCE_DIR "/scripts/pg-cluster.sh " + action + " " +
                              state + " >/dev/null 2>&1";
  return std::system(command.c_str());
}

}  // namespace

PrivatePgCluster::PrivatePgCluster() {
  if (!FindTestCluster(&why_)) return;
  machine_has_server_ = true;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelto-pgown-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    why_ = "cannot make a state folder from " + pattern;
    return;
  }
  if (Cluster("start", pattern) != 0) {
    why_ = "cannot start a private PostgreSQL cluster";
    Cluster("stop", pattern);
    std::filesystem::remove_all(pattern);
    return;
  }
  // The private cluster's settings, read as the run's would be.
  const std::string shared = std::getenv("ZELTO_TEST_PG_ENV");
  setenv("ZELTO_TEST_PG_ENV", (pattern + "/cluster.env").c_str(), 1);
  auto settings = FindTestCluster(&why_);
  setenv("ZELTO_TEST_PG_ENV", shared.c_str(), 1);
  if (!settings) {
    Cluster("stop", pattern);
    std::filesystem::remove_all(pattern);
    return;
  }
  settings_ = *settings;
  state_ = pattern;
}

PrivatePgCluster::~PrivatePgCluster() {
  if (state_.empty()) return;
  Cluster("stop", state_);
  std::error_code ec;
  std::filesystem::remove_all(state_, ec);
}

std::vector<std::string> PrivatePgCluster::ServeArgs() const {
  return {"--engine", "postgresql",   "--server",   settings_.server,
          "--user",   settings_.user, "--password", settings_.password};
}

bool PrivatePgCluster::Halt() { return available() && Cluster("halt", state_) == 0; }

bool PrivatePgCluster::Resume() { return available() && Cluster("resume", state_) == 0; }

}  // namespace zelto::testing
