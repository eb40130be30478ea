// The signal watch behind Ctrl-C in the calls that run without the interpreter lock.
#include "python/interrupt.hpp"

namespace linetopo::py_interrupt {

SignalWatch::SignalWatch() {
  // Handlers run only in the main thread: elsewhere there is nothing to poll for.
  const py::object main = py::module_::import("threading").attr("main_thread")();
  main_thread_ = PyThread_get_thread_ident() == main.attr("ident").cast<unsigned long>();
}

CancelCheck SignalWatch::check() {
  return [this] { return stopped_.load(std::memory_order_acquire); };
}

void SignalWatch::poll() {
  if (stopped_.load(std::memory_order_relaxed)) return;
  py::gil_scoped_acquire locked;
  if (PyErr_CheckSignals() != 0) {
    error_.emplace();  // takes the handler's exception off the thread
    stopped_.store(true, std::memory_order_release);
  }
}

void SignalWatch::raise_if_stopped() {
  if (error_) throw std::move(*error_);
}

}  // namespace linetopo::py_interrupt
