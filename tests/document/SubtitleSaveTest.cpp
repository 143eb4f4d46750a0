#include "SubtitleSave.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "SubtitleLoad.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

using test::BOM;
using test::CrLf;
using test::Fixture;
using test::ReadBytes;
using test::With;
using test::WriteBytes;

using Lines = std::vector<std::string>;

const Lines HEAD = test::AssScriptHead();

void Edit(EditorState& st, size_t i, int32_t in, int32_t out) {
  st.Subs[i].TimeIn = in;
  st.Subs[i].TimeOut = out;
  st.Subs[i].Changed = true;
  st.SubDirty = true;
}

TEST(SubtitleSave, WritesSrtWhole) {
  Fixture f;
  WriteBytes(f.File(".srt"), "1\n00:00:01,000 --> 00:00:05,000\na\nb\n");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  f.st.SubDirty = true;
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_EQ(ReadBytes(f.File(".srt")), CrLf({"1", "00:00:01,000 --> 00:00:05,000", "a", "b", ""}));
  EXPECT_FALSE(f.st.SubDirty);
  EXPECT_TRUE(f.st.Caption.ends_with("beta9　"));
  EXPECT_EQ(SrtFileLines({{1, 1, 0, 10, "", false}, {2, 2, 20, 30, "x||", false}}),
            (Lines{"1", "00:00:00,000 --> 00:00:00,100", "", "", "2",
                   "00:00:00,200 --> 00:00:00,300", "x", "", ""}));
}

TEST(SubtitleSave, MergedEventsMoveAndStretchWithTheirEntry) {
  struct Case {
    int32_t in, out;
    const char* first;
    const char* second;
  } cases[] = {
      {200, 600, "Dialogue: 0,0:00:02.00,0:00:04.00,Default,,0,0,0,,a",
       "Dialogue: 0,0:00:03.00,0:00:06.00,Default,,0,0,0,,b"},
      {100, 900, "Dialogue: 0,0:00:01.00,0:00:05.00,Default,,0,0,0,,a",
       "Dialogue: 0,0:00:03.00,0:00:09.00,Default,,0,0,0,,b"},
      {100, 300, "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a",  // scale 0.5: 100 → 50
       "Dialogue: 0,0:00:01.50,0:00:03.00,Default,,0,0,0,,b"},
  };
  for (const auto& c : cases) {
    Fixture f;
    WriteBytes(f.File(".ass"),
               CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,a",
                                "Dialogue: 0,0:00:02.00,0:00:05.00,Default,,0,0,0,,b"})));
    ASSERT_TRUE(SubtitleLoad(f.st, 0));
    ASSERT_EQ(f.st.Subs.size(), 1u);
    Edit(f.st, 0, c.in, c.out);
    ASSERT_TRUE(SubtitleSave(f.st));
    EXPECT_EQ(ReadBytes(f.File(".ass")), CrLf(With(HEAD, {c.first, c.second})));
    EXPECT_EQ(f.st.SubsBase[0].TimeIn, c.in);
    EXPECT_EQ(f.st.SubsBase[0].TimeOut, c.out);
    EXPECT_FALSE(f.st.Subs[0].Changed);
  }
}

TEST(SubtitleSave, RewritesOnlyTheChangedEventLines) {
  Fixture f;
  const Lines events = {
      "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\b1}one{\\b0}",
      "Dialogue: 1,0:00:01.00,0:00:02.00,Default,,0,0,0,,other layer",
      "Comment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,note",
      "Dialogue:0,00:00:03.00,00:00:03.10,Default,Bob,0010,0020,0030,Fx,two",
      "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,three",
  };
  const std::string original = BOM + CrLf(With(HEAD, events));
  WriteBytes(f.File(".ass"), original);
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  // Nothing changed: the file comes back byte for byte.
  f.st.SubDirty = true;
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_EQ(ReadBytes(f.File(".ass")), original);

  Edit(f.st, 1, 320, 400);
  ASSERT_TRUE(SubtitleSave(f.st));
  Lines want = events;
  want[3] = "Dialogue:0,0:00:03.20,0:00:04.00,Default,Bob,0010,0020,0030,Fx,two";
  EXPECT_EQ(ReadBytes(f.File(".ass")), BOM + CrLf(With(HEAD, want)));

  Edit(f.st, 0, 50, 150);
  ASSERT_TRUE(SubtitleSave(f.st));
  want[0] = "Dialogue: 0,0:00:00.50,0:00:01.50,Default,,0,0,0,,{\\b1}one{\\b0}";
  EXPECT_EQ(ReadBytes(f.File(".ass")), BOM + CrLf(With(HEAD, want)));
  EXPECT_TRUE(f.st.Caption.ends_with("　　　"));
}

TEST(SubtitleSave, RebuiltLinesKeepTheirOwnLayer) {
  // An SSA line's "Marked=1" field stays as written (it reads as layer 0); a layer of two
  // digits stays whole; a layer box changed but not yet applied does not move the events into
  // another layer.
  Fixture f;
  WriteBytes(f.File(".ssa"), CrLf(With(HEAD, {"Dialogue: Marked=1,0:00:01.00,0:00:02.00,Default,,0,0,0,,s",
                                              "Dialogue: 12,0:00:03.00,0:00:04.00,Default,,0,0,0,,t"})));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  f.st.Ctrl.LabeledEditLayer = "1";
  Edit(f.st, 0, 110, 210);
  ASSERT_TRUE(SubtitleSave(f.st));
  ASSERT_TRUE(SubtitleLoad(f.st, 12));
  EXPECT_EQ(f.st.SubLayer, 12);
  Edit(f.st, 0, 310, 410);
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_EQ(ReadBytes(f.File(".ssa")),
            CrLf(With(HEAD, {"Dialogue: Marked=1,0:00:01.10,0:00:02.10,Default,,0,0,0,,s",
                             "Dialogue: 12,0:00:03.10,0:00:04.10,Default,,0,0,0,,t"})));
}

TEST(SubtitleSave, WritesInTheEncodingTheFileWasReadIn) {
  struct Case {
    std::string bytes;
    std::string saved;
  } cases[] = {
      // GB18030 stays GB18030, untouched lines byte for byte.
      {"1\r\n00:00:01,000 --> 00:00:02,000\r\n\xC4\xE3\xBA\xC3\r\n\r\n",
       "1\r\n00:00:01,000 --> 00:00:02,000\r\n\xC4\xE3\xBA\xC3\r\n\r\n"},
      // UTF-16 is written back as UTF-8 without a mark.
      {std::string("\xFF\xFE" "1\0\n\0", 6) +
           std::string("0\0000\0:\0000\0000\0:\0000\0001\0,\0000\0000\0000\0 \0-\0-\0>\0 \0", 34) +
           std::string("0\0000\0:\0000\0000\0:\0000\0002\0,\0000\0000\0000\0\n\0`O}Y", 30),
       "1\r\n00:00:01,000 --> 00:00:02,000\r\n\xE4\xBD\xA0\xE5\xA5\xBD\r\n\r\n"},
  };
  for (const auto& c : cases) {
    Fixture f;
    WriteBytes(f.File(".srt"), c.bytes);
    ASSERT_TRUE(SubtitleLoad(f.st, 0));
    f.st.SubDirty = true;
    ASSERT_TRUE(SubtitleSave(f.st));
    EXPECT_EQ(ReadBytes(f.File(".srt")), c.saved);
  }
}

TEST(SubtitleSave, TimesPastTenHoursSurviveASaveAndAReload) {
  Fixture f(10);
  Lines script;
  for (int i = 0; i < 2500; ++i) script.push_back("line " + std::to_string(i));
  WriteBytes(f.File(".txt"), CrLf(script));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  ASSERT_EQ(f.st.Subs.size(), 2500u);
  EXPECT_EQ(f.st.Subs[2499].TimeIn, 2880000 + 300 * 2499);
  EXPECT_EQ(f.st.AssLines[20 + 2499].Original.substr(0, 35),
            "Dialogue: 0,10:04:57.00,10:04:59.50");
  Edit(f.st, 2499, 3700000, 3700300);
  ASSERT_TRUE(SubtitleSave(f.st));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_EQ(f.st.Subs[2499].TimeIn, 3700000);
  EXPECT_EQ(f.st.Subs[2499].TimeOut, 3700300);
  EXPECT_EQ(f.st.Subs[2400].TimeIn, 2880000 + 300 * 2400);
}

TEST(SubtitleSave, AFailedWriteKeepsTheChangesAndIsToldOnce) {
  Fixture f;
  WriteBytes(f.File(".srt"), CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", ""}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  // Something that cannot be replaced now stands where the subtitle file was.
  std::filesystem::remove(ToPath(f.File(".srt")));
  std::filesystem::create_directory(ToPath(f.File(".srt")));
  Edit(f.st, 0, 150, 250);
  f.st.SaveCountdown = 0;
  for (int tick = 0; tick < 6; ++tick) Timer4SaveFileTimer(f.st);
  EXPECT_TRUE(f.st.SubDirty);
  EXPECT_FALSE(FileExists(f.File(".tmp")));
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_EQ(f.prompts.messages[0].rfind(f.File(".srt") + "\r字幕保存失败：", 0), 0u);

  std::filesystem::remove(ToPath(f.File(".srt")));
  for (int tick = 0; tick < 3 && f.st.SubDirty; ++tick) Timer4SaveFileTimer(f.st);
  EXPECT_FALSE(f.st.SubDirty);
  EXPECT_EQ(ReadBytes(f.File(".srt")), CrLf({"1", "00:00:01,500 --> 00:00:02,500", "a", ""}));
  EXPECT_FALSE(f.st.SaveFailureReported);
}

// Refusals that keep the file as it is and the changes in memory; the message says whether
// anything will try again (the editor's autosave) or not (the command line).
TEST(SubtitleSave, RefusesToReplaceAReadOnlyFileOrTextWithNothing) {
  struct Case {
    const char* what;
    bool readOnly;
    bool empty;      // the document has lost every entry
    bool retries;
    const char* reason;
    const char* last;
  } cases[] = {
      {"read-only, editor", true, false, true, "只读", "修改仍保留在程序中，会继续尝试保存。"},
      {"read-only, command line", true, false, false, "只读", "修改没有保存。"},
      {"empty document over text", false, true, false, "一条字幕也没有", "修改没有保存。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    const std::string file = CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", ""});
    WriteBytes(f.File(".srt"), file);
    ASSERT_TRUE(SubtitleLoad(f.st, 0));
    f.st.SaveRetries = c.retries;
    if (c.readOnly) std::filesystem::permissions(ToPath(f.File(".srt")), std::filesystem::perms(0444));
    if (c.empty) f.st.Subs.clear();
    f.st.SubDirty = true;
    EXPECT_FALSE(SubtitleSave(f.st));
    EXPECT_TRUE(f.st.SubDirty);
    EXPECT_EQ(ReadBytes(f.File(".srt")), file);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    const std::string& m = f.prompts.messages[0];
    EXPECT_EQ(m.rfind(f.File(".srt") + "\r字幕保存失败：", 0), 0u) << m;
    EXPECT_NE(m.find(c.reason), std::string::npos) << m;
    EXPECT_TRUE(m.ends_with(c.last)) << m;
  }
  // A file with nothing but white space may take an empty document.
  Fixture f;
  WriteBytes(f.File(".srt"), " \r\n\r\n");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  EXPECT_TRUE(f.st.Subs.empty());
  f.st.SubDirty = true;
  EXPECT_TRUE(SubtitleSave(f.st));
  EXPECT_EQ(ReadBytes(f.File(".srt")), "");
}

TEST(SubtitleSave, LeavesAFileWithTheTemporaryNameAlone) {
  // Left over from a crash or someone else's: the save goes through a file of its own.
  Fixture f;
  WriteBytes(f.File(".srt"), CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", ""}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  WriteBytes(f.File(".tmp"), "left over from a crash");
  Edit(f.st, 0, 150, 250);
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_EQ(ReadBytes(f.File(".srt")), CrLf({"1", "00:00:01,500 --> 00:00:02,500", "a", ""}));
  EXPECT_EQ(ReadBytes(f.File(".tmp")), "left over from a crash");
}

// What saves killed midway left (a full or an empty temporary file under a name of a process
// that is gone) is removed by the first save of a document; a live process's is kept.
TEST(SubtitleSave, TheFirstSaveRemovesWhatKilledSavesLeft) {
  Fixture f;
  WriteBytes(f.File(".srt"), CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", ""}));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  const std::string full = test::LeftoverName(f.File(".tmp"), test::EndedProcessId());
  const std::string empty = test::LeftoverName(f.File(".tmp"), test::EndedProcessId());
  const std::string live = test::LeftoverName(f.File(".tmp"), 1);
  WriteBytes(full, ReadBytes(f.File(".srt")));
  WriteBytes(empty, "");
  WriteBytes(live, "being written");
  Edit(f.st, 0, 150, 250);
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_EQ(test::NamesIn(f.dir.Path()),
            (Lines{"v.srt", FromPath(ToPath(live).filename()), "v.ws"}));
  // Later saves of the document do not look again.
  WriteBytes(full, "");
  Edit(f.st, 0, 160, 250);
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_TRUE(FileExists(full));
}

// A subtitle file that is a link to a file elsewhere is saved through the link: the linked file
// gets the edit, the link stays, and the temporary file lies beside the linked file (what a
// killed save left there goes with the first save).
TEST(SubtitleSave, SavesThroughALinkedSubtitleFile) {
  Fixture f;
  test::TempDir elsewhere;
  const std::string real = elsewhere.Path("real.srt");
  WriteBytes(real, CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", ""}));
  std::filesystem::create_symlink(ToPath(real), ToPath(f.File(".srt")));
  const std::string left = test::LeftoverName(real + ".tmp", test::EndedProcessId());
  WriteBytes(left, "left");
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  Edit(f.st, 0, 150, 250);
  ASSERT_TRUE(SubtitleSave(f.st));
  EXPECT_TRUE(std::filesystem::is_symlink(ToPath(f.File(".srt"))));
  EXPECT_EQ(ReadBytes(real), CrLf({"1", "00:00:01,500 --> 00:00:02,500", "a", ""}));
  EXPECT_EQ(test::NamesIn(f.dir.Path()), (Lines{"v.srt", "v.ws"}));
  EXPECT_EQ(test::NamesIn(elsewhere.Path()), (Lines{"real.srt"}));
}

TEST(Timer4SaveFileTimer, CountsDownWhileDirtyAndFadesTheSign) {
  Fixture f;
  WriteBytes(f.File(".ass"), CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a"})));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  const std::string caption = f.st.Caption;
  f.st.SaveCountdown = 3;
  f.st.Ctrl.RadioGroupPower = 2;
  std::vector<int> writes;
  for (int tick = 1; tick <= 10; ++tick) {
    Edit(f.st, 0, 100 + tick, 200 + tick);
    Timer4SaveFileTimer(f.st);
    if (!f.st.SubDirty) writes.push_back(tick);
  }
  // The first write waits four dirty ticks, then one in every three.
  EXPECT_EQ(writes, (std::vector<int>{4, 7, 10}));
  EXPECT_FALSE(f.st.SubDirty);
  EXPECT_TRUE(f.st.Caption.ends_with("beta9　　　"));
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_NE(f.st.Caption, caption);
    Timer4SaveFileTimer(f.st);
  }
  EXPECT_EQ(f.st.Caption, caption);
  Timer4SaveFileTimer(f.st);
  EXPECT_EQ(f.st.Caption, caption);
}

TEST(CloseDocument, WritesWhatIsPendingAndNothingElse) {
  Fixture f;
  // A short event is read as the minimum length but not written back unless edited.
  const std::string original =
      CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:01.10,Default,,0,0,0,,short",
                       "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,b"}));
  WriteBytes(f.File(".ass"), original);
  f.st.Ini = IniFile(f.dir.Path("s.ini"));
  ASSERT_TRUE(SubtitleLoad(f.st, 0));
  f.st.ReadyState = 2;
  f.st.SubCurr = 1;
  CloseDocument(f.st);
  EXPECT_EQ(ReadBytes(f.File(".ass")), original);
  EXPECT_EQ(IniFile(f.dir.Path("s.ini")).ReadInteger("setup", "SubCurr", -1), 1);

  Edit(f.st, 1, 310, 410);
  CloseDocument(f.st);
  EXPECT_EQ(ReadBytes(f.File(".ass")),
            CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:01.10,Default,,0,0,0,,short",
                             "Dialogue: 0,0:00:03.10,0:00:04.10,Default,,0,0,0,,b"})));
}

}  // namespace
}  // namespace tamsel
