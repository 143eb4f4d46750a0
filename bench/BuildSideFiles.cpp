// Runs the waveform and speech-data builder once on a WAV file, as opening a video does when its
// side files are missing, so that the benchmark script can time it and read its peak memory.
// usage: build_side_files WAV NOISESTYLE   (writes the .ws and .ai beside the WAV and, unless
// NOISESTYLE is 0, adjusts the WAV's loudness)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TransformWs.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: build_side_files WAV NOISESTYLE\n");
    return 2;
  }
  const std::string wav = argv[1];
  if (wav.size() < 5 || wav.substr(wav.size() - 4) != ".wav") {
    std::fprintf(stderr, "build_side_files: %s: not a .wav file name\n", argv[1]);
    return 2;
  }
  tamsel::EditorState st;
  st.BaseFileName = wav.substr(0, wav.size() - 4);
  st.WavFileName = wav;
  st.WsFileName = st.BaseFileName + ".ws";
  st.AiFileName = st.BaseFileName + ".ai";
  st.Ctrl.TrackBarAutoVolCtrlSpeed = std::atoi(argv[2]);
  if (!tamsel::TransformWs(st, {})) {
    std::fprintf(stderr, "build_side_files: %s\n", st.LastMessage.c_str());
    return 1;
  }
  return 0;
}
