#pragma once

#include <string>
#include <vector>

namespace tamsel {

/// A plain INI file held in memory: the lines as read, updated in place by writes, so comments,
/// other sections and unknown keys survive. Sections and keys match without regard to case,
/// spaces around "=" are ignored. Reads never fail: a missing file or key gives the default.
class IniFile {
 public:
  IniFile() = default;
  /// Opens `path` (it need not exist yet). An empty path keeps everything in memory.
  explicit IniFile(std::string path);

  const std::string& Path() const { return m_path; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  /// A decimal integer (optional sign, surrounding spaces); anything else gives `def`.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  /// An integer read as a boolean: non-zero is true.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  /// Writes the file to disk through a temporary file. Throws FileError.
  void UpdateFile() const;

 private:
  /// Index of the line holding `key` in `section`, or -1.
  int FindKey(const std::string& section, const std::string& key) const;

  std::string m_path;
  bool m_bom = false;
  std::vector<std::string> m_lines;
};

}  // namespace tamsel
