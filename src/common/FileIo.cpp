#include "FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace tamsel {

fs::path ToPath(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string FromPath(const fs::path& path) {
  std::u8string s = path.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  auto st = fs::status(ToPath(path), ec);
  return !ec && fs::exists(st) && !fs::is_directory(st);
}

std::optional<std::uint64_t> FileSizeOf(const std::string& path) {
  std::error_code ec;
  auto size = fs::file_size(ToPath(path), ec);
  if (ec) return std::nullopt;
  return size;
}

static std::string SystemReason(int err) {
  return std::error_code(err, std::generic_category()).message();
}

void ReadFileChunks(const std::string& path, const std::function<void(std::string_view)>& take) {
  std::ifstream in(ToPath(path), std::ios::binary);
  if (!in) throw FileError(path, "无法打开文件：" + SystemReason(errno));
  char buf[1 << 16];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    take(std::string_view(buf, static_cast<size_t>(in.gcount())));
  }
  if (in.bad()) throw FileError(path, "读取文件出错：" + SystemReason(errno));
}

std::string ReadFileBytes(const std::string& path) {
  std::string bytes;
  std::error_code ec;
  auto size = fs::file_size(ToPath(path), ec);
  if (!ec) bytes.reserve(static_cast<size_t>(size));
  ReadFileChunks(path, [&bytes](std::string_view piece) { bytes.append(piece); });
  return bytes;
}

namespace {

/// Six random characters for a fresh file name.
std::string RandomSuffix() {
  static const char CHARS[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  std::string s;
  for (int i = 0; i < 6; ++i) s += CHARS[rd() % 36];
  return s;
}

constexpr const char* READ_ONLY_REASON = "文件是只读的（没有写权限），不替换它";

}  // namespace

#ifdef _WIN32

NewFile CreateNewFile(const std::string& preferred) {
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = attempt == 0 ? preferred : preferred + "." + RandomSuffix();
    // _O_EXCL fails on any name that exists, links included.
    const int fd = _wopen(ToPath(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    if (fd >= 0) return {fd, path};
    err = errno;
    if (err != EEXIST) break;
  }
  throw FileError(preferred, "无法创建临时文件：" + SystemReason(err));
}

std::string CreateNewFolder(const std::string& prefix) {
  DWORD err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = prefix + RandomSuffix();
    // Fails on any name that exists, links included.
    if (CreateDirectoryW(ToPath(path).c_str(), nullptr)) return path;
    err = GetLastError();
    if (err != ERROR_ALREADY_EXISTS) break;
  }
  throw FileError(prefix, "无法创建临时文件夹：" +
                              std::error_code(int(err), std::system_category()).message());
}

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails on any name that exists.
  if (MoveFileExW(ToPath(from).c_str(), ToPath(to).c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
  const DWORD err = GetLastError();
  return err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS ? EEXIST : EACCES;
}

// Debt: Windows has no files without a name that can be given one later (a file opened to be
// deleted on close cannot be kept); callers fall back to named temporary files.
int CreateUnnamedFile(const std::string&) { return -1; }
std::string DescriptorPath(int) { return ""; }
std::string NameNewFile(int, const std::string& preferred) {
  throw FileError(preferred, "无法创建临时文件：不支持");
}
int NameNewFileExactly(int, const std::string&) { return ENOTSUP; }

namespace {
bool FileIdOf(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
  return h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
}
}  // namespace

bool IsSameFile(int fd, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!FileIdOf(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), a)) return false;
  HANDLE h = CreateFileW(ToPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool ok = FileIdOf(h, b);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return ok && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow &&
         !(b.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsWriteProtected(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(ToPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void WriteFileThroughTemp(const std::string& target, const std::string& tmpPath,
                          std::string_view bytes) {
  if (FileExists(target) && IsWriteProtected(target)) throw FileError(target, READ_ONLY_REASON);
  NewFile created;
  try {
    created = CreateNewFile(tmpPath);
  } catch (const FileError& e) {
    throw FileError(target, std::string(e.what()) + "（" + tmpPath + "）");
  }
  const fs::path tmp = ToPath(created.path);
  FILE* f = _fdopen(created.fd, "wb");
  if (!f) {
    _close(created.fd);
    _wremove(tmp.c_str());
    throw FileError(target, "写入文件失败：" + SystemReason(errno));
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0 &&
            _commit(_fileno(f)) == 0;
  int err = errno;
  const bool ours = IsSameFile(_fileno(f), created.path);
  ok = (std::fclose(f) == 0) && ok;
  if (!ours) throw FileError(target, "临时文件" + created.path + "被换掉了，没有写入");
  if (ok && !MoveFileExW(tmp.c_str(), ToPath(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    err = EACCES;
  }
  if (!ok) {
    std::error_code ec;
    fs::remove(tmp, ec);
    throw FileError(target, "写入文件失败：" + SystemReason(err));
  }
}

std::string ExecutableDir() {
  wchar_t buf[32768];
  DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  if (n == 0 || n >= 32768) return "";
  return FromPath(fs::path(std::wstring(buf, n)).parent_path());
}

#else

NewFile CreateNewFile(const std::string& preferred) {
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = attempt == 0 ? preferred : preferred + "." + RandomSuffix();
    // O_EXCL fails on any name that exists, a link (even a dangling one) included.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return {fd, path};
    err = errno;
    if (err != EEXIST) break;
  }
  throw FileError(preferred, "无法创建临时文件：" + SystemReason(err));
}

std::string CreateNewFolder(const std::string& prefix) {
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = prefix + RandomSuffix();
    // mkdir fails on any name that exists, a link (even a dangling one) included.
    if (::mkdir(path.c_str(), 0700) == 0) return path;
    err = errno;
    if (err != EEXIST) break;
  }
  throw FileError(prefix, "无法创建临时文件夹：" + SystemReason(err));
}

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
#if defined(__linux__)
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
#elif defined(__APPLE__)
  if (::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0) return 0;
  if (errno != ENOTSUP) return errno;
#endif
  // A file system without an atomic no-replace rename: a second link fails on a taken name.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  // Nor hard links (FAT and the like): checked, then renamed, with a short window between.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

#if defined(__linux__) && defined(O_TMPFILE)

int CreateUnnamedFile(const std::string& dir) {
  // The tests set this to cover the named temporary files of the other systems.
  if (const char* named = std::getenv("TAMSEL_NAMED_TEMPORARIES"); named && *named) return -1;
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  return fd >= 0 ? fd : -1;
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

int NameNewFileExactly(int fd, const std::string& path) {
  // A link of the descriptor's file under the new name; linkat never replaces a name.
  if (::linkat(AT_FDCWD, DescriptorPath(fd).c_str(), AT_FDCWD, path.c_str(),
               AT_SYMLINK_FOLLOW) == 0) {
    return 0;
  }
  return errno;
}

#else

// Debt: only Linux has files without a name that can be given one later; elsewhere callers
// fall back to named temporary files.
int CreateUnnamedFile(const std::string&) { return -1; }
std::string DescriptorPath(int) { return ""; }
int NameNewFileExactly(int, const std::string&) { return ENOTSUP; }

#endif

std::string NameNewFile(int fd, const std::string& preferred) {
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = attempt == 0 ? preferred : preferred + "." + RandomSuffix();
    err = NameNewFileExactly(fd, path);
    if (err == 0) return path;
    if (err != EEXIST) break;
  }
  throw FileError(preferred, "无法创建临时文件：" + SystemReason(err));
}

bool IsSameFile(int fd, const std::string& path) {
  struct stat a, b;
  return ::fstat(fd, &a) == 0 && ::lstat(path.c_str(), &b) == 0 && S_ISREG(b.st_mode) &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsWriteProtected(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & S_IWUSR) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

void WriteFileThroughTemp(const std::string& target, const std::string& tmpPath,
                          std::string_view bytes) {
  mode_t mode = 0666;
  struct stat st;
  const bool targetExists = ::stat(target.c_str(), &st) == 0;
  if (targetExists) {
    if (IsWriteProtected(target)) throw FileError(target, READ_ONLY_REASON);
    mode = st.st_mode & 07777;
  }

  NewFile created;
  try {
    created = CreateNewFile(tmpPath);
  } catch (const FileError& e) {
    throw FileError(target, std::string(e.what()) + "（" + tmpPath + "）");
  }
  const int fd = created.fd;
  const std::string& tmp = created.path;
  auto fail = [&](int err, const char* what) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw FileError(target, std::string(what) + SystemReason(err));
  };
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno, "写入文件失败：");
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (targetExists) ::fchmod(fd, mode);
  if (::fsync(fd) != 0) fail(errno, "写入文件失败：");
  // Only the file we made is renamed: if something else has taken its name since, leave both.
  if (!IsSameFile(fd, tmp)) {
    ::close(fd);
    throw FileError(target, "临时文件" + tmp + "被换掉了，没有写入");
  }
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    throw FileError(target, "写入文件失败：" + SystemReason(errno));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw FileError(target, "无法替换文件：" + SystemReason(err));
  }
  // Make the rename itself durable.
  std::string dir = FromPath(ToPath(target).parent_path());
  int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

std::string ExecutableDir() {
#ifdef __APPLE__
  char buf[4096];
  uint32_t size = sizeof buf;
  if (_NSGetExecutablePath(buf, &size) != 0) return "";
  std::error_code ec;
  fs::path exe = fs::canonical(buf, ec);
#else
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
#endif
  if (ec) return "";
  return FromPath(exe.parent_path());
}

#endif

}  // namespace tamsel
