#pragma once

#include <string>

namespace tamsel {

/// An exclusive lock held through a lock file, which only the processes that take the same lock
/// honour. The system lets go of it when its holder dies, however it dies, so a crash never
/// leaves a video locked.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  /// Takes the lock at `path` without waiting, creating the lock file when there is none.
  /// Returns false when another process holds it. Never opens through a link and never takes
  /// anything but a regular file for the lock file. In a folder that takes no new file (read-only
  /// media, no permission) it returns true without a lock (Locked() stays false): nothing of ours
  /// can be written there, so there is nothing to guard, and a prepared video there still opens.
  /// Throws FileError naming `path` when the lock file cannot be used (a link, a folder or a
  /// pipe stands there) or made for another reason.
  bool TryLock(const std::string& path);
  /// Lets go of the lock and removes the lock file when this lock made it or found it empty:
  /// a lock file is always empty, so an empty one that could be locked was left by a holder that
  /// was killed. A lock file with content is someone else's file and stays.
  void Unlock();
  bool Locked() const { return m_handle != INVALID; }

 private:
#ifdef _WIN32
  using Handle = void*;
  static inline Handle const INVALID = reinterpret_cast<Handle>(-1);
#else
  using Handle = int;
  static constexpr Handle INVALID = -1;
#endif
  Handle m_handle = INVALID;
  std::string m_path;
  bool m_remove = false;  ///< whether Unlock removes the lock file
};

}  // namespace tamsel
