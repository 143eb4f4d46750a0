#include "IniFile.h"

#include <algorithm>
#include <cctype>

#include "FileIo.h"
#include "TextCodec.h"

namespace tamsel {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

/// The section name of a "[name]" line, or nothing.
bool SectionOf(const std::string& line, std::string& name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

}  // namespace

IniFile::IniFile(std::string path) : m_path(std::move(path)) {
  if (m_path.empty() || !FileExists(m_path)) return;
  try {
    std::string bytes = ReadFileBytes(m_path);
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      m_bom = true;
      bytes.erase(0, 3);
    }
    m_lines = SplitLines(bytes);
  } catch (const FileError&) {
    m_lines.clear();  // an unreadable settings file gives the defaults
  }
}

int IniFile::FindKey(const std::string& section, const std::string& key) const {
  bool inSection = false;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    std::string name;
    if (SectionOf(m_lines[i], name)) {
      inSection = SameText(name, section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = m_lines[i].find('=');
    if (eq == std::string::npos) continue;
    std::string k = Trim(m_lines[i].substr(0, eq));
    if (!k.empty() && k[0] != ';' && SameText(k, key)) return static_cast<int>(i);
  }
  return -1;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
  int i = FindKey(section, key);
  if (i < 0) return def;
  const std::string& line = m_lines[i];
  std::string v = Trim(line.substr(line.find('=') + 1));
  if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\''))) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  std::string v = ReadString(section, key, "");
  if (v.empty()) return def;
  size_t i = 0;
  bool neg = false;
  if (v[i] == '+' || v[i] == '-') neg = v[i++] == '-';
  if (i >= v.size()) return def;
  long long n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] < '0' || v[i] > '9') return def;
    n = n * 10 + (v[i] - '0');
    if (n > 2147483648LL) return def;
  }
  if (neg) n = -n;
  if (n > 2147483647LL) return def;
  return static_cast<int>(n);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  int i = FindKey(section, key);
  if (i >= 0) {
    m_lines[i] = key + "=" + value;
    return;
  }
  // Append to the section, after its last non-blank line; add the section when it is missing.
  int sectionLine = -1;
  int last = -1;
  for (size_t k = 0; k < m_lines.size(); ++k) {
    std::string name;
    if (SectionOf(m_lines[k], name)) {
      if (sectionLine >= 0) break;
      if (SameText(name, section)) sectionLine = last = static_cast<int>(k);
      continue;
    }
    if (sectionLine >= 0 && !Trim(m_lines[k]).empty()) last = static_cast<int>(k);
  }
  if (sectionLine < 0) {
    if (!m_lines.empty() && !Trim(m_lines.back()).empty()) m_lines.emplace_back();
    m_lines.push_back("[" + section + "]");
    m_lines.push_back(key + "=" + value);
    return;
  }
  m_lines.insert(m_lines.begin() + last + 1, key + "=" + value);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::UpdateFile() const {
  if (m_path.empty()) return;
  std::string text = m_bom ? "\xEF\xBB\xBF" : "";
  for (const auto& l : m_lines) text += l + "\r\n";
  WriteFileThroughTemp(m_path, m_path + ".tmp", text);
}

}  // namespace tamsel
