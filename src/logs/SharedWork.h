#pragma once

#include <cstddef>  // the standard library's configuration, which tells whether it has threads

// Where the standard library has no threads (MinGW's win32 thread model), logs are read one after
// the other, each whole.
#if defined(_GLIBCXX_HAS_GTHREADS) || !defined(__GLIBCXX__)
#define QUORVANE_READ_IN_PARALLEL 1
#endif

#ifdef QUORVANE_READ_IN_PARALLEL
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#endif

namespace quorvane {

#ifdef QUORVANE_READ_IN_PARALLEL

// Work for whichever thread gets to it first: a helper that took it from a WorkQueue, or the
// thread that needs it done, which runs it itself when no helper has taken it. So a thread waiting
// for it never waits on a helper that has gone.
class SharedWork {
 public:
  // The work is given what the thread running it does now and then meanwhile (passing on
  // progress), to call as it goes.
  using Work = std::function<void(const std::function<void()>& meanwhile)>;
  explicit SharedWork(Work work) : work_(std::move(work)) {}
  SharedWork(const SharedWork&) = delete;
  SharedWork& operator=(const SharedWork&) = delete;

  // Runs the work unless another thread has taken it, giving it `meanwhile`.
  void RunIfFree(const std::function<void()>& meanwhile = {});
  // Returns once the work has run: run here when nobody took it (given `meanwhile`), else waited
  // for, calling `meanwhile` every 20 ms. Throws what the work threw.
  void Finish(const std::function<void()>& meanwhile = {});
  // Returns once nobody runs the work: it is not run when nobody took it yet.
  void Withdraw();

 private:
  enum class State { Free, Running, Done };
  // Takes the work when it is free.
  bool Take();

  Work work_;
  std::mutex mutex_;
  std::condition_variable done_;
  State state_ = State::Free;
  std::exception_ptr thrown_;
};

// Work that tasks hand to helper threads while they go on. A helper waits for more until the
// queue is closed, when no task can post any more.
class WorkQueue {
 public:
  void Post(std::shared_ptr<SharedWork> work);
  // The next work posted, waiting while there is none and the queue is open (calling `meanwhile`
  // every 20 ms); nothing once it is closed and empty.
  std::shared_ptr<SharedWork> Take(const std::function<void()>& meanwhile = {});
  void Close();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<SharedWork>> queue_;
  bool closed_ = false;
};

#else

class WorkQueue;

#endif

// Runs `elsewhere` on a second core while this thread runs `here`, and returns once both are
// done; where no second thread is to be had, this thread runs both.
template <typename Elsewhere, typename Here>
void AtOnce(const Elsewhere& elsewhere, const Here& here) {
#ifdef QUORVANE_READ_IN_PARALLEL
  std::future<void> other;
  try {
    other = std::async(std::launch::async, [&] { elsewhere(); });
  } catch (const std::system_error&) {
    elsewhere();
  }
  here();
  if (other.valid())
    other.get();
#else
  elsewhere();
  here();
#endif
}

// Runs work(first, last) over items [0, count): from 65,536 items on (and unless `twoCores` is
// false) in two halves, the first half on a second core. A pass over millions of rows is bound
// by the memory, which two cores reach faster than one.
template <typename Work>
void InTwoHalves(std::size_t count, const Work& work, bool twoCores = true) {
  if (!twoCores || count < (std::size_t{1} << 16)) {
    work(std::size_t{0}, count);
    return;
  }
  AtOnce([&] { work(std::size_t{0}, count / 2); }, [&] { work(count / 2, count); });
}

}  // namespace quorvane
