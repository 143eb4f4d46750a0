// Queue and elastic drags on the waveform strip.
//
// One pointer move of a drag on a long document, with the coverage map as the editor keeps it,
// is set against a full rebuild of a plain per-slot map of the same document (one cell per
// centisecond, every cell written), which is what each move cost while the map was an array.
// The document is generated: 20 000 entries over 4.6 hours, as a dense feature-length film.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "DragGestures.h"
#include "EdgeTracking.h"
#include "EditorState.h"
#include "Timeline.h"

using namespace tamsel;

namespace {

constexpr int32_t kEntries = 20000;
constexpr int32_t kSoundSlots = 46 * 36000;  // 4.6 hours of sound, one slot per centisecond
constexpr int32_t kStripColumns = 1024;
constexpr int32_t kStripRow = 100;  // below the cut band
constexpr int32_t kSwing = 30;      // the pointer goes 30 columns right and back

/// A timeline of kEntries entries spread evenly over the sound: an entry every 0.66-1.00 s,
/// each 0.30-0.60 s long. Fixed seed: every run measures the same document.
std::vector<TSub> MakeTimeline() {
  std::mt19937 rng(20250611);
  const auto uniform = [&rng](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  std::vector<TSub> subs(kEntries);
  int32_t start = 100;
  for (int32_t i = 0; i < kEntries; ++i) {
    subs[i].IndexBegin = subs[i].IndexEnd = i + 1;
    subs[i].TimeIn = start;
    subs[i].TimeOut = start + uniform(30, 60);
    start += uniform(66, 100);
  }
  return subs;
}

/// The editor as a video of kSoundSlots slots is open with the generated timeline, the play
/// cursor at the middle entry, which is active.
void OpenDocument(EditorState& st) {
  st = EditorState{};
  st.Subs = MakeTimeline();
  st.WavSel.assign(size_t(kSoundSlots) + 1000, TWavSelect{false, -1});
  CreatSelAndInd(st.WavSel, st.Subs);
  st.AiBegin.assign(size_t(kSoundSlots) + 500, 0);
  st.AiEnd.assign(size_t(kSoundSlots) + 500, 0);
  st.MediaLength = kSoundSlots;
  st.SubsInVideo = kEntries;
  st.ActiveSub = kEntries / 2;
  st.PlayPos = st.Subs[size_t(st.ActiveSub)].TimeIn * 10;
  st.ViewStart = 2 * std::max(st.PlayPos / 10 - kStripColumns / 2, 0);
  st.Panel1Top = 300;
  st.MouseY = st.Panel1Top + kStripRow;
  RefreshEdge(st);
}

bool SameTimes(const std::vector<TSub>& a, const std::vector<TSub>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TSub& x, const TSub& y) {
    return x.TimeIn == y.TimeIn && x.TimeOut == y.TimeOut;
  });
}

/// One pointer move per round: the pointer sweeps kSwing columns right of the press and back,
/// one column at a time. Then the strip reads the columns it shows, as its next frame does.
///
/// A live elastic step scales the timeline in place and truncates, so over thousands of swings
/// the entries would creep together until they overlap, a timeline no user drags. Each swing
/// therefore starts from the document as it was pressed (outside the timing), as each drag does.
void DragBench(benchmark::State& state, Modifiers keys) {
  EditorState st;
  OpenDocument(st);
  const std::vector<TSub> pressed = st.Subs;
  const int32_t pressX = kStripColumns / 2;
  PaintWavMouseDown(st, MouseButton::Left, keys, pressX);
  int32_t offset = 0;
  int32_t direction = 1;
  int64_t seen = 0;
  for (auto _ : state) {
    if (offset == kSwing) direction = -1;
    if (offset == 0) {
      direction = 1;
      if (!SameTimes(st.Subs, pressed)) {
        state.PauseTiming();
        PaintWavMouseUp(st);
        st.Subs = pressed;
        CreatSelAndInd(st.WavSel, st.Subs);
        RefreshEdge(st);
        PaintWavMouseDown(st, MouseButton::Left, keys, pressX);
        state.ResumeTiming();
      }
    }
    offset += direction;
    PaintWavMouseMove(st, keys, pressX + offset, kStripRow);
    const EditorState& view = st;
    const size_t first = size_t(view.ViewStart / 2);
    for (size_t s = first; s < first + kStripColumns; ++s) seen += view.WavSel[s].SubIndex;
  }
  benchmark::DoNotOptimize(seen);
  PaintWavMouseUp(st);
  if (st.Subs[size_t(st.ActiveSub)].TimeIn <= 0) state.SkipWithError("the drag went nowhere");
  state.counters["entries"] = kEntries;
  state.counters["slots"] = double(st.WavSel.size());
}

void BM_QueueDragMove(benchmark::State& state) { DragBench(state, Modifiers{true, false}); }
void BM_ElasticDragMove(benchmark::State& state) { DragBench(state, Modifiers{false, true}); }

/// The floor: the whole map of the same document rebuilt as a plain array, every cell written.
void BM_PlainMapRebuild(benchmark::State& state) {
  const std::vector<TSub> subs = MakeTimeline();
  std::vector<TWavSelect> map(size_t(kSoundSlots) + 1000, TWavSelect{false, -1});
  for (auto _ : state) {
    std::fill(map.begin(), map.end(), TWavSelect{false, -1});
    MarkSelection(map, subs);
    benchmark::ClobberMemory();
  }
  state.counters["slots"] = double(map.size());
}

BENCHMARK(BM_QueueDragMove)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ElasticDragMove)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainMapRebuild)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
