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

}  // namespace

void SetEngineFailureSink(EngineFailureSink sink) {
  auto replacement = sink ? std::make_shared<const EngineFailureSink>(std::move(sink)) : nullptr;
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(replacement);
}

void ReportEngineFailure(std::string_view engine, std::string_view what, std::string_view error) {
  std::shared_ptr<const EngineFailureSink> sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = Sink();
  }
  if (sink) (*sink)(engine, what, error);
}

}  // namespace zelto::ado
