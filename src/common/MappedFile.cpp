#include "MappedFile.h"

#include <cerrno>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <signal.h>

#include <atomic>
#include <mutex>
#endif

#include "FileIo.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tamsel {

namespace {

constexpr const char* CANNOT_MAP = "无法映射文件：";

#ifdef _WIN32
std::string SystemReason(DWORD err) {
  return std::error_code(int(err), std::system_category()).message();
}
#else
std::string SystemReason(int err) {
  return std::error_code(err, std::generic_category()).message();
}
#endif

}  // namespace

#ifdef _WIN32

MappedFile::MappedFile(const std::string& path, uint64_t offset, uint64_t length) {
  HANDLE file = CreateFileW(ToPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw FileError(path, "无法打开文件：" + SystemReason(GetLastError()));
  }
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(file, &fileSize)) {
    const DWORD err = GetLastError();
    CloseHandle(file);
    throw FileError(path, CANNOT_MAP + SystemReason(err));
  }
  const uint64_t end = uint64_t(fileSize.QuadPart);
  m_path = path;
  m_fileSize = end;
  if (offset >= end || length == 0) {
    CloseHandle(file);
    return;
  }
  if (length > end - offset) length = end - offset;

  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const uint64_t start = offset - offset % info.dwAllocationGranularity;
  const uint64_t bytes = offset - start + length;
  if (bytes > SIZE_MAX) {
    CloseHandle(file);
    throw FileError(path, std::string(CANNOT_MAP) + "文件太大");
  }
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const DWORD mappingErr = GetLastError();
  CloseHandle(file);  // the mapping holds the file from here on
  if (!mapping) throw FileError(path, CANNOT_MAP + SystemReason(mappingErr));
  void* view =
      MapViewOfFile(mapping, FILE_MAP_READ, DWORD(start >> 32), DWORD(start), SIZE_T(bytes));
  const DWORD viewErr = GetLastError();
  CloseHandle(mapping);  // and the view holds the mapping
  if (!view) throw FileError(path, CANNOT_MAP + SystemReason(viewErr));
  m_base = view;
  m_mappedBytes = bytes;
  m_data = static_cast<const unsigned char*>(view) + (offset - start);
  m_size = length;
  m_viewEnd = offset + length;
}

void MappedFile::Unmap() {
  if (m_base) UnmapViewOfFile(m_base);
}

std::optional<uint64_t> MappedFile::ShrunkTo() const { return std::nullopt; }

#else

namespace {

/// The views whose lost pages the SIGBUS handler replaces. The handler reads this table on
/// whichever thread faulted while other threads add and remove views, so an entry is published
/// through atomics: its end before its begin, and withdrawn begin first.
struct GuardedView {
  std::atomic<bool> taken{false};
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> lost{false};
};
constexpr int GUARDED_VIEWS = 64;
GuardedView g_views[GUARDED_VIEWS];
uintptr_t g_pageBytes = 4096;
struct sigaction g_otherBusHandler;

/// A read of a page of a guarded view that the file no longer holds: the view, from that page
/// to its end, becomes zero pages, and the read is made again when the handler returns. Any
/// other SIGBUS goes where it went before (by default it ends the program). mmap is not on
/// POSIX's list of calls safe in a handler, but where this runs it is a plain system call.
void OnBusError(int sig, siginfo_t* info, void* context) {
  if (info && info->si_code > 0) {  // raised by the system for a fault, not sent by a program
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (GuardedView& v : g_views) {
      const uintptr_t begin = v.begin.load(std::memory_order_acquire);
      const uintptr_t end = v.end.load(std::memory_order_acquire);
      if (begin == 0 || at < begin || at >= end ||
          v.begin.load(std::memory_order_acquire) != begin) {
        continue;
      }
      const uintptr_t from = at / g_pageBytes * g_pageBytes;
      void* zeros = ::mmap(reinterpret_cast<void*>(from), end - from, PROT_READ,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
      if (zeros == MAP_FAILED) break;
      v.lost.store(true, std::memory_order_release);
      return;
    }
  }
  const struct sigaction& other = g_otherBusHandler;
  if ((other.sa_flags & SA_SIGINFO) && other.sa_sigaction) {
    other.sa_sigaction(sig, info, context);
    return;
  }
  if (!(other.sa_flags & SA_SIGINFO) && other.sa_handler != SIG_DFL &&
      other.sa_handler != SIG_IGN) {
    other.sa_handler(sig);
    return;
  }
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(sig, &fallback, nullptr);
  ::raise(sig);  // delivered once this returns, as the fault would be again
}

/// Enters the mapping [base, base + bytes) in the handler's table (installing the handler the
/// first time); its index, or -1 when the table is full (the view then goes unguarded).
int Guard(const void* base, uint64_t bytes) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    g_pageBytes = uintptr_t(::sysconf(_SC_PAGESIZE));
    struct sigaction handler = {};
    handler.sa_sigaction = OnBusError;
    handler.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&handler.sa_mask);
    ::sigaction(SIGBUS, &handler, &g_otherBusHandler);
  });
  for (int i = 0; i < GUARDED_VIEWS; ++i) {
    bool free = false;
    if (!g_views[i].taken.compare_exchange_strong(free, true)) continue;
    g_views[i].lost.store(false, std::memory_order_release);
    g_views[i].end.store(reinterpret_cast<uintptr_t>(base) + bytes, std::memory_order_release);
    g_views[i].begin.store(reinterpret_cast<uintptr_t>(base), std::memory_order_release);
    return i;
  }
  return -1;
}

void Unguard(int index) {
  if (index < 0) return;
  GuardedView& v = g_views[index];
  v.begin.store(0, std::memory_order_release);
  v.end.store(0, std::memory_order_release);
  v.taken.store(false, std::memory_order_release);
}

}  // namespace

MappedFile::MappedFile(const std::string& path, uint64_t offset, uint64_t length) {
  // Not blocking: a pipe in the file's place must fail here, not hang the opening.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw FileError(path, "无法打开文件：" + SystemReason(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    throw FileError(path, CANNOT_MAP + SystemReason(err));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw FileError(path, std::string(CANNOT_MAP) + "不是普通文件");
  }
  const uint64_t end = st.st_size > 0 ? uint64_t(st.st_size) : 0;
  m_path = path;
  m_fileSize = end;
  if (offset >= end || length == 0) {
    ::close(fd);
    return;
  }
  if (length > end - offset) length = end - offset;

  const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
  const uint64_t start = offset - offset % page;
  const uint64_t bytes = offset - start + length;
  if (bytes > SIZE_MAX) {
    ::close(fd);
    throw FileError(path, std::string(CANNOT_MAP) + "文件太大");
  }
  void* base = ::mmap(nullptr, size_t(bytes), PROT_READ, MAP_SHARED, fd, off_t(start));
  const int err = errno;
  if (base == MAP_FAILED) {
    ::close(fd);
    throw FileError(path, CANNOT_MAP + SystemReason(err));
  }
  m_base = base;
  m_mappedBytes = bytes;
  m_data = static_cast<const unsigned char*>(base) + (offset - start);
  m_size = length;
  m_viewEnd = offset + length;
  m_fd = fd;  // kept to tell the file's size later; the mapping alone would hold the file
  m_guard = Guard(base, bytes);
}

void MappedFile::Unmap() {
  Unguard(m_guard);
  if (m_base) ::munmap(m_base, size_t(m_mappedBytes));
  if (m_fd >= 0) ::close(m_fd);
}

std::optional<uint64_t> MappedFile::ShrunkTo() const {
  if (m_fd < 0) return std::nullopt;
  const bool lost = m_guard >= 0 && g_views[m_guard].lost.load(std::memory_order_acquire);
  struct stat st;
  if (::fstat(m_fd, &st) != 0) return lost ? std::optional<uint64_t>(0) : std::nullopt;
  const uint64_t now = st.st_size > 0 ? uint64_t(st.st_size) : 0;
  if (lost || now < m_viewEnd) return now;
  return std::nullopt;
}

#endif

MappedFile::~MappedFile() { Unmap(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_base(std::exchange(other.m_base, nullptr)),
      m_mappedBytes(std::exchange(other.m_mappedBytes, 0)),
      m_path(std::exchange(other.m_path, {})),
      m_fileSize(std::exchange(other.m_fileSize, 0)),
      m_viewEnd(std::exchange(other.m_viewEnd, 0)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_guard(std::exchange(other.m_guard, -1)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Unmap();
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
    m_base = std::exchange(other.m_base, nullptr);
    m_mappedBytes = std::exchange(other.m_mappedBytes, 0);
    m_path = std::exchange(other.m_path, {});
    m_fileSize = std::exchange(other.m_fileSize, 0);
    m_viewEnd = std::exchange(other.m_viewEnd, 0);
    m_fd = std::exchange(other.m_fd, -1);
    m_guard = std::exchange(other.m_guard, -1);
  }
  return *this;
}

}  // namespace tamsel
