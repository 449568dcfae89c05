#include "tests/support/private_pg_cluster.h"

namespace zelto::testing {

PrivatePgCluster::PrivatePgCluster() {
  if (!FindTestCluster(&why_)) return;
  own_ = std::make_unique<ScratchPgCluster>();
  if (!own_->available()) why_ = own_->unavailable_reason();
}

PrivatePgCluster::~PrivatePgCluster() = default;

const std::string& PrivatePgCluster::state_dir() const {
  static const std::string none;
  return own_ ? own_->state_dir() : none;
}

const TestCluster& PrivatePgCluster::settings() const {
  static const TestCluster none;
  return available() ? own_->settings() : none;
}

std::vector<std::string> PrivatePgCluster::ServeArgs() const {
  const TestCluster& cluster = settings();
  return {"--engine", "postgresql", "--server",   cluster.server,
          "--user",   cluster.user, "--password", cluster.password};
}

}  // namespace zelto::testing
