#include "logs/SharedWork.h"

#ifdef QUORVANE_READ_IN_PARALLEL

#include <chrono>

namespace quorvane {

namespace {

// How often a thread that waits does what it has to meanwhile (passing on progress).
constexpr std::chrono::milliseconds kMeanwhile{20};

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
  while (!done_.wait_for(lock, kMeanwhile, [this] { return state_ == State::Done; })) {
    if (meanwhile) {
      lock.unlock();
      meanwhile();
      lock.lock();
    }
  }
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
  while (!changed_.wait_for(lock, kMeanwhile, [this] { return closed_ || !queue_.empty(); })) {
    if (meanwhile) {
      lock.unlock();
      meanwhile();
      lock.lock();
    }
  }
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
