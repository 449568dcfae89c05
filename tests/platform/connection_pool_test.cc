// The pool's checks of a session's health: a session known to be broken is
// closed when it comes back; one the system no longer serves (a moved file, a
// server gone) is found when it would be handed out, and never given out.
#include "platform/ado/connection_pool.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelto::ado {
namespace {

struct Health {
  bool broken = false;
  bool usable = true;
  int usable_checks = 0;
  bool closed = false;
};

class FakeConnection : public EngineConnection {
 public:
  explicit FakeConnection(Health* health) : health_(health) {}
  ~FakeConnection() override { health_->closed = true; }
  bool Execute(std::string_view, ResultSet*, std::string*) override { return true; }
  bool BeginTransaction(std::string*) override { return true; }
  bool CommitTransaction(std::string*) override { return true; }
  bool RollbackTransaction(std::string*) override { return true; }
  bool InTransaction() const override { return false; }
  bool Usable() override {
    ++health_->usable_checks;
    return !health_->broken && health_->usable;
  }
  bool Broken() const override { return health_->broken; }

 private:
  Health* health_;
};

// Opens sessions in the order of `opened`.
class FakeEngine : public Engine {
 public:
  std::string_view Name() const override { return "fake-pool-test"; }
  std::unique_ptr<EngineConnection> Connect(const ConnectionString&, std::string*) override {
    opened.emplace_back(new Health);
    return std::make_unique<FakeConnection>(opened.back().get());
  }
  bool DatabaseExists(const ConnectionString&) override { return true; }
  std::string DatabaseLocation(const ConnectionString&) override { return "fake"; }
  bool CreateDatabase(const ConnectionString&, std::string_view, bool, std::string*) override {
    return true;
  }
  std::vector<std::unique_ptr<Health>> opened;
};

class ConnectionPoolHealth : public ::testing::Test {
 protected:
  void SetUp() override {
    target_.data_source = "pool-test";
    target_.initial_catalog = "chat";
    ConnectionPool::Instance().CloseIdle();
  }
  void TearDown() override { ConnectionPool::Instance().CloseIdle(); }

  std::unique_ptr<EngineConnection> Acquire() {
    std::string error;
    return ConnectionPool::Instance().Acquire(&engine_, target_, &error);
  }
  void Release(std::unique_ptr<EngineConnection> c) {
    ConnectionPool::Instance().Release(&engine_, target_, std::move(c));
  }

  FakeEngine engine_;
  ConnectionString target_;
};

TEST_F(ConnectionPoolHealth, EachUseAsksTheSystemOnce) {
  for (int i = 0; i < 3; ++i) Release(Acquire());
  ASSERT_EQ(engine_.opened.size(), 1u);
  // Handed out twice from the pool; released three times without a check.
  EXPECT_EQ(engine_.opened[0]->usable_checks, 2);
}

TEST_F(ConnectionPoolHealth, BrokenSessionIsClosedWhenItComesBack) {
  auto c = Acquire();
  engine_.opened[0]->broken = true;
  Release(std::move(c));
  EXPECT_TRUE(engine_.opened[0]->closed);
  EXPECT_EQ(ConnectionPool::Instance().IdleCount(), 0u);
  Acquire();
  EXPECT_EQ(engine_.opened.size(), 2u);
}

TEST_F(ConnectionPoolHealth, SessionTheSystemDroppedWhileIdleIsNeverHandedOut) {
  auto a = Acquire();
  auto b = Acquire();
  Release(std::move(a));
  Release(std::move(b));
  for (auto& health : engine_.opened) health->usable = false;  // the file moved
  auto c = Acquire();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(engine_.opened.size(), 3u);  // both idle ones closed, a new one opened
  EXPECT_TRUE(engine_.opened[0]->closed && engine_.opened[1]->closed);
  EXPECT_FALSE(engine_.opened[2]->closed);
}

}  // namespace
}  // namespace zelto::ado
