#include "BenchInputs.h"

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <random>
#include <vector>

#include "FileIo.h"
#include "TextCodec.h"
#include "TimeText.h"

namespace tamsel::bench {

namespace {

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

}  // namespace

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

std::filesystem::path MakeScratchDir(const std::string& prefix) {
  const char* parent = std::getenv("TAMSEL_BENCH_DIR");
  const std::filesystem::path root =
      parent && *parent ? std::filesystem::path(parent) : std::filesystem::temp_directory_path();
  const std::filesystem::path dir = root / (prefix + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

int RunInScratchDir(int argc, char** argv, const std::string& program, const std::string& prefix,
                    const std::function<void(const std::filesystem::path&)>& prepare) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int rc = 0;
  std::filesystem::path dir;
  try {
    dir = MakeScratchDir(prefix);
    prepare(dir);
    benchmark::AddCustomContext("data_dir", FromPath(dir));
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::cerr << program << ": " << e.what() << "\n";
    rc = 1;
  }
  benchmark::Shutdown();
  if (!dir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  return rc;
}

}  // namespace tamsel::bench
