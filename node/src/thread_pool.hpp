#pragma once
// Threads for parses that wait on JS reads, apart from libuv's pool: a thread waiting there for a
// slow read would hold up the process's fs and dns work. Threads are made as tasks need them
// (the JS side bounds how many run at once) and reused; one left idle for a while ends.
#include <node_api.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace vorlix_node {

class ThreadPool {
 public:
  static constexpr std::chrono::seconds kIdleExit{10};

  // Runs `task` on an idle thread, or on a new one when none is idle. Throws when no thread can
  // be made (the task is then not queued).
  static void submit(const std::shared_ptr<ThreadPool>& pool, std::function<void()> task);
  // Idle threads end now, busy ones once their task is done.
  void stop();

 private:
  static void work(std::shared_ptr<ThreadPool> pool) noexcept;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  size_t idle_ = 0;
  bool stop_ = false;
};

// sourcePool() -> a handle on a new pool, which stops when the handle is collected (at the
// latest when the environment ends).
napi_value SourcePool(napi_env env, napi_callback_info info);

// The pool behind a handle from SourcePool; null for anything else.
std::shared_ptr<ThreadPool> pool_of(napi_env env, napi_value value);

}  // namespace vorlix_node
