#include "host/serve/webhook_worker.h"

#include <algorithm>
#include <chrono>

namespace zelto::serve {

size_t WebhookWorker::DeliverDue() {
  std::string error;
  const std::vector<WebhookDelivery> due = webhooks_.ClaimDue(kBatch, &error);
  if (!error.empty()) failures_.Failed("claiming webhook deliveries", error);
  size_t tried = 0;
  for (const WebhookDelivery& d : due) {
    if (stopping_) {
      if (!webhooks_.Release(d, &error)) failures_.Failed("releasing a webhook delivery", error);
      continue;
    }
    const WebhookAttempt attempt = send_(d, now_());
    // A send cut short by the stop is not counted as an attempt.
    if (!attempt.ok && stopping_) {
      if (!webhooks_.Release(d, &error)) failures_.Failed("releasing a webhook delivery", error);
      continue;
    }
    Record(d, attempt);
    ++tried;
  }
  return tried;
}

void WebhookWorker::Record(const WebhookDelivery& d, const WebhookAttempt& attempt) {
  std::string error;
  const bool stored = attempt.ok ? webhooks_.Delivered(d, attempt.status, &error)
                                 : webhooks_.Failed(d, attempt.status, attempt.error, &error);
  if (!stored) failures_.Failed("recording a webhook delivery", error);
  if (!attempt.ok)
    failures_.Failed("a webhook delivery", d.url + ": " + attempt.error);
}

void WebhookWorker::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable() || stopping_) return;
  thread_ = std::thread([this] { Run(); });
}

void WebhookWorker::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_one();
}

void WebhookWorker::AskToStop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
}

void WebhookWorker::Stop() {
  AskToStop();
  if (thread_.joinable()) thread_.join();
}

void WebhookWorker::Run() {
  while (!stopping_) {
    if (DeliverDue() == WebhookWorker::kBatch) continue;  // maybe more due at once
    std::string error;
    const auto next = webhooks_.NextDue(&error);
    int64_t wait = kLookSeconds;
    if (next) wait = std::clamp<int64_t>(*next - now_(), 0, kLookSeconds);
    std::unique_lock lock(mutex_);
    // Due within the second: look again after a short sleep rather than
    // spin on a row whose time has not quite come.
    const auto sleep = wait == 0 ? std::chrono::milliseconds(200) : std::chrono::seconds(wait);
    wake_.wait_for(lock, sleep, [this] { return woken_ || stopping_.load(); });
    woken_ = false;
  }
}

}  // namespace zelto::serve
