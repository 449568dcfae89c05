// WebhookWorker: the host's background sender of webhook deliveries. Its
// thread claims what is due (Webhooks::ClaimDue), sends it and records the
// outcome; then it sleeps until the next delivery is due, something new is
// queued (Wake), or a few seconds pass (deliveries queued by other hosts,
// claims that lapsed). Requests never wait for it. Stop ends the thread;
// deliveries claimed but not tried are released for the next start.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "host/serve/failure_log.h"
#include "host/serve/webhook_sender.h"
#include "host/serve/webhooks.h"

namespace zelto::serve {

class WebhookWorker {
 public:
  static constexpr size_t kBatch = 16;
  static constexpr int64_t kLookSeconds = 5;  // the longest sleep

  WebhookWorker(const Webhooks& webhooks, WebhookTransport send, FailureLog& failures,
                SecondsClock now = WallSecondsNow)
      : webhooks_(webhooks), send_(std::move(send)), failures_(failures), now_(std::move(now)) {}
  ~WebhookWorker() { Stop(); }
  WebhookWorker(const WebhookWorker&) = delete;
  WebhookWorker& operator=(const WebhookWorker&) = delete;

  // One round on the calling thread: claims up to kBatch due deliveries and
  // tries each; the number tried.
  size_t DeliverDue();
  // Starts the thread (once).
  void Start();
  // Thread-safe: something was queued.
  void Wake();
  // Thread-safe, idempotent: ends the thread after the send in progress.
  void Stop();
  // Thread-safe: Stop without waiting for the thread.
  void AskToStop();

 private:
  void Run();
  void Record(const WebhookDelivery& d, const WebhookAttempt& attempt);

  const Webhooks& webhooks_;
  const WebhookTransport send_;
  FailureLog& failures_;
  const SecondsClock now_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace zelto::serve
