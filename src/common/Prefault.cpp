#include "Prefault.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tamsel {

void PrefaultForWriting(void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  static const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  if (bytes < 16 * page || page == 0) return;  // not worth a system call
  const auto begin = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
  const auto end = (reinterpret_cast<uintptr_t>(data) + bytes) / page * page;
  if (end > begin) {
    // Kernels before 5.14 refuse the call; the pages are then faulted in as they are written.
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
  }
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace tamsel
