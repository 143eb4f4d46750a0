#include "SubtitleLoad.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SubtitleSave.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

using test::BOM;
using test::CrLf;
using test::Fixture;
using test::ReadBytes;
using test::WriteBytes;

using Lines = std::vector<std::string>;

const std::string ASS_HEAD = CrLf({"[Script Info]", "ScriptType: v4.00+", "", "[Events]",
                                   "Format: Layer, Start, End, Style, Name, MarginL, MarginR, "
                                   "MarginV, Effect, Text"});

std::string Event(const std::string& layer, const std::string& in, const std::string& out,
                  const std::string& text) {
  return "Dialogue: " + layer + "," + in + "," + out + ",Default,,0,0,0,," + text;
}

struct Span {
  int32_t in, out;
  std::string text;
  bool operator==(const Span&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Span& s) {
  return os << "{" << s.in << ", " << s.out << ", \"" << s.text << "\"}";
}

std::vector<Span> Timeline(const EditorState& st) {
  std::vector<Span> out;
  for (const auto& s : st.Subs) out.push_back({s.TimeIn, s.TimeOut, s.Dialogue});
  return out;
}

TEST(SubtitleLoad, PrefersAssThenSsaThenSrt) {
  Fixture f;
  WriteBytes(f.File(".srt"), CrLf({"1", "00:00:01,000 --> 00:00:02,000", "srt", ""}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(f.st.SubFormat, FORMAT_SRT);
  WriteBytes(f.File(".ssa"), ASS_HEAD + CrLf({Event("Marked=0", "0:00:01.00", "0:00:02.00", "ssa")}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(f.st.SubFormat, FORMAT_SSA);
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 200, "ssa"}}));
  WriteBytes(f.File(".ass"), ASS_HEAD + CrLf({Event("0", "0:00:01.00", "0:00:02.00", "ass")}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(f.st.SubFormat, FORMAT_ASS);
  EXPECT_EQ(f.st.SubFileName, f.File(".ass"));
  EXPECT_EQ(f.st.TmpFileName, f.File(".tmp"));
  EXPECT_EQ(f.st.Caption, f.File(".ass") + "　—　Tamsel时间轴 V1.0 beta9");
  EXPECT_FALSE(f.st.SubDirty);
}

TEST(SubtitleLoad, CreatesAnAssFileWithAPlaceholder) {
  Fixture f;
  f.st.Ctrl.LabeledEditLayer = "4";
  ASSERT_TRUE(SubtitleLoad(f.st, 4));
  Lines want = AssTemplate();
  want.push_back("Dialogue: 0,0:00:01.00,0:00:05.00,Default,,0000,0000,0000,,■■■■");
  EXPECT_EQ(ReadBytes(f.File(".ass")), CrLf(want));
  EXPECT_EQ(want.size(), 21u);
  EXPECT_EQ(want[18], "[Events]");
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 500, "■■■■"}}));
  EXPECT_EQ(f.st.WavSel.size(), 101000u);
  EXPECT_EQ(f.st.WavSel[99].SubIndex, -1);
  EXPECT_EQ(f.st.WavSel[100].SubIndex, 0);
  EXPECT_EQ(f.st.WavSel[500].SubIndex, 0);
  EXPECT_TRUE(f.st.WavSel[500].Select);
  EXPECT_FALSE(f.st.WavSel[501].Select);
  EXPECT_EQ(f.st.Ctrl.LabeledEditLayer, "0");
  EXPECT_TRUE(f.st.SubDirty);
  EXPECT_FALSE(FileExists(f.File(".tmp")));
}

TEST(SubtitleLoad, AScriptWithNothingToParkGivesThePlaceholder) {
  for (std::string script : {std::string(""), std::string("\r\n"), std::string("\n\n\n")}) {
    Fixture f;
    WriteBytes(f.File(".txt"), script);
    ASSERT_TRUE(SubtitleLoad(f.st, 0));
    EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 500, "■■■■"}}));
  }
}

TEST(SubtitleLoad, ParksAScriptInLineForm) {
  Fixture f;
  WriteBytes(f.File(".txt"), "a\r\nb\r\n\r\nc\r\n");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  const Lines lines = test::DecodeLines(ReadBytes(f.File(".ass")));
  EXPECT_EQ(Lines(lines.begin() + 20, lines.end()),
            (Lines{"Dialogue: 0,8:00:00.00,8:00:02.50,Default,,0000,0000,0000,,a",
                   "Dialogue: 0,8:00:03.00,8:00:05.50,Default,,0000,0000,0000,,b",
                   "Dialogue: 0,8:00:06.00,8:00:08.50,Default,,0000,0000,0000,,",
                   "Dialogue: 0,8:00:09.00,8:00:11.50,Default,,0000,0000,0000,,c"}));
  EXPECT_EQ(f.st.Subs.size(), 4u);
  EXPECT_FALSE(f.st.SubUtf8Bom);
}

TEST(SubtitleLoad, ParksAScriptInParagraphForm) {
  Fixture f;
  WriteBytes(f.File(".txt"), BOM + "a\nb\n\nc\n\nd\n");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  const std::string bytes = ReadBytes(f.File(".ass"));
  EXPECT_EQ(bytes.rfind(BOM, 0), 0u);
  const Lines lines = test::DecodeLines(bytes);
  EXPECT_EQ(Lines(lines.begin() + 20, lines.end()),
            (Lines{"Dialogue: 0,8:00:03.00,8:00:05.50,Default,,0000,0000,0000,,a",
                   "Dialogue: 0,8:00:03.00,8:00:05.50,Default,,0000,0000,0000,,b",
                   "Dialogue: 0,8:00:06.00,8:00:08.50,Default,,0000,0000,0000,,c",
                   "Dialogue: 0,8:00:09.00,8:00:11.50,Default,,0000,0000,0000,,d"}));
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{2880300, 2880550, "b||a"},
                                               {2880600, 2880850, "c"},
                                               {2880900, 2881150, "d"}}));
  EXPECT_TRUE(f.st.SubUtf8Bom);
}

TEST(SubtitleLoad, SrtEntriesAreKeptApartAndAtLeastTheMinimumLong) {
  Fixture f;
  WriteBytes(f.File(".srt"), CrLf({"1", "00:00:05,000 --> 00:00:06,000", "one", "", "2",
                                   "00:00:05,500 --> 00:00:09,000", "two", "lines", "", "3",
                                   "00:00:20,000 --> 00:00:20,100", "short", ""}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{500, 600, "one"},
                                               {602, 900, "two||lines"},
                                               {2000, 2050, "short"}}));
  EXPECT_EQ(f.st.Subs[1].IndexBegin, 2);
  EXPECT_EQ(f.st.Subs[1].IndexEnd, 2);
}

TEST(SubtitleLoad, SrtEntryWithAnEmptyTextKeepsTheNextEntry) {
  Fixture f;
  WriteBytes(f.File(".srt"),
             "1\n00:00:01,000 --> 00:00:02,000\n\n2\n00:00:03,000 --> 00:00:04,000\nnext\n");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 200, ""}, {300, 400, "next"}}));
  // A separator line holding only spaces ends the text too.
  WriteBytes(f.File(".srt"),
             "1\n00:00:01,000 --> 00:00:02,000\na\n  \n2\n00:00:03,000 --> 00:00:04,000\nb\n");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 200, "a"}, {300, 400, "b"}}));
}

TEST(SubtitleLoad, SrtWithoutTheFirstNumberOrAFinalText) {
  Fixture f;
  WriteBytes(f.File(".srt"), "00:00:01,000 --> 00:00:02,000\r\na\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 200, "a"}, {300, 400, ""}}));
}

// Files from the web: whatever is not a number or a time line is some entry's text, also after a
// blank line inside a text, and a save writes every line of it back.
TEST(SubtitleLoad, SrtKeepsEveryLineOfText) {
  struct Case {
    const char* what;
    Lines file;
    std::vector<Span> timeline;
    Lines saved;  // the file as an unchanged document writes it
  } cases[] = {
      {"a blank line inside a text",
       {"1", "00:00:01,000 --> 00:00:02,000", "first", "", "after the blank", "", "", "2",
        "00:00:03,000 --> 00:00:04,000", "next", ""},
       {{100, 200, "first||after the blank"}, {300, 400, "next"}},
       {"1", "00:00:01,000 --> 00:00:02,000", "first", "after the blank", "", "2",
        "00:00:03,000 --> 00:00:04,000", "next", ""}},
      {"a number ending a text, no blank line before the next entry",
       {"1", "00:00:01,000 --> 00:00:02,000", "chapter", "42", "2", "00:00:03,000 --> 00:00:04,000",
        "b"},
       {{100, 200, "chapter||42"}, {300, 400, "b"}},
       {"1", "00:00:01,000 --> 00:00:02,000", "chapter", "42", "", "2",
        "00:00:03,000 --> 00:00:04,000", "b", ""}},
      {"position tags after the end time",
       {"1", "00:00:01,000 --> 00:00:02,000 X1:100 X2:500 Y1:10 Y2:50", "a", "", "2",
        "00:00:03,000 --> 00:00:04,000  ", "b"},
       {{100, 200, "a"}, {300, 400, "b"}},
       {"1", "00:00:01,000 --> 00:00:02,000 X1:100 X2:500 Y1:10 Y2:50", "a", "", "2",
        "00:00:03,000 --> 00:00:04,000  ", "b", ""}},
      {"lines before the first entry",
       {"Made with some tool", "", "1", "00:00:01,000 --> 00:00:02,000", "a"},
       {{100, 200, "a"}},
       {"Made with some tool", "", "1", "00:00:01,000 --> 00:00:02,000", "a", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    WriteBytes(f.File(".srt"), CrLf(c.file));
    ASSERT_TRUE(SubtitleLoad(f.st, 0));
    EXPECT_EQ(Timeline(f.st), c.timeline);
    f.st.SubDirty = true;
    ASSERT_TRUE(SubtitleSave(f.st));
    EXPECT_EQ(ReadBytes(f.File(".srt")), CrLf(c.saved));
    // An edit keeps the tags on the time line it moves.
    const std::string timeLine =
        *std::find_if(c.saved.begin(), c.saved.end(),
                      [](const std::string& l) { return l.find(" --> ") != std::string::npos; });
    f.st.Subs[0].TimeOut = 250;
    ASSERT_TRUE(SubtitleSave(f.st));
    const std::string moved = "\r\n00:00:01,000 --> 00:00:02,500" + timeLine.substr(29) + "\r\n";
    EXPECT_NE(ReadBytes(f.File(".srt")).find(moved), std::string::npos);
  }
}

TEST(SubtitleLoad, EditsOnlyTheChosenLayer) {
  Fixture f;
  WriteBytes(f.File(".ass"), ASS_HEAD + CrLf({Event("0", "0:00:01.00", "0:00:02.00", "zero"),
                                              Event("1", "0:00:03.00", "0:00:04.00", "one"),
                                              Event("12", "0:00:05.00", "0:00:06.00", "twelve"),
                                              "Dialogue:1,0:00:07.00,0:00:08.00,,,0,0,0,,tight"}));
  ASSERT_TRUE(SubtitleLoad(f.st, 1));
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{300, 400, "one"}, {700, 800, "tight"}}));
  EXPECT_EQ(f.st.SubLayer, 1);

  f.st.Ctrl.LabeledEditLayer = "3";
  ASSERT_TRUE(SubtitleLoad(f.st, 3));
  EXPECT_EQ(f.st.SubLayer, 1);
  EXPECT_EQ(f.st.Ctrl.LabeledEditLayer, "1");
}

TEST(SubtitleLoad, MergesOverlappingEventsOfTheLayer) {
  Fixture f;
  WriteBytes(f.File(".ass"),
             BOM + ASS_HEAD +
                 CrLf({Event("0", "0:00:05.00", "0:00:06.00", "{\\an8}top"),
                       Event("0", "0:00:01.00", "0:00:03.00", "first"),
                       Event("0", "0:00:01.00", "0:00:02.00", "same {\\i1}start{\\i0}!"),
                       Event("0", "0:00:03.00", "0:00:04.00", "touching"),
                       Event("0", "0:00:05.50", "0:00:05.60", "raised to the minimum"),
                       "Comment: 0,0:00:01.00,0:00:09.00,Default,,0,0,0,,not an event"}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 300, "same start!||first"},
                                               {300, 400, "touching"},
                                               {500, 600, "top||raised to the minimum"}}));
  // The event of equal start that stands later in the file comes first.
  ASSERT_EQ(f.st.AssEvents.size(), 5u);
  EXPECT_EQ(f.st.AssEvents[0].index, 7);
  EXPECT_EQ(f.st.AssEvents[0].Dialogue, "same {\\i1}start{\\i0}!");
  EXPECT_EQ(f.st.AssEvents[4].TimeOut, 600);  // 5.60 raised to 5.50 + 0.50
  EXPECT_EQ(f.st.SubsBase[2].Dialogue, "{\\an8}top||raised to the minimum");
  EXPECT_EQ(f.st.SubsBase[2].IndexBegin, 3);
  EXPECT_EQ(f.st.SubsBase[2].IndexEnd, 4);
  const TAssOriginal& line = f.st.AssLines[5];
  EXPECT_EQ(line.Layer, 0);
  EXPECT_EQ(line.DoNotCare, "Default,,0,0,0,,");
  EXPECT_EQ(line.Dialogue, "{\\an8}top");
  EXPECT_EQ(f.st.AssLines[10].Layer, -1);
  EXPECT_EQ(f.st.AssLines[10].TimeIn, -1);
  EXPECT_TRUE(f.st.SubUtf8Bom);
}

TEST(SubtitleLoad, KeepsTheSavedCurrentEntryInRange) {
  Fixture f;
  Lines events;
  for (int i = 0; i < 10; ++i) {
    events.push_back(Event("0", "0:00:" + std::to_string(10 + i) + ".00",
                           "0:00:" + std::to_string(10 + i) + ".50", "e"));
  }
  WriteBytes(f.File(".ass"), ASS_HEAD + CrLf(events));
  for (auto [saved, want] : std::vector<std::pair<int, int>>{{57, 9}, {-1, 0}, {4, 4}}) {
    f.st.Ini.WriteInteger("setup", "SubCurr", saved);
    ASSERT_TRUE(SubtitleLoad(f.st, 0));
    EXPECT_EQ(f.st.SubCurr, want);
  }
}

/// UTF-8 text as UTF-32 with its byte-order mark.
std::string Utf32(const std::string& utf8, bool bigEndian) {
  std::string out;
  auto put = [&](uint32_t u) {
    for (int k = 0; k < 4; ++k) {
      const int shift = bigEndian ? 24 - 8 * k : 8 * k;
      out += static_cast<char>((u >> shift) & 0xFF);
    }
  };
  put(0xFEFF);
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<uint8_t>(utf8[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t u = n == 1 ? c : c & (0x3F >> (n - 1));
    for (int k = 1; k < n; ++k) u = u << 6 | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
    put(u);
    i += n;
  }
  return out;
}

TEST(SubtitleLoad, ReadsEveryEncoding) {
  struct Case {
    std::string bytes;
    bool bom;
    CodePage plain;
  } cases[] = {
      {BOM + "1\r\n00:00:01,000 --> 00:00:02,000\r\n\xE4\xBD\xA0\xE5\xA5\xBD\r\n", true,
       CodePage::Utf8},
      {"1\n00:00:01,000 --> 00:00:02,000\n\xE4\xBD\xA0\xE5\xA5\xBD\n", false, CodePage::Utf8},
      {"1\r00:00:01,000 --> 00:00:02,000\r\xC4\xE3\xBA\xC3\r", false, CodePage::Gb18030},
      {std::string("\xFF\xFE" "1\0\r\0\n\0", 8) +
           std::string("0\0000\0:\0000\0000\0:\0000\0001\0,\0000\0000\0000\0 \0-\0-\0>\0 \0", 34) +
           std::string("0\0000\0:\0000\0000\0:\0000\0002\0,\0000\0000\0000\0\r\0\n\0`O}Y", 32),
       false, CodePage::Utf8},
      // UTF-32 with its mark, both byte orders; written back as UTF-8 like UTF-16.
      {Utf32("1\r\n00:00:01,000 --> 00:00:02,000\r\n你好\r\n", false), false, CodePage::Utf8},
      {Utf32("1\r\n00:00:01,000 --> 00:00:02,000\r\n你好\r\n", true), false, CodePage::Utf8},
  };
  for (const auto& c : cases) {
    Fixture f;
    WriteBytes(f.File(".srt"), c.bytes);
    ASSERT_TRUE(SubtitleLoad(f.st, 0)) << f.prompts.messages.back();
    EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 200, "你好"}}));
    EXPECT_EQ(f.st.SubUtf8Bom, c.bom);
    EXPECT_EQ(f.st.SubCodePage, c.plain);
  }
}

TEST(SubtitleLoad, ReadsTimesOfTenHoursAndMore) {
  Fixture f(10);
  WriteBytes(f.File(".ass"), ASS_HEAD + CrLf({Event("0", "9:59:59.00", "10:00:01.50", "a"),
                                              Event("0", "00:00:01.00", "00:00:02.00", "b")}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{100, 200, "b"}, {3599900, 3600150, "a"}}));
  EXPECT_EQ(f.st.WavSel.size(), 1010u);
}

TEST(SubtitleLoad, SizesTheMapFromTheTimelineWithoutAWaveform) {
  Fixture f;
  f.st.SizeMapFromSubs = true;
  WriteBytes(f.File(".srt"), CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", ""}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(f.st.WavSel.size(), 201u + 1000u);
  WriteBytes(f.File(".srt"), "   ");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_TRUE(f.st.Subs.empty());
  EXPECT_EQ(f.st.SubCurr, -1);
  EXPECT_EQ(f.st.WavSel.size(), 1000u);
  EXPECT_EQ(f.st.WavSel[0].SubIndex, 0);
}

// Entries 15 hours in: the map spans 15 hours of slots, but a load takes memory for none of
// its cells; a cell read takes its page alone, and the answers are a full marking's.
TEST(SubtitleLoad, TheMapTakesNoMemoryForItsCellsUntilTheyAreRead) {
  Fixture f;
  f.st.SizeMapFromSubs = true;
  WriteBytes(f.File(".srt"), CrLf({"1", "15:00:01,000 --> 15:00:02,000", "a", "", "2",
                                   "15:00:03,000 --> 15:00:04,500", "b", ""}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  const CoverageMap& map = f.st.WavSel;
  ASSERT_EQ(map.size(), 5400451u + 1000u);  // up to the last out time, and 10 s
  EXPECT_EQ(map.PagesHeld(), 0u);
  EXPECT_EQ(map[0], (TWavSelect{false, -1}));
  EXPECT_EQ(map[5400099], (TWavSelect{false, -1}));
  EXPECT_EQ(map.PagesHeld(), 0u);
  EXPECT_EQ(map[5400100], (TWavSelect{true, 0}));
  EXPECT_EQ(map[5400200], (TWavSelect{true, 0}));
  EXPECT_EQ(map[5400201], (TWavSelect{false, -1}));
  EXPECT_EQ(map[5400300], (TWavSelect{true, 1}));
  EXPECT_EQ(map[5400450], (TWavSelect{true, 1}));
  EXPECT_EQ(map[5400451], (TWavSelect{false, -1}));
  EXPECT_EQ(map.PagesHeld(), 1u);
}

/// A load that fails must say where and why, and leave the document that was open.
TEST(SubtitleLoad, FailuresKeepThePreviousDocument) {
  struct Case {
    const char* ext;
    std::string bytes;
    int layer;
    std::string message;  // after the file name
  } cases[] = {
      {".srt", "1\n", 0, "\r看起来字节数不对，请检查。"},
      {".ass", ASS_HEAD + CrLf({Event("2", "0:00:01.00", "0:00:02.00", "a")}), 1,
       "中的1层没有可用的对白，请复核。\r或者请删除对应的字幕文件，让程序自动新建。"},
      {".ass", ASS_HEAD + CrLf({Event("0", "0:00:01.00", "0:0x:02.00", "a")}), 0, "\r第6行：时间"},
      {".srt", CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", "", "2", "0:00:03,000 --> x"}), 0,
       "\r第6行：时间行"},
      {".srt", CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a --> b", "", "2",
                     "00:00:03,000 --> 00:00:04,000", "c"}),
       0, "\r第3行：时间行“a --> b”看不懂"},
      // Text in the file, but no entry the editor can read: not an empty document.
      {".srt", CrLf({"1", "00:00:01,000-->00:00:02,000", "a", ""}), 0, "\r没有找到一条能读懂的字幕"},
      {".srt", "\xFF\xFE" + std::string("1\0\r\0\n\0", 6), 0, "\r没有找到一条能读懂的字幕"},
      // UTF-16 without its byte-order mark would read as text full of NULs.
      {".ass", std::string("[\0S\0c\0r\0i\0p\0t\0 \0I\0n\0f\0o\0]\0\r\0\n\0", 28), 0,
       "\r第1行：这个文件看起来是没有字节顺序标记（BOM）的UTF-16编码"},
      // A NUL in a quoted time does not cut the message short.
      {".ass", ASS_HEAD + CrLf({"Dialogue: 0,0:00:01.00," + std::string("0:0\0:02.00", 10) + ",Default,,0,0,0,,a"}),
       0, "\r第6行：时间“0:0\\x00:02.00”看不懂"},
      {".srt", "1\r\n00:00:01,000 --> 00:00:02,000\r\n\x80\x80\r\n", 0, "\r第3行："},
  };
  for (const auto& c : cases) {
    Fixture f;
    WriteBytes(f.File(".ass"), ASS_HEAD + CrLf({Event("0", "0:00:01.00", "0:00:02.00", "kept")}));
    ASSERT_TRUE(SubtitleLoad(f.st, 0));
    f.st.Subs[0].TimeIn = 42;  // an unsaved edit
    f.st.SubDirty = true;
    f.st.Pictures = {true, false, true, false};
    const std::string caption = f.st.Caption;

    std::filesystem::remove(ToPath(f.File(".ass")));
    WriteBytes(f.File(c.ext), c.bytes);
    EXPECT_FALSE(SubtitleLoad(f.st, c.layer)) << c.message;
    ASSERT_EQ(f.prompts.messages.size(), 1u) << c.message;
    EXPECT_EQ(f.prompts.messages[0].rfind(f.File(c.ext) + c.message, 0), 0u)
        << f.prompts.messages[0];
    EXPECT_EQ(Timeline(f.st), (std::vector<Span>{{42, 200, "kept"}}));
    EXPECT_EQ(f.st.SubFileName, f.File(".ass"));
    EXPECT_EQ(f.st.SubFormat, FORMAT_ASS);
    EXPECT_TRUE(f.st.SubDirty);
    EXPECT_EQ(f.st.Caption, caption);
    EXPECT_TRUE(f.st.Pictures.ImageNotReady);
    EXPECT_TRUE(f.st.Pictures.ImageVideoNon);
    EXPECT_FALSE(f.st.Pictures.ImageReadyGo);
    EXPECT_FALSE(f.st.Pictures.ImageVideoYes);
  }
}

// A named pipe (or anything but a file) under a subtitle or script name is refused at once,
// naming it, rather than waited on for ever; the pipe stays, and no subtitle file is made.
TEST(SubtitleLoad, APipeInPlaceOfTheFileIsRefusedWithoutWaiting) {
  for (const char* ext : {".ass", ".srt", ".txt"}) {
    SCOPED_TRACE(ext);
    Fixture f;
    const std::string pipe = f.File(ext);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    auto load = std::async(std::launch::async, [&] { return SubtitleLoad(f.st, 0); });
    if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ::close(::open(pipe.c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
      ADD_FAILURE() << "the load waits on the pipe";
      continue;
    }
    EXPECT_FALSE(load.get());
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].rfind(pipe + "\r", 0), 0u) << f.prompts.messages[0];
    EXPECT_NE(f.prompts.messages[0].find("命名管道"), std::string::npos) << f.prompts.messages[0];
    EXPECT_TRUE(f.st.Pictures.ImageNotReady);
    EXPECT_EQ(std::filesystem::status(ToPath(pipe)).type(), std::filesystem::file_type::fifo);
    EXPECT_EQ(test::NamesIn(f.dir.Path()), (Lines{std::string("v") + ext, "v.ws"}));
  }
}

TEST(SubtitleLoad, MissingWaveformFileIsReported) {
  Fixture f;
  std::filesystem::remove(ToPath(f.st.WsFileName));
  WriteBytes(f.File(".srt"), CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", ""}));
  EXPECT_FALSE(SubtitleLoad(f.st, 0));
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_EQ(f.prompts.messages[0].rfind(f.st.WsFileName + "\r", 0), 0u);
  EXPECT_TRUE(f.st.Subs.empty());
}

TEST(StripOverrides, RemovesEveryBlockAndStops) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"{\\b1}a{\\b0}b", "ab"},       {"a{\\pos(1,2)\\fad(1,2)}b", "ab"},
      {"{note}kept", "{note}kept"},   {"a{\\unclosed", "a{\\unclosed"},
      {"{\\a}{\\b}{\\c}", ""},        {"x\\Ny", "x\\Ny"},
      {"{\\{\\}}z", "}z"},
      // A removed block brings a "{" and a backslash together: that block goes too.
      {"a{{\\b}\\c}d", "ad"},     {"{{{\\x}\\y}\\z}!", "!"},
      {"{\\}{\\}{\\", "{\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(StripOverrides(c.in), c.out) << c.in;
  std::string pairs;
  for (int i = 0; i < 100000; ++i) pairs += "{\\}";
  EXPECT_EQ(StripOverrides(pairs + "x"), "x");
}

}  // namespace
}  // namespace tamsel
