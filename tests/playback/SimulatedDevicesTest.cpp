#include "SimulatedDevices.h"

#include <gtest/gtest.h>

namespace tamsel {
namespace {

constexpr int64_t STEREO_48K_SECOND = 192000;  // bytes

TEST(SimulatedSound, TheCursorAdvancesAtTheFrequencyWhilePlaying) {
  const struct {
    int64_t frequency, afterOneSecond;
  } cases[] = {
      {48000, STEREO_48K_SECOND}, {24000, STEREO_48K_SECOND / 2}, {81600, 326400}, {1, 4}, {0, 0}};
  for (const auto& c : cases) {
    ManualClock clock;
    auto owned = SimulatedSound(clock, 100 * STEREO_48K_SECOND, 2, 48000);
    SoundBuffer& sound = *owned;
    sound.SetFrequency(c.frequency);
    clock.AdvanceMs(500);
    EXPECT_EQ(sound.Cursor(), 0);  // not started
    sound.Play(false);
    clock.AdvanceMs(1000);
    EXPECT_EQ(sound.Cursor(), c.afterOneSecond) << c.frequency;
    EXPECT_EQ(sound.Cursor() % 4, 0);
    EXPECT_TRUE(sound.Playing());  // a frequency of 0 halts without stopping
  }
}

TEST(SimulatedSound, OnceStopsAtTheEndLoopingWraps) {
  ManualClock clock;
  auto owned = SimulatedSound(clock, 2 * STEREO_48K_SECOND, 2, 48000);
    SoundBuffer& sound = *owned;
  sound.SetCursor(STEREO_48K_SECOND);
  sound.Play(false);
  clock.AdvanceMs(1500);
  EXPECT_EQ(sound.Cursor(), 2 * STEREO_48K_SECOND);
  EXPECT_FALSE(sound.Playing());
  sound.SetCursor(STEREO_48K_SECOND);
  sound.Play(true);
  clock.AdvanceMs(1500);
  EXPECT_EQ(sound.Cursor(), STEREO_48K_SECOND / 2);
  EXPECT_TRUE(sound.Playing());
  EXPECT_TRUE(sound.Looping());
}

TEST(SimulatedSound, StopHoldsTheCursorAndPlayGoesOnFromIt) {
  ManualClock clock;
  auto owned = SimulatedSound(clock, 10 * STEREO_48K_SECOND, 2, 48000);
    SoundBuffer& sound = *owned;
  sound.Play(false);
  clock.AdvanceMs(250);
  sound.Stop();
  clock.AdvanceMs(1000);
  EXPECT_EQ(sound.Cursor(), STEREO_48K_SECOND / 4);
  EXPECT_FALSE(sound.Playing());
  sound.SetFrequency(96000);  // changes of speed keep the position
  sound.Play(false);
  clock.AdvanceMs(250);
  EXPECT_EQ(sound.Cursor(), STEREO_48K_SECOND * 3 / 4);
}

TEST(SimulatedSound, SeeksLandOnWholeFramesWithinTheData) {
  ManualClock clock;
  auto owned = SimulatedSound(clock, 1003, 2, 48000);
    SoundBuffer& sound = *owned;
  const struct {
    int64_t to, at;
  } cases[] = {{0, 0}, {7, 4}, {529, 528}, {1000, 1000}, {1003, 1000}, {5000, 1000}, {-9, 0}};
  for (const auto& c : cases) {
    sound.SetCursor(c.to);
    EXPECT_EQ(sound.Cursor(), c.at) << c.to;
  }
}

TEST(SimulatedVideoPlayer, PlaysAtNormalSpeedAndSeeksExactly) {
  ManualClock clock;
  SimulatedVideoPlayer player(clock, 10.0, 24, 550);
  EXPECT_EQ(player.Duration(), 10.0);
  EXPECT_EQ(player.FrameRate(), 24);
  EXPECT_EQ(player.Height(), 550);
  clock.AdvanceMs(300);
  EXPECT_EQ(player.Position(), 0.0);
  player.Play();
  player.Play();  // idempotent
  clock.AdvanceMs(1500);
  EXPECT_DOUBLE_EQ(player.Position(), 1.5);
  player.SetPosition(4.321);  // while playing
  EXPECT_DOUBLE_EQ(player.Position(), 4.321);
  clock.AdvanceMs(100);
  player.Pause();
  clock.AdvanceMs(5000);
  EXPECT_DOUBLE_EQ(player.Position(), 4.421);  // frozen
  player.SetPosition(2.0);                     // while paused
  EXPECT_DOUBLE_EQ(player.Position(), 2.0);
  player.SetPosition(12.0);
  EXPECT_DOUBLE_EQ(player.Position(), 10.0);  // the last frame
  player.SetPosition(-1.0);
  EXPECT_DOUBLE_EQ(player.Position(), 0.0);
  player.SetPosition(9.5);
  player.Play();
  clock.AdvanceMs(2000);
  EXPECT_DOUBLE_EQ(player.Position(), 10.0);  // it stops at the end
  int clicked = 0;
  player.SetClickHandler([&](int button) { clicked = button; });
  player.Click(2);
  EXPECT_EQ(clicked, 2);
}

}  // namespace
}  // namespace tamsel
