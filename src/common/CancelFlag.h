#pragma once

#include <atomic>
#include <exception>

namespace tamsel {

/// Asks a long job (a preparation, a child process, the side-file builder) to stop. Set it from
/// any thread, or from a signal handler (it is lock-free); the job looks at it between pieces of
/// its work, ends the programs it runs, removes what it made and returns as soon as it can. Jobs
/// take it as `const CancelFlag*`; a null pointer means the job is never cancelled.
using CancelFlag = std::atomic<bool>;

static_assert(CancelFlag::is_always_lock_free, "a signal handler must be able to set it");

/// Whether `cancel` is given and set. The flag carries no data, so no ordering is asked for.
inline bool CancelRequested(const CancelFlag* cancel) {
  return cancel && cancel->load(std::memory_order_relaxed);
}

/// Thrown inside a long job once its flag is seen set, and caught where the job began, which then
/// returns without telling the user anything: a cancel is the user's own doing.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

/// Throws Cancelled when `cancel` is set.
inline void ThrowIfCancelled(const CancelFlag* cancel) {
  if (CancelRequested(cancel)) throw Cancelled();
}

}  // namespace tamsel
