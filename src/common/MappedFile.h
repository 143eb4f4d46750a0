#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tamsel {

/// A read-only view of a byte range of a file, mapped into memory rather than copied: pages are
/// read from the file as they are first touched and can be dropped again by the system, so a
/// whole sound track costs address space, not memory. The view stays valid after the file is
/// renamed or replaced (it holds the file itself, not its name).
///
/// Our own files are replaced by rename, never cut, but another program may cut a mapped file
/// shorter. On POSIX systems a read of the lost pages would end the program with SIGBUS; here a
/// handler of SIGBUS, installed with the first view, maps zero pages in their place instead, so
/// that they read as silence on any thread, and ShrunkTo tells that the file was cut. (Windows
/// does not let a mapped file be cut.)
class MappedFile {
 public:
  /// An empty view: no data, size 0.
  MappedFile() = default;
  /// Maps `length` bytes of the file at `path` from byte `offset` on; a range that runs past
  /// the end of the file is cut to what is there (an offset past the end gives an empty view).
  /// Throws FileError naming the file when it cannot be opened or mapped.
  MappedFile(const std::string& path, uint64_t offset, uint64_t length);
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  /// The first byte of the range; null for an empty view.
  const unsigned char* Data() const { return m_data; }
  /// Bytes in the view.
  uint64_t Size() const { return m_size; }
  /// The file's path as given, and its size when it was mapped.
  const std::string& Path() const { return m_path; }
  uint64_t FileSize() const { return m_fileSize; }

  /// When the file no longer holds the whole view, cut shorter by another program: its size
  /// now (the lost part of the view reads as zeros). Nothing while it holds the view, and for
  /// an empty view. One system call; any thread.
  std::optional<uint64_t> ShrunkTo() const;

 private:
  void Unmap();

  const unsigned char* m_data = nullptr;
  uint64_t m_size = 0;
  void* m_base = nullptr;  ///< start of the system's mapping: `offset` rounded down to a page
  uint64_t m_mappedBytes = 0;
  std::string m_path;
  uint64_t m_fileSize = 0;
  uint64_t m_viewEnd = 0;  ///< where the view ends in the file
  int m_fd = -1;           ///< the file, kept open to tell its size (POSIX)
  int m_guard = -1;        ///< the view's entry in the SIGBUS handler's table; -1 for none
};

}  // namespace tamsel
