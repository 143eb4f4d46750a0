// The waveform strip's tick against filling its image with one colour.
//
// A full redraw of a 1024-column strip (every column's envelope, colours, ticks and speech
// marks, with the choice of the active entry and the places of the subtitle lines) is set against
// filling the same 1024 x 128 pixels with one colour; a tick while playing at 1.0, which draws
// only the columns that scrolled into view and the cursor's, against the full redraw. The
// document is generated: an hour of sound with an entry every 2-4 s.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "WaveStrip.h"

using namespace tamsel;

namespace {

constexpr int32_t kSlots = 360000;  // an hour of sound
constexpr int32_t kColumns = 1024;
constexpr int32_t kTick = 33;  // the strip's tick at the middle power class, ms

/// The editor as entering editing leaves it, with a generated envelope, speech scores and
/// timeline; the play cursor in the middle of the sound.
EditorState& Document() {
  static EditorState st = [] {
    EditorState s;
    std::mt19937 rng(20250611);
    const auto uniform = [&rng](int lo, int hi) {
      return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    for (int32_t t = 100; t < kSlots - 500;) {
      TSub sub;
      sub.TimeIn = t;
      sub.TimeOut = t + uniform(80, 250);
      sub.Dialogue = "我们今天晚上一起去看电影";
      s.Subs.push_back(sub);
      t = sub.TimeOut + uniform(20, 150);
    }
    s.WavSel.assign(size_t(kSlots), TWavSelect{false, -1});
    CreatSelAndInd(s.WavSel, s.Subs);
    s.WsData.assign(2 * size_t(kSlots) + 2000, 0);
    for (size_t k = 0; k < size_t(kSlots) + 1000; ++k) {
      const bool sound = k + 1 < size_t(kSlots);
      s.WsData[2 * k] = sound ? int8_t(uniform(0, 60)) : 0;
      s.WsData[2 * k + 1] = sound ? int8_t(-uniform(1, 60)) : -1;
    }
    s.AiBegin.assign(size_t(kSlots) + 500, 0);
    s.AiEnd.assign(size_t(kSlots) + 500, 0);
    for (size_t k = 0; k < size_t(kSlots); k += size_t(uniform(20, 90)))
      s.AiBegin[k] = uint8_t(uniform(2, 40));
    for (size_t k = 0; k < size_t(kSlots); k += size_t(uniform(20, 90)))
      s.AiEnd[k] = uint8_t(uniform(2, 40));
    s.MediaLength = kSlots;
    s.SubsInVideo = int32_t(s.Subs.size());
    s.Panel1Left = 100;
    s.Panel1Top = 400;
    s.Panel1Width = kColumns;
    s.ReadyState = 2;
    s.PlayRate = 1.0;
    return s;
  }();
  return st;
}

StripView View() {
  StripView v;
  v.width = kColumns;
  v.clientWidth = kColumns + 200;
  return v;
}

void BM_FillStrip(benchmark::State& state) {
  std::vector<Argb> pixels(size_t(kColumns) * STRIP_HEIGHT);
  Argb colour = RgbOf(20, 40, 56);
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), colour);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
    colour ^= 1;
  }
}
BENCHMARK(BM_FillStrip);

void BM_FullRedraw(benchmark::State& state) {
  EditorState& st = Document();
  WaveStrip strip;
  const StripView view = View();
  int32_t pos = kSlots * 5;
  for (auto _ : state) {
    st.PlayPos = pos;
    st.ViewMarker = -99.0;
    const StripFrame tick = Timer4ShowWavTimer(st, strip, view);
    benchmark::DoNotOptimize(tick.full);
    pos = pos == kSlots * 5 ? kSlots * 5 + 410 : kSlots * 5;
  }
}
BENCHMARK(BM_FullRedraw);

void BM_PlayingRedraw(benchmark::State& state) {
  EditorState& st = Document();
  WaveStrip strip;
  const StripView view = View();
  st.PlayPos = 20000;
  st.ViewMarker = -100.0;
  Timer4ShowWavTimer(st, strip, view);
  for (auto _ : state) {
    st.PlayPos += kTick;
    if (st.PlayPos > (kSlots - 2000) * 10) st.PlayPos = 20000;  // once in a hundred thousand
    const StripFrame tick = Timer4ShowWavTimer(st, strip, view);
    benchmark::DoNotOptimize(tick.changedTo);
  }
}
BENCHMARK(BM_PlayingRedraw);

}  // namespace

BENCHMARK_MAIN();
