#include "StatusPanel.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "EdgeTracking.h"
#include "TestSupport.h"
#include "TextCodec.h"

namespace tamsel {
namespace {

/// The widths the editing layout gives the six panels of a 784 px wide bar: Round(784 * 4 / 34)
/// and Trunc(784 * 9 / 34). The panels start at 0, 92, 299, 506, 598 and 690 and end at 782.
constexpr StatusPanelWidths WIDTHS_784 = {92, 207, 207, 92, 92, 92};

/// A click in the middle of each panel of WIDTHS_784.
int32_t MiddleOf(int panel) { return StatusPanelLeft(WIDTHS_784, panel) + WIDTHS_784[panel] / 2; }

/// An editor that is editing three entries (1-2 s, 5-6 s, 9-10 s) with the settings file in a
/// folder of its own, every switch off but the sound style and the magnet (their defaults).
struct Editing {
  test::TempDir dir;
  test::RecordingPrompts prompts;
  EditorState st;

  Editing() {
    st.Prompts = &prompts;
    st.Ini = IniFile(SettingsPath());
    st.ReadyState = 2;
    st.SubFormat = FORMAT_SRT;
    int32_t n = 0;
    for (auto [in, out] : {std::pair{100, 200}, {500, 600}, {900, 1000}}) {
      ++n;
      st.Subs.push_back({n, n, in, out, "Hello", false});
    }
    st.WavSel.assign(3000, TWavSelect{false, -1});
    CreatSelAndInd(st.WavSel, st.Subs);
    st.SubsInVideo = 3;
    st.SubCurr = 0;
    st.PlayPos = 3000;  // in the gap between the first two entries
    RefreshEdge(st);
  }
  std::string SettingsPath() const { return dir.Path("RuziRudoDudiro.ini"); }
  std::string Settings() const {
    return FileExists(SettingsPath()) ? test::ReadBytes(SettingsPath()) : "";
  }
};

/// A status bar font in which every character is 27 px wide.
int32_t Width27(const std::string& text) { return static_cast<int32_t>(Utf8Length(text)) * 27; }

TEST(StatusPanel, HitTestExcludesTheBordersOfEveryPanel) {
  const struct {
    int32_t x;
    int panel;
  } cases[] = {
      {-5, -1},  {0, -1},  {1, 0},    {91, 0},   {92, -1},  {93, 1},    {298, 1}, {299, -1},
      {300, 2},  {505, 2}, {506, -1}, {507, 3},  {597, 3},  {598, -1},  {599, 4}, {689, 4},
      {690, -1}, {691, 5}, {781, 5},  {782, -1}, {783, -1}, {5000, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusPanelAt(WIDTHS_784, c.x), c.panel) << "x " << c.x;

  // A bar so narrow that a panel has no width: nothing hits that panel, the next one starts
  // where it would have.
  constexpr StatusPanelWidths narrow = {0, 3, 3, 0, 0, 2};
  EXPECT_EQ(StatusPanelAt(narrow, 0), -1);
  EXPECT_EQ(StatusPanelAt(narrow, 1), 1);
  EXPECT_EQ(StatusPanelAt(narrow, 3), -1);
  EXPECT_EQ(StatusPanelAt(narrow, 5), 2);
  EXPECT_EQ(StatusPanelAt(narrow, 6), -1);
  EXPECT_EQ(StatusPanelAt(narrow, 7), 5);
  EXPECT_EQ(StatusPanelAt(narrow, 8), -1);
}

TEST(StatusPanel, PlayModeClicksKeepLoopAndHeadTailWithDialogueOnly) {
  Editing e;
  struct Modes {
    bool dialogue, headTail, loop;
    bool operator==(const Modes&) const = default;
  };
  const struct {
    int panel;
    Modes after;
  } sequence[] = {
      {PANEL_HEAD_TAIL_ONLY, {true, true, false}},   // head/tail on brings dialogue-only along
      {PANEL_DIALOGUE_ONLY, {false, false, false}},  // dialogue-only off takes both others off
      {PANEL_LOOP, {true, false, true}},             // loop on brings dialogue-only along
      {PANEL_HEAD_TAIL_ONLY, {true, true, true}},
      {PANEL_HEAD_TAIL_ONLY, {true, false, true}},  // head/tail off leaves the others
      {PANEL_LOOP, {true, false, false}},           // loop off leaves dialogue-only
      {PANEL_DIALOGUE_ONLY, {false, false, false}},
      {PANEL_DIALOGUE_ONLY, {true, false, false}},
  };
  for (const auto& step : sequence) {
    EXPECT_EQ(StatusBar1Click(e.st, WIDTHS_784, MiddleOf(step.panel)), step.panel);
    const Modes now{e.st.DialogueOnly, e.st.HeadTailOnly, e.st.LoopMode};
    EXPECT_EQ(now, step.after) << "after panel " << step.panel;
  }
}

TEST(StatusPanel, SoundStyleMagnetAndStepClicksAndTheirCaptions) {
  Editing e;
  ASSERT_TRUE(e.st.Ctrl.CheckBoxSoundStyle);
  ASSERT_TRUE(e.st.Ctrl.chkBoxAIenable);
  EXPECT_EQ(StatusPanelText(e.st, PANEL_SOUND_STYLE), "变调");
  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_SOUND_STYLE));
  EXPECT_FALSE(e.st.Ctrl.CheckBoxSoundStyle);
  EXPECT_EQ(StatusPanelText(e.st, PANEL_SOUND_STYLE), "跳跃");

  e.st.ViewMarker = 12.0;
  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_MAGNET));
  EXPECT_FALSE(e.st.Ctrl.chkBoxAIenable);
  EXPECT_EQ(e.st.ViewMarker, -100.0);  // the strip redraws without the magnet's marks

  EXPECT_EQ(StatusPanelText(e.st, PANEL_STEP), "精校");
  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_STEP));
  EXPECT_EQ(e.st.StepFactor, 3);
  EXPECT_EQ(StatusPanelText(e.st, PANEL_STEP), "粗校");
  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_STEP));
  EXPECT_EQ(e.st.StepFactor, 1);
  EXPECT_EQ(StatusPanelText(e.st, PANEL_STEP), "精校");
}

TEST(StatusPanel, EveryClickSavesTheSoundStyleAndTheMagnetButNoPlayMode) {
  Editing e;
  e.st.SubCurr = 1;
  // A click on a border switches nothing but still saves.
  EXPECT_EQ(StatusBar1Click(e.st, WIDTHS_784, StatusPanelLeft(WIDTHS_784, PANEL_MAGNET)), -1);
  EXPECT_TRUE(e.st.Ctrl.chkBoxAIenable);
  std::string saved = e.Settings();
  EXPECT_NE(saved.find("AIenable=1\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("SoundPlayStyle=1\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("SubCurr=1\r\n"), std::string::npos) << saved;

  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_MAGNET));
  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_SOUND_STYLE));
  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_LOOP));
  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_STEP));
  saved = e.Settings();
  EXPECT_NE(saved.find("AIenable=0\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("SoundPlayStyle=0\r\n"), std::string::npos) << saved;
  // The play modes and the step size live only as long as the program runs: the file holds
  // the saved settings and nothing else.
  std::vector<std::string> keys;
  for (const std::string& line : test::DecodeLines(saved)) {
    if (const size_t eq = line.find('='); eq != std::string::npos)
      keys.push_back(line.substr(0, eq));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"InductorStretch", "PlayAtCenter", "SoundPlayStyle",
                                            "TimeEdge", "AIenable", "ShowSub", "PCPower",
                                            "WavOptimize", "NoiseStyle", "KeyStep", "MouseStep",
                                            "CrashStyle", "MinTime", "ReadDelay", "SubCurr"}));

  // Clicking at x = 0 switches nothing either, and the settings are written again.
  std::filesystem::remove(ToPath(e.SettingsPath()));
  EXPECT_EQ(StatusBar1Click(e.st, WIDTHS_784, 0), -1);
  EXPECT_FALSE(e.Settings().empty());
}

TEST(StatusPanel, ASettingsFileThatCannotBeWrittenIsToldAndTheSwitchStays) {
  Editing e;
  const std::string path = e.dir.Path("no such folder/RuziRudoDudiro.ini");
  e.st.Ini = IniFile(path);
  StatusBar1Click(e.st, WIDTHS_784, MiddleOf(PANEL_MAGNET));
  EXPECT_FALSE(e.st.Ctrl.chkBoxAIenable);
  ASSERT_EQ(e.prompts.messages.size(), 1u);
  EXPECT_EQ(e.prompts.messages[0].rfind(path + "\r", 0), 0u) << e.prompts.messages[0];
  EXPECT_NE(e.prompts.messages[0].find("设置没有保存。"), std::string::npos);
}

TEST(StatusPanel, AModeSwitchedOnByAClickActsAtOnceButByItsKeyOnlyAtTheNextTick) {
  const struct {
    double rate;
    int32_t jumpTo;  ///< where the click puts the play position (ms)
  } cases[] = {
      {1.0, 5000},   // forward in the gap: to the next entry's begin
      {-1.0, 2000},  // backward in the gap: to the end of the entry just played
  };
  for (const auto& c : cases) {
    Editing byClick;
    byClick.st.PlayRate = c.rate;
    RefreshEdge(byClick.st);
    int seeks = 0;
    int32_t seekedTo = -1;
    StatusBar1Click(byClick.st, WIDTHS_784, MiddleOf(PANEL_DIALOGUE_ONLY),
                    [&](const EditorState& st) {
                      ++seeks;
                      seekedTo = st.PlayPos;
                    });
    EXPECT_EQ(byClick.st.PlayPos, c.jumpTo) << c.rate;
    EXPECT_EQ(seeks, 1);
    EXPECT_EQ(seekedTo, c.jumpTo);

    Editing byKey;
    byKey.st.PlayRate = c.rate;
    RefreshEdge(byKey.st);
    ASSERT_TRUE(PressKey(byKey.st, Key::Digit2));
    EXPECT_TRUE(byKey.st.DialogueOnly);
    EXPECT_EQ(byKey.st.PlayPos, 3000) << c.rate;
  }
}

TEST(StatusPanel, AnyClickAppliesTheModesThatAreOnAndNoneWhenAllAreOff) {
  // A click on the step panel while dialogue-only is on still applies it.
  Editing on;
  on.st.DialogueOnly = true;
  RefreshEdge(on.st);
  StatusBar1Click(on.st, WIDTHS_784, MiddleOf(PANEL_STEP));
  EXPECT_EQ(on.st.PlayPos, 5000);

  // With every mode off the edges are not even looked at: stale ones stay as they are, and no
  // seek is asked for.
  Editing off;
  off.st.PrevBegin = off.st.PrevEnd = off.st.CurBegin = off.st.CurEnd = 7;
  off.st.NextBegin = off.st.NextEnd = 7;
  int seeks = 0;
  StatusBar1Click(off.st, WIDTHS_784, MiddleOf(PANEL_STEP), [&](const EditorState&) { ++seeks; });
  EXPECT_EQ(off.st.PlayPos, 3000);
  EXPECT_EQ(off.st.CurBegin, 7);
  EXPECT_EQ(off.st.NextBegin, 7);
  EXPECT_EQ(seeks, 0);

  // Switching dialogue-only off leaves every mode off: the position stays in the gap.
  Editing offAgain;
  offAgain.st.DialogueOnly = true;
  StatusBar1Click(offAgain.st, WIDTHS_784, MiddleOf(PANEL_DIALOGUE_ONLY),
                  [&](const EditorState&) { ++seeks; });
  EXPECT_FALSE(offAgain.st.DialogueOnly);
  EXPECT_EQ(offAgain.st.PlayPos, 3000);
  EXPECT_EQ(seeks, 0);
}

TEST(StatusPanel, LooksOfEveryPanelByItsSwitch) {
  constexpr Rgb ON = STATUS_TEXT_ON, OFF = STATUS_TEXT_OFF;
  EditorState st;
  st.Ctrl.CheckBoxSoundStyle = true;
  st.Ctrl.chkBoxAIenable = false;
  // Panel width 92, 27 px per character: x = Round((92 - 27n) / 2) - 1.
  const struct {
    int panel;
    std::vector<StatusTextRun> off, on;
  } cases[] = {
      {PANEL_SOUND_STYLE, {{"跳跃", 18, ON}}, {{"变调", 18, ON}}},
      {PANEL_DIALOGUE_ONLY, {{"只播放对白", -23, OFF}}, {{"只播放对白", -23, ON}}},
      {PANEL_HEAD_TAIL_ONLY, {{"只播放首尾", -23, OFF}}, {{"只播放首尾", -23, ON}}},
      {PANEL_LOOP, {{"循环", 18, OFF}}, {{"循环", 18, ON}}},
      {PANEL_MAGNET,
       {{"磁石", 18, OFF}},
       {{"磁", 18, MAGNET_FIRST_COLOUR}, {"石", 18 + 27, MAGNET_LAST_COLOUR}}},
      {PANEL_STEP, {{"精校", 18, ON}}, {{"粗校", 18, ON}}},
  };
  for (const auto& c : cases) {
    st.Ctrl.CheckBoxSoundStyle = false;
    st.Ctrl.chkBoxAIenable = false;
    st.DialogueOnly = st.HeadTailOnly = st.LoopMode = false;
    st.StepFactor = 1;
    StatusPanelLook look = StatusBar1DrawPanel(st, c.panel, 92, Width27);
    EXPECT_EQ(look.fill, STATUS_PANEL_FILL);
    EXPECT_EQ(look.runs, c.off) << "panel " << c.panel << " off";

    st.Ctrl.CheckBoxSoundStyle = true;
    st.Ctrl.chkBoxAIenable = true;
    st.DialogueOnly = st.HeadTailOnly = st.LoopMode = true;
    st.StepFactor = 3;
    look = StatusBar1DrawPanel(st, c.panel, 92, Width27);
    EXPECT_EQ(look.fill, STATUS_PANEL_FILL);
    EXPECT_EQ(look.runs, c.on) << "panel " << c.panel << " on";
  }
  // Only the switch of its own panel colours a caption.
  st = EditorState{};
  st.HeadTailOnly = true;
  EXPECT_EQ(StatusBar1DrawPanel(st, PANEL_DIALOGUE_ONLY, 92, Width27).runs[0].colour, OFF);
  EXPECT_EQ(StatusBar1DrawPanel(st, PANEL_HEAD_TAIL_ONLY, 92, Width27).runs[0].colour, ON);
  EXPECT_EQ(StatusBar1DrawPanel(st, PANEL_LOOP, 92, Width27).runs[0].colour, OFF);
  EXPECT_TRUE(StatusBar1DrawPanel(st, 6, 92, Width27).runs.empty());
}

TEST(StatusPanel, CaptionsAreCentredWithHalvesRoundedToEven) {
  EditorState st;
  const struct {
    int32_t width;
    int32_t x;
  } cases[] = {
      {92, 18},  // (92 - 54) / 2 = 19
      {93, 19},  // 19.5 -> 20
      {91, 17},  // 18.5 -> 18
      {95, 19},  // 20.5 -> 20
      {54, -1},  // exactly as wide as the caption
      {50, -3},  // narrower: the caption starts left of the panel
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StatusBar1DrawPanel(st, PANEL_LOOP, c.width, Width27).runs.at(0).x, c.x)
        << "width " << c.width;
  }
}

TEST(StatusPanel, FontOfTheBarAmongTheInstalledFonts) {
  using Fonts = std::vector<std::string>;
  const struct {
    Fonts installed;
    std::optional<std::string> chosen;
  } cases[] = {
      {{"Arial", "楷体", "楷体_GB2312"}, "楷体"},
      {{"楷体_GB2312", "楷体", "楷体X"}, "楷体"},
      {{"楷体_GB2312", "Arial", "楷体X", "黑体"}, "楷体X"},  // the last whose name begins so
      {{"楷体_GB2312"}, "楷体_GB2312"},
      {{"华文楷体", "KaiTi", "Arial"}, std::nullopt},  // "楷体" only inside the name
      {{}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusBarFontName(c.installed), c.chosen);
}

}  // namespace
}  // namespace tamsel
