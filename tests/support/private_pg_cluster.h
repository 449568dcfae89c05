// PrivatePgCluster: a PostgreSQL cluster of a test's own (scripts/pg-cluster.sh),
// for tests whose hosts use the fixed database names "chat" and "count" and
// so must not share the run's cluster with other suites. Started by the
// constructor, stopped and removed by the destructor. Needs the run's
// cluster to exist (that is how the test learns the server binaries are
// there); without it, or when the start fails, it is not available() and
// says why.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/database_setup.h"

namespace zelto::testing {

class PrivatePgCluster {
 public:
  PrivatePgCluster();
  ~PrivatePgCluster();
  PrivatePgCluster(const PrivatePgCluster&) = delete;
  PrivatePgCluster& operator=(const PrivatePgCluster&) = delete;

  bool available() const { return own_ && own_->available(); }
  // The cluster's state folder (tests may keep their own files below it).
  const std::string& state_dir() const;
  const std::string& unavailable_reason() const { return why_; }
  // Not available although the run has a cluster: the start itself failed
  // (a test should fail on it, not skip).
  bool start_failed() const { return !available() && own_; }
  // Empty settings while not available.
  const TestCluster& settings() const;
  // `zelto serve` options for this cluster: --engine postgresql --server ...
  std::vector<std::string> ServeArgs() const;
  // A database server outage: Halt stops the server and keeps its data,
  // Resume starts it again on the same port. False when the step failed.
  bool Halt() { return available() && own_->Halt(); }
  bool Resume() { return available() && own_->Resume(); }

 private:
  std::unique_ptr<ScratchPgCluster> own_;  // made only when the run has a cluster
  std::string why_;
};

}  // namespace zelto::testing
