#include "SplitJoin.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <random>

#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TestSupport.h"
#include "TimeText.h"

namespace tamsel {

namespace {

using test::BOM;
using test::CrLf;
using test::Fixture;
using test::ReadBytes;
using test::With;
using test::WriteBytes;

using Lines = std::vector<std::string>;

const std::string PH = PLACEHOLDER_TEXT;
constexpr int32_t MEDIA = 100000;      // the fixture's sound: 1000 s
constexpr int32_t INSIDE = INT32_MIN;  // play position: just inside the entry

const Lines HEAD = test::AssScriptHead();

struct Entry {
  int32_t in, out;
  std::string text;
};

Lines SrtLines(const std::vector<Entry>& entries) {
  Lines lines;
  for (size_t i = 0; i < entries.size(); ++i) {
    lines.push_back(std::to_string(i + 1));
    lines.push_back(IntToTimeStr(entries[i].in) + " --> " + IntToTimeStr(entries[i].out));
    for (auto& l : SplitDisplayLines(entries[i].text)) lines.push_back(l);
    lines.emplace_back();
  }
  return lines;
}

std::string Event(int32_t in, int32_t out, const std::string& text, int layer = 0) {
  return "Dialogue: " + std::to_string(layer) + "," + IntToTimeAssStr(in) + "," +
         IntToTimeAssStr(out) + ",Default,,0,0,0,," + text;
}

void LoadSrt(Fixture& f, const std::vector<Entry>& entries) {
  WriteBytes(f.File(".srt"), CrLf(SrtLines(entries)));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  f.st.MediaLength = MEDIA;
}

void LoadAss(Fixture& f, const Lines& events, const std::string& ext = ".ass") {
  WriteBytes(f.File(ext), CrLf(With(HEAD, events)));
  ASSERT_TRUE(SubtitleLoad(f.st, LayerBoxValue(f.st.Ctrl)));
  f.st.MediaLength = MEDIA;
}

/// Puts the play position just inside entry `i` and makes it active.
void PointAt(EditorState& st, int32_t i) {
  st.PlayPos = (st.Subs[size_t(i)].TimeIn + 1) * 10;
  st.ActiveSub = i;
}

std::vector<Entry> Timeline(const EditorState& st) {
  std::vector<Entry> out;
  for (const auto& s : st.Subs) out.push_back({s.TimeIn, s.TimeOut, s.Dialogue});
  return out;
}

void ExpectTimeline(const EditorState& st, const std::vector<Entry>& expected) {
  ASSERT_EQ(st.Subs.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(st.Subs[i].TimeIn, expected[i].in) << "entry " << i;
    EXPECT_EQ(st.Subs[i].TimeOut, expected[i].out) << "entry " << i;
    EXPECT_EQ(st.Subs[i].Dialogue, expected[i].text) << "entry " << i;
  }
}

/// Saves the document and loads the file again: the timeline comes back as it was.
void ExpectReloadsAlike(Fixture& f) {
  const std::vector<Entry> before = Timeline(f.st);
  ASSERT_TRUE(SubtitleSave(f.st));
  ASSERT_TRUE(SubtitleLoad(f.st, LayerBoxValue(f.st.Ctrl)));
  ExpectTimeline(f.st, before);
}

/// The document parts of two editor states are alike, field for field; the current entry is left
/// out (an edit keeps it where the user was).
void ExpectSameDocument(const EditorState& got, const EditorState& want) {
  const auto sameSubs = [](const std::vector<TSub>& a, const std::vector<TSub>& b,
                           const char* what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].IndexBegin, b[i].IndexBegin) << what << " " << i;
      EXPECT_EQ(a[i].IndexEnd, b[i].IndexEnd) << what << " " << i;
      EXPECT_EQ(a[i].TimeIn, b[i].TimeIn) << what << " " << i;
      EXPECT_EQ(a[i].TimeOut, b[i].TimeOut) << what << " " << i;
      EXPECT_EQ(a[i].Dialogue, b[i].Dialogue) << what << " " << i;
      EXPECT_EQ(a[i].Changed, b[i].Changed) << what << " " << i;
    }
  };
  sameSubs(got.Subs, want.Subs, "Subs");
  sameSubs(got.SubsBase, want.SubsBase, "SubsBase");
  ASSERT_EQ(got.AssLines.size(), want.AssLines.size());
  for (size_t j = 0; j < got.AssLines.size(); ++j) {
    const TAssOriginal& a = got.AssLines[j];
    const TAssOriginal& b = want.AssLines[j];
    EXPECT_EQ(a.index, b.index) << "line " << j;
    EXPECT_EQ(a.TimeIn, b.TimeIn) << "line " << j;
    EXPECT_EQ(a.TimeOut, b.TimeOut) << "line " << j;
    EXPECT_EQ(a.Dialogue, b.Dialogue) << "line " << j;
    EXPECT_EQ(a.DoNotCare, b.DoNotCare) << "line " << j;
    EXPECT_EQ(a.Original, b.Original) << "line " << j;
    EXPECT_EQ(a.Layer, b.Layer) << "line " << j;
  }
  ASSERT_EQ(got.AssEvents.size(), want.AssEvents.size());
  for (size_t k = 0; k < got.AssEvents.size(); ++k) {
    EXPECT_EQ(got.AssEvents[k].index, want.AssEvents[k].index) << "event " << k;
    EXPECT_EQ(got.AssEvents[k].TimeIn, want.AssEvents[k].TimeIn) << "event " << k;
    EXPECT_EQ(got.AssEvents[k].TimeOut, want.AssEvents[k].TimeOut) << "event " << k;
    EXPECT_EQ(got.AssEvents[k].Dialogue, want.AssEvents[k].Dialogue) << "event " << k;
  }
  ASSERT_EQ(got.WavSel.size(), want.WavSel.size());
  for (size_t c = 0; c < got.WavSel.size(); ++c) {
    ASSERT_EQ(got.WavSel[c].Select, want.WavSel[c].Select) << "cell " << c;
    ASSERT_EQ(got.WavSel[c].SubIndex, want.WavSel[c].SubIndex) << "cell " << c;
  }
  EXPECT_EQ(got.SubFormat, want.SubFormat);
  EXPECT_EQ(got.SubUtf8Bom, want.SubUtf8Bom);
  EXPECT_EQ(got.SubCodePage, want.SubCodePage);
  EXPECT_EQ(got.SubLayer, want.SubLayer);
  EXPECT_EQ(got.LoadMinGap, want.LoadMinGap);
  EXPECT_EQ(got.SubFileName, want.SubFileName);
  EXPECT_EQ(got.TmpFileName, want.TmpFileName);
  EXPECT_EQ(got.SaveFailureReported, want.SaveFailureReported);
  EXPECT_EQ(got.Ctrl.LabeledEditLayer, want.Ctrl.LabeledEditLayer);
}

/// A split's document is what a load of the file it wrote gives: the file is loaded afresh into
/// an editor set up alike, and the two are compared.
void ExpectSplitAsLoaded(const Fixture& f) {
  EditorState fresh;
  fresh.BaseFileName = f.st.BaseFileName;
  fresh.WsFileName = f.st.WsFileName;
  fresh.SizeMapFromSubs = f.st.SizeMapFromSubs;
  fresh.Ctrl = f.st.Ctrl;
  ASSERT_TRUE(SubtitleLoad(fresh, LayerBoxValue(f.st.Ctrl)));
  ExpectSameDocument(f.st, fresh);
  EXPECT_EQ(f.st.Caption, fresh.Caption + "　　　");
}

/// Every cell of the coverage map is what a rebuild from the timeline would make of it.
void ExpectCoverageMatches(const EditorState& st) {
  std::vector<TWavSelect> rebuilt(st.WavSel.size(), TWavSelect{false, -1});
  MarkSelection(rebuilt, st.Subs);
  for (size_t s = 0; s < rebuilt.size(); ++s) {
    ASSERT_EQ(st.WavSel[s].Select, rebuilt[s].Select) << "slot " << s;
    ASSERT_EQ(st.WavSel[s].SubIndex, rebuilt[s].SubIndex) << "slot " << s;
  }
}

// ---------------------------------------------------------------------------------------------
// The text cut

TEST(SplitText, CutsAtASeparatorAfterAMarkOrInTheMiddle) {
  const struct {
    std::string text, first, second;
  } cases[] = {
      {"one||two", "one", "two"},
      // The later of the first "||" and the first "\N": the first part keeps the "\N".
      {"a\\Nb||c", "a\\Nb", "c"},
      {"a||b\\Nc", "a||b", "c"},
      {"ab\\N", "ab", PH},
      {"||ab", PH, "ab"},
      // After the last of the marks' first occurrences, the mark closing the first part.
      {"Hello, world", "Hello, ", "world"},
      {"你好，世界", "你好，", "世界"},
      {"好吗？是的", "好吗？", "是的"},
      {"真的！假的", "真的！", "假的"},
      {"一　二", "一　", "二"},
      {"a>b", "a>", "b"},
      {"a.b,c", "a.b,", "c"},
      {"你好，世界。", "你好，世界。", PH},
      // The middle: 5 characters give 2 and 3.
      {"abcde", "ab", "cde"},
      {"你好世界啊", "你好", "世界啊"},
      {"ab", "a", "b"},
      {"x", PH, "x"},
      {"", PH, PH},
      // A surrogate pair is never taken apart: the cut moves before it.
      {"😀😀😀", "😀", "😀😀"},
      {"a😀b", "a", "😀b"},
      {"😀", PH, "😀"},
      {"😀ab", "😀", "ab"},
      // Bytes that are not UTF-8 count as one character each and are kept.
      {"ab\xFF"
       "cd",
       "ab",
       "\xFF"
       "cd"},
  };
  for (const auto& c : cases) {
    const auto [first, second] = SplitText(c.text);
    EXPECT_EQ(first, c.first) << c.text;
    EXPECT_EQ(second, c.second) << c.text;
  }
}

TEST(SplitText, TheSecondPartKeepsAtMost2048Characters) {
  const std::string x2047(2047, 'x');
  const struct {
    std::string text, second;
  } cases[] = {
      {"a||" + std::string(3000, 'x'), std::string(2048, 'x')},
      {"a||" + std::string(2048, 'x'), std::string(2048, 'x')},
      // The 2048th character is the first half of a pair: the pair is left out whole.
      {"a||" + x2047 + "😀yy", x2047},
      {"a||" + std::string(2046, 'x') + "😀yy", std::string(2046, 'x') + "😀"},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitText(c.text).second, c.second);
}

// ---------------------------------------------------------------------------------------------
// Split

TEST(Shear, SrtEntrySplitsAtItsMiddleWithAGapOfFour) {
  Fixture f;
  LoadSrt(f, {{500, 600, "前一句"}, {1000, 1100, "one||two"}, {2000, 2200, "后一句"}});
  f.st.SubCurr = 2;
  f.st.SubsInVideo = 3;
  PointAt(f.st, 1);
  Shear(f.st);
  ExpectTimeline(
      f.st,
      {{500, 600, "前一句"}, {1000, 1050, "one"}, {1054, 1100, "two"}, {2000, 2200, "后一句"}});
  for (int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(f.st.Subs[size_t(i)].IndexBegin, i + 1);
    EXPECT_EQ(f.st.Subs[size_t(i)].IndexEnd, i + 1);
  }
  EXPECT_EQ(f.st.WavSel[1050].SubIndex, 1);
  EXPECT_FALSE(f.st.WavSel[1052].Select);
  EXPECT_EQ(f.st.WavSel[1054].SubIndex, 2);
  ExpectCoverageMatches(f.st);
  EXPECT_EQ(f.st.ActiveSub, 1);
  EXPECT_EQ(f.st.SubCurr, 3);  // still the entry it named
  EXPECT_EQ(f.st.SubsInVideo, 4);
  EXPECT_TRUE(f.st.SubDirty);
  EXPECT_EQ(f.st.ViewMarker, -99.0);
  // The second part is shorter than the minimum length; the next load lengthens it.
  ASSERT_TRUE(SubtitleSave(f.st));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(f.st.Subs[2].TimeOut, 1104);
}

TEST(Shear, PartsLoadBackAsTheyWereSplit) {
  for (const std::string ext : {".srt", ".ass", ".ssa"}) {
    Fixture f;
    if (ext == ".srt") {
      LoadSrt(f, {{500, 600, "a"}, {1000, 1200, "one||two"}, {2000, 2200, "你好，世界"}});
    } else {
      LoadAss(
          f, {Event(500, 600, "a"), Event(1000, 1200, "one||two"), Event(2000, 2200, "你好，世界")},
          ext);
    }
    PointAt(f.st, 1);
    Shear(f.st);
    PointAt(f.st, 3);
    Shear(f.st);
    ExpectTimeline(f.st, {{500, 600, "a"},
                          {1000, 1100, "one"},
                          {1104, 1200, "two"},
                          {2000, 2100, "你好，"},
                          {2104, 2200, "世界"}});
    ExpectReloadsAlike(f);
  }
}

TEST(Shear, RefusesWhatItCannotSplit) {
  const struct {
    const char* what;
    int32_t in, out;
    std::string text;
    int minTime;      // TrackBarMinTime: MinGap = minTime * 10 + 50
    int32_t playPos;  // ms; INSIDE: just inside the entry
    int32_t active;
    bool splits;
  } cases[] = {
      {"1.00 s with MinGap 0.5 s", 1000, 1100, "abcd", 0, INSIDE, 0, true},
      {"0.60 s is just enough", 1000, 1060, "abcd", 0, INSIDE, 0, true},
      {"0.59 s is too short", 1000, 1059, "abcd", 0, INSIDE, 0, false},
      {"1.10 s with MinGap 1.0 s", 1000, 1110, "abcd", 5, INSIDE, 0, true},
      {"1.09 s with MinGap 1.0 s", 1000, 1109, "abcd", 5, INSIDE, 0, false},
      {"play position in a gap", 1000, 1100, "abcd", 0, 12000, 0, false},
      {"play position before the video", 1000, 1100, "abcd", 0, -20, 0, false},
      {"play position past the map", 1000, 1100, "abcd", 0, 2000000000, 0, false},
      {"text of one byte", 1000, 1100, "a", 0, INSIDE, 0, false},
      {"text of two bytes", 1000, 1100, "ab", 0, INSIDE, 0, true},
      {"no active entry", 1000, 1100, "abcd", 0, INSIDE, -1, false},
      {"active entry past the end", 1000, 1100, "abcd", 0, INSIDE, 1, false},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.st.Ctrl.TrackBarMinTime = c.minTime;
    LoadSrt(f, {{c.in, c.out, c.text}});
    PointAt(f.st, 0);
    if (c.playPos != INSIDE) f.st.PlayPos = c.playPos;
    f.st.ActiveSub = c.active;
    Shear(f.st);
    EXPECT_EQ(f.st.Subs.size(), c.splits ? 2u : 1u) << c.what;
    EXPECT_EQ(f.st.SubDirty, c.splits) << c.what;
  }
}

TEST(Shear, SrtTextLosesItsLeadingSeparatorAndSpacesFirst) {
  const struct {
    std::string text, first, second;
  } cases[] = {
      {"||  a b", "a ", "b"},  // spaces inside the text stay
      {"||  　　你好，世界", "你好，", "世界"},
      {"   abcd", "ab", "cd"},
      {"　 ab", " ", "ab"},  // a space after an ideographic space stays
      {"||||ab", PH, "ab"},  // one leading "||" only
  };
  for (const auto& c : cases) {
    Fixture f;
    LoadSrt(f, {{1000, 1100, "x"}});
    f.st.Subs[0].Dialogue = c.text;
    PointAt(f.st, 0);
    Shear(f.st);
    ASSERT_EQ(f.st.Subs.size(), 2u) << c.text;
    EXPECT_EQ(f.st.Subs[0].Dialogue, c.first) << c.text;
    EXPECT_EQ(f.st.Subs[1].Dialogue, c.second) << c.text;
  }
}

TEST(Shear, AssEventIsSplitInTheFileAndLoadedAgain) {
  Fixture f;
  const std::string otherLayer = Event(1000, 1100, "other layer", 1);
  const std::string comment = "Comment: 0,0:00:15.00,0:00:16.00,Default,,0,0,0,,note";
  LoadAss(f, {otherLayer, Event(500, 600, "前一句"), Event(1000, 1100, "你好，世界"), comment,
              Event(2000, 2200, "后一句")});
  ASSERT_FALSE(f.st.SubUtf8Bom);
  PointAt(f.st, 1);
  Shear(f.st);

  EXPECT_EQ(
      ReadBytes(f.File(".ass")),
      BOM + CrLf(With(HEAD, {otherLayer, Event(500, 600, "前一句"), Event(1000, 1050, "你好，"),
                             comment, Event(2000, 2200, "后一句"), Event(1054, 1100, "世界")})));
  EXPECT_FALSE(std::filesystem::exists(ToPath(f.File(".tmp"))));
  ExpectTimeline(
      f.st,
      {{500, 600, "前一句"}, {1000, 1050, "你好，"}, {1054, 1104, "世界"}, {2000, 2200, "后一句"}});
  ASSERT_EQ(f.st.AssEvents.size(), 4u);
  EXPECT_EQ(f.st.AssEvents[2].index, 13);  // the new line sorted into its place
  EXPECT_TRUE(f.st.SubUtf8Bom);
  EXPECT_TRUE(f.st.Caption.ends_with("beta9　　　"));
  EXPECT_EQ(f.st.ActiveSub, 1);
  EXPECT_EQ(f.st.SubsInVideo, 4);
  EXPECT_TRUE(f.st.SubDirty);
  EXPECT_EQ(f.st.ViewMarker, -99.0);
  EXPECT_TRUE(f.prompts.messages.empty());
  ExpectReloadsAlike(f);
}

TEST(Shear, SsaEventKeepsItsFirstField) {
  Fixture f;
  const auto ssa = [](int32_t in, int32_t out, const std::string& text) {
    return "Dialogue: Marked=0," + IntToTimeAssStr(in) + "," + IntToTimeAssStr(out) +
           ",Default,,0,0,0,," + text;
  };
  LoadAss(f, {ssa(1000, 1100, "one\\Ntwo")}, ".ssa");
  ASSERT_EQ(f.st.SubFormat, FORMAT_SSA);
  PointAt(f.st, 0);
  Shear(f.st);
  EXPECT_EQ(ReadBytes(f.File(".ssa")),
            BOM + CrLf(With(HEAD, {ssa(1000, 1050, "one"), ssa(1054, 1100, "two")})));
  ExpectTimeline(f.st, {{1000, 1050, "one"}, {1054, 1104, "two"}});
}

TEST(Shear, AssEntryOfSeveralEventsIsCutBetweenThem) {
  Fixture f;
  LoadAss(f, {Event(1000, 1080, "a"), Event(1040, 1100, "b")});
  ASSERT_EQ(f.st.Subs.size(), 1u);
  PointAt(f.st, 0);
  Shear(f.st);
  // Both pressed into the first half (1000-1040, 1020-1050), then the last takes the second.
  EXPECT_EQ(ReadBytes(f.File(".ass")),
            BOM + CrLf(With(HEAD, {Event(1000, 1040, "a"), Event(1054, 1100, "b")})));
  // The loader gives the short events their minimum length again.
  ExpectTimeline(f.st, {{1000, 1050, "a"}, {1054, 1104, "b"}});
}

TEST(Shear, AssSplitIsNotMadeWhereTheLoadWouldMergeItBack) {
  const struct {
    const char* what;
    Lines events;
    bool splits;
  } cases[] = {
      {"0.92 s: the first part just reaches its minimum length", {Event(1000, 1092, "ab")}, true},
      {"0.91 s: the first part would grow into the second", {Event(1000, 1091, "ab")}, false},
      {"0.60 s", {Event(1000, 1060, "ab")}, false},
      {"next entry touching", {Event(1000, 1100, "ab"), Event(1100, 1200, "c")}, false},
      {"next entry 3 cs after", {Event(1000, 1100, "ab"), Event(1103, 1200, "c")}, false},
      {"next entry 4 cs after", {Event(1000, 1100, "ab"), Event(1104, 1200, "c")}, true},
      {"a long entry touching the next", {Event(1000, 1200, "ab"), Event(1200, 1300, "c")}, true},
  };
  for (const auto& c : cases) {
    Fixture f;
    LoadAss(f, c.events);
    const std::string fileBefore = ReadBytes(f.File(".ass"));
    const size_t count = f.st.Subs.size();
    PointAt(f.st, 0);
    Shear(f.st);
    EXPECT_EQ(f.st.Subs.size(), c.splits ? count + 1 : count) << c.what;
    EXPECT_EQ(f.st.SubDirty, c.splits) << c.what;
    if (!c.splits) {
      EXPECT_EQ(ReadBytes(f.File(".ass")), fileBefore) << c.what;
    }
    EXPECT_TRUE(f.prompts.messages.empty()) << c.what;
  }
}

TEST(Shear, OverrideBlocksStayInThePartTheyStandIn) {
  const struct {
    std::string text, first, second;
  } cases[] = {
      {"{\\i1}你好，{\\i0}世界", "{\\i1}你好，", "{\\i0}世界"},
      {"{\\an8}one{\\i0}\\Ntwo", "{\\an8}one{\\i0}", "two"},
      {"{\\an8}好", PH, "{\\an8}好"},
      {"ab{\\b1}cd{\\b0}", "ab", "{\\b1}cd{\\b0}"},
      {"a{\\i1}||b", "a{\\i1}", "b"},
  };
  for (const auto& c : cases) {
    Fixture f;
    LoadAss(f, {Event(1000, 1100, c.text)});
    PointAt(f.st, 0);
    Shear(f.st);
    EXPECT_EQ(ReadBytes(f.File(".ass")),
              BOM + CrLf(With(HEAD, {Event(1000, 1050, c.first), Event(1054, 1100, c.second)})))
        << c.text;
  }
}

TEST(Shear, AssSplitKeepsTimingEditsNotYetSaved) {
  Fixture f;
  LoadAss(f, {Event(500, 600, "a"), Event(1000, 1100, "bc"), Event(2000, 2200, "d")});
  // Moved but not yet written by the autosave.
  f.st.Subs[0].TimeIn = 300;
  f.st.Subs[0].TimeOut = 450;
  f.st.Subs[0].Changed = true;
  f.st.Subs[2].TimeIn = 2100;
  f.st.Subs[2].TimeOut = 2400;
  f.st.Subs[2].Changed = true;
  f.st.SubDirty = true;
  PointAt(f.st, 1);
  Shear(f.st);
  ExpectTimeline(f.st, {{300, 450, "a"}, {1000, 1050, "b"}, {1054, 1104, "c"}, {2100, 2400, "d"}});
}

TEST(Shear, AWriteThatFailsIsToldOnceAndKeepsTheDocument) {
  // A split of a single event and one of an entry of several events, each with an unsaved move
  // of another entry of several events.
  for (const int32_t active : {1, 2}) {
    SCOPED_TRACE("entry " + std::to_string(active));
    Fixture f;
    LoadAss(f, {Event(500, 600, "a1"), Event(550, 650, "a2"), Event(1000, 1100, "bc"),
                Event(2000, 2080, "d1"), Event(2040, 2100, "d2")});
    f.st.Subs[0].TimeIn = 400;
    f.st.Subs[0].TimeOut = 700;
    f.st.Subs[0].Changed = true;
    f.st.SubDirty = true;
    const EditorState before = f.st;
    const std::string fileBefore = ReadBytes(f.File(".ass"));
    // The subtitle file has been made read-only: it is not replaced.
    namespace fs = std::filesystem;
    fs::permissions(ToPath(f.File(".ass")),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    PointAt(f.st, active);
    Shear(f.st);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_TRUE(f.prompts.messages[0].starts_with(f.File(".ass") + "\r"));
    EXPECT_TRUE(f.prompts.messages[0].ends_with("\r字幕没有拆分，仍是原样。"));
    EXPECT_FALSE(FileExists(f.File(".tmp")));
    EXPECT_EQ(ReadBytes(f.File(".ass")), fileBefore);
    ExpectSameDocument(f.st, before);
    EXPECT_TRUE(f.st.SubDirty);
    EXPECT_EQ(f.st.Caption, before.Caption);

    // The move is still to be written, and is, once the file can be replaced.
    fs::permissions(ToPath(f.File(".ass")), fs::perms::owner_write, fs::perm_options::add);
    ASSERT_TRUE(SubtitleSave(f.st));
    ASSERT_TRUE(SubtitleLoad(f.st, 0));
    EXPECT_EQ(f.st.Subs[0].TimeIn, 400);
    EXPECT_EQ(f.st.Subs[0].TimeOut, 700);
  }
}

TEST(Shear, ARefusedAssSplitLeavesUnsavedMovesUnsaved) {
  Fixture f;
  LoadAss(f, {Event(500, 600, "a1"), Event(550, 650, "a2"), Event(1000, 1060, "bc")});
  f.st.Subs[0].TimeIn = 400;
  f.st.Subs[0].TimeOut = 700;
  f.st.Subs[0].Changed = true;
  f.st.SubDirty = true;
  const EditorState before = f.st;
  const std::string fileBefore = ReadBytes(f.File(".ass"));
  PointAt(f.st, 1);
  Shear(f.st);  // 0.60 s: the parts would come back merged
  EXPECT_EQ(ReadBytes(f.File(".ass")), fileBefore);
  ExpectSameDocument(f.st, before);
  EXPECT_TRUE(f.prompts.messages.empty());
}

TEST(Shear, AssDocumentIsWhatALoadOfTheWrittenFileGives) {
  const std::string sign = "Dialogue: 1,0:00:10.20,0:00:12.00,Sign,,0,0,0,,{\\pos(640,60)}招牌";
  const std::string comment = "Comment: 0,0:00:15.00,0:00:16.00,Default,,0,0,0,,note";
  const struct {
    const char* what;
    Lines events;
    std::string ext = ".ass";
    int32_t active = 1;
    void (*before)(EditorState&) = nullptr;  // edits made before the split
    int layerBox = 0;
    int minTime = 0;  // TrackBarMinTime at the split (the load had 0)
  } cases[] = {
      {"one event among other layers and a comment",
       {sign, Event(500, 600, "前一句"), Event(1000, 1100, "你好，世界"), comment,
        Event(2000, 2200, "后一句")}},
      {"an entry of several events",
       {Event(500, 600, "a"), Event(1000, 1080, "b1"), Event(1040, 1100, "b2"),
        Event(2000, 2100, "c")}},
      {"a short event elsewhere, read at the minimum length",
       {Event(500, 530, "short"), Event(1000, 1100, "ab"), Event(2000, 2010, "c")}},
      {"times written another way, and override blocks",
       {"Dialogue: 0,00:00:05.00,0:00:06.00,Default,,0,0,0,,{\\i1}a{\\i0}",
        Event(1000, 1100, "{\\b1}ab{\\b0}"),
        "Dialogue: 0,0:00:20.00,0:00:21.00,Default,,0,0,0,,c"}},
      {"an SSA file",
       {"Dialogue: Marked=0,0:00:05.00,0:00:06.00,Default,,0,0,0,,a",
        "Dialogue: Marked=0,0:00:10.00,0:00:11.00,Default,,0,0,0,,b,c"},
       ".ssa"},
      {"unsaved moves: a stretched entry of several events and one shrunk below the minimum",
       {Event(500, 600, "a1"), Event(550, 620, "a2"), Event(1000, 1100, "bc"),
        Event(2000, 2200, "d")},
       ".ass",
       1,
       [](EditorState& st) {
         st.Subs[0].TimeIn = 300;
         st.Subs[0].TimeOut = 433;
         st.Subs[0].Changed = true;
         st.Subs[2].TimeIn = 2100;
         st.Subs[2].TimeOut = 2130;
         st.Subs[2].Changed = true;
         st.SubDirty = true;
       }},
      {"a placeholder added and a join made before",
       {Event(500, 600, "a"), Event(700, 800, "b"), Event(1000, 1100, "cd")},
       ".ass",
       1,
       [](EditorState& st) {
         st.PlayPos = 30000;
         MoveToHere(st, 3000);
         PointAt(st, 1);
         Joint(st);
       }},
      {"the layer-1 events",
       {Event(500, 600, "zero"), Event(800, 900, "a", 1), Event(1000, 1100, "bc", 1),
        Event(1050, 1150, "zero too")},
       ".ass",
       1,
       nullptr,
       /*layerBox=*/1},
      // The document is not as a load of the written lines would give it: the file is read
      // again.
      {"the minimum length changed since the load",
       {Event(500, 560, "a"), Event(1000, 1200, "bc"), Event(1900, 1960, "d")},
       ".ass",
       1,
       nullptr,
       0,
       /*minTime=*/3},
      // The load falls back from layer 2 to layer 0 and the box shows "0" again.
      {"a layer box that names a layer without events",
       {Event(500, 600, "a"), Event(1000, 1100, "bc"), Event(2000, 2100, "c")},
       ".ass",
       1,
       [](EditorState& st) { st.Ctrl.LabeledEditLayer = "2"; }},
      // A line short of fields whose text has come to hold a comma: written out, the comma
      // ends a field.
      {"a line short of fields with a comma in its text",
       {Event(500, 600, "a"), "Dialogue: 0,0:00:10.00,0:00:11.00,Default,bc"},
       ".ass",
       1,
       [](EditorState& st) {
         ASSERT_EQ(st.SubsBase[1].IndexBegin, 1);
         TAssSort& e = st.AssEvents[1];
         e.Dialogue = st.AssLines[size_t(e.index)].Dialogue = "b,c";
         st.Subs[1].Dialogue = st.SubsBase[1].Dialogue = "b,c";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    f.st.Ctrl.LabeledEditLayer = std::to_string(c.layerBox);
    LoadAss(f, c.events, c.ext);
    if (c.before) c.before(f.st);
    f.st.Ctrl.TrackBarMinTime = c.minTime;
    const size_t count = f.st.Subs.size();
    PointAt(f.st, c.active);
    Shear(f.st);
    ASSERT_EQ(f.st.Subs.size(), count + 1);
    EXPECT_TRUE(f.prompts.messages.empty());
    ExpectSplitAsLoaded(f);
  }
}

TEST(Shear, RandomAssDocumentsSplitIntoWhatALoadGives) {
  std::mt19937 rng(20250611);
  const auto uniform = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  int splits = 0;
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Fixture f;
    Lines events;
    int32_t t = 100;
    for (int i = 0; i < uniform(3, 12); ++i) {
      t += uniform(0, 3) == 0 ? uniform(-60, 0) : uniform(0, 150);  // some overlap
      t = std::max(t, 0);
      const int32_t length = uniform(20, 250);
      static const char* const texts[] = {"你好，世界", "one||two", "a\\Nb", "{\\i1}ab{\\i0}cd",
                                          "x,y"};
      events.push_back(Event(t, t + length, texts[uniform(0, 4)], uniform(0, 4) == 0 ? 1 : 0));
      if (uniform(0, 5) == 0)
        events.push_back("Comment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,c");
      t += length;
    }
    LoadAss(f, events);
    // Unsaved moves of a few entries.
    for (auto& sub : f.st.Subs) {
      if (uniform(0, 3) != 0) continue;
      const int32_t d = uniform(-20, 20);
      sub.TimeIn = std::max(sub.TimeIn + d, 0);
      sub.TimeOut = std::max(sub.TimeOut + d + uniform(-10, 30), sub.TimeIn + 1);
      sub.Changed = true;
    }
    const int32_t target = uniform(0, int(f.st.Subs.size()) - 1);
    PointAt(f.st, target);
    const size_t count = f.st.Subs.size();
    Shear(f.st);
    if (f.st.Subs.size() == count) continue;  // refused: what that leaves is checked elsewhere
    ++splits;
    ExpectSplitAsLoaded(f);
    if (testing::Test::HasFailure()) break;
  }
  EXPECT_GT(splits, 20);
}

TEST(SplitJoin, EditsRefuseAnAssDocumentWhoseEventRangesDoNotHold) {
  const struct {
    const char* what;
    void (*edit)(EditorState&);
  } edits[] = {
      {"split",
       [](EditorState& st) {
         PointAt(st, 1);
         Shear(st);
       }},
      {"join",
       [](EditorState& st) {
         PointAt(st, 1);
         Joint(st);
       }},
      {"move-here",
       [](EditorState& st) {
         st.PlayPos = 15000;
         MoveToHere(st, 1500);
       }},
  };
  for (const auto& e : edits) {
    Fixture f;
    LoadAss(f, {Event(1000, 1100, "ab"), Event(1200, 1300, "cd")});
    f.st.SubsBase[1].IndexEnd = 5;
    const std::vector<Entry> before = Timeline(f.st);
    e.edit(f.st);
    ExpectTimeline(f.st, before);
    EXPECT_FALSE(f.st.SubDirty) << e.what;
  }
}

// ---------------------------------------------------------------------------------------------
// Join

TEST(Joint, JoinsOntoThePreviousEntryWithinThreeSeconds) {
  const struct {
    const char* what;
    int32_t secondIn;
    std::string first, second;
    int32_t play;  // ms; -1: just inside the active entry
    int32_t active;
    bool joins;
  } cases[] = {
      {"gap of 3.00 s", 1400, "你好", "世界", -1, 1, true},
      {"gap of 3.01 s", 1401, "你好", "世界", -1, 1, false},
      {"first entry", 1400, "你好", "世界", -1, 0, false},
      {"no active entry", 1400, "你好", "世界", -1, -1, false},
      {"active past the end", 1400, "你好", "世界", -1, 3, false},
      {"play position in a gap", 1400, "你好", "世界", 12000, 1, false},
      {"texts of 1024 bytes", 1400, std::string(524, 'a'), std::string(500, 'b'), -1, 1, true},
      {"texts of 1025 bytes", 1400, std::string(525, 'a'), std::string(500, 'b'), -1, 1, false},
  };
  for (const auto& c : cases) {
    Fixture f;
    LoadSrt(f, {{1000, 1100, c.first}, {c.secondIn, 1500, c.second}, {3000, 3100, "c"}});
    PointAt(f.st, 1);
    if (c.play >= 0) f.st.PlayPos = c.play;
    f.st.ActiveSub = c.active;
    Joint(f.st);
    EXPECT_EQ(f.st.Subs.size(), c.joins ? 2u : 3u) << c.what;
    EXPECT_EQ(f.st.SubDirty, c.joins) << c.what;
    if (c.joins) {
      EXPECT_EQ(f.st.Subs[0].Dialogue, c.first + c.second) << c.what;
    }
  }
}

TEST(Joint, SrtEntriesBecomeOne) {
  Fixture f;
  LoadSrt(f, {{1000, 1100, "你好"}, {1400, 1500, "世界"}, {3000, 3100, "c"}});
  f.st.SubCurr = 2;
  PointAt(f.st, 1);
  Joint(f.st);
  ExpectTimeline(f.st, {{1000, 1500, "你好世界"}, {3000, 3100, "c"}});
  EXPECT_EQ(f.st.Subs[1].IndexBegin, 2);
  EXPECT_EQ(f.st.WavSel[1200].SubIndex, 0);  // the gap is covered now
  EXPECT_EQ(f.st.WavSel[3000].SubIndex, 1);
  ExpectCoverageMatches(f.st);
  EXPECT_EQ(f.st.ActiveSub, 0);
  EXPECT_EQ(f.st.SubCurr, 1);
  EXPECT_EQ(f.st.SubsInVideo, 2);
  EXPECT_EQ(f.st.ViewMarker, -99.0);
  ExpectReloadsAlike(f);
}

TEST(Joint, AnEntryCutToEndBeforeThePreviousOneNeverTurnsNegative) {
  Fixture f;
  LoadSrt(f, {{1000, 1500, "a"}, {1600, 1700, "b"}});
  // A cut moved the second entry back inside the first: it now ends before the first does.
  f.st.Subs[1].TimeIn = 1200;
  f.st.Subs[1].TimeOut = 1300;
  CreatSelAndInd(f.st.WavSel, f.st.Subs);
  PointAt(f.st, 1);
  Joint(f.st);
  ASSERT_EQ(f.st.Subs.size(), 1u);
  EXPECT_EQ(f.st.Subs[0].TimeIn, 1000);
  EXPECT_EQ(f.st.Subs[0].TimeOut, 1500);
  EXPECT_EQ(f.st.Subs[0].Dialogue, "ab");
}

TEST(Joint, JoiningTheLastEntryLeavesTheIndicesInRange) {
  Fixture f;
  LoadSrt(f, {{1000, 1100, "a"}, {1200, 1300, "b"}});
  f.st.SubCurr = 1;
  f.st.SubsInVideo = 2;
  PointAt(f.st, 1);
  Joint(f.st);
  ASSERT_EQ(f.st.Subs.size(), 1u);
  EXPECT_EQ(f.st.ActiveSub, 0);
  EXPECT_EQ(f.st.SubCurr, 0);
  EXPECT_EQ(f.st.SubsInVideo, 1);
}

TEST(Joint, AssJoinIsOneEntryAfterASaveAndALoad) {
  const std::string sign = "Dialogue: 0,0:00:12.00,0:00:13.00,Sign,,0,0,0,,世界";
  const struct {
    const char* what;
    Lines events;
    int32_t active;
    std::vector<Entry> joined;  // the timeline after the join, and after a save and a load
    Lines written;              // the event lines the save writes
  } cases[] = {
      {"a gap between",
       {Event(1000, 1100, "你好"), Event(1200, 1300, "世界"), Event(2000, 2100, "c")},
       1,
       {{1000, 1300, "你好世界"}, {2000, 2100, "c"}},
       {Event(1000, 1300, "你好世界"), Event(2000, 2100, "c")}},
      {"touching",
       {Event(1000, 1100, "a"), Event(1100, 1200, "b")},
       1,
       {{1000, 1200, "ab"}},
       {Event(1000, 1200, "ab")}},
      {"the later of three",
       {Event(500, 600, "a"), Event(1000, 1100, "b"), Event(1200, 1300, "c")},
       2,
       {{500, 600, "a"}, {1000, 1300, "bc"}},
       {Event(500, 600, "a"), Event(1000, 1300, "bc")}},
      // The second text does not take on the first one's overrides.
      {"overrides in the first text",
       {Event(1000, 1100, "{\\i1}你好"), Event(1200, 1300, "世界")},
       1,
       {{1000, 1300, "你好世界"}},
       {Event(1000, 1300, "{\\i1}你好{\\r}世界")}},
      {"overrides in the second text only",
       {Event(1000, 1100, "你好"), Event(1200, 1300, "{\\b1}世界")},
       1,
       {{1000, 1300, "你好世界"}},
       {Event(1000, 1300, "你好{\\b1}世界")}},
      // ... nor the first one's style.
      {"a style of its own",
       {Event(1000, 1100, "你好"), sign},
       1,
       {{1000, 1300, "你好世界"}},
       {Event(1000, 1300, "你好{\\rSign}世界")}},
      {"several events in the later entry",
       {Event(500, 600, "a"), Event(650, 750, "b1"), Event(700, 800, "b2")},
       1,
       {{500, 800, "ab1||b2"}},
       {Event(500, 750, "ab1"), Event(700, 800, "b2")}},
      {"several events in the earlier entry",
       {Event(500, 600, "a1"), Event(550, 650, "a2"), Event(800, 900, "b")},
       1,
       {{500, 900, "a1||a2b"}},
       {Event(500, 600, "a1"), Event(550, 900, "a2b")}},
      {"a line of another layer between them",
       {Event(1000, 1100, "a"), Event(1000, 1300, "x", 1), Event(1200, 1300, "b"),
        Event(2000, 2100, "c")},
       1,
       {{1000, 1300, "ab"}, {2000, 2100, "c"}},
       {Event(1000, 1300, "ab"), Event(1000, 1300, "x", 1), Event(2000, 2100, "c")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    LoadAss(f, c.events);
    PointAt(f.st, c.active);
    Joint(f.st);
    ExpectTimeline(f.st, c.joined);
    EXPECT_EQ(f.st.ActiveSub, c.active - 1) << c.what;
    ASSERT_TRUE(SubtitleSave(f.st)) << c.what;
    EXPECT_EQ(ReadBytes(f.File(".ass")), CrLf(With(HEAD, c.written))) << c.what;
    ASSERT_TRUE(SubtitleLoad(f.st, 0)) << c.what;
    ExpectTimeline(f.st, c.joined);
  }
}

TEST(Joint, TheJoinedImageServesTheNextEditsBeforeASave) {
  Fixture f;
  LoadAss(f, {Event(500, 600, "a"), Event(1000, 1100, "你好"), Event(1200, 1300, "世界"),
              Event(2000, 2100, "c")});
  PointAt(f.st, 2);
  Joint(f.st);
  ASSERT_EQ(f.st.AssEvents.size(), 3u);
  ASSERT_EQ(f.st.AssLines.size(), HEAD.size() + 3);
  for (size_t i = 0; i < f.st.AssLines.size(); ++i) {
    EXPECT_EQ(f.st.AssLines[i].index, int32_t(i));
  }
  EXPECT_EQ(f.st.SubsBase[1].IndexBegin, 1);
  EXPECT_EQ(f.st.SubsBase[1].IndexEnd, 1);
  EXPECT_EQ(f.st.SubsBase[2].IndexBegin, 2);
  EXPECT_EQ(f.st.SubsBase[2].IndexEnd, 2);
  EXPECT_EQ(f.st.AssEvents[2].index, int32_t(HEAD.size()) + 2);
  // The last entry moved, then the joined one split again: both go through the new image.
  f.st.Subs[2].TimeIn = 2200;
  f.st.Subs[2].TimeOut = 2300;
  f.st.Subs[2].Changed = true;
  PointAt(f.st, 1);
  Shear(f.st);
  ExpectTimeline(f.st,
                 {{500, 600, "a"}, {1000, 1150, "你好"}, {1154, 1300, "世界"}, {2200, 2300, "c"}});
  ExpectReloadsAlike(f);
}

TEST(Joint, NoJoinWhereALoadWouldNotReadTheJoinedTextBack) {
  const struct {
    const char* what;
    Lines events;
    std::vector<Entry> timeline;
  } cases[] = {
      // A block that never closes is text to a load; the second text's "}" would close it.
      {"an unclosed block in the first text",
       {Event(1000, 1100, "a{\\i1"), Event(1200, 1300, "b}c")},
       {{1000, 1100, "a{\\i1"}, {1200, 1300, "b}c"}}},
      // The first line has too few fields: a load would take the second text's comma for the
      // end of one.
      {"a first line short of fields",
       {"Dialogue: 0,0:00:10.00,0:00:11.00,Default,a", Event(1200, 1300, "b,c")},
       {{1000, 1100, "a"}, {1200, 1300, "b,c"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    LoadAss(f, c.events);
    ExpectTimeline(f.st, c.timeline);
    const std::string fileBefore = ReadBytes(f.File(".ass"));
    PointAt(f.st, 1);
    Joint(f.st);
    ExpectTimeline(f.st, c.timeline);
    EXPECT_FALSE(f.st.SubDirty);
    EXPECT_EQ(ReadBytes(f.File(".ass")), fileBefore);
  }
}

TEST(Joint, AssJoinKeepsTimingEditsNotYetSaved) {
  Fixture f;
  LoadAss(f, {Event(1000, 1100, "a"), Event(1200, 1300, "b")});
  f.st.Subs[1].TimeIn = 1250;  // moved, not yet written
  f.st.Subs[1].TimeOut = 1350;
  f.st.Subs[1].Changed = true;
  PointAt(f.st, 1);
  Joint(f.st);
  ExpectTimeline(f.st, {{1000, 1350, "ab"}});
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_EQ(ReadBytes(f.File(".ass")), CrLf(With(HEAD, {Event(1000, 1350, "ab")})));
}

// ---------------------------------------------------------------------------------------------
// Move-here

TEST(MoveToHere, PullsTheNextEntryBackToThePlayPosition) {
  Fixture f;
  LoadSrt(f, {{1000, 1100, "a"}, {2000, 2150, "b"}, {3000, 3100, "c"}});
  f.st.PlayPos = 12345;
  for (auto& s : f.st.Subs) s.Changed = false;
  MoveToHere(f.st, 1234);
  ExpectTimeline(f.st, {{1000, 1100, "a"}, {1234, 1384, "b"}, {3000, 3100, "c"}});
  EXPECT_FALSE(f.st.WavSel[2000].Select);
  EXPECT_EQ(f.st.WavSel[1234].SubIndex, 1);
  ExpectCoverageMatches(f.st);
  for (const auto& s : f.st.Subs) EXPECT_TRUE(s.Changed);
  EXPECT_TRUE(f.st.SubDirty);
  EXPECT_EQ(f.st.ViewMarker, -99.0);
  ExpectReloadsAlike(f);
}

TEST(MoveToHere, ATouchingNeighbourKeepsItsCell) {
  Fixture f;
  LoadAss(f, {Event(1000, 1100, "a"), Event(2000, 2100, "b"), Event(2100, 2200, "c")});
  ASSERT_EQ(f.st.WavSel[2100].SubIndex, 2);
  f.st.PlayPos = 15000;
  MoveToHere(f.st, 1500);
  ExpectTimeline(f.st, {{1000, 1100, "a"}, {1500, 1600, "b"}, {2100, 2200, "c"}});
  EXPECT_EQ(f.st.WavSel[2100].SubIndex, 2);
  ExpectCoverageMatches(f.st);
  ExpectReloadsAlike(f);
}

TEST(MoveToHere, WithNothingAfterItAddsAPlaceholderToAnSrtDocument) {
  Fixture f;
  LoadSrt(f, {{1000, 1100, "a"}});
  f.st.PlayPos = 30000;
  MoveToHere(f.st, 3000);
  ExpectTimeline(f.st, {{1000, 1100, "a"}, {3000, 3200, PH}});
  EXPECT_EQ(f.st.Subs[1].IndexBegin, 2);
  EXPECT_EQ(f.st.WavSel[3200].SubIndex, 1);
  ExpectCoverageMatches(f.st);
  ExpectReloadsAlike(f);
}

TEST(MoveToHere, AnEmptySrtDocumentGetsItsFirstEntry) {
  Fixture f;
  WriteBytes(f.File(".srt"), "\r\n\r\n");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  ASSERT_TRUE(f.st.Subs.empty());
  ASSERT_EQ(f.st.SubCurr, -1);
  f.st.MediaLength = MEDIA;
  f.st.PlayPos = 5000;
  MoveToHere(f.st, 500);
  ExpectTimeline(f.st, {{500, 700, PH}});
  EXPECT_EQ(f.st.SubCurr, 0);
  EXPECT_EQ(f.st.SubsInVideo, 1);
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_EQ(ReadBytes(f.File(".srt")), CrLf({"1", "00:00:05,000 --> 00:00:07,000", PH, ""}));
}

TEST(MoveToHere, AssPlaceholderIsSavedAsACompleteEventLine) {
  for (const int layer : {0, 1}) {
    Fixture f;
    f.st.Ctrl.LabeledEditLayer = std::to_string(layer);
    LoadAss(f, {Event(1000, 1100, "zero", 0), Event(1200, 1300, "one", 1)});
    const size_t nl = f.st.AssLines.size();
    const size_t ne = f.st.AssEvents.size();
    f.st.PlayPos = 30000;
    MoveToHere(f.st, 3000);
    ASSERT_EQ(f.st.Subs.size(), 2u);
    EXPECT_EQ(f.st.Subs[1].IndexBegin, int32_t(ne));
    ASSERT_EQ(f.st.SubsBase.size(), 2u);
    EXPECT_EQ(f.st.SubsBase[1].IndexBegin, int32_t(ne));
    EXPECT_EQ(f.st.SubsBase[1].Dialogue, PH);
    ASSERT_EQ(f.st.AssEvents.size(), ne + 1);
    EXPECT_EQ(f.st.AssEvents[ne].index, int32_t(nl));
    ASSERT_EQ(f.st.AssLines.size(), nl + 1);
    const TAssOriginal& line = f.st.AssLines[nl];
    EXPECT_EQ(line.DoNotCare, "Default,,0000,0000,0000,,");
    EXPECT_EQ(line.Layer, layer);
    const std::string expected = "Dialogue: " + std::to_string(layer) +
                                 ",0:00:30.00,0:00:32.00,Default,,0000,0000,0000,," + PH;
    ASSERT_TRUE(SubtitleSave(f.st));
    EXPECT_EQ(DecodeTextFile(ReadBytes(f.File(".ass"))).Lines.back(), expected) << layer;
    ASSERT_TRUE(SubtitleLoad(f.st, layer));
    ASSERT_EQ(f.st.Subs.size(), 2u);
    EXPECT_EQ(f.st.Subs[1].TimeIn, 3000);
    EXPECT_EQ(f.st.Subs[1].TimeOut, 3200);
    EXPECT_EQ(f.st.Subs[1].Dialogue, PH);
  }
}

TEST(MoveToHere, AssPlaceholderSurvivesASplitBeforeTheNextSave) {
  Fixture f;
  LoadAss(f, {Event(1000, 1100, "ab")});
  f.st.PlayPos = 30000;
  MoveToHere(f.st, 3000);
  PointAt(f.st, 0);
  Shear(f.st);
  ExpectTimeline(f.st, {{1000, 1050, "a"}, {1054, 1104, "b"}, {3000, 3200, PH}});
}

TEST(MoveToHere, DoesNothingWhereItCannotMove) {
  const struct {
    const char* what;
    int32_t play;  // ms
    int32_t here;  // slot
  } cases[] = {
      {"play position inside a subtitle", 10500, 1050},
      {"negative slot", 12000, -5},
      {"slot inside a subtitle", 12000, 1050},
      {"slot inside a subtitle past the map", 1500000000, 150000},
  };
  for (const auto& c : cases) {
    Fixture f;
    LoadSrt(f, {{1000, 1100, "a"}, {140000, 160000, "past the map"}});
    const std::vector<Entry> before = Timeline(f.st);
    f.st.PlayPos = c.play;
    MoveToHere(f.st, c.here);
    EXPECT_EQ(f.st.Subs.size(), before.size()) << c.what;
    EXPECT_EQ(f.st.Subs[1].TimeIn, before[1].in) << c.what;
    EXPECT_FALSE(f.st.SubDirty) << c.what;
  }
}

TEST(MoveToHere, PastTheMapTheEntryMovesButOnlyTheMapIsMarked) {
  Fixture f;
  LoadSrt(f, {{1000, 1100, "a"}});
  const size_t cells = f.st.WavSel.size();
  f.st.PlayPos = 2000000000;
  MoveToHere(f.st, 200000000);
  ExpectTimeline(f.st, {{1000, 1100, "a"}, {200000000, 200000200, PH}});
  EXPECT_EQ(f.st.WavSel.size(), cells);
  ExpectCoverageMatches(f.st);
}

// ---------------------------------------------------------------------------------------------
// Subtitles inside the video

TEST(RecountSubsInVideo, CountsUpToTheLastEntryStartingASecondBeforeTheEnd) {
  const struct {
    const char* what;
    int32_t media;
    int32_t before;  // SubsInVideo before
    int32_t after;
    int32_t lastOut;  // TimeOut of entry 1 afterwards
  } cases[] = {
      {"all inside", 10000, 0, 3, 1200},
      {"last one too late", 5050, 0, 2, 1200},
      {"last one starts just inside the last second", 5101, 0, 3, 1200},
      {"out point cut at the end", 1150, 0, 2, 1150},
      {"none inside keeps the count", 150, 2, 2, 1200},
      {"none inside never counts past the timeline", 150, 9, 3, 1200},
      {"length not known yet", 0, 2, 2, 1200},
  };
  for (const auto& c : cases) {
    Fixture f;
    LoadSrt(f, {{100, 200, "a"}, {1000, 1200, "b"}, {5000, 5500, "c"}});
    for (auto& s : f.st.Subs) s.Changed = false;
    f.st.MediaLength = c.media;
    f.st.SubsInVideo = c.before;
    RecountSubsInVideo(f.st);
    EXPECT_EQ(f.st.SubsInVideo, c.after) << c.what;
    EXPECT_EQ(f.st.Subs[1].TimeOut, c.lastOut) << c.what;
    EXPECT_EQ(f.st.Subs[1].Changed, c.lastOut != 1200) << c.what;
    ExpectCoverageMatches(f.st);
  }
}

}  // namespace
}  // namespace tamsel
