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

#include "EditorState.h"
#include "FileIo.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TextCodec.h"
#include "TimeText.h"

using namespace tamsel;

namespace {

constexpr int kDialogueEvents = 10000;  // layer 0; each has a layer-1 effect: 20 000 events
constexpr int kSrtEntries = 20000;

// ---------------------------------------------------------------------------------------------
// Inputs

/// Fixed seed: every run measures the same files.
class TextMaker {
 public:
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

  /// One of the items of an array.
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Uniform(0, static_cast<int>(N) - 1)];
  }

  /// A line of 20 to 40 characters, mostly Chinese with some ASCII words.
  std::string Line() {
    static const char* const kChinese[] = {
        "我们",   "今天",   "晚上",   "一起", "去看", "电影", "你说", "什么",  "真的",   "没有",
        "时间",   "问题",   "朋友",   "回家", "明天", "早上", "已经", "知道",  "可以",   "这样",
        "不是",   "因为",   "所以",   "还是", "喜欢", "这个", "地方", "好吗",  "等一下", "为什么",
        "别担心", "对不起", "谢谢你", "开始", "结束", "小心", "快走", "听我说"};
    static const char* const kAscii[] = {"OK",     "Tom", "Wi-Fi", "NASA", "3D",  "DNA",
                                         "iPhone", "VIP", "100%",  "CEO",  "KTV", "Mary"};
    static const char* const kPunctuation[] = {"，", "。", "！", "？", "……", " "};
    const size_t want = static_cast<size_t>(Uniform(20, 40));
    std::string s;
    while (Utf8Length(s) < want) {
      const int pick = Uniform(0, 9);
      if (pick < 6) {
        s += Pick(kChinese);
      } else if (pick < 8) {
        s += Pick(kAscii);
      } else {
        s += Pick(kPunctuation);
      }
    }
    return s.substr(0, Utf8PrefixBytes(s, want));
  }

 private:
  std::mt19937 m_rng{20250611};
};

/// An ASS file as another tool writes it: dialogue on layer 0, each line followed by an effect
/// on layer 1 with position and fade. Lines start 2-3 s apart; about one in ten runs into the
/// next one.
std::string MakeAssFile() {
  TextMaker tm;
  std::vector<std::string> lines = {
      "[Script Info]",
      "; Script generated for the load and save benchmark",
      "Title: 基准测试",
      "ScriptType: v4.00+",
      "WrapStyle: 0",
      "ScaledBorderAndShadow: yes",
      "PlayResX: 1280",
      "PlayResY: 720",
      "YCbCr Matrix: TV.709",
      "",
      "[V4+ Styles]",
      "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
      "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
      "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding",
      "Style: Default,黑体,45,&H00FFFFFF,&HF0000000,&H00000000,&H80000000,0,0,0,0,100,100,0,"
      "0,1,2,1,2,20,20,30,134",
      "Style: Sign,楷体,38,&H0000FFFF,&HF0000000,&H00000000,&H80000000,-1,0,0,0,100,100,0,0,1,"
      "2,0,8,20,20,40,134",
      "",
      "[Events]",
      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text",
  };
  int32_t start = 500;
  for (int i = 0; i < kDialogueEvents; ++i) {
    start += tm.Uniform(200, 300);
    const int32_t end = start + tm.Uniform(100, 260);
    std::string text;
    switch (tm.Uniform(0, 5)) {
      case 0:
        text = "{\\b1}" + tm.Line() + "{\\b0}";
        break;
      case 1:
        text = "{\\i1}" + tm.Line() + "{\\i0}";
        break;
      case 2:
        text = tm.Line() + "\\N{\\fs30}" + tm.Line();
        break;
      default:
        text = tm.Line();
    }
    lines.push_back("Dialogue: 0," + IntToTimeAssStr(start) + "," + IntToTimeAssStr(end) +
                    ",Default,,0,0,0,," + text);
    static const char* const kEffects[] = {
        "{\\pos(640,360)\\fad(200,200)}", "{\\an8\\pos(640,60)\\fad(200,200)}",
        "{\\move(100,600,1180,600)\\fad(150,300)}", "{\\pos(640,360)\\fad(200,200)\\blur2}"};
    const int32_t fxIn = start + tm.Uniform(0, 50);
    lines.push_back("Dialogue: 1," + IntToTimeAssStr(fxIn) + "," +
                    IntToTimeAssStr(fxIn + tm.Uniform(100, 300)) + ",Sign,,0,0,0,," +
                    tm.Pick(kEffects) + tm.Line());
  }
  return EncodeTextFile(lines, /*utf8Bom=*/true, CodePage::Utf8);
}

/// An SRT file of one- and two-line entries, 2-3 s apart.
std::string MakeSrtFile() {
  TextMaker tm;
  std::vector<std::string> lines;
  lines.reserve(kSrtEntries * 5);
  int32_t start = 500;
  for (int i = 1; i <= kSrtEntries; ++i) {
    start += tm.Uniform(200, 300);
    const int32_t end = start + tm.Uniform(120, 190);
    lines.push_back(std::to_string(i));
    lines.push_back(IntToTimeStr(start) + " --> " + IntToTimeStr(end));
    lines.push_back(tm.Line());
    if (tm.Uniform(0, 2) == 0) lines.push_back(tm.Line());
    lines.emplace_back();
  }
  return EncodeTextFile(lines, /*utf8Bom=*/true, CodePage::Utf8);
}

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

/// A new folder under TAMSEL_BENCH_DIR (the system's temporary folder when not set).
std::filesystem::path MakeScratchDir() {
  const char* parent = std::getenv("TAMSEL_BENCH_DIR");
  const std::filesystem::path root =
      parent && *parent ? std::filesystem::path(parent) : std::filesystem::temp_directory_path();
  const std::filesystem::path dir = root / ("tamsel-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int rc = 0;
  try {
    g_inputs.Dir = MakeScratchDir();
    g_inputs.AssBytes = MakeAssFile();
    g_inputs.SrtBytes = MakeSrtFile();
    g_inputs.SavedAss = SavedBytes(Format::Ass);
    g_inputs.SavedSrt = SavedBytes(Format::Srt);
    benchmark::AddCustomContext("data_dir", FromPath(g_inputs.Dir));
    benchmark::AddCustomContext("ass_bytes", std::to_string(g_inputs.AssBytes.size()));
    benchmark::AddCustomContext("srt_bytes", std::to_string(g_inputs.SrtBytes.size()));
    char version[16];
    std::snprintf(version, sizeof version, "%08x", static_cast<unsigned>(ass_library_version()));
    benchmark::AddCustomContext("libass_version", version);
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::cerr << "subtitle_bench: " << e.what() << "\n";
    rc = 1;
  }
  benchmark::Shutdown();
  if (!g_inputs.Dir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(g_inputs.Dir, ec);
  }
  return rc;
}
