#include "FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
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

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(ToPath(path), std::ios::binary);
  if (!in) throw FileError(path, "无法打开文件：" + SystemReason(errno));
  std::string bytes;
  std::error_code ec;
  auto size = fs::file_size(ToPath(path), ec);
  if (!ec) bytes.reserve(static_cast<size_t>(size));
  char buf[1 << 16];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) bytes.append(buf, static_cast<size_t>(in.gcount()));
  if (in.bad()) throw FileError(path, "读取文件出错：" + SystemReason(errno));
  return bytes;
}

#ifdef _WIN32

void WriteFileThroughTemp(const std::string& target, const std::string& tmpPath,
                          std::string_view bytes) {
  const fs::path tmp = ToPath(tmpPath);
  FILE* f = _wfopen(tmp.c_str(), L"wb");
  if (!f) throw FileError(tmpPath, "无法创建临时文件：" + SystemReason(errno));
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0 &&
            _commit(_fileno(f)) == 0;
  int err = errno;
  ok = (std::fclose(f) == 0) && ok;
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

void WriteFileThroughTemp(const std::string& target, const std::string& tmpPath,
                          std::string_view bytes) {
  auto fail = [&](int err, const char* what) {
    ::unlink(tmpPath.c_str());
    throw FileError(target, std::string(what) + SystemReason(err));
  };
  mode_t mode = 0666;
  struct stat st;
  const bool targetExists = ::stat(target.c_str(), &st) == 0;
  if (targetExists) mode = st.st_mode & 07777;

  int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError(target, "无法创建临时文件" + tmpPath + "：" + SystemReason(errno));
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      fail(err, "写入文件失败：");
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (targetExists) ::fchmod(fd, mode);
  if (::fsync(fd) != 0) {
    int err = errno;
    ::close(fd);
    fail(err, "写入文件失败：");
  }
  if (::close(fd) != 0) fail(errno, "写入文件失败：");
  if (::rename(tmpPath.c_str(), target.c_str()) != 0) fail(errno, "无法替换文件：");
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
