#pragma once

#include <cstdint>
#include <string>

namespace tamsel {

/// A read-only view of a byte range of a file, mapped into memory rather than copied: pages are
/// read from the file as they are first touched and can be dropped again by the system, so a
/// whole sound track costs address space, not memory. The view stays valid after the file is
/// renamed or replaced (it holds the file itself, not its name).
///
/// Debt: on POSIX systems a file cut shorter by another program while it is mapped makes a
/// read of the lost pages fail with SIGBUS; our own files are replaced by rename, never cut.
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

 private:
  void Unmap();

  const unsigned char* m_data = nullptr;
  uint64_t m_size = 0;
  void* m_base = nullptr;  ///< start of the system's mapping: `offset` rounded down to a page
  uint64_t m_mappedBytes = 0;
};

}  // namespace tamsel
