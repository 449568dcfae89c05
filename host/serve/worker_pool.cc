#include "host/serve/worker_pool.h"

namespace zelto::serve {

WorkerPool::WorkerPool(size_t threads, size_t queue_limit) : queue_limit_(queue_limit) {
  if (threads == 0) threads = 1;
  threads_.reserve(threads);
  for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() { Stop(); }

bool WorkerPool::Submit(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || queue_.size() >= queue_limit_) return false;
    queue_.push_back(std::move(task));
  }
  ready_.notify_one();
  return true;
}

void WorkerPool::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
}

void WorkerPool::Work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, nothing left
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

}  // namespace zelto::serve
