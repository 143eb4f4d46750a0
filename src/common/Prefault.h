#pragma once

#include <cstddef>

namespace tamsel {

/// Asks the system to back [data, data + bytes) with memory now, in one call, instead of one
/// page fault at a time as it is first written. On some virtual machines the first write to a
/// new page costs several microseconds, half of which this saves, and the builder's working
/// arrays run to megabytes. Only whole pages inside the range are touched; does nothing where
/// the system has no such call. Never fails: the pages are then faulted in as usual.
void PrefaultForWriting(void* data, size_t bytes);

/// Gives `v` room for `n` elements, backed at once, without changing its contents; a later
/// resize or assign within that room then writes into memory that is already there.
template <typename Vector>
void ReservePrefaulted(Vector& v, size_t n) {
  v.reserve(n);
  PrefaultForWriting(v.data() + v.size(), (v.capacity() - v.size()) * sizeof(*v.data()));
}

}  // namespace tamsel
