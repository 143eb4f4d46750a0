#include "FileIo.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <system_error>

#include "ChildProcess.h"

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
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
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

namespace {

/// What a thing that is not a regular file is, in the user's words.
const char* KindName(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo:
      return "命名管道（FIFO）";
    case fs::file_type::character:
    case fs::file_type::block:
      return "设备文件";
    case fs::file_type::directory:
      return "文件夹";
    case fs::file_type::socket:
      return "套接字";
    default:
      return "特殊文件";
  }
}

std::string NotRegularForReading(fs::file_type type) {
  return std::string("不是普通文件，而是") + KindName(type) + "，无法读取；请删掉它或改名后再试。";
}

/// The type of what stands at `path`, a link followed; none when nothing (or nothing that can
/// be looked at) is there.
std::optional<fs::file_type> TypeAt(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(ToPath(path), ec);
  if (ec || !fs::exists(status)) return std::nullopt;
  return status.type();
}

}  // namespace

std::string NotRegularFileReason(const std::string& path) {
  const auto type = TypeAt(path);
  if (!type || *type == fs::file_type::regular) return "";
  return NotRegularForReading(*type);
}

void ReadFileChunks(const std::string& path, const std::function<void(std::string_view)>& take) {
  const int fd = OpenRegularFile(path);
  struct Closer {
    int fd;
    ~Closer() {
#ifdef _WIN32
      _close(fd);
#else
      ::close(fd);
#endif
    }
  } closer{fd};
  char buf[1 << 16];
  for (;;) {
#ifdef _WIN32
    const int n = _read(fd, buf, sizeof buf);
#else
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n < 0) throw FileError(path, "读取文件出错：" + SystemReason(errno));
    if (n == 0) break;
    take(std::string_view(buf, static_cast<size_t>(n)));
  }
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

constexpr const char* READ_ONLY_REASON = "文件是只读的（没有写权限），不替换它";
/// What a temporary name holds after the name it stands for, before the boot tag.
constexpr std::string_view TEMPORARY_MARK = ".tamsel-";
constexpr size_t BOOT_TAG_DIGITS = 8;

/// Six random characters for a fresh file name.
std::string RandomSuffix() {
  static const char CHARS[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  std::string s;
  for (int i = 0; i < 6; ++i) s += CHARS[rd() % 36];
  return s;
}

/// The first eight hexadecimal digits of the system's boot id, which changes with every start
/// of the system; zeros where there is none to be had.
const std::string& BootTag();
/// The id of the running process.
long long ProcessId();
/// Whether the process `pid` of this boot of the system may still be running (true when that
/// cannot be told).
bool ProcessMayLive(long long pid);
/// Whether a file last changed at `path` was changed before this boot of the system began (false
/// when that cannot be told).
bool ChangedBeforeThisBoot(const fs::path& path);

/// A fresh number for a temporary name of this process.
unsigned NextTemporaryNumber() {
  static std::atomic<unsigned> next{0};
  return next.fetch_add(1, std::memory_order_relaxed);
}

/// The boot tag and the process id of a temporary name's tail (after TEMPORARY_MARK): eight
/// lowercase hexadecimal digits, "-", the process id, "-", the number; nothing for any other tail.
std::optional<std::pair<std::string, long long>> ParseTemporaryTail(std::string_view tail) {
  const auto digits = [](std::string_view s, bool hex) {
    return !s.empty() && s.size() <= 18 &&
           s.find_first_not_of(hex ? "0123456789abcdef" : "0123456789") == std::string_view::npos;
  };
  if (tail.size() < BOOT_TAG_DIGITS + 4 || tail[BOOT_TAG_DIGITS] != '-') return std::nullopt;
  const std::string_view boot = tail.substr(0, BOOT_TAG_DIGITS);
  const std::string_view rest = tail.substr(BOOT_TAG_DIGITS + 1);
  const size_t dash = rest.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view pid = rest.substr(0, dash);
  if (!digits(boot, true) || !digits(pid, false) || !digits(rest.substr(dash + 1), false)) {
    return std::nullopt;
  }
  return std::pair{std::string(boot), std::stoll(std::string(pid))};
}

/// Whether the process that made a temporary file is surely gone.
bool MakerGone(const std::string& boot, long long pid, const fs::path& path) {
  // Another boot of this system, or another system that shares the folder, whose process may
  // well be alive: only what was last changed before this system started is surely left over.
  if (boot != BootTag()) return ChangedBeforeThisBoot(path);
  return !ProcessMayLive(pid);
}

/// Removes a leftover temporary file, or folder with the files directly in it (never following
/// a link); true when it is gone.
bool RemoveLeftover(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec) return false;
  if (fs::is_directory(status)) {
    for (const auto& entry : fs::directory_iterator(path, ec)) {
      std::error_code entryEc;
      const fs::file_status inner = entry.symlink_status(entryEc);
      if (!entryEc && (fs::is_regular_file(inner) || fs::is_symlink(inner))) {
        fs::remove(entry.path(), entryEc);
      }
    }
    return fs::remove(path, ec);  // only when it is empty now
  }
  return fs::is_regular_file(status) && fs::remove(path, ec);
}

}  // namespace

std::string TemporaryName(const std::string& preferred, unsigned number) {
  return preferred + std::string(TEMPORARY_MARK) + BootTag() + "-" + std::to_string(ProcessId()) +
         "-" + std::to_string(number);
}

size_t RemoveLeftoverTemporaries(const std::vector<std::string>& preferredNames) {
  // The names sought in each folder, each folder read once.
  std::map<fs::path, std::vector<std::string>> byFolder;
  for (const std::string& name : preferredNames) {
    const fs::path path = ToPath(name);
    byFolder[path.parent_path()].push_back(FromPath(path.filename()) + std::string(TEMPORARY_MARK));
  }
  size_t removed = 0;
  for (const auto& [folder, prefixes] : byFolder) {
    std::error_code ec;
    std::vector<fs::path> gone;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? fs::path(".") : folder, ec)) {
      const std::string name = FromPath(entry.path().filename());
      for (const std::string& prefix : prefixes) {
        if (!name.starts_with(prefix)) continue;
        const auto tail = ParseTemporaryTail(std::string_view(name).substr(prefix.size()));
        if (!tail) continue;
        if (MakerGone(tail->first, tail->second, entry.path())) gone.push_back(entry.path());
        break;
      }
    }
    for (const fs::path& path : gone) removed += RemoveLeftover(path) ? 1 : 0;
  }
  return removed;
}

std::string LinkedFile(const std::string& target) {
  fs::path path = ToPath(target);
  // As many links as the system itself follows before it gives up on a circle.
  for (int hops = 0;; ++hops) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || !fs::is_symlink(status)) return FromPath(path);
    if (hops == 40) throw FileError(target, "符号链接一层套一层（可能绕成了圈），没有写入");
    const fs::path to = fs::read_symlink(path, ec);
    if (ec) throw FileError(target, "无法读取符号链接：" + ec.message());
    path = to.is_absolute() ? to : path.parent_path() / to;
  }
}

std::string TemporaryPathFor(const std::string& target, const std::string& tmpPath) {
  try {
    const std::string file = LinkedFile(target);
    return file == target ? tmpPath : file + ".tmp";
  } catch (const FileError&) {
    return tmpPath;
  }
}

#ifdef _WIN32

int OpenRegularFile(const std::string& path) {
  if (const auto type = TypeAt(path); type && *type != fs::file_type::regular) {
    throw FileError(path, NotRegularForReading(*type));
  }
  const int fd = _wopen(ToPath(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) throw FileError(path, "无法打开文件：" + SystemReason(errno));
  struct _stat64 st;
  if (_fstat64(fd, &st) != 0 || !(st.st_mode & _S_IFREG)) {
    _close(fd);
    throw FileError(path, NotRegularForReading((st.st_mode & _S_IFDIR) ? fs::file_type::directory
                                                                       : fs::file_type::character));
  }
  return fd;
}

namespace {

// Debt: Windows has no boot id at hand; its temporary names carry zeros, and only the process
// id tells whether their maker is gone.
const std::string& BootTag() {
  static const std::string tag(BOOT_TAG_DIGITS, '0');
  return tag;
}

long long ProcessId() { return static_cast<long long>(GetCurrentProcessId()); }

bool ProcessMayLive(long long pid) {
  if (pid <= 0 || pid > 0xFFFFFFFFll) return true;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  const bool running = !GetExitCodeProcess(h, &code) || code == STILL_ACTIVE;
  CloseHandle(h);
  return running;
}

bool ChangedBeforeThisBoot(const fs::path&) { return false; }

}  // namespace

NewFile CreateNewFile(const std::string& preferred) {
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = TemporaryName(preferred, NextTemporaryNumber());
    // _O_EXCL fails on any name that exists, links included.
    const int fd = _wopen(ToPath(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    if (fd >= 0) return {fd, path};
    err = errno;
    if (err != EEXIST) break;
  }
  throw FileError(preferred, "无法创建临时文件：" + SystemReason(err));
}

namespace {

/// Makes a new folder under the names `next` gives until one is free.
template <typename Names>
std::string MakeFreshFolder(const std::string& forMessage, Names next) {
  DWORD err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = next();
    // Fails on any name that exists, links included.
    if (CreateDirectoryW(ToPath(path).c_str(), nullptr)) return path;
    err = GetLastError();
    if (err != ERROR_ALREADY_EXISTS) break;
  }
  throw FileError(forMessage, "无法创建临时文件夹：" +
                                  std::error_code(int(err), std::system_category()).message());
}

}  // namespace

std::string CreateNewFolder(const std::string& prefix) {
  return MakeFreshFolder(prefix, [&] { return prefix + RandomSuffix(); });
}

std::string CreateTemporaryFolder(const std::string& preferred) {
  return MakeFreshFolder(preferred,
                         [&] { return TemporaryName(preferred, NextTemporaryNumber()); });
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
  // A link is written through: the file it names is replaced, and the link stays.
  const std::string file = LinkedFile(target);
  const std::string tmpName = file == target ? tmpPath : file + ".tmp";
  if (const auto type = TypeAt(file); type && *type != fs::file_type::regular) {
    throw FileError(target, std::string("不是普通文件，而是") + KindName(*type) + "，不替换它");
  }
  if (FileExists(file) && IsWriteProtected(file)) throw FileError(target, READ_ONLY_REASON);
  NewFile created;
  try {
    created = CreateNewFile(tmpName);
  } catch (const FileError& e) {
    throw FileError(target, std::string(e.what()) + "（" + tmpName + "）");
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
  if (ok) KillPoint(("temporary-written:" + FromPath(ToPath(tmpName).filename())).c_str());
  if (ok && !MoveFileExW(tmp.c_str(), ToPath(file).c_str(),
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

namespace {

fs::file_type TypeOfMode(mode_t mode) {
  if (S_ISFIFO(mode)) return fs::file_type::fifo;
  if (S_ISCHR(mode)) return fs::file_type::character;
  if (S_ISBLK(mode)) return fs::file_type::block;
  if (S_ISDIR(mode)) return fs::file_type::directory;
  if (S_ISSOCK(mode)) return fs::file_type::socket;
  return S_ISREG(mode) ? fs::file_type::regular : fs::file_type::unknown;
}

}  // namespace

int OpenRegularFile(const std::string& path) {
  struct stat st;
  // Looked at first, so that a device is never opened at all.
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw FileError(path, NotRegularForReading(TypeOfMode(st.st_mode)));
  }
  // Not blocking: a pipe put in the file's place since must fail here, not hang the opening.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw FileError(path, "无法打开文件：" + SystemReason(errno));
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    throw FileError(path, "无法打开文件：" + SystemReason(err));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw FileError(path, NotRegularForReading(TypeOfMode(st.st_mode)));
  }
  // A regular file never makes a read wait; the flag goes so that nothing later sees it.
  if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

namespace {

const std::string& BootTag() {
  static const std::string tag = [] {
    std::string digits;
#if defined(__linux__)
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    for (char c : id) {
      if (std::isxdigit(static_cast<unsigned char>(c))) {
        digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
    }
#endif
    // Debt: other systems have no boot id at hand; their names carry zeros, and only the
    // process id tells whether the maker is gone.
    if (digits.size() < BOOT_TAG_DIGITS) return std::string(BOOT_TAG_DIGITS, '0');
    return digits.substr(0, BOOT_TAG_DIGITS);
  }();
  return tag;
}

long long ProcessId() { return static_cast<long long>(::getpid()); }

bool ProcessMayLive(long long pid) {
  if (pid <= 0 || pid != static_cast<long long>(static_cast<pid_t>(pid))) return true;
  // A process of another user answers EPERM: it lives all the same.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

bool ChangedBeforeThisBoot(const fs::path& path) {
#if defined(__linux__)
  struct stat st;
  struct timespec sinceBoot, now;
  if (::lstat(path.c_str(), &st) != 0 || ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0 ||
      ::clock_gettime(CLOCK_REALTIME, &now) != 0) {
    return false;
  }
  return st.st_mtim.tv_sec < now.tv_sec - sinceBoot.tv_sec;
#else
  (void)path;
  return false;
#endif
}

}  // namespace

NewFile CreateNewFile(const std::string& preferred) {
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = TemporaryName(preferred, NextTemporaryNumber());
    // O_EXCL fails on any name that exists, a link (even a dangling one) included.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return {fd, path};
    err = errno;
    if (err != EEXIST) break;
  }
  throw FileError(preferred, "无法创建临时文件：" + SystemReason(err));
}

namespace {

/// Makes a new folder, for the running user only, under the names `next` gives until one is
/// free.
template <typename Names>
std::string MakeFreshFolder(const std::string& forMessage, Names next) {
  int err = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = next();
    // mkdir fails on any name that exists, a link (even a dangling one) included.
    if (::mkdir(path.c_str(), 0700) == 0) return path;
    err = errno;
    if (err != EEXIST) break;
  }
  throw FileError(forMessage, "无法创建临时文件夹：" + SystemReason(err));
}

}  // namespace

std::string CreateNewFolder(const std::string& prefix) {
  return MakeFreshFolder(prefix, [&] { return prefix + RandomSuffix(); });
}

std::string CreateTemporaryFolder(const std::string& preferred) {
  return MakeFreshFolder(preferred,
                         [&] { return TemporaryName(preferred, NextTemporaryNumber()); });
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
    const std::string path = TemporaryName(preferred, NextTemporaryNumber());
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
  // A link is written through: the file it names is replaced, beside it, and the link stays.
  const std::string file = LinkedFile(target);
  const std::string tmpName = file == target ? tmpPath : file + ".tmp";
  mode_t mode = 0666;
  struct stat st;
  const bool targetExists = ::stat(file.c_str(), &st) == 0;
  if (targetExists) {
    if (!S_ISREG(st.st_mode)) {
      throw FileError(target, std::string("不是普通文件，而是") + KindName(TypeOfMode(st.st_mode)) +
                                  "，不替换它");
    }
    if (IsWriteProtected(file)) throw FileError(target, READ_ONLY_REASON);
    mode = st.st_mode & 07777;
  }

  NewFile created;
  try {
    created = CreateNewFile(tmpName);
  } catch (const FileError& e) {
    throw FileError(target, std::string(e.what()) + "（" + tmpName + "）");
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
  KillPoint(("temporary-written:" + FromPath(ToPath(tmpName).filename())).c_str());
  if (::rename(tmp.c_str(), file.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw FileError(target, "无法替换文件：" + SystemReason(err));
  }
  // Make the rename itself durable.
  std::string dir = FromPath(ToPath(file).parent_path());
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
