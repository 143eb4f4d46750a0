#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "EditorState.h"
#include "FileIo.h"
#include "UserPrompts.h"

namespace tamsel::test {

/// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    m_path = std::filesystem::temp_directory_path() /
             ("tamsel-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  std::string Path(const std::string& name = "") const {
    return FromPath(name.empty() ? m_path : m_path / ToPath(name));
  }

 private:
  std::filesystem::path m_path;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(ToPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) { return ReadFileBytes(path); }

/// The lines of an ASS script up to its event lines: script info, one style, the format line.
inline const std::vector<std::string>& AssScriptHead() {
  static const std::vector<std::string> head = {
      "[Script Info]",
      "ScriptType: v4.00+",
      "",
      "[V4+ Styles]",
      "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,"
      "100,100,0,0,1,2,2,2,10,10,10,1",
      "",
      "[Events]",
      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text"};
  return head;
}

/// Lines joined with CR LF after each, as the editor writes them.
inline std::string CrLf(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

inline const std::string BOM = "\xEF\xBB\xBF";

/// A file's head followed by its event lines.
inline std::vector<std::string> With(std::vector<std::string> head,
                                     const std::vector<std::string>& events) {
  head.insert(head.end(), events.begin(), events.end());
  return head;
}

/// The id of a process that has ended: a child that left at once and was waited for.
inline long long EndedProcessId() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

/// The temporary name for `preferred` that a process `pid` of this boot of the system would
/// have made (TemporaryName), as a killed one leaves it.
inline std::string LeftoverName(const std::string& preferred, long long pid,
                                const std::string& bootTag = "") {
  // Our own name for it carries this boot's tag: ".tamsel-" + eight digits.
  const std::string own = TemporaryName(preferred, 0);
  const std::string tag = bootTag.empty() ? own.substr(preferred.size() + 8, 8) : bootTag;
  return preferred + ".tamsel-" + tag + "-" + std::to_string(pid) + "-0";
}

/// The names in a folder, sorted.
inline std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(ToPath(folder))) {
    names.push_back(FromPath(e.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// Records messages; answers the script dialog with a set path.
class RecordingPrompts : public UserPrompts {
 public:
  std::vector<std::string> messages;
  std::string txtAnswer;
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::string ChooseTxtFile() override { return txtAnswer; }
};

/// The bytes of an .ai file of `slots` slots: begin score of slot k at byte 2k, end score at
/// byte 2k + 1; slots not named score 0.
inline std::string AiFile(size_t slots, const std::map<size_t, uint8_t>& begins,
                          const std::map<size_t, uint8_t>& ends = {}) {
  std::string bytes(slots * 2, '\0');
  for (const auto& [k, s] : begins) bytes[2 * k] = static_cast<char>(s);
  for (const auto& [k, s] : ends) bytes[2 * k + 1] = static_cast<char>(s);
  return bytes;
}

/// Little-endian bytes of a 32-bit and a 16-bit number.
inline std::string U32(uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
inline std::string U16(uint16_t v) { return std::string{char(v), char(v >> 8)}; }

/// A canonical WAV file whose data chunk says `dataBytes` and holds `heldBytes` of them (the
/// rest of the file is a hole: nothing is written).
inline void WriteWav(const std::string& path, uint16_t tag, uint16_t channels, uint32_t rate,
                     uint16_t bits, uint32_t dataBytes, uint32_t heldBytes) {
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  const std::string header = "RIFF" + U32(36 + dataBytes) + "WAVEfmt " + U32(16) + U16(tag) +
                             U16(channels) + U32(rate) + U32(rate * align) + U16(align) +
                             U16(bits) + "data" + U32(dataBytes);
  WriteBytes(path, header);
  std::filesystem::resize_file(ToPath(path), header.size() + heldBytes);
}

/// An editor state for a video "v.mp4" in `dir`, with a waveform file of `slots` slots.
struct Fixture {
  TempDir dir;
  RecordingPrompts prompts;
  EditorState st;

  explicit Fixture(size_t slots = 100000) {
    st.Prompts = &prompts;
    st.VideoFileName = dir.Path("v.mp4");
    st.BaseFileName = dir.Path("v");
    st.WsFileName = dir.Path("v.ws");
    WriteBytes(st.WsFileName, std::string(slots * 2, '\0'));
  }
  std::string File(const std::string& ext) const { return st.BaseFileName + ext; }
};

}  // namespace tamsel::test

#include "TextCodec.h"

namespace tamsel::test {
/// The lines of a text file's bytes.
inline std::vector<std::string> DecodeLines(const std::string& bytes) {
  return DecodeTextFile(bytes).Lines;
}
}  // namespace tamsel::test
