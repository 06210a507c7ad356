#include "thread_pool.hpp"

#include <chrono>
#include <thread>
#include <utility>

#include "errors.hpp"

namespace vorlix_node {

namespace {

// Marks our pool handles, so that a foreign external is refused.
constexpr napi_type_tag kPoolTag = {0x766f726c6978706fULL, 0x6f6c68616e646c65ULL};

using Handle = std::shared_ptr<ThreadPool>;

void finalize_pool(napi_env, void* data, void*) {
  std::unique_ptr<Handle> handle(static_cast<Handle*>(data));
  (*handle)->stop();
}

}  // namespace

void ThreadPool::submit(const std::shared_ptr<ThreadPool>& pool, std::function<void()> task) {
  std::lock_guard lock(pool->mutex_);
  pool->tasks_.push_back(std::move(task));
  if (pool->tasks_.size() <= pool->idle_) {
    pool->wake_.notify_one();
    return;
  }
  try {
    std::thread(work, pool).detach();
  } catch (...) {
    pool->tasks_.pop_back();
    throw;
  }
}

void ThreadPool::stop() {
  std::lock_guard lock(mutex_);
  stop_ = true;
  wake_.notify_all();
}

void ThreadPool::work(std::shared_ptr<ThreadPool> pool) noexcept {
  std::unique_lock lock(pool->mutex_);
  for (;;) {
    ++pool->idle_;
    // A wall-clock deadline: a steady one needs pthread_cond_clockwait, which the oldest glibc
    // the prebuilt binaries load on lacks, and a clock step only shortens or lengthens an idle
    // wait.
    pool->wake_.wait_until(lock, std::chrono::system_clock::now() + kIdleExit,
                           [&] { return pool->stop_ || !pool->tasks_.empty(); });
    --pool->idle_;
    if (pool->tasks_.empty()) return;  // idle for long enough, or stopped
    auto task = std::move(pool->tasks_.front());
    pool->tasks_.pop_front();
    lock.unlock();
    task();  // tasks catch what they throw
    task = nullptr;
    lock.lock();
  }
}

napi_value SourcePool(napi_env env, napi_callback_info) {
  try {
    auto handle = std::make_unique<Handle>(std::make_shared<ThreadPool>());
    napi_value value;
    if (auto s = napi_create_external(env, handle.get(), finalize_pool, nullptr, &value);
        s != napi_ok) {
      throw_error(env, {s, "Failed to create the source thread pool"});
      return nullptr;
    }
    handle.release();
    if (auto s = napi_type_tag_object(env, value, &kPoolTag); s != napi_ok) {
      throw_error(env, {s, "Failed to create the source thread pool"});
      return nullptr;
    }
    return value;
  } catch (...) {
    throw_error(env, current_exception_error());
    return nullptr;
  }
}

std::shared_ptr<ThreadPool> pool_of(napi_env env, napi_value value) {
  bool tagged = false;
  void* data = nullptr;
  if (napi_check_object_type_tag(env, value, &kPoolTag, &tagged) != napi_ok || !tagged ||
      napi_get_value_external(env, value, &data) != napi_ok || !data) {
    return nullptr;
  }
  return *static_cast<Handle*>(data);
}

}  // namespace vorlix_node
