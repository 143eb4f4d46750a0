// Splitting an entry of a large ASS file.
//
// A split of an ASS entry writes the subtitle file and takes the document from what was written,
// so its floor is what any edit of that file costs on its way to the disk: a save of one changed
// entry of the same file, measured in the same run. Both work on the 20 000-event file of the
// load and save benchmark, generated into a scratch folder when the program starts and removed
// when it ends; set TAMSEL_BENCH_DIR to put that folder on the disk that matters.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "BenchInputs.h"
#include "EditorState.h"
#include "FileIo.h"
#include "SplitJoin.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"

using namespace tamsel;

namespace {

std::filesystem::path g_dir;
std::string g_assBytes;

/// A fresh copy of the generated file as the subtitles of the video `name`, loaded into `st` as
/// the command line sets an editor up (no waveform, default settings). The video is as long as
/// the last entry plus a minute.
bool LoadFreshCopy(benchmark::State& state, EditorState& st, const std::string& name) {
  const std::string base = FromPath(g_dir / ToPath(name));
  WriteFileThroughTemp(base + ".ass", base + ".ass.tmp", g_assBytes);
  st = EditorState{};
  st.BaseFileName = base;
  st.SizeMapFromSubs = true;
  if (!SubtitleLoad(st, 0)) {
    state.SkipWithError(st.LastMessage.c_str());
    return false;
  }
  st.MediaLength = st.Subs.back().TimeOut + 6000;
  RecountSubsInVideo(st);
  return true;
}

/// From entry `from` on, the first one whose split comes back as two entries of their own: one
/// event, long enough that neither part grows into the other at the minimum length, and far
/// enough from the next entry. -1 when there is none.
int64_t NextSplittable(const EditorState& st, size_t from) {
  for (size_t i = from; i + 1 < st.Subs.size(); ++i) {
    const TSub& s = st.Subs[i];
    if (s.IndexBegin == s.IndexEnd && s.TimeOut - s.TimeIn >= 120 &&
        st.Subs[i + 1].TimeIn - s.TimeOut >= 60 && s.Dialogue.size() >= 2) {
      return static_cast<int64_t>(i);
    }
  }
  return -1;
}

void BM_SplitAss(benchmark::State& state) {
  EditorState st;
  if (!LoadFreshCopy(state, st, "split")) return;
  size_t from = st.Subs.size() / 4;
  for (auto _ : state) {
    state.PauseTiming();
    const int64_t which = NextSplittable(st, from);
    if (which < 0) {
      state.SkipWithError("no entry left to split");
      return;
    }
    st.ActiveSub = static_cast<int32_t>(which);
    st.PlayPos = (st.Subs[size_t(which)].TimeIn + 1) * 10;
    const size_t before = st.Subs.size();
    state.ResumeTiming();

    Shear(st);

    if (st.Subs.size() != before + 1) {
      state.SkipWithError(
          ("the split of entry " + std::to_string(which) + " was not made").c_str());
      return;
    }
    from = static_cast<size_t>(which) + 2;  // past both parts
  }
  state.counters["entries"] = static_cast<double>(st.Subs.size());
}

void BM_SaveAssOneChange(benchmark::State& state) {
  EditorState st;
  if (!LoadFreshCopy(state, st, "save")) return;
  TSub& sub = st.Subs[st.Subs.size() / 2];
  int32_t step = 10;
  for (auto _ : state) {
    sub.TimeIn += step;
    sub.TimeOut += step;
    sub.Changed = true;
    st.SubDirty = true;
    step = -step;  // back and forth, so the file keeps its size
    if (!SubtitleSave(st)) {
      state.SkipWithError(st.LastMessage.c_str());
      return;
    }
  }
}

// Wall-clock time: waiting for the disk is part of the cost.
BENCHMARK(BM_SplitAss)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveAssOneChange)->Unit(benchmark::kMillisecond)->UseRealTime();


}  // namespace

int main(int argc, char** argv) {
  return bench::RunInScratchDir(
      argc, argv, "split_bench", "tamsel-split-bench-", [](const std::filesystem::path& dir) {
        g_dir = dir;
        g_assBytes = bench::MakeAssFile();
        benchmark::AddCustomContext("ass_bytes", std::to_string(g_assBytes.size()));
      });
}
