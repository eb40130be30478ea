// Ctrl-C for the calls that run without the interpreter lock: the core asks a CancelCheck inside
// and between its stages, and this one answers it from Python's pending signals.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "pipeline/pipeline.hpp"

namespace linetopo::py_interrupt {

namespace py = pybind11;

// Python runs signal handlers only in the main thread and only under the interpreter lock. So
// when the calling thread is the main thread, the run goes to a thread of its own while the
// caller waits for it and, every kPollInterval, takes the lock for a moment to run the handlers:
// however long one piece of the run's work takes, a signal is seen within that interval. The
// exception a handler raises (KeyboardInterrupt for Ctrl-C) is kept, and every thread of the run
// stops at its next check, which only reads a flag.
class SignalWatch {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{50};

  SignalWatch();  // with the interpreter lock held

  // Whether signals can arrive for this caller: only the main thread runs their handlers.
  bool watches() const { return main_thread_; }

  // The check for the core; it refers to this watch, which must outlive the run.
  CancelCheck check();

  // Without the interpreter lock: runs the handlers of pending signals, and stops the run if
  // one raised.
  void poll();

  // With the interpreter lock held: raises the handler's exception if one stopped the run.
  void raise_if_stopped();

 private:
  bool main_thread_ = false;
  std::atomic<bool> stopped_{false};
  std::optional<py::error_already_set> error_;
};

// fn(check) without the interpreter lock. When a signal handler raises while it runs, that
// exception comes out in place of fn's result or of what fn threw.
template <class Fn>
std::invoke_result_t<Fn, CancelCheck> run_interruptible(Fn&& fn) {
  using Result = std::invoke_result_t<Fn, CancelCheck>;
  SignalWatch watch;
  std::optional<Result> result;
  std::exception_ptr failure;
  {
    py::gil_scoped_release unlocked;
    const auto work = [&] {
      try {
        result.emplace(std::forward<Fn>(fn)(watch.check()));
      } catch (...) {
        failure = std::current_exception();
      }
    };
    if (!watch.watches()) {
      work();
    } else {
      std::mutex mutex;
      std::condition_variable finished;
      bool done = false;
      std::thread runner([&] {
        work();
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_one();
      });
      std::unique_lock<std::mutex> lock(mutex);
      while (!finished.wait_for(lock, SignalWatch::kPollInterval, [&] { return done; })) {
        lock.unlock();
        watch.poll();
        lock.lock();
      }
      lock.unlock();
      runner.join();
    }
  }
  watch.raise_if_stopped();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

}  // namespace linetopo::py_interrupt
