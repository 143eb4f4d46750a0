#include "RealMediaFactory.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "ChildProcess.h"
#include "PlaybackLoop.h"
#include "PlaybackTimer.h"
#include "TestSupport.h"
#include "VideoPreparation.h"

namespace tamsel {
namespace {

constexpr int LOAD_MS = 60000;

/// An 8-s video with a beeping tone, prepared as the start screen prepares it (the WAV, .ws,
/// .ai and an empty subtitle file beside it), entered through the real devices in a shown
/// window of 640 x 480 whose upper 360 px hold the video.
struct Session {
  test::TempDir dir;
  test::RecordingPrompts prompts;
  EditorState st;
  std::vector<std::string> soundNotices, videoFailures;
  QWidget window;
  QWidget videoArea{&window};
  RealMediaFactory factory{&videoArea,
                           {[this](const std::string& m) { soundNotices.push_back(m); },
                            [this](const std::string& m) { videoFailures.push_back(m); },
                            {}}};
  EditingMedia media;  // released before the window, as the window must
  SteadyClock clock;
  WindowFacts facts;

  Session() {
    st.Prompts = &prompts;
    st.Ctrl.CheckBoxInductorStretch = false;  // pointer offsets in pixels
    window.resize(640, 480);
    videoArea.setGeometry(0, 0, 640, 360);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    facts.width = facts.clientWidth = 640;
    facts.height = facts.clientHeight = 480;
    facts.panel1Width = 640;
  }
  ~Session() { media = {}; }

  bool Prepare() {
    const std::string video = dir.Path("beep.mp4");
    const ProcessResult made = RunProcess(
        FindProgram("ffmpeg"),
        {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
         "testsrc=size=320x240:rate=25:duration=8", "-f", "lavfi", "-i",
         "sine=frequency=440:beep_factor=4:duration=8", "-c:v", "mpeg4", "-shortest", video});
    if (made.exitCode != 0) {
      ADD_FAILURE() << "ffmpeg: " << made.errors;
      return false;
    }
    return OpenVideoClick(st, video, [](const std::string&, int) {});
  }

  /// The pointer `e` px right of the centre, over the video.
  void PointAt(int e) {
    facts.pointerX = 320 + e;
    facts.pointerY = 100;
  }

  /// Runs the playback loop on a timer, as the window does, for `ms`.
  void Run(int ms) {
    PlaybackDevices dev{*media.MediaPlayer, *media.SoundBuffer, clock,
                        media.WaveFile->Format().nSamplesPerSec, {}};
    PlaybackTimer timer(st, [&] { Timer2GetMouseXYTimer(st, dev, facts); });
    timer.Start();
    QTest::qWait(ms);
  }

  int32_t SoundMs() const { return SoundPosition(st, *media.SoundBuffer); }
  double VideoMs() const { return media.MediaPlayer->Position() * 1000; }
};

bool HaveFfmpeg() { return !FindProgram("ffmpeg").empty(); }

class RealSession : public ::testing::TestWithParam<bool> {};

TEST_P(RealSession, EntersEditingAndPlaysVideoAndSoundTogether) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  Session s;
  s.st.Ctrl.CheckBoxSoundStyle = GetParam();
  ASSERT_TRUE(s.Prepare()) << ::testing::PrintToString(s.prompts.messages);
  ASSERT_TRUE(ReadyGo(s.st, s.media, s.factory));
  EXPECT_EQ(s.st.ReadyState, 2);
  ASSERT_NE(s.factory.Video(), nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.factory.Video()->IsLoaded(); }, LOAD_MS));
  EXPECT_TRUE(s.factory.Video()->isVisible());
  EXPECT_EQ(s.factory.Video()->parentWidget(), &s.videoArea);
  ASSERT_NE(s.factory.Sound(), nullptr);
  EXPECT_TRUE(s.factory.Sound()->HasDevice());
  EXPECT_TRUE(s.soundNotices.empty());

  // Entering editing plays at 1.0 until the pointer steers: two seconds of play move all three
  // by about two seconds, the video staying with the sound. The loop learns the facts.
  s.PointAt(0);
  s.Run(2000);
  EXPECT_EQ(s.st.FrameRate, 25);
  EXPECT_EQ(s.st.MediaLength, 800);
  EXPECT_EQ(s.st.PlayRate, 1.0);
  EXPECT_TRUE(s.media.SoundBuffer->Playing());
  EXPECT_GT(s.st.PlayPos, 1200);
  EXPECT_LT(s.st.PlayPos, 3500);
  EXPECT_NEAR(s.SoundMs(), s.st.PlayPos, 300);
  EXPECT_NEAR(s.VideoMs(), s.st.PlayPos, 500);

  // Through the lower zone back into the dead band over the video: everything stops.
  s.facts.pointerY = 420;
  s.Run(200);
  s.PointAt(0);
  s.Run(300);
  EXPECT_EQ(s.st.ReplayState, -1);
  EXPECT_EQ(s.st.PlayRate, 0.0);
  EXPECT_FALSE(s.media.SoundBuffer->Playing());
  const int32_t stopped = s.SoundMs();
  const int32_t at = s.st.PlayPos;
  s.Run(500);
  EXPECT_EQ(s.SoundMs(), stopped);
  EXPECT_EQ(s.st.PlayPos, at);
  EXPECT_NEAR(s.VideoMs(), at, 200);

  // 250 px right of the centre plays at 1.0 again.
  s.PointAt(250);
  s.Run(1500);
  EXPECT_EQ(s.st.PlayRate, 1.0);
  EXPECT_GT(s.st.PlayPos, at + 800);
  EXPECT_NEAR(s.SoundMs(), s.st.PlayPos, 300);
  EXPECT_NEAR(s.VideoMs(), s.st.PlayPos, 500);
  EXPECT_TRUE(s.videoFailures.empty());
}

INSTANTIATE_TEST_SUITE_P(BothSyncStyles, RealSession, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pitched" : "Jumping"; });

TEST(RealMediaFactory, WithoutASoundDeviceTellsOnceAndRunsOnTheClock) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  Session s;
  ASSERT_TRUE(s.Prepare());
  ASSERT_TRUE(ReadyGo(s.st, s.media, s.factory));
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_EQ(s.soundNotices.size(), 1u);
  EXPECT_NE(s.soundNotices[0].find("没有可用的声音输出设备"), std::string::npos);
  EXPECT_FALSE(s.factory.Sound()->HasDevice());
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.factory.Video()->IsLoaded(); }, LOAD_MS));
  s.PointAt(250);  // plays at 1.0 from entering
  s.Run(2000);
  EXPECT_TRUE(s.media.SoundBuffer->Playing());
  EXPECT_GT(s.SoundMs(), 1000);
  EXPECT_NEAR(s.SoundMs(), s.st.PlayPos, 300);
  EXPECT_EQ(s.soundNotices.size(), 1u);
}

TEST(RealMediaFactory, AVideoMpvCannotPlayIsTold) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  Session s;
  const std::string bad = s.dir.Path("not a video.mp4");
  test::WriteBytes(bad, std::string(4096, 'x'));
  auto player = s.factory.CreateVideoPlayer(bad);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !s.videoFailures.empty(); }, LOAD_MS));
  EXPECT_NE(s.videoFailures[0].find("not a video.mp4"), std::string::npos) << s.videoFailures[0];
}

TEST(RealMediaFactory, AWavThatCannotBeMappedPlaysSilentlyAndSaysWhy) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  Session s;
  const std::string wav = s.dir.Path("gone.wav");
  test::WriteWav(wav, 1, 2, 48000, 16, 96000, 96000);
  TReadWaveFile wave;
  ASSERT_TRUE(wave.Open(wav));
  std::filesystem::remove(ToPath(wav));
  auto sound = s.factory.CreateSoundOutput(wav, wave);
  ASSERT_EQ(s.soundNotices.size(), 1u);
  EXPECT_NE(s.soundNotices[0].find(wav), std::string::npos) << s.soundNotices[0];
  EXPECT_TRUE(s.factory.Sound()->Buffer().OnClock());
  EXPECT_EQ(s.factory.Sound()->Buffer().Size(), 96000);  // as long as the header said
}

}  // namespace
}  // namespace tamsel

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
