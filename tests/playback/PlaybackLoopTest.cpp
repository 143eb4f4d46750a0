#include "PlaybackLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "EdgeTracking.h"
#include "KeyCommands.h"
#include "RecordingDevices.h"

namespace tamsel {
namespace {

using test::CallLog;
using test::Only;
using test::RecordingPlayer;
using test::RecordingSound;
using test::Seeks;
using Log = std::vector<std::string>;

constexpr int64_t SOUND_SECONDS = 600;
constexpr int64_t SOUND_BYTES = SOUND_SECONDS * 48000 * 2;  // mono, 16-bit: 96 bytes a ms

/// The editor playing a 600-s video at 24 fps with its 600-s mono 48 kHz sound, in a window
/// of 1280 x 800 client pixels without a frame at the screen's corner, the video 550 px high,
/// the waveform panel 1024 px wide; performance class 0 (frame step 40 ms, K 1, Lead 91 ms).
/// Video, sound and play position at 30 s; the pointer at the centre of the video.
struct Loop {
  CallLog log;
  ManualClock clock;
  EditorState st;
  RecordingPlayer player{log, clock, double(SOUND_SECONDS), 24, 550};
  RecordingSound sound{log, clock, SOUND_BYTES, 1, 48000};
  int resizes = 0;
  PlaybackDevices dev{player, sound, clock, 48000, [this] { ++resizes; }};
  WindowFacts w{true, 0, 0, 1280, 800, 1280, 800, 640, 275, 1024};

  explicit Loop(int powerClass = 0) {
    st.ReadyState = 2;
    st.SamplesPerSlot = 480;
    st.WavChannels = 1;
    st.WavDataSize = SOUND_BYTES;
    st.WavSel.assign(SOUND_SECONDS * 100 + 1000, TWavSelect{false, 0});
    st.Ctrl.RadioGroupPower = powerClass;
    st.FrameRate = 24;
    st.FrameStep = FrameStepOf(24, powerClass);
    st.MediaLength = SOUND_SECONDS * 100;
    st.ScrollBarPlayPost.Enabled = true;
    st.Panel1Width = 1024;
    st.PlayerHeight = 550;
    At(30000, 30000, 30000);
  }

  /// The play position, the video and the sound (both ms) set, the log emptied.
  void At(int32_t playPos, double videoMs, int32_t soundMs) {
    st.PlayPos = playPos;
    player.SetPosition(videoMs / 1000.0);
    sound.SetCursor(SoundOffsetOf(st, soundMs));
    log.clear();
  }

  /// Entries at the given times (cs), their map built.
  void Timeline(std::initializer_list<std::pair<int32_t, int32_t>> times) {
    int32_t n = 0;
    for (auto [in, out] : times) {
      ++n;
      st.Subs.push_back({n, n, in, out, "t", false});
    }
    st.WavSel.assign(SOUND_SECONDS * 100 + 1000, TWavSelect{false, -1});
    CreatSelAndInd(st.WavSel, st.Subs);
    st.SubsInVideo = n;
    RefreshEdge(st);
  }

  /// The pointer at client pixel (x, y).
  void Point(int32_t x, int32_t y) {
    w.pointerX = x;
    w.pointerY = y;
  }

  void Tick(int64_t ms = 42) {
    clock.AdvanceMs(ms);
    Timer2GetMouseXYTimer(st, dev, w);
  }

  bool Sync(double rate, bool pitchShifted) {
    st.PlayRate = rate;
    return pitchShifted ? SyncPitchShifted(st, dev, w, 0) : SyncJumping(st, dev, w, 0);
  }

  double VideoMs() const { return player.Position() * 1000; }
  int32_t SoundMs() const { return SoundPosition(st, sound); }
};

// ---- Facts and conversions ----

TEST(PlaybackLoop, FrameRateGivesFrameStepAndTickIntervalByPowerClass) {
  const struct {
    int fps, powerClass;
    int32_t step, interval;
  } cases[] = {
      {24, 0, 40, 42}, {24, 1, 56, 56}, {24, 2, 80, 80},  {25, 0, 38, 42},  {25, 1, 53, 53},
      {25, 2, 76, 76}, {60, 0, 16, 42}, {1000, 0, 0, 42}, {1, 1, 700, 700},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.fps) + " fps, class " + std::to_string(c.powerClass));
    EXPECT_EQ(FrameStepOf(c.fps, c.powerClass), c.step);
    Loop l(c.powerClass);
    l.st.FrameRate = 0;
    l.st.FrameStep = 17;  // the last video's
    l.st.Timer2GetMouseXYInterval = 42;
    l.player.SetFrameRate(c.fps);
    LearnFrameRate(l.st, l.player);
    EXPECT_EQ(l.st.FrameRate, c.fps);
    EXPECT_EQ(l.st.FrameStep, c.step);
    EXPECT_EQ(l.st.Timer2GetMouseXYInterval, c.interval);
    EXPECT_TRUE(l.st.Timer4ShowWavEnabled);
  }
}

TEST(PlaybackLoop, UntilTheFrameRateIsKnownTheLastFrameStepStaysAndTheStripWaits) {
  Loop l;
  l.st.FrameRate = 0;
  l.st.FrameStep = 56;
  l.st.Timer2GetMouseXYInterval = 56;
  l.player.SetFrameRate(0);
  for (int i = 0; i < MEDIA_WAIT_TICKS - 1; ++i) l.Tick();
  EXPECT_EQ(l.st.FrameRate, 0);
  EXPECT_EQ(l.st.FrameStep, 56);
  EXPECT_EQ(l.st.Timer2GetMouseXYInterval, 56);
  EXPECT_FALSE(l.st.Timer4ShowWavEnabled);
  // Once the frame rate is known it is not asked for again.
  l.player.SetFrameRate(30);
  l.Tick();
  EXPECT_EQ(l.st.FrameRate, 30);
  EXPECT_EQ(l.st.FrameStep, 32);
  l.player.SetFrameRate(24);
  l.Tick();
  EXPECT_EQ(l.st.FrameStep, 32);
}

// A player that never tells a frame rate (a video without pictures) would leave every
// tolerance at 0 (a seek of the video on every tick) and the backward steps standing still.
TEST(PlaybackLoop, AFrameRateThatNeverComesIsStoodInForAfterTheWait) {
  Loop l(1);
  l.st.FrameRate = 0;
  l.st.FrameStep = 0;
  l.player.SetFrameRate(0);
  for (int i = 0; i < MEDIA_WAIT_TICKS - 1; ++i) l.Tick();
  EXPECT_EQ(l.st.FrameStep, 0);
  l.Tick();
  EXPECT_EQ(l.st.FrameRate, STAND_IN_FRAME_RATE);
  EXPECT_EQ(l.st.FrameStep, 53);
  EXPECT_EQ(l.st.Timer2GetMouseXYInterval, 53);
  EXPECT_TRUE(l.st.Timer4ShowWavEnabled);
  // Backward play now walks.
  l.st.ReplayState = 0;
  l.st.PlayRate = -1.0;
  const int32_t before = l.st.PlayPos;
  l.Tick(53);
  EXPECT_EQ(l.st.PlayPos, before - 53);
}

TEST(PlaybackLoop, SoundOffsetsAreWholeFramesWithinTheSound) {
  const struct {
    int32_t rate, channels;
    int64_t dataBytes, ms, offset;
  } cases[] = {
      {48000, 2, 1 << 30, 1000, 192000},  // 480 samples a slot, stereo
      {44100, 1, 1 << 30, 1000, 88200},
      {44100, 2, 1 << 30, 3, 528},  // 529.2 bytes would split a frame: 132 frames
      {44100, 1, 1 << 30, 1, 88},
      {44100, 2, 1 << 30, 1, 176},
      {22050, 1, 1 << 30, 1, 44},     // 220 samples a slot: 44 bytes
      {44100, 2, 1000, 10000, 1000},  // past the end: the end
      {44100, 2, 1002, 10000, 1000},  // an end inside a frame: the last whole frame
      {44100, 2, 1000, -5, 0},
  };
  for (const auto& c : cases) {
    EditorState st;
    st.SamplesPerSlot = c.rate / 100;
    st.WavChannels = c.channels;
    st.WavDataSize = c.dataBytes;
    EXPECT_EQ(SoundOffsetOf(st, c.ms), c.offset) << c.rate << " " << c.channels << " " << c.ms;
  }
  EditorState st;
  st.SamplesPerSlot = 441;
  st.WavChannels = 2;
  st.WavDataSize = 1 << 30;
  EXPECT_EQ(SoundMsOf(st, 528), 2);  // Trunc(528 * 5 / 441 / 2)
  EXPECT_EQ(SoundMsOf(st, 176400), 1000);
  st.WavDataSize = 176403;
  EXPECT_EQ(SoundEndOf(st), 1000);
}

TEST(PlaybackLoop, LeadGrowsWithTheWindow) {
  Loop l;
  EXPECT_EQ(LeadOf(l.st, l.w), 1280 * 800 / 20000 + 40);
  l.w.clientWidth = 1920;
  l.w.clientHeight = 1080;
  EXPECT_EQ(LeadOf(l.st, l.w), 103 + 40);
  EXPECT_EQ(PowerFactor(l.st), 1);
  l.st.Ctrl.RadioGroupPower = 2;
  EXPECT_EQ(PowerFactor(l.st), 3);
}

// ---- Zones and the pointer ----

TEST(PlaybackLoop, SpeedZoneTable) {
  const struct {
    int32_t e;
    std::optional<double> rate;
    int shape;
  } cases[] = {
      {-10000, std::nullopt, 0},
      {-9999, -97.99, 1},
      {-400, -2.0, 1},
      {-300, -1.0, 1},
      {-299, -1.0, 2},
      {-200, -1.0, 2},
      {-199, -0.995, 3},
      {-150, -0.75, 3},
      {-149, -0.745, 4},
      {-100, -0.5, 4},
      {-99, -0.495, 5},
      {-50, -0.25, 5},
      {-49, 0.0, 6},
      {0, 0.0, 6},
      {49, 0.0, 6},
      {50, 0.25, 7},
      {99, 0.495, 7},
      {100, 0.5, 8},
      {149, 0.745, 8},
      {150, 0.75, 9},
      {199, 0.995, 9},
      {200, 1.0, 10},
      {299, 1.0, 10},
      {300, 1.0, 11},
      {400, 2.0, 11},
      {9999, 97.99, 11},
      {10000, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    const SpeedZone z = SpeedOfOffset(c.e);
    ASSERT_EQ(z.rate.has_value(), c.rate.has_value()) << c.e;
    if (c.rate) {
      EXPECT_NEAR(*z.rate, *c.rate, 1e-12) << c.e;
    }
    EXPECT_EQ(z.shape, c.shape) << c.e;
    EXPECT_EQ(z.pause, c.shape == 6) << c.e;
  }
}

TEST(PlaybackLoop, TheVideoZoneSteersByTheTable) {
  const struct {
    const char* name;
    int32_t clientWidth, mouseX;
    bool stretch, center;
    int powerClass;
    double rate;
    int shape;
  } cases[] = {
      {"centre: paused", 1280, 640, true, false, 0, 0.0, 6},
      {"centre with x1 at the centre", 1280, 640, true, true, 0, 1.0, 10},
      {"800 wide, left edge", 800, 0, true, false, 0, -2.0, 1},
      {"800 wide, right edge", 800, 799, true, false, 0, 1.99, 11},
      {"1920 wide unstretched, right edge", 1920, 1919, false, false, 0, 7.59, 11},
      {"... clamped in class 2", 1920, 1919, false, false, 2, 2.0, 11},
      {"... and on the left", 1920, 0, false, false, 2, -2.0, 1},
      {"stretched: 100 px right of the centre of 1280 is e 62", 1280, 740, true, false, 0,
       (62 - 50) / 200.0 + 0.25, 7},
      {"unstretched: e = 150", 1280, 790, false, false, 0, 0.75, 9},
      {"x1 at the centre moves the pause band left", 1280, 440, false, true, 0, 0.0, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Loop l(c.powerClass);
    l.w.clientWidth = l.w.width = c.clientWidth;
    l.st.Ctrl.CheckBoxInductorStretch = c.stretch;
    l.st.Ctrl.CheckBoxPlayAtCenter = c.center;
    l.st.ReplayState = -1;
    l.st.PlayRate = 0.3;
    l.st.MouseX = l.st.PrevMouseX = c.mouseX;
    l.st.MouseY = l.st.PrevMouseY = 200;
    SteerInVideoZone(l.st, l.dev, l.w);
    EXPECT_NEAR(l.st.PlayRate, c.rate, 1e-9);
    EXPECT_EQ(l.player.PointerShape(), c.shape);
    EXPECT_EQ(Only(l.log, {"video pause"}).size(), c.shape == 6 ? 1u : 0u);
  }
}

TEST(PlaybackLoop, TheVideoZoneLeavesTheRateAloneUntilThePointerSteers) {
  Loop l;
  l.st.ReplayState = 0;  // as after entering editing
  l.st.PlayRate = 1.0;
  l.Point(100, 200);  // far left: would play backward
  l.Tick();
  EXPECT_EQ(l.st.PlayRate, 1.0);
  EXPECT_EQ(l.player.PointerShape(), 0);
}

TEST(PlaybackLoop, LowerZoneRates) {
  const struct {
    bool stretch;
    int32_t panel1Width, g;
    double rate;
  } cases[] = {
      {false, 1024, 0, 0.0},         {false, 1024, 20, 0.0},        {false, 1024, 21, 0.0922297},
      {false, 1024, 99, 0.7246622},  {false, 1024, 100, 0.8166667}, {false, 1024, 143, 0.9958333},
      {false, 1024, 144, 1.0},       {false, 1024, 216, 1.0},       {false, 1024, 217, 1.0041667},
      {false, 1024, 455, 1.9958333}, {false, 1024, 456, 2.0},       {false, 1024, 600, 2.0},
      {true, 640, 15, 0.0},          {true, 640, 16, 0.0936937},    {true, 1024, 15, 0.0},
      {true, 1024, 16, 0.0909910},   {true, 1024, 200, 0.9906250},  {true, 1024, 203, 0.9964844},
      {true, 1024, 205, 1.0},        {true, 1024, 640, 1.0},        {true, 640, 128, 1.0},
  };
  for (const auto& c : cases) {
    for (int side : {1, -1}) {
      SCOPED_TRACE(std::to_string(c.g) + (c.stretch ? " stretched" : "") + " side " +
                   std::to_string(side));
      EditorState st;
      st.Ctrl.CheckBoxInductorStretch = c.stretch;
      st.MouseX = 640 + side * c.g;
      EXPECT_NEAR(LowerZoneRate(st, 1280, c.panel1Width), side * c.rate, 1e-7);
    }
  }
}

TEST(PlaybackLoop, ThePlayersLowerEdgeBelongsToTheVideo) {
  Loop l;
  l.st.ReplayState = -1;
  l.st.Ctrl.CheckBoxInductorStretch = false;
  l.Point(640 + 150, 550);  // e = 150 over the video: 0.75
  l.st.PrevMouseX = 790;
  l.st.PrevMouseY = 550;
  l.Tick();
  EXPECT_DOUBLE_EQ(l.st.PlayRate, 0.75);
  l.Point(640 + 150, 551);  // g = 150 below it: 1.0
  l.Tick();
  EXPECT_DOUBLE_EQ(l.st.PlayRate, 1.0);
}

TEST(PlaybackLoop, ThePointerIsReadInClientPixels) {
  Loop l;
  // A window at (100, 50) with a 4-px frame and a 26-px title: 1288 x 834 outside.
  l.w = {true, 100, 50, 1288, 834, 1280, 800, 100 + 4 + 10, 50 + 30 + 20, 1024};
  EXPECT_TRUE(ReadPointer(l.st, l.dev, l.w));
  EXPECT_EQ(l.st.MouseX, 10);
  EXPECT_EQ(l.st.MouseY, 20);
}

// ---- Pause conditions ----

TEST(PlaybackLoop, APointerOutsideTheClientAreaPausesWithinOneTick) {
  const struct { int32_t x, y; } outside[] = {{-1, 300}, {1280, 300}, {640, -1}, {640, 800}};
  for (const auto& p : outside) {
    for (bool pitch : {true, false}) {
      SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
      Loop l;
      l.st.Ctrl.CheckBoxSoundStyle = pitch;
      l.st.PlayRate = 1.0;
      l.sound.Play(false);
      l.player.Play();
      l.Point(p.x, p.y);
      l.Tick();
      EXPECT_EQ(l.st.MouseX, -1);
      EXPECT_EQ(l.st.MouseY, -1);
      EXPECT_EQ(l.st.PlayRate, 0.0);
      EXPECT_FALSE(l.player.Playing());
      EXPECT_FALSE(l.sound.Playing());
      const int32_t pos = l.st.PlayPos;
      l.Tick(1000);
      EXPECT_EQ(l.st.PlayPos, pos);
    }
  }
}

TEST(PlaybackLoop, AnInactiveWindowPausesAndEndsTheTick) {
  Loop l;
  l.st.PlayRate = 1.5;
  l.player.Play();
  l.sound.Play(false);
  l.log.clear();
  l.w.active = false;
  l.player.SetDuration(0);  // nothing of the media facts is read
  l.Tick();
  EXPECT_EQ(l.st.PlayRate, 0.0);
  EXPECT_EQ(l.log, (Log{"video pause", "sound stop"}));
  EXPECT_EQ(l.st.MediaLength, SOUND_SECONDS * 100);
}

TEST(PlaybackLoop, AButtonHeldBelowTheVideoPauses) {
  Loop l;
  l.st.ReplayState = 1;
  l.st.PlayRate = 1.0;
  l.st.DragHeld = true;
  l.sound.Play(/*looping=*/true);
  l.Point(1000, 700);
  l.st.PrevMouseX = 1000;
  l.st.PrevMouseY = 700;
  l.Tick();
  EXPECT_EQ(l.st.ReplayState, -1);
  EXPECT_EQ(l.st.PlayRate, 0.0);
  EXPECT_FALSE(l.sound.Playing());
}

TEST(PlaybackLoop, TheDeadBandPausesThePlayer) {
  Loop l;
  l.st.ReplayState = -1;
  l.player.Play();
  l.Point(640 + 30, 300);
  l.Tick();
  EXPECT_EQ(l.st.PlayRate, 0.0);
  EXPECT_EQ(l.player.PointerShape(), 6);
  EXPECT_FALSE(l.player.Playing());
  EXPECT_FALSE(l.sound.Playing());
}

// ---- Replay and its tremble limits ----

TEST(PlaybackLoop, AReplayHoldsWhileThePointerTrembles) {
  const struct {
    const char* zone;
    int32_t x, y;
    bool overWave;
    int32_t dx, dy;
    bool holds;
  } cases[] = {
      {"video", 300, 300, false, 8, 0, true},   {"video", 300, 300, false, 9, 0, false},
      {"video", 300, 300, false, -8, 8, true},  {"video", 300, 300, false, 0, -9, false},
      {"below", 300, 720, false, 8, 4, true},   {"below", 300, 720, false, 0, 5, false},
      {"below", 300, 720, false, -9, 0, false}, {"strip", 300, 640, true, 8, -4, true},
      {"strip", 300, 640, true, 0, 5, false},   {"strip", 300, 640, true, 9, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.dx) + "," + std::to_string(c.dy));
    Loop l;
    l.st.OverWave = c.overWave;
    l.st.ReplayState = 1;  // Space
    l.st.PlayRate = 1.0;
    l.Point(c.x, c.y);
    l.st.PrevMouseX = c.x;
    l.st.PrevMouseY = c.y;
    l.Tick();
    ASSERT_EQ(l.st.ReplayState, 1);
    EXPECT_EQ(l.st.PlayRate, 1.0);
    EXPECT_EQ(Only(l.log, {"shape", "sound loop"}), (Log{"shape 10", "sound loop"}));
    l.Point(c.x + c.dx, c.y + c.dy);
    l.Tick();
    EXPECT_EQ(l.st.ReplayState, c.holds ? 1 : -1);
    if (c.holds) {
      EXPECT_EQ(l.st.PlayRate, 1.0);
      EXPECT_EQ(Only(l.log, {"shape", "sound loop"}).front(), "shape 10");
    } else {
      // The pointer steers at once: x 300 is left of the centre (backward, or paused on the
      // strip).
      EXPECT_LE(l.st.PlayRate, 0.0);
    }
  }
}

TEST(PlaybackLoop, MovingOnTheStripPausesOtherwiseTheRateStays) {
  Loop l;
  l.st.OverWave = true;
  l.st.ReplayState = -1;
  l.st.PlayRate = 0.7;  // set elsewhere (a key)
  l.Point(500, 640);
  l.st.PrevMouseX = 500;
  l.st.PrevMouseY = 640;
  l.Tick();
  EXPECT_EQ(l.st.PlayRate, 0.7);
  l.Point(520, 640);
  l.Tick();
  EXPECT_EQ(l.st.PlayRate, 0.0);
  l.st.ReplayState = 0;
  l.st.PlayRate = 1.0;
  l.Point(560, 640);
  l.Tick();
  EXPECT_EQ(l.st.ReplayState, -1);
}

// ---- Synchronisation ----

struct SyncCase {
  bool pitch;
  double rate;
  int32_t soundMs;
  double videoMs;
  int32_t playPos;  ///< after the tick
  Log seeks;
  bool goesOn = true;
};

// Class 0 (frame step 40, K 1, Lead 91), play position 30 s, 48 kHz mono (96 bytes a ms).
const SyncCase SYNC_CASES[] = {
    // Pitch-shifted: the position is the sound's.
    {true, 0, 30000, 30000, 30000, {}, false},
    {true, 0, 30000, 29960, 30000, {}, false},  // |D| = 40: in step
    {true, 0, 30000, 29959, 30000, {"video seek 30.000"}, false},
    {true, 0, 30123, 30123, 30123, {}, false},                // the sound's position
    {true, 0.5, 30000, 29920, 30000, {}},                     // |D| = 80 = 2 steps
    {true, 0.5, 30000, 29919, 30000, {"video seek 30.040"}},  // a step ahead
    {true, 1.0, 30000, 29920, 30000, {}},
    {true, 1.0, 30000, 29919, 30000, {"video seek 30.040"}},
    // Ahead by up to the seek's lead and two steps the video waits for the sound; farther, it
    // is sought.
    {true, 1.0, 30000, 30081, 30000, {}},
    {true, 1.0, 30000, 30120, 30000, {}},
    {true, 1.0, 30000, 30121, 30000, {"video seek 30.040"}},
    {true, 1.7, 30000, 29932, 30000, {}},                       // Trunc(40 * 1.7) = 68
    {true, 1.7, 30000, 29931, 30000, {"video seek 30.154"}},    // Lead * 1.7 = 154.7
    {true, 3.0, 30000, 29880, 30000, {}},                       // 120
    {true, 3.0, 30000, 29879, 30000, {"video seek 30.273"}},    // 91 * 3 (* K = 1)
    {true, -1.5, 30000, 29940, 29940, {}},                      // a step of 60 back
    {true, -1.5, 30000, 29940.4, 29940, {}},                    // less than 1 ms off
    {true, -1.5, 30000, 30000, 29940, {"video seek 29.713"}},   // B = Trunc(2.5 * 91)
    {true, -1.5, 30060, 29940, 29940, {}},                      // the sound 120 ahead
    {true, -1.5, 30061, 29940, 29940, {"sound seek 2874240"}},  // 121 ahead: to 29940 ms
    // Jumping: the loop moves the position.
    {false, 0, 31000, 29960, 30000, {}, false},
    {false, 0, 31000, 29959.5, 30000, {"video seek 30.000"}, false},  // 40.5 ms, not truncated
    {false, 0.5, 30000, 30000, 30028, {}},                            // 40 * 0.5 * 1.4
    {false, 0.5, 30000, 29947, 30028, {"video seek 30.028"}},         // D = 81: to the position
    {false, 0.5, 29968, 30028, 30028, {}},                            // the sound 60 behind
    {false, 0.5, 29967, 30028, 30028, {"sound seek 2882688"}},        // 61: to 30028 ms
    {false, 1.0, 30000, 29920, 30000, {}},
    {false, 1.0, 30000, 29919, 30000, {"video seek 30.040"}},
    {false, 1.0, 30000, 30120, 30000, {}},
    {false, 1.0, 30000, 30121, 30000, {"video seek 30.040"}},
    {false, 1.7, 30000, 29973, 30095, {"sound seek 2889120"}},  // 95 > Trunc(1.5 * 40)
    {false, 1.7, 30095, 29972, 30095, {"video seek 30.340"}},   // D = 123 > 245 div 2
    {false, 3.0, 30168, 29986, 30168, {}},                      // D = 182 = 364 div 2
    {false, 3.0, 30168, 29985, 30168, {"video seek 30.532"}},
    {false, -1.5, 30000, 30040, 29940, {}},  // 100
    {false, -1.5, 30000, 30041, 29940, {"video seek 29.713"}},
    {false, -1.5, 30140, 29940, 29940, {}},                      // 200 = (K + 4) steps
    {false, -1.5, 30141, 29940, 29940, {"sound seek 2880000"}},  // to the step's start
};

TEST(PlaybackLoop, SynchronisationAtEachRate) {
  for (const auto& c : SYNC_CASES) {
    SCOPED_TRACE(std::string(c.pitch ? "pitch-shifted " : "jumping ") + std::to_string(c.rate) +
                 " sound " + std::to_string(c.soundMs) + " video " + std::to_string(c.videoMs));
    Loop l;
    l.At(30000, c.videoMs, c.soundMs);
    EXPECT_EQ(l.Sync(c.rate, c.pitch), c.goesOn);
    EXPECT_EQ(l.st.PlayPos, c.playPos);
    EXPECT_EQ(Seeks(l.log), c.seeks);
  }
}

TEST(PlaybackLoop, ThePitchShiftedSoundPlaysAtTheRate) {
  const struct {
    double rate;
    Log calls;
  } cases[] = {
      {1.0, {"sound freq 48000", "sound once", "video play"}},
      {1.7, {"sound freq 81600", "sound once"}},
      {0.5, {"sound freq 24000", "sound once", "video pause"}},
      {-1.5, {"sound freq 72000", "video pause"}},  // forward, in snippets
      {1e-9, {"sound freq 1", "sound once", "video pause"}},
      // Paused: the frequency is left alone (0 would mean "the original rate" to some outputs)
      // and the sound stops.
      {0, {"sound stop", "video pause"}},
  };
  for (const auto& c : cases) {
    Loop l;
    l.Sync(c.rate, true);
    EXPECT_EQ(Only(l.log, {"sound", "video play", "video pause"}), c.calls) << c.rate;
  }
  Loop l;
  l.Sync(1.7, false);
  EXPECT_EQ(Only(l.log, {"sound freq"}), Log{"sound freq 48000"});  // jumping: its own rate
}

TEST(PlaybackLoop, SlowMotionStepsTheVideoByPlayingAndPausing) {
  for (bool pitch : {true, false}) {
    SCOPED_TRACE(pitch);
    Loop l;
    l.st.ReplayState = -1;
    l.st.Ctrl.CheckBoxSoundStyle = pitch;
    l.st.Ctrl.CheckBoxInductorStretch = false;
    l.Point(640 + 100, 300);  // e = 100: 0.5
    l.st.PrevMouseX = 740;
    l.st.PrevMouseY = 300;
    int plays = 0;
    int pauses = 0;
    for (int i = 0; i < 50; ++i) {
      l.log.clear();
      l.Tick();
      EXPECT_EQ(l.st.PlayRate, 0.5);
      EXPECT_TRUE(Only(l.log, {"video seek"}).empty()) << i;
      EXPECT_LE(std::abs(l.VideoMs() - l.st.PlayPos), 2 * 40 + 42) << i;
      plays += l.player.Playing();
      pauses += !l.player.Playing();
    }
    // At half speed the video plays about as long as it waits.
    EXPECT_GT(plays, 10);
    EXPECT_GT(pauses, 10);
    // Pitch-shifted: the sound, started on the first tick, 21 ms a tick since; jumping: 28 ms
    // (1.4 frame steps at 0.5) on every tick.
    EXPECT_EQ(l.st.PlayPos, pitch ? 30000 + 49 * 21 : 30000 + 50 * 28);
  }
}

TEST(PlaybackLoop, NormalSpeedNeedsNoSeeks) {
  for (bool pitch : {true, false}) {
    Loop l;
    l.st.Ctrl.CheckBoxSoundStyle = pitch;
    l.st.PlayRate = 1.0;
    for (int i = 0; i < 100; ++i) l.Tick();
    EXPECT_TRUE(Seeks(l.log).empty()) << pitch;
    // Both started on the first tick.
    EXPECT_EQ(l.st.PlayPos, 30000 + 99 * 42);
    EXPECT_NEAR(l.VideoMs(), 30000 + 99 * 42, 1e-6);
    EXPECT_EQ(l.SoundMs(), 30000 + 99 * 42);
  }
}

TEST(PlaybackLoop, AtNormalSpeedTheVideoAheadWaitsForTheSound) {
  for (bool pitch : {true, false}) {
    SCOPED_TRACE(pitch);
    Loop l;
    l.At(30000, 30100, 30000);
    l.Sync(1.0, pitch);
    EXPECT_EQ(Only(l.log, {"video"}), Log{"video pause"});
    // Once the sound is back within a frame step of the picture, both play.
    l.At(30060, 30100, 30060);
    l.Sync(1.0, pitch);
    EXPECT_EQ(Only(l.log, {"video"}), Log{"video play"});
  }
}

TEST(PlaybackLoop, AtNormalSpeedADriftingPictureIsBroughtBackByItsSpeedNotBySeeks) {
  // Within the tolerance no seek is made, but a picture 70 ms late (as a seek may land) or 35 ms
  // early plays a little faster or slower until it is with the sound, then at 1 again.
  const struct {
    double videoMs;
    bool faster;
  } cases[] = {{29930, true}, {30035, false}};
  for (bool pitch : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(pitch) + " " + std::to_string(c.videoMs));
      Loop l;
      l.st.Ctrl.CheckBoxSoundStyle = pitch;
      l.At(30000, c.videoMs, 30000);
      l.st.PlayRate = 1.0;
      l.Tick();
      l.Tick();
      EXPECT_EQ(l.player.Speed() > 1, c.faster) << l.player.Speed();
      EXPECT_NE(l.player.Speed(), 1.0);
      EXPECT_LE(std::abs(l.player.Speed() - 1), MAX_NUDGE);
      for (int i = 0; i < 100; ++i) l.Tick();
      EXPECT_TRUE(Seeks(l.log).empty());
      EXPECT_LT(std::abs(l.VideoMs() - l.SoundMs()), 5);
      for (int i = 0; i < 50; ++i) l.Tick();
      EXPECT_NEAR(l.player.Speed(), 1.0, 0.005);
      // Any other rate plays the picture at 1.
      l.st.PlayRate = 0.5;
      l.Tick();
      EXPECT_EQ(l.player.Speed(), 1.0);
    }
  }
}

// Seeks that take time, as on videos whose key frames lie far apart (x264 puts one every 250
// frames): each exact seek decodes from the key frame before the time sought.
constexpr double SEEK_FIXED = 0.02;
constexpr double KEY_FRAMES = 10.0;  // s
constexpr double DECODING = 40.0;    // s of video decoded a second

TEST(PlaybackLoop, ASeekUnderWayIsNotAnsweredByAnotherAndThePictureCatchesUpWithTheSound) {
  // A Space replay of a subtitle 6 s past a key frame: the seek takes 0.17 s, four ticks, while
  // the sound plays on. The loop waits for it, then aims once as far ahead as the position moved
  // meanwhile. (Seeking again whenever the video is two frame steps behind the target, every
  // seek would start again from the same key frame, until the position passed the next one.)
  for (bool pitch : {true, false}) {
    SCOPED_TRACE(pitch);
    Loop l;
    l.st.Ctrl.CheckBoxSoundStyle = pitch;
    l.player.SetSeekCost(SEEK_FIXED, KEY_FRAMES, DECODING);
    l.Timeline({{3600, 4400}});
    l.Point(640, 275);  // over the video, still: the replay holds
    l.st.PrevMouseX = 640;
    l.st.PrevMouseY = 275;
    l.st.PlayPos = 36000;
    SeekBoth(l.st, l.dev);
    l.st.ReplayState = 1;
    l.st.PlayRate = 1.0;
    const int seeksBefore = l.player.SeekCount();
    double settled = -1;
    for (int i = 1; i <= 70; ++i) {
      l.Tick();
      const bool inStep =
          std::abs(l.player.ShownPosition() * 1000 - l.SoundMs()) <= 2 * l.st.FrameStep;
      if (!inStep) settled = -1;
      if (inStep && settled < 0) settled = i * 0.042;
    }
    EXPECT_LE(l.player.SeekCount() - seeksBefore, 1) << "seeks after the Space replay's";
    EXPECT_GE(settled, 0) << "the picture never caught up with the sound";
    EXPECT_LE(settled, 0.6);
  }
}

TEST(PlaybackLoop, AfterAJumpTheSoundWaitsForTheVideosFrameAndBothStartTogether) {
  // Space 6 s past a key frame. Decoding at 40 s a second the seek takes 0.17 s: the sound
  // waits for it (the loop sees it done on the tick at 210 ms; the sound has moved by the next).
  // At 10 s a second it takes 0.62 s, longer than the sound waits (400 ms from the tick at 42):
  // the frame lands 158 ms late, and the loop seeks ahead, each seek landing closer.
  const struct {
    double decoding;
    int64_t started;  ///< the tick by which the sound has moved, ms
    int seeks;
  } cases[] = {{DECODING, 252, 2}, {DECODING / 4, 504, 5}};
  for (bool pitch : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(pitch) + " " + std::to_string(c.decoding));
      Loop l;
      l.st.Ctrl.CheckBoxSoundStyle = pitch;
      l.player.SetSeekCost(SEEK_FIXED, KEY_FRAMES, c.decoding);
      l.Timeline({{3600, 4400}});
      l.Point(640, 275);  // over the video, still
      l.st.PrevMouseX = 640;
      l.st.PrevMouseY = 275;
      l.st.PlayPos = 37000;
      RefreshEdge(l.st);
      PressKey(l.st, Key::Space, [&](const EditorState&) { SeekBoth(l.st, l.dev); });
      int64_t started = -1;
      for (int64_t t = 42; t <= 4200; t += 42) {
        l.Tick();
        if (started < 0 && l.SoundMs() > 36000) started = t;
        if (started < 0) {
          EXPECT_EQ(l.st.PlayPos, 36000) << t;
        }
      }
      EXPECT_EQ(started, c.started);
      EXPECT_LE(std::abs(l.player.ShownPosition() * 1000 - l.SoundMs()), 2 * l.st.FrameStep);
      // The fixture's, the Space's and, after a seek longer than the wait, a few of the loop's.
      EXPECT_LE(l.player.SeekCount(), c.seeks) << l.player.SeekCount();
    }
  }
}

TEST(PlaybackLoop, BackwardTheVideoIsSoughtOnlyOnceTheSeekBeforeIsDone) {
  // Backward every tick moves the target; a seek under way is left to finish (here 0.27 to
  // 0.27 s each), so the picture moves back seek by seek while the position keeps its pace.
  for (bool pitch : {true, false}) {
    SCOPED_TRACE(pitch);
    Loop l;
    l.st.Ctrl.CheckBoxSoundStyle = pitch;
    l.player.SetSeekCost(SEEK_FIXED, KEY_FRAMES, DECODING);
    l.st.PlayRate = -1.0;
    for (int i = 0; i < 71; ++i) l.Tick();  // about 3 s
    EXPECT_EQ(l.st.PlayPos, 30000 - 71 * 40);
    EXPECT_LE(l.player.SeekCount(), 3 / 0.2 + 1);
    EXPECT_GE(l.player.SeekCount(), 3 / 0.3 - 1);
    // The picture is never farther behind the position than one seek's way.
    EXPECT_LT(std::abs(l.player.ShownPosition() * 1000 - l.st.PlayPos), 1000);
  }
}

TEST(PlaybackLoop, FastMotionSeeksTheVideoAheadOnEveryTick) {
  // The video plays at 1.0 between seeks: at 1.7 it falls behind at once. Pitch-shifted, it is
  // seeked whenever it is more than Trunc(40 * 1.7) = 68 ms off, to Lead * 1.7 = 154 ms ahead of
  // the position; 29.4 ms later it is still more than 68 ms off: a seek on every tick.
  Loop l;
  l.st.PlayRate = 1.7;
  for (int i = 1; i <= 40; ++i) {
    l.log.clear();
    l.Tick();
    if (i == 1) {
      EXPECT_TRUE(Seeks(l.log).empty());  // the sound starts now: nothing has moved yet
    } else {
      EXPECT_EQ(Seeks(l.log), Log{"video seek " + test::Seconds((l.st.PlayPos + 154) / 1000.0)})
          << i;
    }
  }
  EXPECT_EQ(l.st.PlayPos, 30000 + 39 * 714 / 10);  // the sound at 1.7 since the first tick

  // Jumping: the position steps 95 ms a tick; the sound jumps to it when more than 60 ms off
  // (every other tick), the video to 245 ms ahead when more than 122 ms off.
  Loop j;
  j.st.Ctrl.CheckBoxSoundStyle = false;
  j.st.PlayRate = 1.7;
  std::vector<int> soundSeeks;
  std::vector<int> videoSeeks;
  for (int i = 1; i <= 12; ++i) {
    j.log.clear();
    j.Tick();
    if (!Only(j.log, {"sound seek"}).empty()) soundSeeks.push_back(i);
    if (!Only(j.log, {"video seek"}).empty()) videoSeeks.push_back(i);
  }
  EXPECT_EQ(soundSeeks, (std::vector<int>{1, 3, 5, 7, 9, 11}));
  EXPECT_EQ(videoSeeks, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(j.st.PlayPos, 30000 + 12 * 95);
}

TEST(PlaybackLoop, EveryPowerClassScalesTheJumps) {
  // Class 2 (frame step 80, K 3, Lead 131) at 3.0: a video 720 ms behind is within
  // Trunc(80 * 3 * 3); 721 ms is not: the jump is Trunc(131 * 3 * 3), times K again above 2.0.
  Loop l(2);
  l.At(30000, 30000 - 720, 30000);
  l.Sync(3.0, true);
  EXPECT_TRUE(Seeks(l.log).empty());
  l.At(30000, 30000 - 721, 30000);
  l.Sync(3.0, true);
  EXPECT_EQ(Seeks(l.log), Log{"video seek " + test::Seconds((30000 + 1179 * 3) / 1000.0)});
}

// ---- The ends ----

TEST(PlaybackLoop, TheJumpingStyleWrapsPastTheEndOfTheSound) {
  Loop l;
  const int32_t wrap = 10 * (SOUND_SECONDS * 100 + 1000 - 1);  // 10 s past the sound
  l.At(wrap - 112, 0, 0);
  l.Sync(2.0, false);  // 40 * 2 * 1.4 = 112: at the last position
  EXPECT_EQ(l.st.PlayPos, wrap);
  l.Sync(2.0, false);
  EXPECT_EQ(l.st.PlayPos, 0);
}

TEST(PlaybackLoop, BackwardStopsAtTheStart) {
  for (bool pitch : {true, false}) {
    Loop l;
    l.At(30, 30, 30);
    l.Sync(-1.5, pitch);
    EXPECT_EQ(l.st.PlayPos, 0) << pitch;
    l.Sync(-1.5, pitch);
    EXPECT_EQ(l.st.PlayPos, 0) << pitch;
    EXPECT_GE(l.VideoMs(), 0);
  }
}

TEST(PlaybackLoop, ThePitchShiftedStyleStopsAtTheEndOfTheSound) {
  Loop l;
  l.st.PlayRate = 1.0;
  l.At(599900, 599900, 599900);
  l.sound.Play(false);
  for (int i = 0; i < 10; ++i) l.Tick();
  EXPECT_EQ(l.st.PlayPos, 600000);
  EXPECT_EQ(l.SoundMs(), 600000);
  EXPECT_FALSE(l.sound.Playing());
  l.log.clear();
  for (int i = 0; i < 10; ++i) l.Tick();
  EXPECT_EQ(l.st.PlayPos, 600000);
  EXPECT_TRUE(Only(l.log, {"sound seek"}).empty());  // no seeks into the end on every tick
}

// A seek past the end of the sound puts the cursor at the end once; it never asks the output
// for an offset outside the data, and does not ask again while the cursor stands there.
TEST(PlaybackLoop, ASeekPastTheEndOfTheSoundStopsAtItsEndOnce) {
  Loop l;
  EXPECT_TRUE(SeekSound(l.st, l.sound, 700000));
  EXPECT_FALSE(SeekSound(l.st, l.sound, 650000));
  EXPECT_FALSE(SeekSound(l.st, l.sound, 600000));
  EXPECT_EQ(Seeks(l.log), Log{"sound seek " + std::to_string(SOUND_BYTES)});
  EXPECT_TRUE(SeekSound(l.st, l.sound, 1000));
}

// A video longer than its sound plays on past the sound's end: the play position moves by the
// clock, silently, up to the end of the video.
TEST(PlaybackLoop, AVideoLongerThanItsSoundPlaysOnSilently) {
  for (bool pitch : {true, false}) {
    SCOPED_TRACE(pitch);
    Loop l;
    l.st.Ctrl.CheckBoxSoundStyle = pitch;
    l.player.SetDuration(620.0);
    l.st.MediaLength = 62000;
    l.st.PlayRate = 1.0;
    l.At(599958, 599958, 599958);
    l.sound.Play(false);
    l.player.Play();
    l.Tick();
    EXPECT_EQ(l.st.PlayPos, 600000);  // the sound's end
    for (int i = 0; i < 100; ++i) l.Tick();
    EXPECT_EQ(l.st.PlayPos, 600000 + 4200);
    EXPECT_NEAR(l.VideoMs(), 604200, 1);
    EXPECT_EQ(l.SoundMs(), 600000);
    EXPECT_TRUE(Seeks(l.log).empty());
    for (int i = 0; i < 1000; ++i) l.Tick();
    EXPECT_EQ(l.st.PlayPos, 620000);  // the end of the video
    EXPECT_NEAR(l.VideoMs(), 620000, 1);
  }
}

// A video shorter than its sound: past its end the sound plays on while the video shows its
// last frame; the video is not seeked on every tick.
TEST(PlaybackLoop, AVideoShorterThanItsSoundHoldsItsLastFrame) {
  for (double rate : {1.0, 0.5, 1.7, -1.5}) {
    SCOPED_TRACE(rate);
    Loop l;
    l.player.SetDuration(500.0);
    l.st.MediaLength = 50000;
    l.st.PlayRate = rate;
    l.At(520000, 500000, 520000);
    for (int i = 0; i < 50; ++i) l.Tick();
    EXPECT_NEAR(l.VideoMs(), 500000, 1e-6);
    EXPECT_TRUE(Only(l.log, {"video seek"}).empty());
  }
  Loop l;
  l.player.SetDuration(500.0);
  l.st.MediaLength = 50000;
  SeekVideo(l.st, l.player, 520000);
  SeekVideo(l.st, l.player, -300);
  EXPECT_EQ(Seeks(l.log), (Log{"video seek 500.000", "video seek 0.000"}));
}

// ---- Media facts and the position bar ----

TEST(PlaybackLoop, TheFirstTickThatKnowsTheLengthSetsUpThePositionBar) {
  Loop l;
  l.Timeline({{1000, 1500}, {59800, 60050}, {60060, 60100}});
  l.st.MediaLength = 0;
  l.st.ScrollBarPlayPost = ScrollBarState{};
  l.st.ScrollBarPlayPost.Visible = true;
  l.player.SetDuration(0);
  l.Tick();
  EXPECT_FALSE(l.st.ScrollBarPlayPost.Enabled);
  EXPECT_EQ(l.resizes, 0);
  l.player.SetDuration(600.004);
  l.Tick();
  const ScrollBarState& bar = l.st.ScrollBarPlayPost;
  EXPECT_EQ(l.st.MediaLength, 60000);
  EXPECT_TRUE(bar.Enabled && bar.Visible);
  EXPECT_EQ(bar.Max, 60000);
  EXPECT_EQ(bar.PageSize, 600);
  EXPECT_EQ(bar.LargeChange, 1000);
  EXPECT_EQ(bar.SmallChange, 500);
  EXPECT_EQ(l.resizes, 1);
  // The last entry beginning a second before the end counts; its out point stops at the end.
  EXPECT_EQ(l.st.SubsInVideo, 2);
  EXPECT_EQ(l.st.Subs[1].TimeOut, 60000);
  EXPECT_EQ(l.st.Subs[2].TimeOut, 60100);
  l.Tick();
  EXPECT_EQ(l.resizes, 1);
  // The bar follows the video, its hint the play position (both played 84 ms since).
  EXPECT_EQ(bar.Position, 3008);
  EXPECT_EQ(bar.Hint, "0:00:30.08");
}

TEST(PlaybackLoop, ALengthOfZeroDisablesTheBarAndTheTickGoesOn) {
  Loop l;
  l.player.SetDuration(0);
  l.st.PlayRate = 1.0;
  l.Tick();
  l.Tick();
  EXPECT_EQ(l.st.MediaLength, 0);
  EXPECT_FALSE(l.st.ScrollBarPlayPost.Enabled);
  EXPECT_EQ(l.st.PlayPos, 30042);
}

// A player that never tells the length (a stream it cannot measure) would leave the bar
// disabled and no subtitle inside the video.
TEST(PlaybackLoop, ALengthThatNeverComesIsTheSoundsAfterTheWait) {
  Loop l;
  l.Timeline({{1000, 1500}, {2000, 2500}});
  l.st.SubsInVideo = 0;
  l.st.MediaLength = 0;
  l.st.ScrollBarPlayPost = ScrollBarState{};
  l.player.SetDuration(0);
  for (int i = 0; i < MEDIA_WAIT_TICKS - 1; ++i) l.Tick();
  EXPECT_FALSE(l.st.ScrollBarPlayPost.Enabled);
  l.Tick();
  EXPECT_EQ(l.st.MediaLength, 60000);
  EXPECT_TRUE(l.st.MediaLengthGuessed);
  EXPECT_TRUE(l.st.ScrollBarPlayPost.Enabled);
  EXPECT_EQ(l.st.ScrollBarPlayPost.Max, 60000);
  EXPECT_EQ(l.st.SubsInVideo, 2);
  // The player's own length, when it comes after all, takes over.
  l.player.SetDuration(580.0);
  l.Tick();
  EXPECT_EQ(l.st.MediaLength, 58000);
  EXPECT_FALSE(l.st.MediaLengthGuessed);
  EXPECT_EQ(l.st.ScrollBarPlayPost.Max, 58000);
  EXPECT_EQ(l.resizes, 2);
}

TEST(PlaybackLoop, ThePlayersErrorsWhileTheFactsAreReadEndTheTickQuietly) {
  Loop l;
  l.st.PlayRate = 1.0;
  l.player.failing = true;
  l.Tick();
  EXPECT_EQ(l.st.PlayPos, 30000);
  EXPECT_TRUE(Only(l.log, {"sound", "video play"}).empty());
  l.player.failing = false;
  l.Tick();
  EXPECT_EQ(Only(l.log, {"sound once", "video play"}), (Log{"sound once", "video play"}));
}

TEST(PlaybackLoop, TheBarsChangeHandlerPointsTheEdgesAtTheFirstSubtitleNearTheStart) {
  Loop l;
  l.Timeline({{300, 500}, {1000, 1200}});
  l.At(400, 400, 400);
  l.st.ScrollBarPlayPost.Position = 0;
  FollowVideoPosition(l.st, l.player);
  EXPECT_EQ(l.st.ScrollBarPlayPost.Position, 40);
  for (int32_t e : {l.st.PrevBegin, l.st.CurBegin, l.st.NextBegin}) EXPECT_EQ(e, 3000);
  for (int32_t e : {l.st.PrevEnd, l.st.CurEnd, l.st.NextEnd}) EXPECT_EQ(e, 3500);
  l.At(500, 600, 500);
  RefreshEdge(l.st);
  FollowVideoPosition(l.st, l.player);
  EXPECT_EQ(l.st.CurEnd, 5000);  // from half a second on the edges are left alone
}

// ---- The whole tick ----

TEST(PlaybackLoop, NothingHappensOutsideEditing) {
  Loop l;
  l.st.ReadyState = 1;
  l.st.PlayRate = 1.0;
  l.Tick();
  EXPECT_TRUE(l.log.empty());
  EXPECT_EQ(l.st.PlayPos, 30000);
}

TEST(PlaybackLoop, AMovedWindowRedrawsTheStrip) {
  Loop l;
  l.Tick();
  l.st.WaveRedraw = false;
  l.Tick();
  EXPECT_FALSE(l.st.WaveRedraw);
  l.w.left = 20;
  l.w.pointerX += 20;
  l.Tick();
  EXPECT_TRUE(l.st.WaveRedraw);
  EXPECT_EQ(l.st.LastFormLeft, 20);
  EXPECT_EQ(l.st.MouseX, 640);
}

TEST(PlaybackLoop, ThePlayModesApplyOnEveryTick) {
  for (bool pitch : {true, false}) {
    SCOPED_TRACE(pitch);
    Loop l;
    l.Timeline({{10000, 10500}, {20000, 20500}});
    l.st.Ctrl.CheckBoxSoundStyle = pitch;
    l.st.DialogueOnly = true;
    l.st.PlayRate = 1.0;
    l.Tick();  // in the gap before the first entry: it jumps there, and both follow
    EXPECT_EQ(l.st.PlayPos, 100000);
    Log seeks = Seeks(l.log);
    std::sort(seeks.begin(), seeks.end());
    EXPECT_EQ(seeks, (Log{"sound seek 9600000", "video seek 100.040"}));
    for (int i = 0; i < 130; ++i) l.Tick();  // 5.46 s: past its end, on to the next
    EXPECT_GE(l.st.PlayPos, 200000);
    EXPECT_LT(l.st.PlayPos, 200500);
  }
}

}  // namespace
}  // namespace tamsel
