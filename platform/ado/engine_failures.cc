#include "platform/ado/engine_failures.h"

#include <memory>
#include <mutex>
#include <utility>

namespace zelto::ado {
namespace {

std::mutex& SinkMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

// Held by shared pointer so that a sink replaced during a report stays alive
// until that report is done.
std::shared_ptr<const EngineFailureSink>& Sink() {
  static auto* sink = new std::shared_ptr<const EngineFailureSink>;
  return *sink;
}

thread_local std::string last_failure;
thread_local bool last_failure_sunk = false;

}  // namespace

void SetEngineFailureSink(EngineFailureSink sink) {
  auto replacement = sink ? std::make_shared<const EngineFailureSink>(std::move(sink)) : nullptr;
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(replacement);
}

void ReportEngineFailure(std::string_view engine, std::string_view what, std::string_view error) {
  last_failure.assign(what).append(" (").append(engine).append("): ").append(error);
  std::shared_ptr<const EngineFailureSink> sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = Sink();
  }
  last_failure_sunk = sink != nullptr;
  if (sink) (*sink)(engine, what, error);
}

std::string TakeLastEngineFailure(bool* sunk) {
  if (sunk) *sunk = last_failure_sunk && !last_failure.empty();
  return std::exchange(last_failure, std::string());
}

}  // namespace zelto::ado
