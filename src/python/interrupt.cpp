// The signal watch behind Ctrl-C in topologize and topologize_batch.
#include "python/interrupt.hpp"

namespace linetopo::py_interrupt {

SignalWatch::SignalWatch() {
  // Handlers run only in the main thread: elsewhere there is nothing to poll for.
  const py::object main = py::module_::import("threading").attr("main_thread")();
  main_thread_ = PyThread_get_thread_ident() == main.attr("ident").cast<unsigned long>();
}

CancelCheck SignalWatch::check() {
  return [this] { return poll(); };
}

bool SignalWatch::poll() {
  if (main_thread_ && std::this_thread::get_id() == caller_ &&
      !stopped_.load(std::memory_order_relaxed)) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= next_poll_) {
      next_poll_ = now + kPollInterval;
      py::gil_scoped_acquire locked;
      if (PyErr_CheckSignals() != 0) {
        error_.emplace();  // takes the handler's exception off the thread
        stopped_.store(true, std::memory_order_release);
      }
    }
  }
  return stopped_.load(std::memory_order_acquire);
}

void SignalWatch::raise_if_stopped() {
  if (error_) throw std::move(*error_);
}

}  // namespace linetopo::py_interrupt
