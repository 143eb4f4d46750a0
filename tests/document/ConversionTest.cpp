#include "Conversion.h"

#include <gtest/gtest.h>

#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

using test::BOM;
using test::CrLf;
using test::DecodeLines;
using test::Fixture;
using test::ReadBytes;
using test::With;
using test::WriteBytes;

using Lines = std::vector<std::string>;

const Lines HEAD = {"[Script Info]", "ScriptType: v4.00+", "", "[Events]",
                    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text"};

Lines Texts(const EditorState& st) {
  Lines out;
  for (const auto& s : st.Subs) out.push_back(s.Dialogue);
  return out;
}

/// A fixture whose document is loaded and ready.
struct Ready : Fixture {
  Ready(const char* ext, const std::string& bytes) {
    WriteBytes(File(ext), bytes);
    EXPECT_TRUE(SubtitleLoad(st, 0));
    st.Pictures.ImageReadyGo = true;
  }
  bool Reimport(const std::string& txt) {
    WriteBytes(dir.Path("revised.txt"), txt);
    prompts.txtAnswer = dir.Path("revised.txt");
    return ButtonReLoadTxtClick(st);
  }
};

const std::string SRT3 = CrLf({"1", "00:00:01,000 --> 00:00:02,000", "one", "", "2",
                               "00:00:03,000 --> 00:00:04,000", "two", "", "3",
                               "00:00:05,000 --> 00:00:10,000", "three", ""});

TEST(ButtonSaveAsClick, SrtBecomesTheAssDocument) {
  Ready f(".srt", CrLf({"1", "00:00:01,000 --> 00:00:05,000", "a", "b", ""}));
  ASSERT_TRUE(ButtonSaveAsClick(f.st));
  const std::string bytes = ReadBytes(f.File(".ass"));
  EXPECT_EQ(bytes.rfind(BOM, 0), 0u);
  Lines want = AssTemplate();
  want.push_back("Dialogue: 0,0:00:01.00,0:00:05.00,Default,,0000,0000,0000,,a\\Nb");
  EXPECT_EQ(DecodeLines(bytes), want);
  EXPECT_EQ(f.st.SubFormat, FORMAT_ASS);
  EXPECT_EQ(Texts(f.st), Lines{"a\\Nb"});
  EXPECT_FALSE(FileExists(f.File(".tmp")));
}

TEST(ButtonSaveAsClick, AssIsExportedAsSrtWithClosingLines) {
  Ready f(".ass", CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\i1}a\\Nb",
                                   "Comment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,note",
                                   "Dialogue: 1,0:00:03.00,0:00:04.00,Default,,0,0,0,,fx"})));
  ASSERT_TRUE(ButtonSaveAsClick(f.st));
  EXPECT_EQ(DecodeLines(ReadBytes(f.File(".srt"))),
            (Lines{"1", "00:00:01,000 --> 00:00:02,000", "{\\i1}a\\Nb", "",
                   "2", "00:00:00,000 --> 00:00:00,000", "", "",
                   "3", "00:00:03,000 --> 00:00:04,000", "fx", "",
                   "28800", "08:00:00,000 --> 08:00:08,000", "Creater:《Tamsel时间轴》", MAKER_LINE}));
  EXPECT_EQ(f.st.SubFormat, FORMAT_ASS);  // the ASS file stays the document
}

TEST(ButtonSaveAsClick, NeverOverwritesAnExistingFile) {
  Ready f(".ass", CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a"})));
  WriteBytes(f.File(".srt"), "mine");
  EXPECT_FALSE(ButtonSaveAsClick(f.st));
  EXPECT_EQ(ReadBytes(f.File(".srt")), "mine");
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_EQ(f.prompts.messages[0].rfind(f.File(".srt") + "\r", 0), 0u);
}

TEST(ButtonSaveAsClick, RefusesTextsThatSrtCannotHold) {
  Ready f(".ass", CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a",
                                   "Dialogue: 1,0:00:03.00,0:00:04.00,Default,,0,0,0,,b --> c"})));
  EXPECT_FALSE(ButtonSaveAsClick(f.st));
  EXPECT_FALSE(FileExists(f.File(".srt")));
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_EQ(f.prompts.messages[0].rfind(f.File(".ass") + "\r第7行", 0), 0u);
}

TEST(TabSheet23Show, EnablesWhatTheFilesAllow) {
  Ready f(".srt", SRT3);
  TabSheet23Show(f.st);
  EXPECT_TRUE(f.st.Ctrl.ButtonSaveAs);
  EXPECT_TRUE(f.st.Ctrl.ButtonSaveAsTxt);
  EXPECT_TRUE(f.st.Ctrl.ButtonReLoadTxt);
  EXPECT_EQ(f.st.Ctrl.ButtonSaveAsCaption, "转为ASS格式");

  f.st.Ctrl = Controls{};
  WriteBytes(f.File(".ass"), "x");
  WriteBytes(f.File(".txt"), "x");
  TabSheet23Show(f.st);
  EXPECT_FALSE(f.st.Ctrl.ButtonSaveAs);
  EXPECT_FALSE(f.st.Ctrl.ButtonSaveAsTxt);
  EXPECT_TRUE(f.st.Ctrl.ButtonReLoadTxt);

  f.st.Pictures.ImageReadyGo = false;
  f.st.Ctrl.ButtonSaveAs = f.st.Ctrl.ButtonSaveAsTxt = true;
  f.st.SubFormat = FORMAT_SSA;
  TabSheet23Show(f.st);
  EXPECT_FALSE(f.st.Ctrl.ButtonSaveAs || f.st.Ctrl.ButtonSaveAsTxt || f.st.Ctrl.ButtonReLoadTxt);
  EXPECT_EQ(f.st.Ctrl.ButtonSaveAsCaption, "转为SRT格式");
}

TEST(ButtonSaveAsTxtClick, ExportsOnceInTheDocumentsEncoding) {
  Ready srt(".srt", BOM + CrLf({"1", "00:00:01,000 --> 00:00:02,000", "a", "b", "", "2",
                                "00:00:03,000 --> 00:00:04,000", "c", ""}));
  ASSERT_TRUE(ButtonSaveAsTxtClick(srt.st));
  EXPECT_EQ(ReadBytes(srt.File(".txt")), BOM + CrLf({"a", "b", "", "c", ""}));
  EXPECT_TRUE(srt.st.Ctrl.ButtonSaveAsTxt);
  WriteBytes(srt.File(".txt"), "edited by hand");
  EXPECT_FALSE(ButtonSaveAsTxtClick(srt.st));
  EXPECT_EQ(ReadBytes(srt.File(".txt")), "edited by hand");

  const std::string gb = "[Events]\r\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,\xC4\xE3\r\n";
  Ready ass(".ass", gb);
  ASSERT_TRUE(ButtonSaveAsTxtClick(ass.st));
  EXPECT_EQ(ReadBytes(ass.File(".txt")),
            "[Events]\r\n\r\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,\xC4\xE3\r\n\r\n");
}

TEST(ButtonReLoadTxtClick, FewerItemsLeaveThePlaceholder) {
  Ready f(".srt", SRT3);
  ASSERT_TRUE(f.Reimport("first\r\nline\r\n\r\n\r\nsecond\r\n\r\n\r\n\r\n"));
  EXPECT_EQ(Texts(f.st), (Lines{"first||line", "second", "■■■■"}));
  EXPECT_EQ(DecodeLines(ReadBytes(f.File(".srt")))[2], "first");
  EXPECT_FALSE(f.st.SubDirty);
}

TEST(ButtonReLoadTxtClick, MoreItemsAreParkedAfterTheLastEntry) {
  Ready f(".srt", SRT3);
  f.st.Ctrl.TrackBarAutoVolCtrlSpeed = 3;
  ASSERT_TRUE(f.Reimport("a\r\nb\r\nc\r\n四个字啊\r\nfifth line\r\n"));
  ASSERT_EQ(f.st.Subs.size(), 5u);
  EXPECT_EQ(Texts(f.st), (Lines{"a", "b", "c", "四个字啊", "fifth line"}));
  // 12 UTF-8 bytes × 20 div 4 = 60; 10 bytes × 20 div 4 = 50.
  EXPECT_EQ(f.st.Subs[3].TimeIn, 2880100);
  EXPECT_EQ(f.st.Subs[3].TimeOut, 2880160);
  EXPECT_EQ(f.st.Subs[4].TimeIn, 2880260);
  EXPECT_EQ(f.st.Subs[4].TimeOut, 2880310);
  EXPECT_EQ(f.st.Subs[2].TimeIn, 500);  // existing times stay
}

TEST(ButtonReLoadTxtClick, AFailedSaveKeepsTheTextsUnsavedAndSaysSo) {
  // Reloading after a failed save would read the old file back and drop the texts unseen.
  Ready f(".srt", SRT3);
  std::filesystem::permissions(ToPath(f.File(".srt")), std::filesystem::perms(0444));
  EXPECT_FALSE(f.Reimport("uno\r\ndos\r\ntres\r\n"));
  EXPECT_EQ(ReadBytes(f.File(".srt")), SRT3);
  EXPECT_TRUE(f.st.SubDirty);
  EXPECT_EQ(Texts(f.st), (Lines{"uno", "dos", "tres"}));
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_NE(f.prompts.messages[0].find("字幕保存失败"), std::string::npos);
}

TEST(ButtonReLoadTxtClick, IntoAnEmptySrtStartsAtTheParking) {
  Ready f(".srt", "   ");
  ASSERT_TRUE(f.Reimport("only\r\n"));
  ASSERT_EQ(f.st.Subs.size(), 1u);
  EXPECT_EQ(f.st.Subs[0].TimeIn, 2880100);
}

TEST(ButtonReLoadTxtClick, AssParagraphsJoinWithHardBreaks) {
  Ready f(".ass", CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\b1}x",
                                   "Comment: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,note",
                                   "",
                                   "Dialogue: Marked=0,0:00:04.00,0:00:05.00,Default,,0,0,0,,y",
                                   "Dialogue: 0,0:00:06.00,0:00:06.10,Default,,0,0,0,,z"})));
  ASSERT_TRUE(f.Reimport(BOM + "one\ntwo\n\nthree\n\n\n"));
  EXPECT_EQ(ReadBytes(f.File(".ass")),
            BOM + CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,one\\Ntwo",
                                   "Comment: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,note", "",
                                   "Dialogue: Marked=0,0:00:04.00,0:00:05.00,Default,,0,0,0,,three",
                                   "Dialogue: 0,0:00:06.00,0:00:06.50,Default,,0,0,0,,■■■■"})));
  EXPECT_TRUE(f.st.SubUtf8Bom);
  EXPECT_EQ(Texts(f.st), (Lines{"one\\Ntwo", "three", "■■■■"}));
}

TEST(ButtonReLoadTxtClick, AssLinesAreAppendedForExtraItems) {
  Ready f(".ass", CrLf(With(HEAD, {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x"})));
  ASSERT_TRUE(f.Reimport("a\r\nbb\r\n"));
  const Lines lines = DecodeLines(ReadBytes(f.File(".ass")));
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,a",
                   "Dialogue: 0,8:00:01.00,8:00:01.10,Default,,0000,0000,0000,,bb"}));
  EXPECT_EQ(Texts(f.st), (Lines{"a", "bb"}));
}

TEST(ButtonReLoadTxtClick, ANothingScriptIsRefused) {
  for (std::string script : {std::string(""), std::string("\r\n\r\n\r\n")}) {
    Ready f(".srt", SRT3);
    const std::string before = ReadBytes(f.File(".srt"));
    EXPECT_FALSE(f.Reimport(script));
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].rfind(f.dir.Path("revised.txt") + "\r", 0), 0u);
    EXPECT_EQ(Texts(f.st), (Lines{"one", "two", "three"}));
    EXPECT_EQ(ReadBytes(f.File(".srt")), before);
  }
}

TEST(ButtonReLoadTxtClick, RefusesAnSrtTextThatWouldReadAsATimeLine) {
  Ready f(".srt", SRT3);
  const std::string before = ReadBytes(f.File(".srt"));
  EXPECT_FALSE(f.Reimport("a\r\nb --> c\r\n"));
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_EQ(f.prompts.messages[0].rfind(f.dir.Path("revised.txt") + "\r第2句", 0), 0u);
  EXPECT_EQ(ReadBytes(f.File(".srt")), before);
  EXPECT_EQ(Texts(f.st), (Lines{"one", "two", "three"}));
}

TEST(ButtonReLoadTxtClick, CancelOrAMissingFileChangesNothing) {
  Ready f(".srt", SRT3);
  f.prompts.txtAnswer = "";
  EXPECT_FALSE(ButtonReLoadTxtClick(f.st));
  f.prompts.txtAnswer = f.dir.Path("gone.txt");
  EXPECT_FALSE(ButtonReLoadTxtClick(f.st));
  EXPECT_TRUE(f.prompts.messages.empty());
  EXPECT_EQ(Texts(f.st), (Lines{"one", "two", "three"}));
}

TEST(ScriptItems, LineAndParagraphForms) {
  EXPECT_EQ(ScriptItems({"a", "", "b", "c"}, "||"), (Lines{"a", "b", "c"}));  // 1 blank of 4
  EXPECT_EQ(ScriptItems({"a", "b", "", "c", "", ""}, "||"), (Lines{"a||b", "c"}));
  EXPECT_EQ(ScriptItems({" ", "", "", "x"}, "\\N"), (Lines{" ", "x"}));
  EXPECT_TRUE(ScriptItems({}, "||").empty());
}

}  // namespace
}  // namespace tamsel
