// Entering editing on a prepared 90-minute video.
//
// ReadyGo loads the .ws and .ai side files into the strip's and the magnet's arrays, checks the
// WAV and makes the devices. The sound output maps the WAV rather than copying it, so what
// entering editing costs beyond the devices is the side files: its floor is a plain read of the
// same .ws and .ai files, measured in the same run. The devices are the simulated ones, which
// read nothing of the sound (the loading itself), and once more with the editor's own sound
// buffer mapping the WAV (no sound device: its cursor runs on the clock).
//
// The side files are generated (the envelope and the scores of 90 minutes, 540 000 slots), the
// WAV is a 44.1 kHz mono header whose 476 MB of samples are a hole in the file. They are made in
// a scratch folder when the program starts and removed when it ends; set TAMSEL_BENCH_DIR to put
// that folder on the disk that matters.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchInputs.h"
#include "EditorState.h"
#include "FileIo.h"
#include "ReadyGo.h"
#include "SimulatedDevices.h"
#include "SoundBuffer.h"
#include "SubtitleLoad.h"

using namespace tamsel;

namespace {

constexpr int64_t SLOTS = 90 * 60 * 100;
constexpr uint32_t WAV_RATE = 44100;

std::filesystem::path g_dir;

std::string U32(uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string U16(uint16_t v) { return std::string{char(v), char(v >> 8)}; }

/// Writes the prepared video "movie": an empty video file, the WAV (a header and a hole),
/// side files with an envelope and scores that vary, and an SRT file of an entry every 3 s.
void MakeInputs() {
  const std::string base = FromPath(g_dir / "movie");
  const uint32_t data = static_cast<uint32_t>(SLOTS * (WAV_RATE / 100) * 2);
  WriteFileThroughTemp(base + ".mp4", base + ".tmp", "");
  WriteFileThroughTemp(base + ".wav", base + ".tmp",
                       "RIFF" + U32(36 + data) + "WAVEfmt " + U32(16) + U16(1) + U16(1) +
                           U32(WAV_RATE) + U32(WAV_RATE * 2) + U16(2) + U16(16) + "data" +
                           U32(data));
  std::filesystem::resize_file(ToPath(base + ".wav"), 44 + uint64_t{data});
  std::string ws(2 * SLOTS, '\0');
  std::string ai(2 * SLOTS, '\0');
  uint32_t x = 12345;
  for (int64_t k = 0; k < SLOTS; ++k) {
    x = x * 1103515245 + 12345;
    ws[2 * k] = static_cast<char>(x >> 26);
    ws[2 * k + 1] = static_cast<char>(-static_cast<int>(x >> 27));
    ai[2 * k] = static_cast<char>(k % 300 < 5 ? x >> 28 : 0);
    ai[2 * k + 1] = static_cast<char>(k % 300 > 200 && k % 300 < 205 ? x >> 29 : 0);
  }
  WriteFileThroughTemp(base + ".ws", base + ".tmp", ws);
  WriteFileThroughTemp(base + ".ai", base + ".tmp", ai);
  std::string srt;
  for (int64_t i = 0; i < SLOTS / 300; ++i) {
    const int64_t s = i * 3;
    char line[96];
    std::snprintf(line, sizeof line,
                  "%lld\r\n%02lld:%02lld:%02lld,000 --> %02lld:%02lld:%02lld,500\r\n",
                  static_cast<long long>(i + 1), static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60),
                  static_cast<long long>(s / 3600), static_cast<long long>(s / 60 % 60),
                  static_cast<long long>(s % 60 + 1));
    srt += line;
    srt += "A line of dialogue\r\n\r\n";
  }
  WriteFileThroughTemp(base + ".srt", base + ".tmp", srt);
}

/// The editor with the prepared video's subtitles loaded, as the ready picture finds it.
bool LoadEditor(benchmark::State& state, EditorState& st) {
  const std::string base = FromPath(g_dir / "movie");
  st.VideoFileName = base + ".mp4";
  st.BaseFileName = base;
  st.WavFileName = base + ".wav";
  st.WsFileName = base + ".ws";
  st.AiFileName = base + ".ai";
  if (!SubtitleLoad(st, 0)) {
    state.SkipWithError(st.LastMessage.c_str());
    return false;
  }
  return true;
}

/// The simulated player with the editor's own sound buffer: the WAV mapped as the window's
/// sound output maps it, its cursor on the clock (no sound device).
class MappedSoundFactory : public SimulatedMediaFactory {
 public:
  explicit MappedSoundFactory(const Clock& clock)
      : SimulatedMediaFactory(clock), m_clock(clock) {}
  std::unique_ptr<SoundOutput> CreateSoundOutput(const std::string& wavPath,
                                                 TReadWaveFile& wave) override {
    std::string problem;
    auto sound = SoundBuffer::MapWave(wavPath, wave, problem);
    if (!problem.empty()) throw std::runtime_error(problem);
    sound->RunOnClock(&m_clock);
    return sound;
  }

 private:
  const Clock& m_clock;
};

template <class Factory>
void BM_ReadyGo(benchmark::State& state) {
  EditorState st;
  if (!LoadEditor(state, st)) return;
  ManualClock clock;
  Factory factory(clock);
  factory.duration = SLOTS / 100.0;
  factory.frameRate = 24;
  factory.height = 550;
  for (auto _ : state) {
    EditingMedia media;
    if (!ReadyGo(st, media, factory)) {
      state.SkipWithError(st.LastMessage.empty() ? "not ready" : st.LastMessage.c_str());
      return;
    }
    benchmark::DoNotOptimize(st.WsData.data());
  }
  state.counters["slots"] = static_cast<double>(st.AiBegin.size() - 500);
}

/// The whole file read into a buffer of its size with one fread: the plainest read there is.
std::vector<char> PlainRead(const std::string& path) {
  std::vector<char> bytes(static_cast<size_t>(std::filesystem::file_size(ToPath(path))));
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error(path + ": cannot be opened");
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  if (got != bytes.size()) throw std::runtime_error(path + ": cannot be read");
  return bytes;
}

void BM_ReadSideFiles(benchmark::State& state) {
  const std::string base = FromPath(g_dir / "movie");
  // Kept from one load to the next and replaced by the new ones, as the editor's arrays are:
  // both sides take fresh memory alike.
  std::vector<char> ws;
  std::vector<char> ai;
  for (auto _ : state) {
    std::vector<char> newWs = PlainRead(base + ".ws");
    std::vector<char> newAi = PlainRead(base + ".ai");
    ws = std::move(newWs);
    ai = std::move(newAi);
    benchmark::DoNotOptimize(ws.data());
    benchmark::DoNotOptimize(ai.data());
  }
}

BENCHMARK(BM_ReadyGo<SimulatedMediaFactory>)
    ->Name("BM_ReadyGo")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ReadyGo<MappedSoundFactory>)
    ->Name("BM_ReadyGoMappedSound")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadSideFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return bench::RunInScratchDir(
      argc, argv, "readygo_bench", "tamsel-readygo-bench-", [](const std::filesystem::path& dir) {
        g_dir = dir;
        MakeInputs();
        benchmark::AddCustomContext("side_file_bytes", std::to_string(2 * SLOTS));
      });
}
