#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tamsel {

/// A file could not be read or written. what() is the reason in the user's language, path() the file.
class FileError : public std::runtime_error {
 public:
  FileError(std::string path, const std::string& reason)
      : std::runtime_error(reason), m_path(std::move(path)) {}
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

/// Turns a UTF-8 path text into a filesystem path on every platform.
std::filesystem::path ToPath(const std::string& utf8);
/// Turns a filesystem path back into UTF-8 text.
std::string FromPath(const std::filesystem::path& path);

/// True when something exists at `path` that is not a folder.
bool FileExists(const std::string& path);
/// Size in bytes of the file at `path`, or nothing when it cannot be had.
std::optional<std::uint64_t> FileSizeOf(const std::string& path);
/// The whole content of a file. Throws FileError.
std::string ReadFileBytes(const std::string& path);
/// Reads a file from its start, handing each piece read (at most 64 KiB, never empty) to
/// `take` in order. Throws FileError as ReadFileBytes does.
void ReadFileChunks(const std::string& path, const std::function<void(std::string_view)>& take);

/// A file this process has just created for writing: `fd` is a C runtime file descriptor open
/// for writing (close it with ::close / _close), `path` the name it was created under.
struct NewFile {
  int fd = -1;
  std::string path;
};

/// Creates a new, empty file for writing under `preferred`, or under `preferred` + "." + six
/// random characters when that name is taken (a leftover of a crash, someone else's file, a
/// symbolic link). Never opens through a link and never reuses a file that existed before: the
/// file is created exclusively. Throws FileError naming `preferred` when neither can be made.
NewFile CreateNewFile(const std::string& preferred);

/// Whether `path` still names the very file open as `fd` (not a link or another file put in
/// its place since), so that a rename moves only what we created.
bool IsSameFile(int fd, const std::string& path);

/// Creates a new, empty folder named `prefix` + six random characters, open to the running user
/// only, and returns its name. Never takes over anything that existed before (a folder, a file,
/// a link). Throws FileError naming `prefix` when none can be made.
std::string CreateNewFolder(const std::string& prefix);

/// Gives the file `from` the name `to` only when nothing (not even a dangling link) has that
/// name; `from` must be a name of ours. Returns 0, or the reason (an errno value; EEXIST when
/// `to` is taken) with both names left as they were.
int RenameWithoutReplacing(const std::string& from, const std::string& to);

/// A new file without a name in the folder `dir`, open for reading and writing (a C runtime
/// descriptor). It vanishes with its content when the process dies before NameNewFile gives it
/// a name, so a killed job leaves nothing behind. -1 where the system or the file system has no
/// such files (Linux has them, on most file systems): use CreateNewFile then. The tests make it
/// -1 with the environment variable TAMSEL_NAMED_TEMPORARIES, to cover the other way.
int CreateUnnamedFile(const std::string& dir);

/// A path by which the process holding the descriptor `fd` opens that file again, also a file
/// without a name; a child process given the same descriptor number opens it by the same path.
/// Only for files made by CreateUnnamedFile.
std::string DescriptorPath(int fd);

/// Gives the file made by CreateUnnamedFile and open as `fd` the name `preferred`, or
/// `preferred` + "." + six random characters when that name is taken; never replaces anything.
/// Returns the name. Throws FileError naming `preferred` when neither can be given.
std::string NameNewFile(int fd, const std::string& preferred);

/// Gives the file made by CreateUnnamedFile and open as `fd` the name `path` only when nothing
/// has that name. Returns 0, or the reason (an errno value; EEXIST when `path` is taken).
int NameNewFileExactly(int fd, const std::string& path);

/// Whether an existing file must not be replaced: it has no write permission for its owner, or
/// the running user may not write it. Root is held to the permission bits as well.
bool IsWriteProtected(const std::string& path);

/// Writes `bytes` to a new temporary file named `tmpPath` (or a fresh name beside it when that
/// name is taken, see CreateNewFile), forces them to the disk and renames the temporary file
/// over `target`, so that `target` holds either its old or its new content, never a part. A
/// target that exists keeps its permissions; a write-protected target (IsWriteProtected) is
/// refused. On any failure the temporary file is removed, `target` is left as it was and
/// FileError is thrown.
void WriteFileThroughTemp(const std::string& target, const std::string& tmpPath,
                          std::string_view bytes);

/// The folder that holds the running executable ("" when it cannot be found).
std::string ExecutableDir();

}  // namespace tamsel
