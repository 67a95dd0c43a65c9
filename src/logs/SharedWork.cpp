#include "logs/SharedWork.h"

#ifdef QUORVANE_READ_IN_PARALLEL

#include <chrono>

namespace quorvane {

namespace {

// Waits until `ready` holds, doing `meanwhile` (passing on progress) every 20 ms, unlocked.
template <typename Ready>
void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
               const Ready& ready, const std::function<void()>& meanwhile) {
  while (!changed.wait_for(lock, std::chrono::milliseconds(20), ready)) {
    if (meanwhile) {
      lock.unlock();
      meanwhile();
      lock.lock();
    }
  }
}

}  // namespace

bool SharedWork::Take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (state_ != State::Free)
    return false;
  state_ = State::Running;
  return true;
}

void SharedWork::RunIfFree(const std::function<void()>& meanwhile) {
  if (!Take())
    return;
  std::exception_ptr thrown;
  try {
    work_(meanwhile);
  } catch (...) {
    thrown = std::current_exception();
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    thrown_ = thrown;
    state_ = State::Done;
  }
  done_.notify_all();
}

void SharedWork::Finish(const std::function<void()>& meanwhile) {
  RunIfFree(meanwhile);
  std::unique_lock<std::mutex> lock(mutex_);
  WaitUntil(
      lock, done_, [this] { return state_ == State::Done; }, meanwhile);
  if (thrown_)
    std::rethrow_exception(thrown_);
}

void SharedWork::Withdraw() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (state_ == State::Free) {
    state_ = State::Done;
    return;
  }
  done_.wait(lock, [this] { return state_ == State::Done; });
}

void WorkQueue::Post(std::shared_ptr<SharedWork> work) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(work));
  }
  changed_.notify_one();
}

std::shared_ptr<SharedWork> WorkQueue::Take(const std::function<void()>& meanwhile) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitUntil(
      lock, changed_, [this] { return closed_ || !queue_.empty(); }, meanwhile);
  if (queue_.empty())
    return nullptr;
  std::shared_ptr<SharedWork> work = std::move(queue_.front());
  queue_.pop_front();
  return work;
}

void WorkQueue::Close() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace quorvane

#endif
