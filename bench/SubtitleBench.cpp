// Loading and saving subtitle files.
//
// The reader is set against libass parsing the same bytes; a save of one changed entry is set
// against writing the same number of bytes plainly (fopen/fwrite/fclose) and durably (plus
// fflush, fsync, rename and a sync of the folder). Every input is generated into a scratch folder when the program
// starts and removed when it ends; set TAMSEL_BENCH_DIR to put that folder on the disk that
// matters (the system's temporary folder may be a RAM disk, where fsync costs nothing).

#include <ass/ass.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchInputs.h"
#include "EditorState.h"
#include "FileIo.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TextCodec.h"
#include "TimeText.h"

using namespace tamsel;
using tamsel::bench::MakeAssFile;
using tamsel::bench::MakeSrtFile;

namespace {

// ---------------------------------------------------------------------------------------------
// Inputs

enum class Format { Ass, Srt };

/// The scratch folder and what the benchmarks read and write there.
struct Inputs {
  std::filesystem::path Dir;
  std::string AssBytes;
  std::string SrtBytes;
  std::string SavedAss;  ///< the ASS file as a save of one change writes it
  std::string SavedSrt;

  std::string Path(const std::string& name) const { return FromPath(Dir / ToPath(name)); }
  const std::string& Source(Format f) const { return f == Format::Ass ? AssBytes : SrtBytes; }
  const std::string& Saved(Format f) const { return f == Format::Ass ? SavedAss : SavedSrt; }
};

Inputs g_inputs;

const char* Extension(Format f) { return f == Format::Ass ? ".ass" : ".srt"; }

/// The base name (video path without extension) of the file of a benchmark.
std::string BaseName(const std::string& purpose, Format f) {
  return g_inputs.Path(purpose + (f == Format::Ass ? "_ass" : "_srt"));
}

/// Puts a fresh copy of the generated file in place under `base`.
void PlaceInput(const std::string& base, Format f) {
  const std::string target = base + Extension(f);
  WriteFileThroughTemp(target, target + ".tmp", g_inputs.Source(f));
}

/// An editor state as the command line sets it up: no waveform, default settings.
void ResetState(EditorState& st, const std::string& base) {
  st = EditorState{};
  st.BaseFileName = base;
  st.SizeMapFromSubs = true;
}

/// Moves entry `which` by `step` centiseconds and marks it for the next save.
void ChangeOneEntry(EditorState& st, size_t which, int32_t step) {
  TSub& sub = st.Subs[which];
  sub.TimeIn += step;
  sub.TimeOut += step;
  sub.Changed = true;
  st.SubDirty = true;
}

// ---------------------------------------------------------------------------------------------
// Loading. The teardown of the previous round's result is left out of the time, for our state
// and libass's track alike.

void LoadBench(benchmark::State& state, Format f) {
  const std::string base = BaseName("load", f);
  PlaceInput(base, f);
  std::optional<EditorState> st;
  for (auto _ : state) {
    state.PauseTiming();
    st.emplace();
    ResetState(*st, base);
    state.ResumeTiming();
    if (!SubtitleLoad(*st, 0)) {
      state.SkipWithError(st->LastMessage.c_str());
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(g_inputs.Source(f).size()));
  state.counters["entries"] = static_cast<double>(st->Subs.size());
  if (f == Format::Ass) state.counters["lines"] = static_cast<double>(st->AssLines.size());
}

void BM_LoadAss(benchmark::State& state) { LoadBench(state, Format::Ass); }
void BM_LoadSrt(benchmark::State& state) { LoadBench(state, Format::Srt); }

void DropLibassMessage(int, const char*, va_list, void*) {}

/// A libass library handle that stays quiet.
struct Libass {
  ASS_Library* Lib = ass_library_init();
  Libass() { ass_set_message_cb(Lib, DropLibassMessage, nullptr); }
  ~Libass() { ass_library_done(Lib); }
  Libass(const Libass&) = delete;
  Libass& operator=(const Libass&) = delete;
};

void BM_LibassParse(benchmark::State& state) {
  const std::string& bytes = g_inputs.AssBytes;
  Libass ass;
  std::vector<char> buf;
  ASS_Track* track = nullptr;
  for (auto _ : state) {
    // ass_read_memory gets a buffer of its own each round, as it may change the text it reads.
    state.PauseTiming();
    if (track) ass_free_track(track);
    buf.assign(bytes.begin(), bytes.end());
    state.ResumeTiming();
    track = ass_read_memory(ass.Lib, buf.data(), buf.size(), nullptr);
    if (!track) {
      state.SkipWithError("ass_read_memory failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
  state.counters["events"] = track->n_events;
  ass_free_track(track);
}

/// libass reading the file itself, as our load does; shows what the file read costs.
void BM_LibassReadFile(benchmark::State& state) {
  std::string path = BaseName("load", Format::Ass) + ".ass";
  PlaceInput(BaseName("load", Format::Ass), Format::Ass);
  Libass ass;
  ASS_Track* track = nullptr;
  for (auto _ : state) {
    state.PauseTiming();
    if (track) ass_free_track(track);
    state.ResumeTiming();
    track = ass_read_file(ass.Lib, path.data(), nullptr);
    if (!track) {
      state.SkipWithError("ass_read_file failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(g_inputs.AssBytes.size()));
  state.counters["events"] = track->n_events;
  ass_free_track(track);
}

// ---------------------------------------------------------------------------------------------
// Saving one change, and the two floors: the same bytes written plainly and durably.

void SaveBench(benchmark::State& state, Format f) {
  const std::string base = BaseName("save", f);
  PlaceInput(base, f);
  EditorState st;
  ResetState(st, base);
  if (!SubtitleLoad(st, 0)) {
    state.SkipWithError(st.LastMessage.c_str());
    return;
  }
  const size_t which = st.Subs.size() / 2;
  int32_t step = 10;
  for (auto _ : state) {
    ChangeOneEntry(st, which, step);
    step = -step;  // back and forth, so the file keeps its size
    if (!SubtitleSave(st)) {
      state.SkipWithError(st.LastMessage.c_str());
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(g_inputs.Saved(f).size()));
}

void BM_SaveAssOneChange(benchmark::State& state) { SaveBench(state, Format::Ass); }
void BM_SaveSrtOneChange(benchmark::State& state) { SaveBench(state, Format::Srt); }

void BM_PlainWrite(benchmark::State& state, Format f) {
  const std::string& bytes = g_inputs.Saved(f);
  const std::string path = BaseName("plain", f) + Extension(f);
  for (auto _ : state) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
      state.SkipWithError("fopen failed");
      return;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
      state.SkipWithError("fwrite failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

void BM_PlainWriteSync(benchmark::State& state, Format f) {
  const std::string& bytes = g_inputs.Saved(f);
  const std::string path = BaseName("durable", f) + Extension(f);
  const std::string tmp = path + ".tmp";
  for (auto _ : state) {
    FILE* out = std::fopen(tmp.c_str(), "wb");
    if (!out) {
      state.SkipWithError("fopen failed");
      return;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
              std::fflush(out) == 0 && ::fsync(::fileno(out)) == 0;
    ok = std::fclose(out) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
      state.SkipWithError("durable write failed");
      return;
    }
    // The new name itself is made durable too, as a save must.
    const int dir = ::open(std::filesystem::path(path).parent_path().c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || ::fsync(dir) != 0) {
      state.SkipWithError("directory sync failed");
      if (dir >= 0) ::close(dir);
      return;
    }
    ::close(dir);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

// Wall-clock time throughout: waiting for the disk is part of the cost.
BENCHMARK(BM_LoadAss)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibassParse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibassReadFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadSrt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveAssOneChange)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveSrtOneChange)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PlainWrite, ass, Format::Ass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PlainWrite, srt, Format::Srt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_PlainWriteSync, ass, Format::Ass)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_PlainWriteSync, srt, Format::Srt)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

/// The bytes a save of one change writes: loads a copy, moves one entry there and back, saves.
std::string SavedBytes(Format f) {
  const std::string base = BaseName("probe", f);
  PlaceInput(base, f);
  EditorState st;
  ResetState(st, base);
  if (!SubtitleLoad(st, 0)) throw std::runtime_error("cannot load the input: " + st.LastMessage);
  ChangeOneEntry(st, st.Subs.size() / 2, 10);
  if (!SubtitleSave(st)) throw std::runtime_error("cannot save the input: " + st.LastMessage);
  return ReadFileBytes(base + Extension(f));
}


}  // namespace

int main(int argc, char** argv) {
  return bench::RunInScratchDir(
      argc, argv, "subtitle_bench", "tamsel-bench-", [](const std::filesystem::path& dir) {
        g_inputs.Dir = dir;
        g_inputs.AssBytes = MakeAssFile();
        g_inputs.SrtBytes = MakeSrtFile();
        g_inputs.SavedAss = SavedBytes(Format::Ass);
        g_inputs.SavedSrt = SavedBytes(Format::Srt);
        benchmark::AddCustomContext("ass_bytes", std::to_string(g_inputs.AssBytes.size()));
        benchmark::AddCustomContext("srt_bytes", std::to_string(g_inputs.SrtBytes.size()));
        char version[16];
        std::snprintf(version, sizeof version, "%08x",
                      static_cast<unsigned>(ass_library_version()));
        benchmark::AddCustomContext("libass_version", version);
      });
}
