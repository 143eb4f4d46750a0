#include "KeyCommands.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>
#include <utility>

#include "EditingState.h"

namespace tamsel {
namespace {

using test::Editing;

/// Counts the seeks a command asks for.
struct SeekCounter {
  int count = 0;
  int32_t lastPosition = -1;
  SeekBothFn Fn() {
    return [this](const EditorState& st) {
      ++count;
      lastPosition = st.PlayPos;
    };
  }
};

TEST(KeyCommands, KeyStepFollowsTheTrackBarAndTheStepFactor) {
  const struct {
    int trackBar, factor, step;
  } cases[] = {{0, 1, 5}, {0, 3, 15}, {3, 1, 20}, {3, 3, 60}, {9, 1, 50}, {9, 3, 150}};
  for (const auto& c : cases) {
    EditorState st;
    st.Ctrl.TrackBarKeyStep = c.trackBar;
    st.StepFactor = c.factor;
    EXPECT_EQ(KeyStep(st), c.step) << c.trackBar << " x" << c.factor;
  }
}

TEST(KeyCommands, VirtualKeyCodesOfTheMap) {
  const std::pair<int, Key> mapped[] = {
      {83, Key::S},      {70, Key::F},      {69, Key::E},      {68, Key::D},      {82, Key::R},
      {87, Key::W},      {88, Key::X},      {67, Key::C},      {86, Key::V},      {65, Key::A},
      {32, Key::Space},  {37, Key::Left},   {38, Key::Up},     {39, Key::Right},  {40, Key::Down},
      {49, Key::Digit1}, {50, Key::Digit2}, {51, Key::Digit3}, {52, Key::Digit4}, {53, Key::Digit5},
      {54, Key::Digit6},
  };
  for (auto [code, key] : mapped) {
    ASSERT_TRUE(KeyFromVirtualKey(code).has_value()) << code;
    EXPECT_EQ(*KeyFromVirtualKey(code), key) << code;
  }
  // Alt, B, the digits 0 and 7, the number pad's 1 (97) and Enter are not commands.
  for (int code : {18, 66, 48, 55, 97, 13, 0, 255}) {
    EXPECT_FALSE(KeyFromVirtualKey(code).has_value()) << code;
  }
}

TEST(KeyCommands, WheelDirectionFromDeltaAndKeyState) {
  const struct {
    int delta, keyState, direction;
  } cases[] = {
      {120, 0, -1}, {120, 4, -1}, {120, 8, -1},             // away from the user: earlier
      {-120, 0, 1}, {-120, 4, 1}, {-120, 8, 1},             // towards the user: later
      {120, 1, 0},  {-120, 2, 0}, {120, 16, 0},             // a mouse button held
      {120, 12, 0},                                         // Shift and Ctrl together
      {240, 0, 0},  {60, 0, 0},   {-1, 0, 0},   {0, 0, 0},  // not one notch
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WheelDirection(c.delta, c.keyState), c.direction) << c.delta << "/" << c.keyState;
  }
}

TEST(KeyCommands, WheelStepByPointerHeight) {
  EditorState st = Editing();
  st.FrameStep = 40;
  st.Ctrl.TrackBarMouseStep = 2;
  const struct {
    int32_t mouseY;
    int direction, factor;
    int32_t step;
  } cases[] = {
      {275, 1, 1, 40}, {550, -1, 1, -40},  {550, 1, 3, 120},  // over the video: frame steps
      {551, 1, 1, 60}, {700, -1, 3, -180}, {700, 0, 1, 0},    // lower: (2 + 1) * 20 ms
  };
  for (const auto& c : cases) {
    st.MouseY = c.mouseY;
    st.StepFactor = c.factor;
    EXPECT_EQ(WheelStep(st, c.direction), c.step) << c.mouseY;
  }
}

TEST(KeyCommands, NothingHappensOutsideEditing) {
  EditorState st = Editing();
  st.ReadyState = 1;
  st.PlayPos = 5000;
  st.CurBegin = 100;
  SeekCounter seeks;
  EXPECT_FALSE(PressKey(st, Key::Space, seeks.Fn()));
  EXPECT_FALSE(PressKey(st, Key::Digit2));
  WheelNotch(st, 1, WheelPlace::OffStrip, seeks.Fn());
  EXPECT_EQ(st.PlayPos, 5000);
  EXPECT_FALSE(st.DialogueOnly);
  EXPECT_EQ(seeks.count, 0);
  EXPECT_FALSE(PressKey(st, Key::Digit6));
  EXPECT_EQ(st.StepFactor, 1);
}

TEST(KeyCommands, SpaceReplaysTheCurrentSegmentAtNormalSpeed) {
  EditorState st = Editing();
  st.PlayPos = 17000;
  st.CurBegin = 10000;
  st.PlayRate = -1.5;
  st.ReplayState = -1;
  SeekCounter seeks;
  EXPECT_TRUE(PressKey(st, Key::Space, seeks.Fn()));
  EXPECT_EQ(st.PlayPos, 10000);
  EXPECT_EQ(st.ReplayState, 1);
  EXPECT_EQ(st.PlayRate, 1.0);
  EXPECT_EQ(seeks.count, 1);
  EXPECT_EQ(seeks.lastPosition, 10000);
}

TEST(KeyCommands, JumpAheadAndBack) {
  // Edges (ms): previous 2000-3000, current 5000-6000, next 8000-9000.
  const struct {
    Key key;
    double rate;
    int32_t from, to;
  } cases[] = {
      {Key::R, 1.0, 4000, 5000},  // before the current segment: to its begin
      {Key::R, 0.0, 5000, 8000},  // at or after its begin: to the next begin
      {Key::R, 1.0, 7000, 8000},
      {Key::R, 1.0, 8000, 8000},   // at the next begin: stays
      {Key::R, 1.0, 9500, 9500},   // past it: stays
      {Key::R, -1.0, 7000, 6000},  // backward, after the current end: to it
      {Key::R, -1.0, 6000, 9000},  // backward, at or before the current end: to the next end
      {Key::R, -0.5, 9000, 6000},
      {Key::W, 1.0, 5500, 2000},  // back: the previous begin forward ...
      {Key::W, 0.0, 100, 2000},
      {Key::W, -2.0, 5500, 3000},  // ... and its end backward
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.PrevBegin = 2000, st.PrevEnd = 3000;
    st.CurBegin = 5000, st.CurEnd = 6000;
    st.NextBegin = 8000, st.NextEnd = 9000;
    st.PlayRate = c.rate;
    st.PlayPos = c.from;
    SeekCounter seeks;
    EXPECT_TRUE(PressKey(st, c.key, seeks.Fn()));
    EXPECT_EQ(st.PlayPos, c.to) << (c.key == Key::R ? "R" : "W") << " " << c.rate << " " << c.from;
    EXPECT_EQ(seeks.count, 1);
  }
}

TEST(KeyCommands, DigitKeysSwitchTheStatusPanelStates) {
  EditorState st = Editing();
  st.Ctrl.CheckBoxSoundStyle = true;
  st.Ctrl.chkBoxAIenable = false;
  struct State {
    bool dialogue, headTail, loop;
  };
  auto modes = [&] { return State{st.DialogueOnly, st.HeadTailOnly, st.LoopMode}; };
  const struct {
    Key key;
    State after;
  } sequence[] = {
      {Key::Digit3, {true, true, false}},  // head/tail on brings dialogue-only with it
      {Key::Digit4, {true, true, true}},
      {Key::Digit3, {true, false, true}},    // head/tail off leaves the others
      {Key::Digit2, {false, false, false}},  // dialogue-only off takes the other two along
      {Key::Digit4, {true, false, true}},    // loop on brings dialogue-only with it
      {Key::Digit4, {true, false, false}},
      {Key::Digit2, {false, false, false}},
      {Key::Digit2, {true, false, false}},
  };
  for (const auto& step : sequence) {
    ASSERT_TRUE(PressKey(st, step.key));
    const State now = modes();
    EXPECT_EQ(now.dialogue, step.after.dialogue);
    EXPECT_EQ(now.headTail, step.after.headTail);
    EXPECT_EQ(now.loop, step.after.loop);
  }

  PressKey(st, Key::Digit1);
  EXPECT_FALSE(st.Ctrl.CheckBoxSoundStyle);
  PressKey(st, Key::Digit1);
  EXPECT_TRUE(st.Ctrl.CheckBoxSoundStyle);

  st.ViewMarker = 1234;
  PressKey(st, Key::Digit5);
  EXPECT_TRUE(st.Ctrl.chkBoxAIenable);
  EXPECT_EQ(st.ViewMarker, -100.0);

  EXPECT_EQ(st.StepFactor, 1);
  PressKey(st, Key::Digit6);
  EXPECT_EQ(st.StepFactor, 3);
  PressKey(st, Key::Digit6);
  EXPECT_EQ(st.StepFactor, 1);
}

TEST(KeyCommands, StatusSwitchesOutsideTheSixDoNothing) {
  EditorState st = Editing();
  const EditorState before = st;
  ToggleStatusSwitch(st, -1);
  ToggleStatusSwitch(st, 6);
  EXPECT_EQ(st.DialogueOnly, before.DialogueOnly);
  EXPECT_EQ(st.StepFactor, before.StepFactor);
  EXPECT_EQ(st.Ctrl.chkBoxAIenable, before.Ctrl.chkBoxAIenable);
}

TEST(KeyCommands, LetterAndArrowKeysMoveTheActiveEntryByAKeyStep) {
  // Default key step 0.20 s; coarse mode three times that.
  const struct {
    Key key;
    int factor;
    int32_t in, out;
  } cases[] = {
      {Key::S, 1, 980, 1480},      {Key::Left, 1, 980, 1480},  {Key::F, 1, 1020, 1520},
      {Key::Right, 1, 1020, 1520}, {Key::E, 1, 1000, 1520},    {Key::Up, 1, 1000, 1520},
      {Key::D, 1, 1000, 1480},     {Key::Down, 1, 1000, 1480}, {Key::S, 3, 940, 1440},
      {Key::E, 3, 1000, 1560},
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.StepFactor = c.factor;
    ASSERT_TRUE(PressKey(st, c.key));
    EXPECT_EQ(st.Subs[0].TimeIn, c.in) << static_cast<int>(c.key) << " x" << c.factor;
    EXPECT_EQ(st.Subs[0].TimeOut, c.out) << static_cast<int>(c.key) << " x" << c.factor;
  }
}

TEST(KeyCommands, MoveKeysWithoutAnActiveEntryChangeNothing) {
  EditorState st = Editing();
  st.ActiveSub = -1;
  for (Key k : {Key::S, Key::F, Key::E, Key::D}) PressKey(st, k);
  EXPECT_EQ(st.Subs[0].TimeIn, 1000);
  EXPECT_EQ(st.Subs[0].TimeOut, 1500);
}

TEST(KeyCommands, VAndAPullTheNextEntryToThePlayPosition) {
  for (Key k : {Key::V, Key::A}) {
    EditorState st = Editing({{1000, 1500}, {4000, 4300}});
    st.PlayPos = 25678;  // in the gap, slot 2567
    ASSERT_TRUE(PressKey(st, k));
    EXPECT_EQ(st.Subs[1].TimeIn, 2567);
    EXPECT_EQ(st.Subs[1].TimeOut, 2867);
  }
}

TEST(KeyCommands, XSplitsAndCJoinsTheActiveEntry) {
  EditorState st = Editing({{1000, 1500}, {3000, 3300}});
  st.PlayPos = 12000;
  ASSERT_TRUE(PressKey(st, Key::X));
  ASSERT_EQ(st.Subs.size(), 3u);
  EXPECT_EQ(st.Subs[0].TimeOut, 1250);
  EXPECT_EQ(st.Subs[1].TimeIn, 1254);
  EXPECT_EQ(st.Subs[0].Dialogue, "Hello");
  EXPECT_EQ(st.Subs[1].Dialogue, "World");

  st.ActiveSub = 1;
  st.PlayPos = 13000;
  ASSERT_TRUE(PressKey(st, Key::C));
  ASSERT_EQ(st.Subs.size(), 2u);
  EXPECT_EQ(st.Subs[0].TimeIn, 1000);
  EXPECT_EQ(st.Subs[0].TimeOut, 1500);
}

TEST(KeyCommands, WheelOffTheStripMovesThePlayPosition) {
  const struct {
    int32_t mouseY, frameStep, mouseStep, autoVol, factor, from;
    int direction;
    int32_t to;
  } cases[] = {
      {275, 40, 0, 2, 1, 10000, 1, 10320},  // one notch over the video: 40 * (10 - 2)
      {275, 40, 0, 2, 1, 10000, -1, 9680},   {275, 40, 0, 2, 3, 10000, 1, 10960},  // coarse
      {275, 40, 0, 5, 1, 10000, 0, 10000},    // a message that is not a notch
      {700, 40, 0, 3, 1, 10000, 1, 10140},    // below the video: 20 ms * (10 - 3)
      {700, 40, 4, 0, 1, 10000, -1, 9000},    // (4 + 1) * 20 * 10
      {275, 40, 0, 2, 1, 100, -1, 0},         // stops at 0
      {275, 40, 0, 2, 1, 209990, 1, 0},       // past the end of the sound: back to the start
      {275, 40, 0, 2, 1, 209660, 1, 209980},  // just before it
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.MouseY = c.mouseY;
    st.FrameStep = c.frameStep;
    st.Ctrl.TrackBarMouseStep = c.mouseStep;
    st.Ctrl.TrackBarAutoVolCtrlSpeed = c.autoVol;
    st.StepFactor = c.factor;
    st.PlayPos = c.from;
    SeekCounter seeks;
    WheelNotch(st, c.direction, WheelPlace::OffStrip, seeks.Fn());
    EXPECT_EQ(st.PlayPos, c.to) << c.from << " " << c.direction;
    EXPECT_EQ(seeks.count, 1);
    EXPECT_EQ(st.Subs[0].TimeIn, 1000);  // the timeline is not touched
  }
}

TEST(KeyCommands, WheelOverTheStripMovesTheEntryAndTheView) {
  EditorState st = Editing();
  st.OverWave = true;
  st.MouseY = 580 + 100;
  st.Ctrl.TrackBarMouseStep = 1;  // 40 ms a notch
  st.PlayPos = 10000;
  SeekCounter seeks;
  WheelNotch(st, 1, WheelPlaceOf(st), seeks.Fn());
  EXPECT_EQ(st.PlayPos, 10040);
  EXPECT_EQ(seeks.count, 1);
  EXPECT_EQ(st.Subs[0].TimeIn, 1004);
  EXPECT_EQ(st.Subs[0].TimeOut, 1504);
  WheelNotch(st, -1, WheelPlace::Strip, seeks.Fn());
  EXPECT_EQ(st.PlayPos, 10000);
  EXPECT_EQ(st.Subs[0].TimeIn, 1000);
}

TEST(KeyCommands, WheelOverTheStripWrapsAndStopsAtTheStart) {
  EditorState st = Editing();
  st.OverWave = true;
  st.MouseY = 680;
  st.PlayPos = 210000;  // at the end of the map: starts again from 0
  WheelNotch(st, 1, WheelPlace::Strip);
  EXPECT_EQ(st.PlayPos, 20);
  st.PlayPos = 10;
  WheelNotch(st, -1, WheelPlace::Strip);
  EXPECT_EQ(st.PlayPos, 0);
}

TEST(KeyCommands, WheelInTheCutBandBringsTheOutPointBesideThePointer) {
  // The pointer 100 columns right of the strip's centre: the out point (1500) is drawn 20 px
  // right of it when the play position is (1500 - 100) * 10 - 200 = 13800 ms.
  const struct {
    int32_t from, to;
    int seeks;
  } cases[] = {
      {0, 13800, 1},     {13299, 13800, 1}, {13300, 13300, 0},
      {13800, 13800, 0}, {13801, 13800, 1}, {50000, 13800, 1},
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.OverWave = true;
    st.StripIBeam = true;
    st.MouseY = 580 + 60;
    st.MouseX = 128 + 612;
    st.PlayPos = c.from;
    SeekCounter seeks;
    ASSERT_EQ(WheelPlaceOf(st), WheelPlace::StripCutBand);
    WheelNotch(st, 0, WheelPlaceOf(st), seeks.Fn());
    EXPECT_EQ(st.PlayPos, c.to) << c.from;
    EXPECT_EQ(seeks.count, c.seeks) << c.from;
  }
}

TEST(KeyCommands, WheelInTheCutBandMovesTheOutPoint) {
  EditorState st = Editing();
  st.OverWave = true;
  st.StripIBeam = true;
  st.MouseY = 640;
  st.MouseX = 128 + 612;
  st.PlayPos = 13800;
  st.StepFactor = 3;  // 60 ms: 6 cs
  WheelNotch(st, 1, WheelPlace::StripCutBand);
  EXPECT_EQ(st.Subs[0].TimeIn, 1000);
  EXPECT_EQ(st.Subs[0].TimeOut, 1506);
  EXPECT_EQ(st.PlayPos, 13800);
}

TEST(KeyCommands, WheelInTheCutBandNeverSeeksBeforeTheStart) {
  // An out point at 0.50 s with the pointer far right of the centre would need a play position
  // before the start of the media; the view stops at 0 instead.
  EditorState st = Editing({{10, 50}});
  st.OverWave = true;
  st.StripIBeam = true;
  st.MouseY = 640;
  st.MouseX = 128 + 1000;
  st.PlayPos = 3000;
  WheelNotch(st, 0, WheelPlace::StripCutBand);
  EXPECT_EQ(st.PlayPos, 0);
}

TEST(KeyCommands, WheelInTheCutBandStaysInsideThePositionRange) {
  // An out point 900 hours in (a file may hold times up to 1000 hours) is 3.24e9 ms, more than
  // a play position can hold: the view goes as far as it can instead of wrapping around.
  EditorState st = Editing({{323999000, 324000000}});
  st.OverWave = true;
  st.StripIBeam = true;
  st.MouseY = 640;
  st.PlayPos = 0;
  WheelNotch(st, 0, WheelPlace::StripCutBand);
  EXPECT_EQ(st.PlayPos, std::numeric_limits<int32_t>::max());
}

TEST(KeyCommands, WheelInTheCutBandWithoutAnActiveEntryKeepsThePosition) {
  EditorState st = Editing();
  st.ActiveSub = -1;
  st.PlayPos = 4321;
  SeekCounter seeks;
  WheelNotch(st, 1, WheelPlace::StripCutBand, seeks.Fn());
  EXPECT_EQ(st.PlayPos, 4321);
  EXPECT_EQ(seeks.count, 0);
  EXPECT_EQ(st.Subs[0].TimeOut, 1500);
}

TEST(KeyCommands, WheelPlaceFollowsThePointerState) {
  EditorState st;
  EXPECT_EQ(WheelPlaceOf(st), WheelPlace::OffStrip);
  st.StripIBeam = true;  // a stale shape off the strip does not count
  EXPECT_EQ(WheelPlaceOf(st), WheelPlace::OffStrip);
  st.OverWave = true;
  EXPECT_EQ(WheelPlaceOf(st), WheelPlace::StripCutBand);
  st.StripIBeam = false;
  EXPECT_EQ(WheelPlaceOf(st), WheelPlace::Strip);
}

}  // namespace
}  // namespace tamsel
