// Fuzz target over the WAV reader and the side-file builder's header checks: any bytes are
// either read or refused, never a crash nor a lack of memory, and what is read stays inside the
// file.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "EditorState.h"
#include "FileIo.h"
#include "ReadWaveFile.h"
#include "TransformWs.h"

namespace {

using namespace tamsel;

void Broken(const char* what) {
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

/// A scratch folder of this process, made once.
const std::string& Scratch() {
  static const std::string dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("tamsel-wavfuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return FromPath(d);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const std::string base = Scratch() + "/v";
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  WriteFileThroughTemp(base + ".wav", base + ".tmp", bytes);

  {
    TReadWaveFile wav;
    if (wav.Open(base + ".wav")) {
      std::vector<char> buf(std::min<size_t>(wav.Size(), size) + 1);
      const bool whole = wav.Read(buf.data(), static_cast<uint32_t>(buf.size() - 1));
      if (whole && wav.Size() > size) Broken("read more sample bytes than the file holds");
    }
  }

  EditorState st;
  st.BaseFileName = base;
  st.WavFileName = base + ".wav";
  st.WsFileName = base + ".ws";
  st.AiFileName = base + ".ai";
  st.Ctrl.TrackBarAutoVolCtrlSpeed = size % 6;
  std::remove(st.WsFileName.c_str());
  std::remove(st.AiFileName.c_str());
  const bool built = TransformWs(st, [](const std::string&, int p) {
    if (p < 0 || p > 100) Broken("progress out of range");
  });
  // Nothing a file of 64 KB holds needs more memory than a machine has: a builder that runs
  // out sized something from what the header claims rather than from what the file holds.
  if (st.LastMessage.find("内存不足") != std::string::npos) Broken("ran out of memory");
  if (built) {
    const auto ws = FileSizeOf(st.WsFileName);
    const auto ai = FileSizeOf(st.AiFileName);
    if (!ws || !ai || *ws != *ai || *ws % 2 != 0) Broken("side files of unequal or odd size");
    if (st.SamplesPerSlot <= 0 || st.WavChannels <= 0) Broken("built from a file without samples");
  } else if (FileExists(st.WsFileName) || FileExists(st.AiFileName)) {
    Broken("a refused file left side files");
  }
  return 0;
}
