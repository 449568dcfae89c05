// WorkerPool: a fixed number of threads running submitted tasks in order of
// arrival, each task to its end on one thread (the component is
// apartment-threaded). The queue is bounded: Submit refuses work beyond it,
// so an overloaded server answers "busy" instead of growing without limit.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zelto::serve {

class WorkerPool {
 public:
  WorkerPool(size_t threads, size_t queue_limit);
  ~WorkerPool();  // Stop()
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // False when the queue is full or the pool is stopping (the task is dropped).
  bool Submit(std::function<void()> task);
  // Runs what is queued, then joins the threads. Idempotent.
  void Stop();

 private:
  void Work();

  const size_t queue_limit_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zelto::serve
