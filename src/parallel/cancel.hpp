// Stopping a run from outside: every long stage asks a CancelCheck between its pieces of work.
#pragma once

#include <exception>
#include <functional>

namespace linetopo {

// Asked between the stages of a run, between batch jobs and inside each long stage; true stops
// the run. It is called from worker threads too, so it must be safe to call concurrently.
using CancelCheck = std::function<bool()>;

// What a run throws when its CancelCheck asked it to stop.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

inline void throw_if_cancelled(const CancelCheck& cancelled) {
  if (cancelled && cancelled()) throw Cancelled();
}

}  // namespace linetopo
