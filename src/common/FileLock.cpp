#include "FileLock.h"

#include <cerrno>
#include <system_error>

#include "FileIo.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tamsel {

namespace {

constexpr const char* NOT_A_LOCK_FILE =
    "不是普通文件（是符号链接、文件夹或管道），不能用作锁文件，请删除或改名后重试。";

}  // namespace

#ifdef _WIN32

bool FileLock::TryLock(const std::string& path) {
  Unlock();
  // Opening without sharing for writing is the lock; the reparse-point flag opens a link
  // itself rather than what it points to, and a link is then refused.
  HANDLE h = CreateFileW(ToPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                         FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION) return false;
    // A folder that takes no new file: nothing to guard (see the header).
    if (err == ERROR_ACCESS_DENIED || err == ERROR_WRITE_PROTECT) return true;
    throw FileError(path, "无法创建锁文件：" +
                              std::error_code(int(err), std::system_category()).message());
  }
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(h);
    throw FileError(path, NOT_A_LOCK_FILE);
  }
  m_handle = h;
  m_path = path;
  // An empty lock file found here was left by a holder that was killed (see the header).
  m_remove = created || (info.nFileSizeHigh == 0 && info.nFileSizeLow == 0);
  return true;
}

void FileLock::Unlock() {
  if (m_handle == INVALID) return;
  if (m_remove) {
    FILE_DISPOSITION_INFO gone{TRUE};
    SetFileInformationByHandle(m_handle, FileDispositionInfo, &gone, sizeof gone);
  }
  CloseHandle(m_handle);
  m_handle = INVALID;
}

#else

bool FileLock::TryLock(const std::string& path) {
  Unlock();
  // A holder that made the lock file removes it on letting go: a lock taken on a file that has
  // lost its name meanwhile is let go and taken again on the name's new file.
  for (int attempt = 0; attempt < 100; ++attempt) {
    bool created = true;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
      created = false;
      // Never blocks, not even on a pipe, and never follows a link.
      fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;  // let go and removed meanwhile
    } else if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
      return true;  // a folder that takes no new file: nothing to guard (see the header)
    }
    if (fd < 0) {
      const int err = errno;
      if (err == ELOOP || err == EISDIR) throw FileError(path, NOT_A_LOCK_FILE);
      throw FileError(path, "无法创建锁文件：" + std::error_code(err, std::generic_category()).message());
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      throw FileError(path, NOT_A_LOCK_FILE);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      if (err == EWOULDBLOCK) return false;
      throw FileError(path, "无法加锁：" + std::error_code(err, std::generic_category()).message());
    }
    if (!IsSameFile(fd, path)) {
      ::close(fd);
      continue;
    }
    m_handle = fd;
    m_path = path;
    // An empty lock file found here was left by a holder that was killed (see the header).
    m_remove = created || st.st_size == 0;
    return true;
  }
  throw FileError(path, "无法加锁：锁文件不停地被换掉。");
}

void FileLock::Unlock() {
  if (m_handle == INVALID) return;
  // Removed while still locked, and only when it is still the file this lock holds.
  if (m_remove && IsSameFile(m_handle, m_path)) ::unlink(m_path.c_str());
  ::close(m_handle);
  m_handle = INVALID;
}

#endif

}  // namespace tamsel
