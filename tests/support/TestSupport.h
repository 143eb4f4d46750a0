#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

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
