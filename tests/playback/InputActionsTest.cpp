#include "InputActions.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DragGestures.h"
#include "EditingState.h"
#include "RecordingDevices.h"
#include "TimeText.h"
#include "WaveStrip.h"

namespace tamsel {
namespace {

using test::CallLog;
using test::RecordingPlayer;
using test::RecordingSound;
using test::Seeks;
using Log = std::vector<std::string>;

/// Stereo 48 kHz: 192 bytes per millisecond, 1920 per slot.
constexpr int32_t SLOT_SAMPLES = 480;
constexpr int32_t CHANNELS = 2;
constexpr int64_t BYTES_PER_MS = SLOT_SAMPLES * CHANNELS / 5;

/// The key map's editor (test::Editing) with a sound of 200 s, paused.
EditorState Editing(std::initializer_list<std::pair<int32_t, int32_t>> times = {{1000, 1500}}) {
  EditorState st = test::Editing(times);
  st.SamplesPerSlot = SLOT_SAMPLES;
  st.WavChannels = CHANNELS;
  st.WavDataSize = 200000 * BYTES_PER_MS;
  st.PlayRate = 0;
  return st;
}

/// A player and a sound that log their calls into one log.
struct Devices {
  CallLog log;
  ManualClock clock;
  RecordingPlayer player{log, clock, 200.0, 25, 550};
  RecordingSound sound{log, clock, 200000 * BYTES_PER_MS, CHANNELS, 48000};
  InputDevices Both() { return {&player, &sound}; }
};

std::string SoundSeek(int64_t ms) { return "sound seek " + std::to_string(ms * BYTES_PER_MS); }

// ---- The hook ----

TEST(InputActions, KeysAndTheWheelDoNothingUnlessEditing) {
  for (int readyState : {0, 1, 3}) {
    EditorState st = Editing();
    st.ReadyState = readyState;
    st.PlayPos = 12340;
    Devices d;
    for (int vk : {83, 70, 69, 68, 82, 87, 88, 67, 86, 65, 32,
                   37, 38, 39, 40, 49, 50, 51, 52, 53, 54, VK_ALT}) {
      EXPECT_FALSE(HookKeyDown(st, vk, SeekBothOf(d.Both()))) << vk;
    }
    HookWheel(st, 120, 0, SeekBothOf(d.Both()));
    HookWheel(st, -120, 0, SeekBothOf(d.Both()));
    EXPECT_EQ(st.PlayPos, 12340);
    EXPECT_EQ(st.Subs[0].TimeIn, 1000);
    EXPECT_EQ(st.Subs[0].TimeOut, 1500);
    EXPECT_EQ(st.Subs.size(), 1u);
    EXPECT_FALSE(st.DialogueOnly || st.HeadTailOnly || st.LoopMode || st.SubDirty);
    EXPECT_EQ(st.StepFactor, 1);
    EXPECT_EQ(st.ReplayState, 0);
    EXPECT_FALSE(st.WaveRedraw);
    EXPECT_TRUE(d.log.empty()) << readyState;
  }
}

TEST(InputActions, KeyDownsRunTheKeyMapWhateverTheCodeSays) {
  const struct {
    int vk;
    bool command;
    int32_t in, out;
  } cases[] = {
      {83, true, 980, 1480},    // S: earlier by a key step of 20
      {37, true, 980, 1480},    // Left
      {70, true, 1020, 1520},   // F
      {69, true, 1000, 1520},   // E: the out point later
      {40, true, 1000, 1480},   // Down: the out point earlier
      {66, false, 1000, 1500},  // B is no command
      {97, false, 1000, 1500},  // nor the number pad's 1
      {0, false, 1000, 1500},
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    EXPECT_EQ(HookKeyDown(st, c.vk), c.command) << c.vk;
    EXPECT_EQ(st.Subs[0].TimeIn, c.in) << c.vk;
    EXPECT_EQ(st.Subs[0].TimeOut, c.out) << c.vk;
  }
}

TEST(InputActions, TheSpaceBarReplaysFromTheCurrentSegmentAndSeeksBoth) {
  EditorState st = Editing();
  st.PlayPos = 30000;
  st.CurBegin = 10000;
  Devices d;
  EXPECT_TRUE(HookKeyDown(st, 32, SeekBothOf(d.Both())));
  EXPECT_EQ(st.PlayPos, 10000);
  EXPECT_EQ(st.ReplayState, 1);
  EXPECT_EQ(st.PlayRate, 1.0);
  EXPECT_EQ(Seeks(d.log), (Log{"video seek 10.000", SoundSeek(10000)}));
  // Seeks are neither plays nor pauses.
  EXPECT_EQ(d.log.size(), 2u);
}

TEST(InputActions, AltRedrawsTheStripUntilTheWindowHasSeenIt) {
  // The hook asks for a redraw while editing as long as the window has not seen Alt; the
  // window's own handler sees it at any time, once.
  EditorState st = Editing();
  EXPECT_FALSE(HookKeyDown(st, VK_ALT));
  EXPECT_TRUE(st.WaveRedraw);
  FormKeyDown(st, VK_ALT);
  EXPECT_TRUE(st.AltSeen);
  st.WaveRedraw = false;
  HookKeyDown(st, VK_ALT);
  FormKeyDown(st, VK_ALT);
  EXPECT_FALSE(st.WaveRedraw);

  EditorState start;  // the start screen
  FormKeyDown(start, 83);
  EXPECT_FALSE(start.AltSeen || start.WaveRedraw);
  FormKeyDown(start, VK_ALT);
  EXPECT_TRUE(start.AltSeen && start.WaveRedraw);
}

TEST(InputActions, WheelMessagesByDeltaAndKeyState) {
  // Over the video with a frame step of 40 ms, TrackBarAutoVolCtrlSpeed 2, fine steps: one
  // notch is 40 * 8 = 320 ms.
  const struct {
    int delta, keyState;
    int32_t playPos;
  } cases[] = {
      {120, 0, 50000 - 320},
      {-120, 0, 50000 + 320},
      {120, WHEEL_KEY_SHIFT, 50000 - 320},
      {-120, WHEEL_KEY_CONTROL, 50000 + 320},
      {120, WHEEL_KEY_SHIFT | WHEEL_KEY_CONTROL, 50000},
      {120, WHEEL_KEY_LBUTTON, 50000},
      {-120, WHEEL_KEY_RBUTTON, 50000},
      {120, WHEEL_KEY_MBUTTON, 50000},
      {120, WHEEL_KEY_XBUTTON1, 50000},
      {-120, WHEEL_KEY_XBUTTON2, 50000},
      {60, 0, 50000},
      {240, 0, 50000},
      {0, 0, 50000},
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.FrameStep = 40;
    st.Ctrl.TrackBarAutoVolCtrlSpeed = 2;
    st.PlayPos = 50000;
    Devices d;
    HookWheel(st, c.delta, c.keyState, SeekBothOf(d.Both()));
    EXPECT_EQ(st.PlayPos, c.playPos) << c.delta << " " << c.keyState;
    // The action runs even with a step of 0: both are seeked.
    EXPECT_EQ(Seeks(d.log).size(), 2u);
  }
}

TEST(InputActions, TheWheelOnTheStripMovesTheActiveSubtitle) {
  EditorState st = Editing();
  st.OverWave = true;
  st.MouseY = st.Panel1Top + 100;
  st.PlayPos = 10000;
  HookWheel(st, -120, 0);  // (0 + 1) * 20 ms later, 2 slots
  EXPECT_EQ(st.Subs[0].TimeIn, 1002);
  EXPECT_EQ(st.PlayPos, 10020);
  st.StripIBeam = true;  // in the cut band the out point moves
  HookWheel(st, 120, 0);
  EXPECT_EQ(st.Subs[0].TimeIn, 1002);
  EXPECT_EQ(st.Subs[0].TimeOut, 1500);
}

TEST(InputActions, KeysWithoutDevicesChangeTheStateAndSeekNothing) {
  // The window is closing: editing has not ended yet but the devices are gone.
  EditorState st = Editing();
  st.PlayPos = 30000;
  st.PrevBegin = 5000;
  EXPECT_TRUE(HookKeyDown(st, 87, SeekBothOf({})));
  EXPECT_EQ(st.PlayPos, 5000);
  HookWheel(st, 120, 0, SeekBothOf({}));
  FormDblClick(st, 1000, SeekBothOf({}));
}

// ---- The position bar ----

TEST(InputActions, TheBarsTopAndItsSteps) {
  ScrollBarState bar;
  bar.Max = 20000;
  bar.PageSize = 200;
  bar.SmallChange = 500;
  bar.LargeChange = 1000;
  EXPECT_EQ(ScrollBarTop(bar), 19801);
  const struct {
    BarAction action;
    int32_t position, tracked, to;
  } cases[] = {
      {BarAction::Track, 100, 7000, 7000},   {BarAction::Track, 100, -5, 0},
      {BarAction::Track, 100, 25000, 19801}, {BarAction::StepAdd, 100, 0, 600},
      {BarAction::StepSub, 100, 0, 0},       {BarAction::StepSub, 800, 0, 300},
      {BarAction::PageAdd, 100, 0, 1100},    {BarAction::PageAdd, 19000, 0, 19801},
      {BarAction::PageSub, 1500, 0, 500},    {BarAction::PageSub, 900, 0, 0},
      {BarAction::ToStart, 900, 0, 0},       {BarAction::ToEnd, 900, 0, 19801},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ScrollBarTarget(bar, c.action, c.position, c.tracked), c.to)
        << static_cast<int>(c.action) << " from " << c.position;
  }
  // Without a page the top is the maximum; an empty bar stays at 0.
  bar.PageSize = 0;
  EXPECT_EQ(ScrollBarTop(bar), 20000);
  ScrollBarState empty;
  empty.Max = 0;
  empty.PageSize = 0;
  EXPECT_EQ(ScrollBarTarget(empty, BarAction::PageAdd, 0, 0), 0);
  EXPECT_EQ(ScrollBarTarget(empty, BarAction::ToEnd, 0, 0), 0);
  empty.PageSize = 100;  // a page larger than the bar
  EXPECT_EQ(ScrollBarTop(empty), 0);
}

TEST(InputActions, ScrollingTheBarSeeksAndPlaysTheSoundOnce) {
  const struct {
    const char* name;
    bool editing, overBar;
    size_t mapCells;
    int32_t scrollPos;
    std::optional<int32_t> playPos;  ///< nothing: unchanged, nothing seeked
  } cases[] = {
      {"inside", true, true, 21000, 1234, 12340},
      {"the last cell but one", true, true, 21000, 20998, 209980},
      {"the end of the sound", true, true, 21000, 20999, 209990},
      {"beyond the end of the sound", true, true, 21000, 21000, 209990},
      {"far beyond", true, true, 21000, 2000000000, 209990},
      {"before the start", true, true, 21000, -50, 0},
      {"an empty coverage map", true, true, 0, 1234, 0},
      {"one cell", true, true, 1, 1234, 0},
      {"the pointer off the bar", true, false, 21000, 1234, std::nullopt},
      {"not editing", false, true, 21000, 1234, std::nullopt},
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.WavSel.assign(c.mapCells, TWavSelect{false, -1});
    if (c.mapCells > 0) CreatSelAndInd(st.WavSel, st.Subs);
    st.ReadyState = c.editing ? 2 : 1;
    st.OverPositionBar = c.overBar;
    st.PlayPos = 777;
    Devices d;
    ScrollBarPlayPostScroll(st, c.scrollPos, d.Both());
    if (!c.playPos) {
      EXPECT_EQ(st.PlayPos, 777) << c.name;
      EXPECT_TRUE(d.log.empty()) << c.name;
      EXPECT_EQ(st.ScrollBarPlayPost.Hint, "") << c.name;
      continue;
    }
    EXPECT_EQ(st.PlayPos, *c.playPos) << c.name;
    EXPECT_EQ(st.ScrollBarPlayPost.Hint, IntToTimeAssStr(*c.playPos / 10)) << c.name;
    EXPECT_EQ(d.log.front(), "video seek " + test::Seconds(std::min(*c.playPos, 200000) / 1000.0))
        << c.name;
    EXPECT_EQ(d.log.back(), "sound once") << c.name;
  }
}

TEST(InputActions, ScrollingTheBarRecomputesTheEdges) {
  EditorState st = Editing({{1000, 1500}, {3000, 3500}, {6000, 6500}});
  st.OverPositionBar = true;
  ScrollBarPlayPostScroll(st, 3200, {});
  EXPECT_EQ(st.PlayPos, 32000);
  EXPECT_EQ(st.CurBegin, 30000);
  EXPECT_EQ(st.NextBegin, 60000);
  ScrollBarPlayPostMouseLeave(st);
  ScrollBarPlayPostScroll(st, 6100, {});
  EXPECT_EQ(st.PlayPos, 32000);
  ScrollBarPlayPostMouseEnter(st);
  EXPECT_TRUE(st.OverPositionBar);
}

// ---- The video ----

TEST(InputActions, ClickSlotsRoundHalvesToEven) {
  const std::pair<int32_t, int32_t> cases[] = {
      {12345, 1234}, {12355, 1236}, {12344, 1234}, {12346, 1235}, {0, 0},
      {5, 0},        {15, 2},       {25, 2},       {9, 1},        {2147483647, 214748365},
  };
  for (auto [ms, slot] : cases) EXPECT_EQ(ClickSlotOf(ms), slot) << ms;
}

TEST(InputActions, ClicksOnTheVideoSetTheInAndOutPoints) {
  const struct {
    int button;
    int32_t playPos, in, out;
  } cases[] = {
      {1, 12345, 1234, 1500},                          // left: the in point, halves to even
      {1, 12355, 1236, 1500}, {2, 14445, 1000, 1444},  // right: the out point
      {2, 16000, 1000, 1600},                          // past the end the entry grows
      {3, 12345, 1000, 1500},                          // other buttons: nothing
      {0, 12345, 1000, 1500},
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.PlayPos = c.playPos;
    WMPonClick(st, c.button);
    EXPECT_EQ(st.Subs[0].TimeIn, c.in) << c.button << " at " << c.playPos;
    EXPECT_EQ(st.Subs[0].TimeOut, c.out) << c.button << " at " << c.playPos;
  }
  EditorState idle = Editing();
  idle.ReadyState = 1;
  idle.PlayPos = 12345;
  WMPonClick(idle, 1);
  EXPECT_EQ(idle.Subs[0].TimeIn, 1000);
  EditorState none = Editing();
  none.ActiveSub = -1;
  none.PlayPos = 12345;
  WMPonClick(none, 1);
  EXPECT_EQ(none.Subs[0].TimeIn, 1000);
}

// ---- The scrub below the video ----

TEST(InputActions, APressBelowTheVideoHoldsAScrub) {
  const struct {
    int32_t mouseY;
    bool editing, held;
  } cases[] = {
      {549, true, false},                     // over the video
      {0, true, false},   {550, true, true},  // the video's lower edge counts as below
      {700, true, true},  {700, false, false},
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.ReadyState = c.editing ? 2 : 1;
    st.MouseY = c.mouseY;
    st.MouseX = 321;
    st.ReplayState = 1;
    const SurfaceCursor cursor = FormMouseDown(st);
    EXPECT_EQ(st.DragHeld, c.held) << c.mouseY;
    EXPECT_EQ(cursor, c.held ? SurfaceCursor::Default : SurfaceCursor::Unchanged) << c.mouseY;
    EXPECT_EQ(st.ReplayState, c.held ? -1 : 1) << c.mouseY;
    if (c.held) {
      EXPECT_EQ(st.DragLastX, 321);
    }
  }
}

TEST(InputActions, TheScrubMovesThePlayPositionAgainstThePointer) {
  const struct {
    const char* name;
    int32_t mediaLength;
    int32_t playPos, lastX, mouseX, to;
  } cases[] = {
      {"right by 10 px: 100 ms back", 20000, 50003, 600, 610, 49903},
      {"left by 25 px: 250 ms on", 20000, 50003, 600, 575, 50253},
      {"not moved", 20000, 50003, 600, 600, 50003},
      {"left of the start", 20000, 500, 600, 900, 0},
      {"past the end of the video", 20000, 199950, 600, 500, 200000},
      {"the video's length unknown: the sound's end", 0, 199950, 600, 100, 200000},
      {"a length that is no length", -5, 199950, 600, 100, 200000},
  };
  for (const auto& c : cases) {
    EditorState st = Editing();
    st.MediaLength = c.mediaLength;
    st.PlayPos = c.playPos;
    st.MouseY = 700;
    st.MouseX = c.lastX;
    ASSERT_EQ(FormMouseDown(st), SurfaceCursor::Default);
    st.MouseX = c.mouseX;
    Devices d;
    EXPECT_EQ(FormMouseMove(st, d.Both()), SurfaceCursor::Unchanged);
    EXPECT_EQ(st.PlayPos, c.to) << c.name;
    EXPECT_EQ(st.DragLastX, c.mouseX) << c.name;
    // The sound follows in steps of 5 ms.
    EXPECT_EQ(Seeks(d.log), (Log{"video seek " + test::Seconds(c.to / 1000.0),
                                 SoundSeek(std::min(c.to / 5 * 5, 200000))}))
        << c.name;
  }
}

TEST(InputActions, TheScrubWithoutAnyKnownEndStopsOnlyAtTheStart) {
  EditorState st = Editing();
  st.MediaLength = 0;
  st.WavDataSize = 0;
  st.PlayPos = 1000;
  st.MouseY = 700;
  st.MouseX = 600;
  FormMouseDown(st);
  st.MouseX = 100;
  FormMouseMove(st, {});
  EXPECT_EQ(st.PlayPos, 6000);
  st.MouseX = 2000;
  FormMouseMove(st, {});
  EXPECT_EQ(st.PlayPos, 0);
}

TEST(InputActions, MovesWithoutAHeldScrubOnlyShowTheDragPointer) {
  EditorState st = Editing();
  st.PlayPos = 50000;
  st.MouseX = 10;
  Devices d;
  EXPECT_EQ(FormMouseMove(st, d.Both()), SurfaceCursor::Drag);
  EXPECT_EQ(st.PlayPos, 50000);
  EXPECT_TRUE(d.log.empty());
  // After the release the scrub is over.
  st.MouseY = 700;
  FormMouseDown(st);
  FormMouseUp(st);
  EXPECT_FALSE(st.DragHeld);
  st.MouseX = 500;
  EXPECT_EQ(FormMouseMove(st, d.Both()), SurfaceCursor::Drag);
  EXPECT_EQ(st.PlayPos, 50000);
  // A scrub held when editing ended is let go at the next move.
  FormMouseDown(st);
  st.ReadyState = 1;
  st.MouseX = 0;
  FormMouseMove(st, d.Both());
  EXPECT_FALSE(st.DragHeld);
  EXPECT_EQ(st.PlayPos, 50000);
}

// ---- Double clicks ----

TEST(InputActions, DoubleClicksJumpByTheHalfOfTheWindow) {
  // Segments: previous 10-15 s, current 30-35 s, next 60-65 s.
  const struct {
    int32_t mouseX;
    double rate;
    int32_t playPos, to;
  } cases[] = {
      {500, 1.0, 20000, 30000},   // the centre column counts as the right half: R
      {999, 1.0, 32000, 60000},   // inside the current segment: on to the next one
      {499, 1.0, 32000, 10000},   // left half: W, the previous segment's start
      {0, -1.0, 32000, 15000},    // backward: its end
      {700, -1.0, 40000, 35000},  // backward R: the current segment's end
      {700, -1.0, 33000, 65000},  // backward R inside it: the next end
  };
  for (const auto& c : cases) {
    EditorState st = Editing({{1000, 1500}, {3000, 3500}, {6000, 6500}});
    st.PlayRate = c.rate;
    st.PlayPos = c.playPos;
    st.PrevBegin = 10000;
    st.PrevEnd = 15000;
    st.CurBegin = 30000;
    st.CurEnd = 35000;
    st.NextBegin = 60000;
    st.NextEnd = 65000;
    st.MouseX = c.mouseX;
    Devices d;
    FormDblClick(st, 1000, SeekBothOf(d.Both()));
    EXPECT_EQ(st.PlayPos, c.to) << c.mouseX << " " << c.rate << " " << c.playPos;
    EXPECT_EQ(Seeks(d.log), (Log{"video seek " + test::Seconds(c.to / 1000.0), SoundSeek(c.to)}));
  }
  EditorState idle = Editing();
  idle.ReadyState = 1;
  idle.PlayPos = 5;
  idle.NextBegin = 60000;
  FormDblClick(idle, 1000);
  EXPECT_EQ(idle.PlayPos, 5);
}

// ---- The strip ----

TEST(InputActions, EnteringTheStripStopsPlayback) {
  EditorState st = Editing();
  st.PlayRate = 1.5;
  st.ReplayState = 1;
  PaintWavMouseEnter(st);
  EXPECT_TRUE(st.OverWave);
  EXPECT_EQ(st.PlayRate, 0.0);
  EXPECT_EQ(st.ReplayState, -1);
  EXPECT_EQ(st.ViewMarker, -99.0);
  st.ViewMarker = 0;
  PaintWavMouseLeave(st);
  EXPECT_FALSE(st.OverWave);
  EXPECT_EQ(st.ViewMarker, -99.0);
  st.PlayRate = 2.0;
  Panel1Enter(st);
  EXPECT_EQ(st.PlayRate, 0.0);
}

TEST(InputActions, ADragGoesOnFromWhereThePointerIsAfterTheStripMoved) {
  // The pointer pressed at strip column 300 over the entry; the window is laid out anew and
  // the strip starts `shift` columns further right, so the same pointer is now at column
  // 300 - shift. Moving it 40 px right moves the entry 40 slots, whatever the shift.
  for (int32_t shift : {0, 60, -45}) {
    for (int mode : {0, 1, 2}) {
      EditorState st = Editing(
          {{100, 150}, {300, 350}, {500, 550}, {700, 750}, {900, 950}, {1100, 1150}, {1300, 1350}});
      st.ActiveSub = mode == 2 ? 6 : 1;
      st.MouseY = st.Panel1Top + 100;  // below the cut band
      PaintWavMouseDown(st, MouseButton::Left, Modifiers{mode == 1, mode == 2}, 300);
      const int32_t in = st.Subs[size_t(st.ActiveSub)].TimeIn;
      PlaceStripPanel(st, st.Panel1Left + shift, st.Panel1Top, st.Panel1Width);
      PaintWavMouseMove(st, Modifiers{}, 300 - shift, 100);
      EXPECT_EQ(st.Subs[size_t(st.ActiveSub)].TimeIn, in) << shift << " mode " << mode;
      // The elastic drag lands near the pointer, not on it; the next move corrects the rest.
      PaintWavMouseMove(st, Modifiers{}, 340 - shift, 100);
      PaintWavMouseMove(st, Modifiers{}, 340 - shift, 100);
      EXPECT_NEAR(st.Subs[size_t(st.ActiveSub)].TimeIn, in + 40, mode == 2 ? 2 : 0)
          << shift << " mode " << mode;
      PaintWavMouseUp(st);
    }
  }
}

TEST(InputActions, TheStripMovingWithoutADragChangesNothing) {
  EditorState st = Editing();
  st.DragStartX = 17;
  PlaceStripPanel(st, st.Panel1Left + 50, st.Panel1Top, st.Panel1Width);
  EXPECT_EQ(st.DragStartX, 17);
}

TEST(InputActions, TheRefreshTimerPaintsWhileThePointerIsOutsideAndStopsWhenItIsIn) {
  const struct {
    int32_t x, y;
    bool minimised, repaint, stop;
  } cases[] = {
      {-1, -1, false, true, false},  // outside: paint, keep going
      {-1, -1, true, false, false},  // minimised: nothing to paint, keep going
      {-5, 20, false, false, false},  // left of the window, not both negative
      {0, 0, false, false, false},    // the corner counts as neither
      {10, 20, false, false, true},   // inside: stop
  };
  for (const auto& c : cases) {
    EditorState st;
    st.MouseX = c.x;
    st.MouseY = c.y;
    const RefreshTick tick = Timer4refreshTimer(st, c.minimised);
    EXPECT_EQ(tick.repaintLowerPanel, c.repaint) << c.x << "," << c.y << " " << c.minimised;
    EXPECT_EQ(tick.stop, c.stop) << c.x << "," << c.y << " " << c.minimised;
  }
}

}  // namespace
}  // namespace tamsel
