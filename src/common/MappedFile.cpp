#include "MappedFile.h"

#include <cerrno>
#include <system_error>
#include <utility>

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
}

void MappedFile::Unmap() {
  if (m_base) UnmapViewOfFile(m_base);
}

#else

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
  ::close(fd);  // the mapping holds the file from here on
  if (base == MAP_FAILED) throw FileError(path, CANNOT_MAP + SystemReason(err));
  m_base = base;
  m_mappedBytes = bytes;
  m_data = static_cast<const unsigned char*>(base) + (offset - start);
  m_size = length;
}

void MappedFile::Unmap() {
  if (m_base) ::munmap(m_base, size_t(m_mappedBytes));
}

#endif

MappedFile::~MappedFile() { Unmap(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_base(std::exchange(other.m_base, nullptr)),
      m_mappedBytes(std::exchange(other.m_mappedBytes, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Unmap();
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
    m_base = std::exchange(other.m_base, nullptr);
    m_mappedBytes = std::exchange(other.m_mappedBytes, 0);
  }
  return *this;
}

}  // namespace tamsel
