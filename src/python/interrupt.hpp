// Ctrl-C for the calls that run without the interpreter lock: the core asks a CancelCheck between
// stages and jobs, and this one answers it from Python's pending signals.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "pipeline/pipeline.hpp"

namespace linetopo::py_interrupt {

namespace py = pybind11;

// Python runs signal handlers only in the main thread and only under the interpreter lock. So
// when the calling thread is the main thread, it takes the lock for a moment, at most once per
// kPollInterval, to run them; the exception a handler raises (KeyboardInterrupt for Ctrl-C) is
// kept, and every thread of the run stops at its next check. Other threads only read the flag.
class SignalWatch {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{50};

  SignalWatch();  // with the interpreter lock held

  // The check for the core; it refers to this watch, which must outlive the run.
  CancelCheck check();

  // With the interpreter lock held: raises the handler's exception if one stopped the run.
  void raise_if_stopped();

 private:
  bool poll();

  std::thread::id caller_ = std::this_thread::get_id();
  bool main_thread_ = false;
  std::chrono::steady_clock::time_point next_poll_{};
  std::atomic<bool> stopped_{false};
  std::optional<py::error_already_set> error_;
};

// fn(check) without the interpreter lock. When a signal handler raises while it runs, that
// exception comes out in place of fn's result or of what fn threw.
template <class Fn>
std::invoke_result_t<Fn, CancelCheck> run_interruptible(Fn&& fn) {
  SignalWatch watch;
  std::optional<std::invoke_result_t<Fn, CancelCheck>> result;
  try {
    py::gil_scoped_release unlocked;
    result.emplace(std::forward<Fn>(fn)(watch.check()));
  } catch (...) {
    watch.raise_if_stopped();
    throw;
  }
  watch.raise_if_stopped();
  return std::move(*result);
}

}  // namespace linetopo::py_interrupt
