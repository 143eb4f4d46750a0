#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

/// Why what stands at `path` cannot be used as a file: "" when it is a regular file (a link is
/// followed) or when nothing is there; otherwise a reason in the user's language that says what
/// it is ("不是普通文件，而是命名管道（FIFO）…", a device, a folder, a socket).
std::string NotRegularFileReason(const std::string& path);
/// Opens the regular file at `path` for reading and returns a C runtime descriptor (close it
/// with ::close / _close). What stands there is looked at before it is opened and again once it
/// is open, and it is opened without waiting, so that a named pipe, a device or a folder (also
/// one put there in between) is refused at once rather than waited on for ever. Throws FileError
/// naming `path`, with NotRegularFileReason's words for anything but a regular file.
int OpenRegularFile(const std::string& path);
/// The whole content of a regular file (OpenRegularFile). Throws FileError.
std::string ReadFileBytes(const std::string& path);
/// Reads a regular file (OpenRegularFile) from its start, handing each piece read (at most
/// 64 KiB, never empty) to `take` in order. Throws FileError as ReadFileBytes does.
void ReadFileChunks(const std::string& path, const std::function<void(std::string_view)>& take);

/// A file this process has just created for writing: `fd` is a C runtime file descriptor open
/// for writing (close it with ::close / _close), `path` the name it was created under.
struct NewFile {
  int fd = -1;
  std::string path;
};

/// The name of a temporary file or folder of this process that stands for `preferred`:
/// `preferred` + ".tamsel-" + a tag of the running system's boot (eight hexadecimal digits of
/// its boot id, zeros where the system has none) + "-" + the process id + "-" + `number`. The
/// name proves the file ours after a crash and tells a later run whether the process that made
/// it is gone (RemoveLeftoverTemporaries).
std::string TemporaryName(const std::string& preferred, unsigned number);

/// Removes what killed runs left under a temporary name (TemporaryName) of each of
/// `preferredNames`: regular files, and folders with the files directly in them. Only what
/// the name proves ours and left over is removed: made by a process of this boot of the system
/// that is gone, or by an earlier boot (another boot id) and last changed before this boot
/// began; a process that is still alive (this one included), another system's process that
/// shares the folder, a link or any other name is left alone. Returns how many were removed.
size_t RemoveLeftoverTemporaries(const std::vector<std::string>& preferredNames);

/// Creates a new, empty file for writing under a temporary name of this process for
/// `preferred` (TemporaryName), the next number when that name is taken. Never opens through a
/// link and never reuses a file that existed before: the file is created exclusively. Throws
/// FileError naming `preferred` when none can be made.
NewFile CreateNewFile(const std::string& preferred);

/// Whether `path` still names the very file open as `fd` (not a link or another file put in
/// its place since), so that a rename moves only what we created.
bool IsSameFile(int fd, const std::string& path);

/// Creates a new, empty folder named `prefix` + six random characters, open to the running user
/// only, and returns its name. Never takes over anything that existed before (a folder, a file,
/// a link). Throws FileError naming `prefix` when none can be made.
std::string CreateNewFolder(const std::string& prefix);
/// Creates a new, empty folder under a temporary name of this process for `preferred`
/// (TemporaryName), open to the running user only, and returns its name; as CreateNewFolder
/// otherwise. RemoveLeftoverTemporaries removes it after a crash, with the files in it.
std::string CreateTemporaryFolder(const std::string& preferred);

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

/// Gives the file made by CreateUnnamedFile and open as `fd` a temporary name of this process
/// for `preferred` (TemporaryName), the next number when that name is taken; never replaces
/// anything. Returns the name. Throws FileError naming `preferred` when none can be given.
std::string NameNewFile(int fd, const std::string& preferred);

/// Gives the file made by CreateUnnamedFile and open as `fd` the name `path` only when nothing
/// has that name. Returns 0, or the reason (an errno value; EEXIST when `path` is taken).
int NameNewFileExactly(int fd, const std::string& path);

/// Whether an existing file must not be replaced: it has no write permission for its owner, or
/// the running user may not write it. Root is held to the permission bits as well.
bool IsWriteProtected(const std::string& path);

/// The file a write of `target` replaces: `target` itself, or, when `target` is a symbolic link,
/// the file the link (and any link it leads to) names, which need not exist yet. Throws
/// FileError naming `target` when the links cannot be read or go round in a circle.
std::string LinkedFile(const std::string& target);

/// The name WriteFileThroughTemp would like for its temporary file when it writes `target`:
/// `tmpPath`, or, when `target` is a link, the linked file's name + ".tmp", beside that file.
std::string TemporaryPathFor(const std::string& target, const std::string& tmpPath);

/// Writes `bytes` to a new temporary file (CreateNewFile for TemporaryPathFor(target, tmpPath)),
/// forces them to the disk and renames the temporary file over `target`, so that `target` holds
/// either its old or its new content, never a part. A target that is a link is written through:
/// the file it names is replaced (the temporary file lies beside that one) and the link stays.
/// A target that exists keeps its permissions; a write-protected target (IsWriteProtected) and
/// one that is not a regular file (a pipe, a device) are refused. On any failure the temporary
/// file is removed, `target` is left as it was and FileError is thrown.
void WriteFileThroughTemp(const std::string& target, const std::string& tmpPath,
                          std::string_view bytes);

/// The folder that holds the running executable ("" when it cannot be found).
std::string ExecutableDir();

}  // namespace tamsel
