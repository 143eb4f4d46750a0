#include "Dialogs.h"

#include <cctype>
#include <vector>

namespace tamsel {

namespace {

std::vector<std::string> Split(const std::string& s, char by) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    const size_t at = s.find(by, from);
    parts.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string QtDialogFilter(const std::string& filter) {
  const std::vector<std::string> parts = Split(filter, '|');
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns;
    std::string capitals;
    for (const std::string& p : Split(parts[i + 1], ';')) {
      if (p.empty()) continue;
      if (p == "*.*") {
        patterns = "*";
        capitals.clear();
        break;
      }
      patterns += (patterns.empty() ? "" : " ") + p;
      if (Upper(p) != p) capitals += " " + Upper(p);
    }
    if (!out.empty()) out += ";;";
    out += parts[i] + " (" + patterns + capitals + ")";
  }
  return out;
}

}  // namespace tamsel
