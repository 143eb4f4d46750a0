#include "BatchRetime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <map>
#include <utility>

#include "SideData.h"
#include "SubtitleLoad.h"
#include "TestSupport.h"
#include "TimeText.h"

namespace tamsel {
namespace {

using test::AiFile;
using test::CrLf;
using test::Fixture;
using test::ReadBytes;
using test::WriteBytes;

using Times = std::vector<std::pair<int32_t, int32_t>>;

/// Scores `score` on the slots first .. last.
std::map<size_t, uint8_t> Speech(size_t first, size_t last, uint8_t score) {
  std::map<size_t, uint8_t> m;
  for (size_t k = first; k <= last; ++k) m[k] = score;
  return m;
}

/// The scores of `a`, overwritten by those of `b`.
std::map<size_t, uint8_t> Join(std::map<size_t, uint8_t> a, const std::map<size_t, uint8_t>& b) {
  for (const auto& [k, s] : b) a[k] = s;
  return a;
}

const std::string ASS_HEAD = CrLf({"[Script Info]", "ScriptType: v4.00+", "", "[Events]",
                                   "Format: Layer, Start, End, Style, Name, MarginL, MarginR, "
                                   "MarginV, Effect, Text"});

std::string Event(int32_t in, int32_t out, const std::string& text) {
  return "Dialogue: 0," + IntToTimeAssStr(in) + "," + IntToTimeAssStr(out) + ",Default,,0,0,0,," +
         text;
}

Times TimesOf(const EditorState& st) {
  Times t;
  for (const auto& s : st.Subs) t.emplace_back(s.TimeIn, s.TimeOut);
  return t;
}

/// A prepared video with a 2000-slot .ws file, an .ai file and a loaded ASS file whose events
/// have the given times (texts "s0", "s1", ...).
struct Prepared : Fixture {
  Prepared(const Times& times, const std::string& ai) : Fixture(2000) {
    st.AiFileName = File(".ai");
    WriteBytes(st.AiFileName, ai);
    std::vector<std::string> events;
    for (size_t i = 0; i < times.size(); ++i) {
      events.push_back(Event(times[i].first, times[i].second, "s" + std::to_string(i)));
    }
    WriteBytes(File(".ass"), ASS_HEAD + CrLf(events));
    EXPECT_TRUE(SubtitleLoad(st, 0));
    st.Pictures.ImageReadyGo = true;
  }

  /// The event lines of the subtitle file on disk.
  std::vector<std::string> EventLinesOnDisk() const {
    std::vector<std::string> out;
    for (const auto& line : test::DecodeLines(ReadBytes(File(".ass")))) {
      if (line.starts_with("Dialogue:")) out.push_back(line);
    }
    return out;
  }

  std::vector<std::string> ExpectedLines(const Times& times) const {
    std::vector<std::string> out;
    for (size_t i = 0; i < times.size(); ++i) {
      out.push_back(Event(times[i].first, times[i].second, "s" + std::to_string(i)));
    }
    return out;
  }
};

// ---- Loading the speech scores ----

// Side files that disagree in size (a cut .ai file, one left from another video, a .ws file
// of odd length) would shift or lose scores: every tool refuses them, naming the file.
TEST(LoadSideData, SideFilesThatDisagreeAreRefusedNamingTheFile) {
  struct Case {
    const char* name;
    size_t wsBytes;
    size_t aiBytes;
    const char* named;  ///< the file the message begins with
  } cases[] = {
      {"ai empty", 200, 0, ".ai"},
      {"ai of odd length", 200, 199, ".ai"},
      {"ai cut short", 200, 120, ".ai"},
      {"ai longer", 200, 202, ".ai"},
      {"ws of odd length", 201, 201, ".ws"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepared f({{100, 150}}, std::string(c.aiBytes, '\x05'));
    WriteBytes(f.st.WsFileName, std::string(c.wsBytes, '\0'));
    const std::string before = ReadBytes(f.File(".ass"));
    f.st.AiBegin = {1, 2, 3};
    f.st.AiEnd = {4, 5};
    EXPECT_FALSE(LoadSideData(f.st));
    EXPECT_FALSE(ButtonAutoAdjBeginClick(f.st));
    ASSERT_EQ(f.prompts.messages.size(), 2u);
    EXPECT_TRUE(f.prompts.messages[0].starts_with(f.File(c.named) + "\r"))
        << f.prompts.messages[0];
    EXPECT_TRUE(f.prompts.messages[1].ends_with("没有对齐，字幕时间未改动。"))
        << f.prompts.messages[1];
    EXPECT_EQ(f.st.AiBegin, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(f.st.AiEnd, (std::vector<uint8_t>{4, 5}));
    EXPECT_EQ(TimesOf(f.st), (Times{{100, 150}}));
    EXPECT_EQ(ReadBytes(f.File(".ass")), before);
  }
}

/// A side file made unusable: removed, or replaced by a folder of that name.
struct BrokenSideFile {
  const char* name;
  const char* ext;
  bool folder;
  const char* reason;  ///< what the message says after the path
};

const BrokenSideFile BROKEN[] = {
    {"ws missing", ".ws", false, "找不到这个文件。"},
    {"ws is a folder", ".ws", true, "无法读取这个文件。"},
    {"ai missing", ".ai", false, "无法打开文件："},
    {"ai is a folder", ".ai", true, "不是普通文件，而是文件夹"},
};

void Break(const Fixture& f, const BrokenSideFile& b) {
  std::filesystem::remove(ToPath(f.File(b.ext)));
  if (b.folder) std::filesystem::create_directory(ToPath(f.File(b.ext)));
}

TEST(LoadSideData, AnUnreadableSideFileIsNamedAndNothingIsLoaded) {
  for (const auto& b : BROKEN) {
    SCOPED_TRACE(b.name);
    Fixture f(100);
    f.st.AiFileName = f.File(".ai");
    WriteBytes(f.st.AiFileName, AiFile(100, Speech(0, 99, 3)));
    Break(f, b);
    f.st.AiBegin = {1, 2, 3};
    f.st.AiEnd = {4, 5};
    f.st.WsData = {6};
    EXPECT_FALSE(LoadSideData(f.st));
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_TRUE(f.prompts.messages[0].starts_with(f.File(b.ext) + "\r" + b.reason))
        << f.prompts.messages[0];
    EXPECT_EQ(f.st.AiBegin, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(f.st.AiEnd, (std::vector<uint8_t>{4, 5}));
    EXPECT_EQ(f.st.WsData, (std::vector<int8_t>{6}));
  }
}

// ---- The aligned in point ----

struct SeekCase {
  const char* name;
  std::vector<uint8_t> scores;
  int32_t point;
  int32_t range;
  int32_t expected;
};

std::vector<uint8_t> Scores(size_t size, const std::map<size_t, uint8_t>& at) {
  std::vector<uint8_t> v(size, 0);
  for (const auto& [k, s] : at) v[k] = s;
  return v;
}

TEST(AiSeachMax, FindsTheNearestStrongestStartAndWalksBackToItsRun) {
  const SeekCase cases[] = {
      {"no speech start in the window", Scores(200, {{40, 9}, {160, 9}}), 100, 20, 105},
      {"edge of the window is inside", Scores(200, Speech(120, 130, 4)), 100, 20, 124},
      {"just outside the window", Scores(200, Speech(121, 130, 4)), 100, 20, 105},
      {"stronger beats nearer", Scores(200, Join(Speech(102, 104, 2), Speech(112, 114, 6))), 100,
       20, 116},
      {"of equal strength the nearer", Scores(200, Join(Speech(90, 93, 5), Speech(110, 112, 5))),
       100, 20, 94},
      {"same distance: the earlier, walked back",
       Scores(200, Join(Speech(80, 90, 3), Speech(110, 115, 3))), 100, 10, 84},
      {"a peak inside a run walks back to the run's start",
       Scores(200, Join(Speech(95, 110, 2), {{105, 7}})), 100, 20, 99},
      {"speech at the point itself", Scores(200, Speech(98, 103, 1)), 100, 20, 102},
      {"a run from slot 0 walks back to 0", Scores(200, Speech(0, 12, 8)), 10, 20, 5},
      {"no window at all", Scores(200, Speech(98, 103, 1)), 100, -1, 102},
      {"zero range at a silent slot", Scores(200, {}), 100, 0, 105},
  };
  for (const auto& c : cases) {
    EditorState st;
    st.AiBegin = c.scores;
    EXPECT_EQ(AiSeachMax(st, c.point, c.range), c.expected) << c.name;
  }
}

TEST(AiSeachMax, StaysInsideTheScoresAtBothEnds) {
  // An array with no margin: every read outside it would be out of bounds.
  const SeekCase cases[] = {
      {"negative point, silence", Scores(10, {}), -3, 20, 2},
      {"negative point, speech ahead", Scores(10, Speech(5, 7, 3)), -3, 20, 9},
      {"past the end, silence", Scores(10, {}), 15, 20, 20},
      {"past the end, speech behind", Scores(10, Speech(2, 3, 1)), 15, 20, 6},
      {"last slot speaks", Scores(10, {{9, 4}}), 9, 20, 13},
      {"far past the end", Scores(10, Speech(0, 9, 5)), 1000, 20, 1005},
      {"no scores loaded", {}, 50, 20, 55},
  };
  for (const auto& c : cases) {
    EditorState st;
    st.AiBegin = c.scores;
    st.AiBegin.shrink_to_fit();
    EXPECT_EQ(AiSeachMax(st, c.point, c.range), c.expected) << c.name;
  }
}

TEST(AiSeachMax, AHugeRangeEndsPromptly) {
  EditorState st;
  st.AiBegin = Scores(100, Speech(60, 70, 2));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(AiSeachMax(st, 50, INT32_MAX), 64);
  EXPECT_EQ(AiSeachMax(st, INT32_MAX - 2, INT32_MAX), 64);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// ---- Instant alignment ----

TEST(ButtonAutoAdjBeginClick, TheRadiusFollowsTheTrackBar) {
  // Speech starts 20 and 30 slots after the in point 100 (the run at 120 starts at 120).
  const std::string ai = AiFile(2000, Join(Speech(120, 125, 4), Speech(130, 135, 9)));
  const struct {
    int position;
    int32_t expectedIn;
  } cases[] = {{0, 105}, {1, 124}, {2, 134}, {4, 134}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    Prepared p({{100, 300}}, ai);
    p.st.Ctrl.TrackBarAutoAdj = c.position;
    ASSERT_TRUE(ButtonAutoAdjBeginClick(p.st));
    EXPECT_EQ(TimesOf(p.st), (Times{{c.expectedIn, c.expectedIn + 200}}));
  }
}

TEST(ButtonAutoAdjBeginClick, WithoutSpeechEveryEntryMovesFiveLater) {
  Prepared p({{100, 300}, {500, 700}, {1000, 1100}}, AiFile(2000, {}));
  ASSERT_TRUE(ButtonAutoAdjBeginClick(p.st));
  const Times moved{{105, 305}, {505, 705}, {1005, 1105}};
  EXPECT_EQ(TimesOf(p.st), moved);
  EXPECT_EQ(p.EventLinesOnDisk(), p.ExpectedLines(moved));
  EXPECT_FALSE(p.st.SubDirty);
}

TEST(ButtonAutoAdjBeginClick, RepairsOverlapsWithAGapAndTheMinimumLength) {
  // Speech starts at 200 and 215 (equally strong) and at 600. MinGap is 50 (track bar 0).
  const std::string ai =
      AiFile(2000, Join(Speech(200, 205, 6), Join(Speech(215, 220, 6), Speech(600, 605, 3))));
  {
    // Aligned onto 204..259 and 219..280: the first is cut to end 5 before the second, which
    // makes it shorter than MinGap, so it is lengthened to 254 and the second begins 5 after
    // it; the second is then lengthened at its own turn.
    Prepared p({{185, 238}, {239, 300}}, ai);
    ASSERT_TRUE(ButtonAutoAdjBeginClick(p.st));
    const Times repaired{{204, 254}, {259, 309}};
    EXPECT_EQ(TimesOf(p.st), repaired);
    EXPECT_EQ(p.EventLinesOnDisk(), p.ExpectedLines(repaired));
  }
  {
    // Long enough after the cut: only the 5-cs gap is made.
    Prepared p({{185, 588}, {590, 800}}, ai);
    ASSERT_TRUE(ButtonAutoAdjBeginClick(p.st));
    EXPECT_EQ(TimesOf(p.st), (Times{{204, 599}, {604, 814}}));
  }
  {
    // A longer minimum length (track bar 5: 100 cs) holds for every entry, the last included.
    Prepared p({{185, 238}, {239, 300}}, ai);
    p.st.Ctrl.TrackBarMinTime = 5;
    ASSERT_TRUE(ButtonAutoAdjBeginClick(p.st));
    EXPECT_EQ(TimesOf(p.st), (Times{{204, 304}, {309, 409}}));
  }
}

TEST(ButtonAutoAdjBeginClick, RebuildsTheMapSavesAndLeavesTheEndScores) {
  Prepared p({{100, 300}}, AiFile(2000, Speech(110, 115, 5), Speech(0, 1999, 7)));
  p.st.AiEnd = {1, 2, 3};
  p.st.WavSel.assign(p.st.WavSel.size(), TWavSelect{false, -1});
  ASSERT_TRUE(ButtonAutoAdjBeginClick(p.st));
  EXPECT_EQ(TimesOf(p.st), (Times{{114, 314}}));
  EXPECT_EQ(p.st.AiEnd, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(p.st.AiBegin.size(), 2500u);
  EXPECT_EQ(p.st.AiBegin[112], 5);
  EXPECT_FALSE(p.st.WavSel[113].Select);
  EXPECT_TRUE(p.st.WavSel[114].Select);
  EXPECT_EQ(p.st.WavSel[314].SubIndex, 0);
  EXPECT_FALSE(p.st.WavSel[315].Select);
  EXPECT_FALSE(p.st.SubDirty);
  EXPECT_FALSE(p.st.Subs[0].Changed);
  EXPECT_EQ(p.EventLinesOnDisk(), p.ExpectedLines({{114, 314}}));
  EXPECT_TRUE(p.prompts.messages.empty());
}

TEST(ButtonAutoAdjBeginClick, AnUnreadableSideFileStopsBeforeAnyChange) {
  for (const auto& b : BROKEN) {
    SCOPED_TRACE(b.name);
    Prepared p({{100, 300}, {500, 700}}, AiFile(2000, Speech(110, 115, 5)));
    const std::string before = ReadBytes(p.File(".ass"));
    p.st.AiBegin = {9};
    Break(p, b);
    EXPECT_FALSE(ButtonAutoAdjBeginClick(p.st));
    ASSERT_EQ(p.prompts.messages.size(), 1u);
    const std::string& message = p.prompts.messages[0];
    EXPECT_TRUE(message.starts_with(p.File(b.ext) + "\r" + b.reason)) << message;
    EXPECT_TRUE(message.ends_with("没有对齐，字幕时间未改动。")) << message;
    EXPECT_EQ(TimesOf(p.st), (Times{{100, 300}, {500, 700}}));
    EXPECT_EQ(p.st.AiBegin, std::vector<uint8_t>{9});
    EXPECT_FALSE(p.st.SubDirty);
    EXPECT_EQ(ReadBytes(p.File(".ass")), before);
  }
}

TEST(ButtonAutoAdjBeginClick, AnEmptyTimelineIsStillSaved) {
  Fixture f(100);
  f.st.AiFileName = f.File(".ai");
  WriteBytes(f.st.AiFileName, AiFile(100, {}));
  f.st.SubFormat = FORMAT_SRT;
  f.st.SubFileName = f.File(".srt");
  f.st.TmpFileName = f.File(".tmp");
  f.st.SubCurr = -1;
  WriteBytes(f.st.SubFileName, " \r\n");
  ASSERT_TRUE(ButtonAutoAdjBeginClick(f.st));
  EXPECT_TRUE(f.st.Subs.empty());
  EXPECT_EQ(ReadBytes(f.st.SubFileName), "");
  EXPECT_FALSE(f.st.SubDirty);
}

TEST(ButtonAutoAdjBeginClick, TimesStayWithinTheFileLimit) {
  Fixture f(100);
  f.st.AiFileName = f.File(".ai");
  WriteBytes(f.st.AiFileName, AiFile(100, {}));
  f.st.SubFormat = FORMAT_SRT;
  f.st.SubFileName = f.File(".srt");
  f.st.TmpFileName = f.File(".tmp");
  f.st.Subs = {{1, 1, MAX_TIME - 50, MAX_TIME - 2, "a", false}};
  ASSERT_TRUE(ButtonAutoAdjBeginClick(f.st));
  EXPECT_EQ(TimesOf(f.st), (Times{{MAX_TIME - 45, MAX_TIME}}));
}

// ---- Frame-rate conversion ----

TEST(ParseConvertFactor, ReadsDecimalsWithEitherSeparator) {
  const std::pair<const char*, double> numbers[] = {
      {"1.25", 1.25}, {"1,25", 1.25}, {"1.000000", 1.0}, {" 0.9 ", 0.9}, {"\t1.1\r\n", 1.1},
      {"+1.2", 1.2},  {".5", 0.5},    {"2.", 2.0},       {"1e0", 1.0},   {"12.5E-1", 1.25},
      {"-0.5", -0.5}, {"0", 0.0},     {"1,000", 1.0},
  };
  for (const auto& [text, value] : numbers) {
    const auto x = ParseConvertFactor(text);
    ASSERT_TRUE(x.has_value()) << text;
    EXPECT_EQ(*x, value) << text;
  }
  const char* notNumbers[] = {"",    " ",   "abc", "1.25x", "x1.25",    "1.2.3",  "1,2.5",  "1 2",
                              "nan", "NaN", "inf", "-inf",  "Infinity", "1e400",  "-1e400", "0x1p0",
                              "+-1", "++1", ".",   ",",     "1e",       "１.２５"};
  for (const char* text : notNumbers) EXPECT_FALSE(ParseConvertFactor(text).has_value()) << text;
}

TEST(ButtonConvertClick, ScalesEveryTimeSavesAndResetsTheBox) {
  Prepared p({{1234, 1400}, {2000, 2999}}, AiFile(2000, {}));
  p.st.Ctrl.EditConvert = "1.25";
  EditConvertChange(p.st);
  ASSERT_TRUE(p.st.Ctrl.ButtonConvert);
  ASSERT_TRUE(ButtonConvertClick(p.st));
  // trunc(t * 1.25): 1234 -> 1542, 2999 -> 3748.
  const Times scaled{{1542, 1750}, {2500, 3748}};
  EXPECT_EQ(TimesOf(p.st), scaled);
  EXPECT_EQ(p.st.Ctrl.EditConvert, "1.000000");
  EXPECT_FALSE(p.st.Ctrl.ButtonConvert);
  EXPECT_FALSE(p.st.SubDirty);
  EXPECT_TRUE(p.st.WavSel[1542].Select);
  EXPECT_FALSE(p.st.WavSel[1541].Select);
  EXPECT_EQ(p.EventLinesOnDisk(), p.ExpectedLines(scaled));
}

TEST(ButtonConvertClick, ACommaFactorConvertsToo) {
  Prepared p({{1000, 1600}}, AiFile(2000, {}));
  p.st.Ctrl.EditConvert = "0,8";
  ASSERT_TRUE(ButtonConvertClick(p.st));
  EXPECT_EQ(TimesOf(p.st), (Times{{800, 1280}}));
}

TEST(ButtonConvertClick, ANonNumberIsNamedAndChangesNothing) {
  Prepared p({{1234, 1400}}, AiFile(2000, {}));
  const std::string before = ReadBytes(p.File(".ass"));
  p.st.Ctrl.EditConvert = "1.25倍";
  EXPECT_FALSE(ButtonConvertClick(p.st));
  ASSERT_EQ(p.prompts.messages.size(), 1u);
  EXPECT_NE(p.prompts.messages[0].find("“1.25倍”"), std::string::npos) << p.prompts.messages[0];
  EXPECT_EQ(TimesOf(p.st), (Times{{1234, 1400}}));
  EXPECT_EQ(p.st.Ctrl.EditConvert, "1.25倍");
  EXPECT_FALSE(p.st.SubDirty);
  EXPECT_FALSE(p.st.Subs[0].Changed);
  EXPECT_EQ(ReadBytes(p.File(".ass")), before);
}

TEST(ButtonConvertClick, ScaledTimesStayWithinTheFileLimit) {
  const struct {
    const char* factor;
    Times before;
    Times after;
  } cases[] = {
      {"1.4", {{300000000, 350000000}}, {{MAX_TIME, MAX_TIME}}},
      {"1.4", {{INT32_MAX - 10, INT32_MAX}}, {{MAX_TIME, MAX_TIME}}},
      {"1e300", {{0, 1}}, {{0, MAX_TIME}}},
      {"-1", {{100, 200}}, {{0, 0}}},
      {"1.1", {{-100, 100}}, {{0, 110}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.factor);
    Fixture f(100);
    f.st.SubFormat = FORMAT_SRT;
    f.st.SubFileName = f.File(".srt");
    f.st.TmpFileName = f.File(".tmp");
    for (const auto& [in, out] : c.before) f.st.Subs.push_back({1, 1, in, out, "a", false});
    f.st.Ctrl.EditConvert = c.factor;
    ASSERT_TRUE(ButtonConvertClick(f.st));
    EXPECT_EQ(TimesOf(f.st), c.after);
  }
}

TEST(EditConvertChange, EnablesTheButtonOnlyInsideTheBounds) {
  const std::pair<const char*, bool> cases[] = {
      {"0.717", false},
      {"0.7171", true},
      {"1.4139", true},
      {"1.4141", false},
      {"1.000000", false},
      {"1", false},
      {"1.0000001", true},
      {"abc", false},
      {"", false},
      {"1.25", true},
      {"0,9", true},
      {"2", false},
      {"0.5", false},
      {"-1", false},
      {"nan", false},
      // 1.414 read as a double lies just below the exact bound 1.414.
      {"1.414", true},
      {"1.4140000000000001", false},
      {"0.7170000000000001", true},
  };
  for (const auto& [text, enabled] : cases) {
    EditorState st;
    st.Pictures.ImageReadyGo = true;
    st.Ctrl.ButtonConvert = !enabled;
    st.Ctrl.EditConvert = text;
    EditConvertChange(st);
    EXPECT_EQ(st.Ctrl.ButtonConvert, enabled) << text;
  }
}

TEST(EditConvertChange, StaysDisabledWithoutAReadyVideoOrWhileEditing) {
  EditorState st;
  st.Ctrl.EditConvert = "1.25";
  st.Ctrl.ButtonConvert = true;
  EditConvertChange(st);  // no ready picture
  EXPECT_FALSE(st.Ctrl.ButtonConvert);

  st.Pictures.ImageReadyGo = true;
  EditConvertChange(st);
  EXPECT_TRUE(st.Ctrl.ButtonConvert);

  // Entering editing hides the ready picture.
  st.Pictures.ImageReadyGo = false;
  st.ReadyState = 2;
  EditConvertChange(st);
  EXPECT_FALSE(st.Ctrl.ButtonConvert);
  st.Pictures.ImageReadyGo = true;  // even if the picture were left showing
  EditConvertChange(st);
  EXPECT_FALSE(st.Ctrl.ButtonConvert);
}

}  // namespace
}  // namespace tamsel
