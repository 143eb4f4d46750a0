#include "MpvVideoWidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <fstream>
#include <memory>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

// The test video: 4 s at 25 frames per second, 160 x 120, with one key frame only, so that
// only a precise seek finds a frame past the start. Its picture tells the time it shows: the
// left half has one colour per second, the upper right quarter a grey level that counts the
// frame within its second, the lower right quarter is white (upside down shows). It has a sound
// track, which the player must leave alone.
constexpr int FPS = 25;
constexpr double SECONDS = 4;
const QColor SECOND_COLOURS[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
int GreyOfFrame(int frameInSecond) { return 20 + 8 * frameInSecond; }

/// Generous waits: the machine may be slow and shared; a wait ends as soon as its condition holds.
constexpr int LOAD_MS = 60000;
constexpr int FRAME_MS = 30000;

bool RunFfmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), {"-nostdin", "-loglevel", "error", "-y"});
  const ProcessResult r = RunProcess(FindProgram("ffmpeg"), args);
  if (r.exitCode != 0) ADD_FAILURE() << "ffmpeg: " << r.errors;
  return r.exitCode == 0;
}

/// The time-telling picture described above, as an ffmpeg filter over a black source.
std::string TimeTellingFilter() {
  const std::string sec = "floor(N/" + std::to_string(FPS) + ")";
  const std::string frame = "mod(N," + std::to_string(FPS) + ")";
  auto part = [&](const std::string& left) {
    return "'if(lt(X,W/2)," + left + ",if(lt(Y,H/2),20+8*" + frame + ",255))'";
  };
  // red 0, green 1, blue 2, yellow 3
  const std::string r = "255*(eq(" + sec + ",0)+eq(" + sec + ",3))";
  const std::string g = "255*(eq(" + sec + ",1)+eq(" + sec + ",3))";
  const std::string b = "255*eq(" + sec + ",2)";
  return "geq=r=" + part(r) + ":g=" + part(g) + ":b=" + part(b);
}

class VideoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = std::make_unique<test::TempDir>();
    if (FindProgram("ffmpeg").empty()) return;
    const std::string dur = std::to_string(SECONDS);
    const std::string video = "color=c=black:s=160x120:r=" + std::to_string(FPS) + ":d=" + dur;
    const std::string sound = "sine=frequency=440:sample_rate=44100:duration=" + dur;
    // One key frame at the start (-g), good quality (-q:v) so that colours stay true.
    std::vector<std::string> args = {"-f", "lavfi", "-i", video, "-f", "lavfi", "-i", sound};
    args.insert(args.end(), {"-vf", TimeTellingFilter(), "-c:v", "mpeg4", "-q:v", "2"});
    args.insert(args.end(), {"-g", "1000", "-c:a", "aac", "-shortest", s_dir->Path("clock.mp4")});
    s_made = RunFfmpeg(args);
    // The subtitle being edited lies beside its video.
    std::ofstream(s_dir->Path("clock.srt")) << "1\n00:00:00,000 --> 00:00:04,000\nText\n";
  }
  static void TearDownTestSuite() { s_dir.reset(); }

  void SetUp() override {
    if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_TRUE(s_made);
  }

  static std::string Clock() { return s_dir->Path("clock.mp4"); }

  /// A shown player of the video's own size, its file opened.
  std::unique_ptr<MpvVideoWidget> OpenPlayer(const std::string& path, int w = 160, int h = 120) {
    auto p = std::make_unique<MpvVideoWidget>();
    p->resize(w, h);
    p->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(p.get()));
    p->Open(path);
    return p;
  }

  static bool WaitLoaded(MpvVideoWidget& p) {
    return QTest::qWaitFor([&] { return p.IsLoaded(); }, LOAD_MS);
  }

  /// What the screen shows of the player, as painted by the window's own repaints (a grab of the
  /// widget would draw it anew).
  static QImage Shown(MpvVideoWidget& p) { return p.screen()->grabWindow(p.winId()).toImage(); }

  static bool Near(const QColor& a, const QColor& b, int tolerance = 40) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
  }

  /// What the picture says about the time it shows, checked at points well inside each part.
  struct Reading {
    QColor left, upperRight, lowerRight;
  };
  static Reading Read(MpvVideoWidget& p) {
    const QImage img = Shown(p);
    const int w = img.width(), h = img.height();
    return {img.pixelColor(w / 4, h / 2), img.pixelColor(w * 3 / 4, h / 4),
            img.pixelColor(w * 3 / 4, h * 3 / 4)};
  }
  /// The second whose colour is shown, -1 for none.
  static int ShownSecond(MpvVideoWidget& p) {
    const QColor left = Read(p).left;
    for (int i = 0; i < static_cast<int>(std::size(SECOND_COLOURS)); ++i) {
      if (Near(left, SECOND_COLOURS[i])) return i;
    }
    return -1;
  }
  static bool ShowsFrame(MpvVideoWidget& p, int frame) {
    const Reading r = Read(p);
    const int grey = GreyOfFrame(frame % FPS);
    return Near(r.left, SECOND_COLOURS[frame / FPS]) &&
           Near(r.upperRight, QColor(grey, grey, grey), 3) && Near(r.lowerRight, Qt::white);
  }
  /// Waits until `frame` is shown; on a time-out says what was shown instead.
  static ::testing::AssertionResult WaitFrame(MpvVideoWidget& p, int frame) {
    if (QTest::qWaitFor([&] { return ShowsFrame(p, frame); }, FRAME_MS)) {
      return ::testing::AssertionSuccess();
    }
    const Reading r = Read(p);
    return ::testing::AssertionFailure()
           << "frame " << frame << " not shown; left " << r.left.name().toStdString()
           << ", upper right " << r.upperRight.name().toStdString() << ", lower right "
           << r.lowerRight.name().toStdString() << ", position " << p.Position();
  }

  /// The renderer this platform must get: software offscreen, OpenGL on a real (X) display,
  /// software again where Mesa is told to offer only OpenGL 2.0, which Qt takes and mpv does not.
  static MpvVideoWidget::Renderer Expected() {
    if (QGuiApplication::platformName() == QLatin1String("offscreen") ||
        qgetenv("MESA_GL_VERSION_OVERRIDE") == "2.0") {
      return MpvVideoWidget::Renderer::Software;
    }
    return MpvVideoWidget::Renderer::OpenGl;
  }

  static inline std::unique_ptr<test::TempDir> s_dir;
  static inline bool s_made = false;
};

TEST_F(VideoTest, OpensWithLengthAndFrameRateAndDecodesNoSound) {
  auto p = OpenPlayer(Clock());
  // Loading goes on in mpv's threads and is learnt of through the window's events.
  EXPECT_EQ(p->Duration(), 0);
  EXPECT_EQ(p->FrameRate(), 0);
  ASSERT_TRUE(WaitLoaded(*p));
  EXPECT_EQ(p->ActiveRenderer(), Expected());
  EXPECT_NEAR(p->Duration(), SECONDS, 0.05);
  EXPECT_EQ(p->FrameRate(), FPS);
  EXPECT_TRUE(WaitFrame(*p, 0));
  EXPECT_EQ(p->PropertyText("pause"), "yes");

  // The file's sound track is there but not chosen, and no audio output exists. The subtitle
  // file beside the video is not taken in (it would be drawn over the picture).
  int audioTracks = 0;
  const int tracks = std::stoi(p->PropertyText("track-list/count"));
  for (int i = 0; i < tracks; ++i) {
    const std::string t = "track-list/" + std::to_string(i) + "/";
    const std::string type = p->PropertyText((t + "type").c_str());
    EXPECT_NE(type, "sub");
    if (type != "audio") continue;
    ++audioTracks;
    EXPECT_EQ(p->PropertyText((t + "selected").c_str()), "no");
  }
  EXPECT_EQ(audioTracks, 1);
  EXPECT_EQ(p->PropertyText("current-ao"), "");
  EXPECT_EQ(p->PropertyText("audio-codec-name"), "");
}

TEST_F(VideoTest, PausedSeekShowsTheFrameOfTheTimeSought) {
  auto p = OpenPlayer(Clock());
  ASSERT_TRUE(WaitLoaded(*p));
  ASSERT_TRUE(WaitFrame(*p, 0));
  // Times inside a frame's span and on its first instant; backward and forward; the last frame.
  struct Case {
    double seconds;
    int frame;
  };
  const Case cases[] = {{2.46, 61}, {0.54, 13}, {3.20, 80}, {1.0, 25}, {1.99, 49},
                        {0.04, 1},  {3.97, 99}, {2.0, 50},  {0.0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    p->SetPosition(c.seconds);
    EXPECT_TRUE(WaitFrame(*p, c.frame));
    // Read back as written, though the frame shown starts up to a frame earlier.
    EXPECT_DOUBLE_EQ(p->Position(), c.seconds);
    EXPECT_EQ(p->PropertyText("pause"), "yes");
  }
}

TEST_F(VideoTest, SeeksAreCarriedOutBehindTheCallsAndToldWhenDone) {
  auto p = OpenPlayer(Clock());
  ASSERT_TRUE(WaitLoaded(*p));
  ASSERT_TRUE(WaitFrame(*p, 0));
  EXPECT_FALSE(p->Seeking());
  EXPECT_EQ(p->SeekSeconds(), 0);
  // The call returns before mpv has decoded its way to the frame; meanwhile the player stands
  // where it goes.
  p->SetPosition(3.22);
  EXPECT_TRUE(p->Seeking());
  EXPECT_DOUBLE_EQ(p->Position(), 3.22);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !p->Seeking(); }, FRAME_MS));
  EXPECT_TRUE(WaitFrame(*p, 80));
  EXPECT_GT(p->SeekSeconds(), 0);
  EXPECT_LT(p->SeekSeconds(), FRAME_MS / 1000.0);
  // A seek asked for while another is carried out replaces it: the player is seeking until the
  // frame of the last one is ready, and shows that one.
  p->SetPosition(1.0);
  p->SetPosition(2.46);
  EXPECT_TRUE(p->Seeking());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !p->Seeking(); }, FRAME_MS));
  EXPECT_TRUE(WaitFrame(*p, 61));
  EXPECT_DOUBLE_EQ(p->Position(), 2.46);
}

TEST_F(VideoTest, OpenedBeforeShownAndSoughtBeforeOpenShowsThatFrameOnceOpen) {
  // The window opens the file and seeks to the current subtitle before it lays the player out
  // (the OpenGL renderer is made only when the widget is first shown).
  MpvVideoWidget p;
  p.Open(Clock());
  p.SetPosition(2.46);
  EXPECT_DOUBLE_EQ(p.Position(), 2.46);
  p.resize(160, 120);
  p.show();
  ASSERT_TRUE(WaitLoaded(p));
  EXPECT_TRUE(WaitFrame(p, 61));
  EXPECT_DOUBLE_EQ(p.Position(), 2.46);
}

TEST_F(VideoTest, PlayAdvancesAndPauseHolds) {
  auto p = OpenPlayer(Clock());
  ASSERT_TRUE(WaitLoaded(*p));
  p->SetPosition(0.2);
  ASSERT_TRUE(WaitFrame(*p, 5));
  p->Play();
  p->Play();  // idempotent
  // Commands go to mpv without waiting for it; it carries them out in order.
  EXPECT_TRUE(QTest::qWaitFor([&] { return p->PropertyText("pause") == "no"; }, FRAME_MS));
  ASSERT_TRUE(QTest::qWaitFor([&] { return p->Position() > 2.2; }, LOAD_MS))
      << "position " << p->Position();
  // The picture moves with the position.
  EXPECT_TRUE(QTest::qWaitFor([&] { return ShownSecond(*p) >= 2; }, FRAME_MS));

  // A seek while playing goes on playing from there.
  p->SetPosition(0.3);
  EXPECT_LT(p->Position(), 2.0);
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return ShownSecond(*p) == 0 || ShownSecond(*p) == 1; }, FRAME_MS));
  EXPECT_TRUE(QTest::qWaitFor([&] { return p->Position() > 0.5; }, FRAME_MS));

  p->Pause();
  p->Pause();
  EXPECT_TRUE(QTest::qWaitFor([&] { return p->PropertyText("pause") == "yes"; }, FRAME_MS));
  QTest::qWait(500);  // a frame already on its way may still land
  const double held = p->Position();
  const QImage before = Shown(*p);
  QTest::qWait(1500);
  EXPECT_EQ(p->Position(), held);
  EXPECT_EQ(Shown(*p), before);
  EXPECT_LT(held, SECONDS);
}

TEST_F(VideoTest, PlayToTheEndKeepsTheLastFrame) {
  auto p = OpenPlayer(Clock());
  ASSERT_TRUE(WaitLoaded(*p));
  p->SetPosition(3.5);
  p->Play();
  ASSERT_TRUE(QTest::qWaitFor([&] { return p->PropertyText("eof-reached") == "yes"; }, LOAD_MS));
  EXPECT_TRUE(WaitFrame(*p, 99));
  EXPECT_NEAR(p->Position(), 3.96, 1.0 / FPS);
  EXPECT_NEAR(p->Duration(), SECONDS, 0.05);
  // A seek back from the end still shows its frame.
  p->Pause();
  p->SetPosition(1.5);
  EXPECT_TRUE(WaitFrame(*p, 37));
  EXPECT_DOUBLE_EQ(p->Position(), 1.5);
  // Past the end: the last frame, and its time.
  p->SetPosition(SECONDS + 2);
  EXPECT_TRUE(WaitFrame(*p, 99));
  EXPECT_TRUE(QTest::qWaitFor([&] { return std::abs(p->Position() - 3.96) < 0.001; }, FRAME_MS))
      << p->Position();
}

TEST_F(VideoTest, PictureFollowsTheWidgetSize) {
  auto p = OpenPlayer(Clock(), 160, 120);
  ASSERT_TRUE(WaitLoaded(*p));
  p->SetPosition(2.46);
  ASSERT_TRUE(WaitFrame(*p, 61));
  p->resize(320, 240);
  EXPECT_EQ(p->Height(), 240);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown(*p).width() == 320; }, FRAME_MS));
  EXPECT_TRUE(WaitFrame(*p, 61));  // read at the same places of the larger picture
  p->resize(80, 60);
  EXPECT_EQ(p->Height(), 60);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown(*p).width() == 80; }, FRAME_MS));
  EXPECT_TRUE(WaitFrame(*p, 61));
}

TEST_F(VideoTest, ClickReportsItsButton) {
  auto p = OpenPlayer(Clock());
  ASSERT_TRUE(WaitLoaded(*p));
  std::vector<int> buttons;
  // Before a handler is set a click goes nowhere.
  QTest::mouseClick(p.get(), Qt::LeftButton, {}, QPoint(40, 60));
  p->SetClickHandler([&](int b) { buttons.push_back(b); });
  const struct {
    Qt::MouseButton button;
    QPoint at;
  } clicks[] = {{Qt::LeftButton, {40, 60}},
                {Qt::RightButton, {120, 30}},
                {Qt::MiddleButton, {80, 60}},
                {Qt::LeftButton, {150, 110}}};
  for (const auto& c : clicks) QTest::mouseClick(p.get(), c.button, {}, c.at);
  EXPECT_EQ(buttons, (std::vector<int>{1, 2, 1}));
  p->SetClickHandler({});
  QTest::mouseClick(p.get(), Qt::RightButton, {}, QPoint(40, 60));
  EXPECT_EQ(buttons.size(), 3u);
}

TEST_F(VideoTest, PointerShapesComeFromTheWindowOrQt) {
  auto p = OpenPlayer(Clock());
  EXPECT_EQ(p->PointerShape(), 0);
  p->SetPointerShape(6);
  EXPECT_EQ(p->PointerShape(), 6);
  EXPECT_EQ(p->cursor().shape(), Qt::CrossCursor);
  p->SetPointerShape(10);
  EXPECT_EQ(p->cursor().shape(), Qt::PointingHandCursor);
  // The window's own pictures replace the standard cursors, also for the shape already shown.
  std::vector<int> asked;
  p->SetPointerShapes([&](int shape) {
    asked.push_back(shape);
    return QCursor(shape == 10 ? Qt::WaitCursor : Qt::BusyCursor);
  });
  EXPECT_EQ(p->cursor().shape(), Qt::WaitCursor);
  p->SetPointerShape(3);
  EXPECT_EQ(p->cursor().shape(), Qt::BusyCursor);
  p->SetPointerShape(3);  // the same shape again asks for nothing
  EXPECT_EQ(asked, (std::vector<int>{10, 3}));
  p->SetPointerShape(99);
  EXPECT_EQ(p->PointerShape(), 99);
}

TEST_F(VideoTest, FrameRateIsRoundedToAnInteger) {
  const struct {
    const char* rate;
    int expected;
  } cases[] = {{"24000/1001", 24}, {"30000/1001", 30}, {"12", 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const std::string path = s_dir->Path(std::string("rate") + std::to_string(c.expected) + ".mkv");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", std::string("testsrc=s=64x48:d=1:r=") + c.rate,
                           "-c:v", "mpeg4", path}));
    auto p = OpenPlayer(path);
    ASSERT_TRUE(WaitLoaded(*p));
    EXPECT_EQ(p->FrameRate(), c.expected);
  }
}

TEST_F(VideoTest, FileThatIsNoVideoIsReportedByNameAndWhy) {
  const std::string text = s_dir->Path("not a video.mp4");
  std::ofstream(text) << "this is text, not a video\n";
  const std::string sound = s_dir->Path("only sound.mp3");
  ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "sine=d=1", sound}));
  const struct {
    std::string path;
    std::string why;
  } cases[] = {{text, "文件格式不认识"}, {sound, "文件里没有视频画面"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto p = std::make_unique<MpvVideoWidget>();
    QSignalSpy failed(p.get(), &MpvVideoWidget::LoadFailed);
    p->resize(160, 120);
    p->show();
    p->Open(c.path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() > 0; }, LOAD_MS));
    const std::string message = failed.at(0).at(0).toString().toStdString();
    EXPECT_EQ(message.rfind(c.path + "\r视频无法播放：" + c.why, 0), 0u) << message;
    EXPECT_FALSE(p->IsLoaded());
    EXPECT_EQ(p->Duration(), 0);
    EXPECT_EQ(p->FrameRate(), 0);
    // Calls go on working on a player without a file.
    p->SetPosition(1.0);
    p->Play();
    p->Pause();
  }
}

TEST_F(VideoTest, SoftwareRendererCanBeChosenOnAnyPlatform) {
  MpvVideoWidget p(MpvVideoWidget::Renderer::Software);
  p.resize(160, 120);
  p.show();
  p.Open(Clock());
  EXPECT_EQ(p.ActiveRenderer(), MpvVideoWidget::Renderer::Software);
  ASSERT_TRUE(WaitLoaded(p));
  p.SetPosition(3.22);
  EXPECT_TRUE(WaitFrame(p, 80));
}

}  // namespace
}  // namespace tamsel

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
