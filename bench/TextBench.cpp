// Text work on hostile input: removing override blocks from a line made of nothing else.
//
// The figure is how the time grows with the line: four times the bytes must take about four
// times as long (a pass that went back over the text for every block would take sixteen).

#include <benchmark/benchmark.h>

#include <string>

#include "SubtitleLoad.h"

using namespace tamsel;

namespace {

void BM_StripOverridesPairs(benchmark::State& state) {
  std::string line;
  while (line.size() < static_cast<size_t>(state.range(0))) line += "{\\}";
  for (auto _ : state) benchmark::DoNotOptimize(StripOverrides(line));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_StripOverridesPairs)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
