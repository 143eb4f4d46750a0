#include "EditingInput.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EdgeTracking.h"
#include "EditingStrip.h"
#include "MainWindow.h"
#include "PlaybackLoop.h"
#include "SimulatedDevices.h"
#include "SubtitleLoad.h"
#include "TestSupport.h"
#include "TimeText.h"

namespace tamsel {
namespace {

constexpr int PLAYER_HEIGHT = 300;

/// A simulated player whose seeks can be made to fail, as a player fails that lost its video.
class FailingPlayer : public SimulatedVideoPlayer {
 public:
  using SimulatedVideoPlayer::SimulatedVideoPlayer;
  void SetPosition(double seconds) override {
    if (failing) throw MediaError("播放器出错");
    SimulatedVideoPlayer::SetPosition(seconds);
  }
  bool failing = false;
};

/// Simulated devices for the window: a 60 s video at 25 frames per second, PLAYER_HEIGHT high.
class TestFactory : public SimulatedMediaFactory {
 public:
  explicit TestFactory(const Clock& clock) : SimulatedMediaFactory(clock), m_clock(clock) {}
  std::unique_ptr<VideoPlayer> CreateVideoPlayer(const std::string&) override {
    auto p = std::make_unique<FailingPlayer>(m_clock, 60.0, 25, PLAYER_HEIGHT);
    player = p.get();
    return p;
  }
  /// The sound made next: the WAV mapped as the real output maps it (moved by the clock) rather
  /// than a stand-in.
  std::unique_ptr<SoundOutput> CreateSoundOutput(const std::string& wavPath,
                                                 TReadWaveFile& wave) override {
    if (!mapSound) return SimulatedMediaFactory::CreateSoundOutput(wavPath, wave);
    std::string problem;
    auto sound = SoundBuffer::MapWave(wavPath, wave, problem);
    EXPECT_EQ(problem, "");
    sound->RunOnClock(&m_clock);
    return sound;
  }
  FailingPlayer* player = nullptr;
  bool mapSound = false;

 private:
  const Clock& m_clock;
};

/// The window on the offscreen platform editing a prepared 60 s video on simulated devices:
/// stereo 48 kHz sound, side files, and an SRT file of three entries at 10 s, 20 s and 30 s.
struct EditingWindow {
  test::TempDir dir;
  ManualClock clock;
  TestFactory* factory = nullptr;
  bool mapSound = false;  ///< the factories made from now on map the WAV
  std::vector<std::string> messages;
  std::unique_ptr<TForm1> w;

  explicit EditingWindow(int powerClass = 0, bool enter = true) {
    const std::string base = dir.Path("v");
    test::WriteBytes(base + ".mp4", "");
    test::WriteWav(base + ".wav", 1, 2, 48000, 16, 60 * 192000, 60 * 192000);
    test::WriteBytes(base + ".ws", std::string(6000 * 2, '\0'));
    test::WriteBytes(base + ".ai", test::AiFile(6000, {}, {}));
    test::WriteBytes(base + ".srt",
                     "1\r\n00:00:10,000 --> 00:00:12,000\r\nOne\r\n\r\n"
                     "2\r\n00:00:20,000 --> 00:00:22,000\r\nTwo\r\n\r\n"
                     "3\r\n00:00:30,000 --> 00:00:32,000\r\nThree\r\n\r\n");
    WindowOptions o;
    o.exeDir = dir.Path();
    o.settingsPath = dir.Path("settings.ini");
    o.showMessage = [this](const std::string& m) { messages.push_back(m); };
    o.mediaFactory = [this]() -> std::unique_ptr<MediaFactory> {
      auto f = std::make_unique<TestFactory>(clock);
      f->mapSound = mapSound;
      factory = f.get();
      return f;
    };
    w = std::make_unique<TForm1>(o);
    w->resize(1000, 700);
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->activateWindow();
    EditorState& st = w->State();
    st.Ctrl.RadioGroupPower = powerClass;
    st.Ctrl.chkBoxAIenable = false;  // every edit does exactly what it asks
    st.VideoFileName = base + ".mp4";
    st.BaseFileName = base;
    st.WavFileName = base + ".wav";
    st.WsFileName = base + ".ws";
    st.AiFileName = base + ".ai";
    EXPECT_TRUE(SubtitleLoad(st, 0));
    st.SubCurr = 0;
    if (!enter) return;
    w->ImageReadyGoClick();
    EXPECT_EQ(st.ReadyState, 2) << ::testing::PrintToString(messages);
    EXPECT_TRUE(w->Input()->Started());
    st.ActiveSub = 0;
  }
  ~EditingWindow() {
    if (w) w->close();
  }

  EditorState& St() { return w->State(); }
  QWindow* Handle() { return w->windowHandle(); }
  /// A point of the window's own surface below the video, clear of every control.
  QPoint BareSurface(int x) const { return QPoint(x, PLAYER_HEIGHT + 10); }

  /// One notch of the wheel (or any delta) over the window at `at`, as the platform sends it.
  void Wheel(int delta, QPoint at, Qt::MouseButtons buttons = Qt::NoButton,
             Qt::KeyboardModifiers keys = Qt::NoModifier, bool sideways = false) {
    const QPoint angle = sideways ? QPoint(delta, 0) : QPoint(0, delta);
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), angle, buttons, keys, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Handle(), &e);
  }
  /// A key pressed as the platform sends it: to the window, before any control sees it.
  void Press(Qt::Key key, Qt::KeyboardModifiers keys = Qt::NoModifier, const QString& text = {}) {
    QKeyEvent e(QEvent::KeyPress, key, keys, text);
    QApplication::sendEvent(Handle(), &e);
  }
};

/// A mouse event as the platform delivers it to `w`: a press, a double click or a move with
/// `button` held (Qt::NoButton: a move with nothing held), or the release of `button`.
void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
  const Qt::MouseButton changed = type == QEvent::MouseMove ? Qt::NoButton : button;
  QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), changed, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

TEST(EditingInput, VirtualKeysOfQtKeys) {
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    int vk;
  } cases[] = {
      {Qt::Key_S, Qt::NoModifier, 83},
      {Qt::Key_S, Qt::ControlModifier, 83},
      {Qt::Key_S, Qt::ShiftModifier, 83},
      {Qt::Key_X, Qt::NoModifier, 88},
      {Qt::Key_Space, Qt::NoModifier, 32},
      {Qt::Key_Left, Qt::ShiftModifier, 37},
      {Qt::Key_Up, Qt::NoModifier, 38},
      {Qt::Key_Right, Qt::KeypadModifier, 39},
      {Qt::Key_Down, Qt::NoModifier, 40},
      {Qt::Key_1, Qt::NoModifier, 49},
      {Qt::Key_6, Qt::ControlModifier, 54},
      {Qt::Key_1, Qt::KeypadModifier, 0},  // the number pad's digits are other keys
      {Qt::Key_Exclam, Qt::ShiftModifier, 49},
      {Qt::Key_At, Qt::ShiftModifier, 50},
      {Qt::Key_NumberSign, Qt::ShiftModifier, 51},
      {Qt::Key_Dollar, Qt::ShiftModifier, 52},
      {Qt::Key_Percent, Qt::ShiftModifier, 53},
      {Qt::Key_AsciiCircum, Qt::ShiftModifier, 54},
      {Qt::Key_Exclam, Qt::NoModifier, 0},
      {Qt::Key_Alt, Qt::AltModifier, 18},
      {Qt::Key_F1, Qt::NoModifier, 0},
      {Qt::Key_Return, Qt::NoModifier, 0},
  };
  for (const auto& c : cases) {
    const QKeyEvent e(QEvent::KeyPress, c.key, c.mods);
    EXPECT_EQ(VirtualKeyOf(e), c.vk) << std::hex << c.key << " " << c.mods;
  }
}

TEST(EditingInput, WheelKeyStates) {
  const struct {
    Qt::MouseButtons buttons;
    Qt::KeyboardModifiers mods;
    int state;
  } cases[] = {
      {Qt::NoButton, Qt::NoModifier, 0},
      {Qt::NoButton, Qt::ShiftModifier, 4},
      {Qt::NoButton, Qt::ControlModifier, 8},
      {Qt::NoButton, Qt::AltModifier, 0},
      {Qt::LeftButton, Qt::NoModifier, 1},
      {Qt::RightButton, Qt::ShiftModifier, 6},
      {Qt::MiddleButton, Qt::NoModifier, 16},
      {Qt::BackButton | Qt::ForwardButton, Qt::NoModifier, 96},
  };
  for (const auto& c : cases) {
    const QWheelEvent e(QPointF(), QPointF(), QPoint(), QPoint(0, 120), c.buttons, c.mods,
                        Qt::NoScrollPhase, false);
    EXPECT_EQ(WheelKeyStateOf(e), c.state) << c.buttons << " " << c.mods;
  }
}

TEST(EditingInput, KeysActWhicheverControlHasTheFocusAndStillReachIt) {
  EditingWindow t;
  EditorState& st = t.St();
  // A text field of the editing screen has the focus; the keys are typed as the platform
  // delivers them.
  auto* field = new QLineEdit(t.w->EditingFace);
  field->setGeometry(10, PLAYER_HEIGHT + 5, 80, 20);
  field->show();
  field->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }));
  QTest::keyClick(t.Handle(), Qt::Key_S);  // the active subtitle 0.20 s earlier
  EXPECT_EQ(st.Subs[0].TimeIn, 980);
  EXPECT_EQ(st.Subs[0].TimeOut, 1180);
  QTest::keyClick(t.Handle(), Qt::Key_S, Qt::ControlModifier);  // Ctrl+S acts as S
  EXPECT_EQ(st.Subs[0].TimeIn, 960);
  QTest::keyClick(t.Handle(), Qt::Key_Up);  // the out point later
  EXPECT_EQ(st.Subs[0].TimeOut, 1180);
  QTest::keyClick(t.Handle(), Qt::Key_3);
  EXPECT_TRUE(st.HeadTailOnly && st.DialogueOnly);
  QTest::keyClick(t.Handle(), Qt::Key_2);
  EXPECT_FALSE(st.HeadTailOnly || st.DialogueOnly || st.LoopMode);
  QTest::keyClick(t.Handle(), Qt::Key_6);
  EXPECT_EQ(st.StepFactor, 3);
  QTest::keyClick(t.Handle(), Qt::Key_F);  // coarse: 0.60 s
  EXPECT_EQ(st.Subs[0].TimeIn, 1020);
  const bool style = st.Ctrl.CheckBoxSoundStyle;
  t.Press(Qt::Key_Exclam, Qt::ShiftModifier, "!");  // Shift+1 is still 1
  EXPECT_NE(st.Ctrl.CheckBoxSoundStyle, style);
  t.Press(Qt::Key_1, Qt::KeypadModifier, "1");  // the number pad's 1 is not
  EXPECT_NE(st.Ctrl.CheckBoxSoundStyle, style);
  t.Press(Qt::Key_F, Qt::AltModifier);  // nor is a key pressed with Alt
  EXPECT_EQ(st.Subs[0].TimeIn, 1020);
  // The keys were not taken from the field.
  EXPECT_TRUE(field->text().startsWith("s")) << field->text().toStdString();
  EXPECT_TRUE(field->text().endsWith("326f!1")) << field->text().toStdString();
}

TEST(EditingInput, AltRedrawsTheStripOnce) {
  EditingWindow t;
  EditorState& st = t.St();
  st.WaveRedraw = false;
  t.Press(Qt::Key_Alt, Qt::AltModifier);
  EXPECT_TRUE(st.WaveRedraw);
  EXPECT_TRUE(st.AltSeen);
  st.WaveRedraw = false;
  t.Press(Qt::Key_Alt, Qt::AltModifier);
  EXPECT_FALSE(st.WaveRedraw);
}

TEST(EditingInput, TheWheelSeeksOffTheStripAndMovesTheSubtitleOnIt) {
  EditingWindow t;
  EditorState& st = t.St();
  // Over the video, frame step 40 ms, TrackBarAutoVolCtrlSpeed 2: 320 ms a notch.
  st.FrameStep = 40;
  st.Ctrl.TrackBarAutoVolCtrlSpeed = 2;
  st.PlayPos = 15000;
  st.MouseX = 500;
  st.MouseY = PLAYER_HEIGHT / 2;
  t.Wheel(-120, QPoint(500, PLAYER_HEIGHT / 2));
  EXPECT_EQ(st.PlayPos, 15320);
  // Both devices were seeked there.
  EXPECT_DOUBLE_EQ(t.factory->player->Position(), 15.32);
  EXPECT_EQ(t.factory->Sound()->Cursor(), SoundOffsetOf(st, 15320));
  st.MouseY = PLAYER_HEIGHT / 2;
  t.Wheel(120, QPoint(500, PLAYER_HEIGHT / 2));
  EXPECT_EQ(st.PlayPos, 15000);
  // A notch with a button held or a finer delta moves nothing.
  st.MouseY = PLAYER_HEIGHT / 2;
  t.Wheel(120, QPoint(500, PLAYER_HEIGHT / 2), Qt::LeftButton);
  t.Wheel(40, QPoint(500, PLAYER_HEIGHT / 2));
  EXPECT_EQ(st.PlayPos, 15000);
  // A fine wheel or a touchpad turns in parts: a notch counts once they add up to one, and a
  // turn the other way starts again.
  st.MouseY = PLAYER_HEIGHT / 2;
  t.Wheel(50, QPoint(500, PLAYER_HEIGHT / 2));
  EXPECT_EQ(st.PlayPos, 15000);
  t.Wheel(30, QPoint(500, PLAYER_HEIGHT / 2));
  EXPECT_EQ(st.PlayPos, 14680);  // 40 + 50 + 30: one notch away from the user
  t.Wheel(-110, QPoint(500, PLAYER_HEIGHT / 2));
  t.Wheel(20, QPoint(500, PLAYER_HEIGHT / 2));
  t.Wheel(-110, QPoint(500, PLAYER_HEIGHT / 2));
  EXPECT_EQ(st.PlayPos, 14680);
  st.PlayPos = 15000;
  // A tilted wheel is another message; with Alt held Qt turns the wheel itself sideways, and
  // that is still a notch (Alt gives no key state of its own).
  t.Wheel(-120, QPoint(500, PLAYER_HEIGHT / 2), Qt::NoButton, Qt::NoModifier, true);
  EXPECT_EQ(st.PlayPos, 15000);
  st.MouseY = PLAYER_HEIGHT / 2;
  t.Wheel(-120, QPoint(500, PLAYER_HEIGHT / 2), Qt::NoButton, Qt::AltModifier, true);
  EXPECT_EQ(st.PlayPos, 15320);
  st.PlayPos = 15000;

  // On the strip (entered: playback stops) the active subtitle moves with the view, by
  // (TrackBarMouseStep + 1) * 20 ms = 2 slots a notch below the video.
  t.w->Input()->StripEnter();
  EXPECT_TRUE(st.OverWave);
  EXPECT_EQ(st.PlayRate, 0.0);
  st.MouseY = st.Panel1Top + 100;
  t.Wheel(-120, QPoint(500, st.Panel1Top + 100));
  EXPECT_EQ(st.Subs[0].TimeIn, 1002);
  EXPECT_EQ(st.PlayPos, 15020);
  t.w->Input()->StripLeave();
  EXPECT_FALSE(st.OverWave);
}

TEST(EditingInput, TheWheelOverThePositionBarIsTheHooksAlone) {
  EditingWindow t;
  EditorState& st = t.St();
  st.ScrollBarPlayPost = ScrollBarState{true, true, 6000, 60, 1000, 500, 1500, ""};
  t.w->Input()->ShowState();
  PositionBar* bar = t.w->Input()->ScrollBarPlayPost;
  ASSERT_TRUE(bar->isVisible());
  // Along the bottom of the window, the whole width.
  EXPECT_EQ(bar->geometry(), QRect(0, t.w->height() - 17, t.w->width(), 17));
  EXPECT_EQ(bar->value(), 1500);
  EXPECT_EQ(bar->maximum(), 6000 - 60 + 1);
  EXPECT_EQ(bar->cursor().shape(), Qt::ArrowCursor);  // not the window's scrub pointer
  st.FrameStep = 40;
  st.PlayPos = 15000;
  st.MouseY = t.w->height() - 8;  // below the video: (0 + 1) * 20 ms a notch, 10 times
  const QPoint on = bar->geometry().center();
  t.Wheel(-120, on);
  EXPECT_EQ(st.PlayPos, 15000 + 20 * (10 - st.Ctrl.TrackBarAutoVolCtrlSpeed));
  EXPECT_EQ(bar->value(), 1500);
}

TEST(EditingInput, ThePositionBarSeeksOnlyUnderThePointer) {
  EditingWindow t;
  EditorState& st = t.St();
  st.ScrollBarPlayPost = ScrollBarState{true, true, 6000, 60, 1000, 500, 1500, ""};
  t.w->Input()->ShowState();
  PositionBar* bar = t.w->Input()->ScrollBarPlayPost;
  st.PlayPos = 15000;
  // A click in the trough: one large change of 10 s, but the pointer is not over the bar.
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(bar->value(), 2500);
  EXPECT_EQ(st.PlayPos, 15000);
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), bar->mapToGlobal(QPointF(5, 5)));
  QApplication::sendEvent(bar, &enter);
  EXPECT_TRUE(st.OverPositionBar);
  // Now it seeks; the sound plays once from there.
  t.factory->Sound()->Stop();
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(bar->value(), 3500);
  EXPECT_EQ(st.PlayPos, 35000);
  EXPECT_EQ(st.ScrollBarPlayPost.Hint, IntToTimeAssStr(3500));
  EXPECT_DOUBLE_EQ(t.factory->player->Position(), 35.0);
  EXPECT_EQ(t.factory->Sound()->Cursor(), SoundOffsetOf(st, 35000));
  EXPECT_TRUE(t.factory->Sound()->Playing());
  EXPECT_EQ(st.ScrollBarPlayPost.Position, 3500);
  // An arrow: one small change of 5 s.
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(st.PlayPos, 30000);
  // Dragging the thumb to the end stops at the end of the bar.
  bar->setSliderPosition(9999);
  bar->triggerAction(QAbstractSlider::SliderMove);
  EXPECT_EQ(st.PlayPos, (6000 - 60 + 1) * 10);
  // Held on the thumb while playback goes on, then let go: back to where the thumb stands.
  bar->setSliderDown(true);
  bar->setSliderPosition(2000);
  bar->triggerAction(QAbstractSlider::SliderMove);
  EXPECT_EQ(st.PlayPos, 20000);
  st.PlayPos = 21000;
  bar->setSliderDown(false);
  EXPECT_EQ(st.PlayPos, 20000);
  EXPECT_DOUBLE_EQ(t.factory->player->Position(), 20.0);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(bar, &leave);
  EXPECT_FALSE(st.OverPositionBar);
  // The loop moving the bar is not the user's scroll.
  st.ScrollBarPlayPost.Position = 100;
  t.w->Input()->ShowState();
  EXPECT_EQ(bar->value(), 100);
  EXPECT_EQ(st.PlayPos, 20000);
}

TEST(EditingInput, ClicksOnTheVideoSetTheInAndOutPoints) {
  EditingWindow t;
  EditorState& st = t.St();
  st.PlayPos = 10505;  // 1050.5: halves to even
  t.factory->player->Click(1);
  EXPECT_EQ(st.Subs[0].TimeIn, 1050);
  st.PlayPos = 11555;
  t.factory->player->Click(2);
  EXPECT_EQ(st.Subs[0].TimeOut, 1156);
  t.factory->player->Click(3);
  EXPECT_EQ(st.Subs[0].TimeIn, 1050);
  EXPECT_EQ(st.Subs[0].TimeOut, 1156);
}

TEST(EditingInput, APressBelowTheVideoScrubsAndADoubleClickJumps) {
  EditingWindow t;
  EditorState& st = t.St();
  QWidget* surface = t.w->EditingFace;
  st.PlayPos = 25000;
  st.MouseX = 600;
  st.MouseY = PLAYER_HEIGHT + 10;
  QTest::mousePress(surface, Qt::LeftButton, {}, t.BareSurface(600));
  EXPECT_TRUE(st.DragHeld);
  EXPECT_EQ(st.ReplayState, -1);
  EXPECT_EQ(surface->cursor().shape(), Qt::ArrowCursor);
  // 10 px to the right: 100 ms back; both devices follow.
  st.MouseX = 610;
  QTest::mouseMove(surface, t.BareSurface(610));
  EXPECT_EQ(st.PlayPos, 24900);
  EXPECT_DOUBLE_EQ(t.factory->player->Position(), 24.9);
  EXPECT_EQ(t.factory->Sound()->Cursor(), SoundOffsetOf(st, 24900));
  QTest::mouseRelease(surface, Qt::LeftButton, {}, t.BareSurface(610));
  EXPECT_FALSE(st.DragHeld);
  st.MouseX = 700;
  Send(surface, QEvent::MouseMove, t.BareSurface(700), Qt::NoButton);
  EXPECT_EQ(st.PlayPos, 24900);
  EXPECT_EQ(surface->cursor().shape(), Qt::DragMoveCursor);

  // A press over the video is the video's, not a scrub.
  st.MouseY = PLAYER_HEIGHT - 1;
  Send(surface, QEvent::MouseButtonPress, QPoint(600, PLAYER_HEIGHT - 1), Qt::LeftButton);
  EXPECT_FALSE(st.DragHeld);
  // A press that a control of the editing screen lets pass is the control's.
  st.MouseY = PLAYER_HEIGHT + 100;
  Send(t.w->PaintBoxBack, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
  EXPECT_FALSE(st.DragHeld);

  // Double clicks: the right half (from the centre column) jumps ahead, the left half back.
  st.PlayRate = 0;
  st.PlayPos = 15000;  // between the first and the second subtitle
  RefreshEdge(st);
  const int32_t ahead = 15000 < st.CurBegin ? st.CurBegin : st.NextBegin;
  const int32_t back = st.PrevBegin;
  ASSERT_NE(ahead, back);
  st.MouseX = t.w->width() / 2;
  st.MouseY = PLAYER_HEIGHT + 10;
  Send(surface, QEvent::MouseButtonDblClick, t.BareSurface(t.w->width() / 2), Qt::LeftButton);
  EXPECT_EQ(st.PlayPos, ahead);
  EXPECT_DOUBLE_EQ(t.factory->player->Position(), ahead / 1000.0);
  EXPECT_TRUE(st.DragHeld);  // the second press of a double click is a press too
  Send(surface, QEvent::MouseButtonRelease, t.BareSurface(t.w->width() / 2), Qt::LeftButton);
  EXPECT_FALSE(st.DragHeld);
  st.PlayPos = 15000;
  RefreshEdge(st);
  st.MouseX = t.w->width() / 2 - 1;
  Send(surface, QEvent::MouseButtonDblClick, t.BareSurface(t.w->width() / 2 - 1), Qt::LeftButton);
  EXPECT_EQ(st.PlayPos, back);
  Send(surface, QEvent::MouseButtonRelease, t.BareSurface(t.w->width() / 2 - 1), Qt::LeftButton);
  // Only the left button double-clicks: a quick second press of the right or middle button
  // is a press, which starts a scrub and jumps nowhere.
  for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
    st.PlayPos = 15000;
    RefreshEdge(st);
    st.MouseX = t.w->width() - 10;
    Send(surface, QEvent::MouseButtonDblClick, t.BareSurface(t.w->width() - 10), button);
    EXPECT_EQ(st.PlayPos, 15000);
    EXPECT_TRUE(st.DragHeld);
    Send(surface, QEvent::MouseButtonRelease, t.BareSurface(t.w->width() - 10), button);
  }
}

TEST(EditingInput, AScrubOrADragWhoseReleaseWasLostEndsAtTheNextMove) {
  EditingWindow t;
  EditorState& st = t.St();
  QWidget* surface = t.w->EditingFace;
  st.PlayPos = 25000;
  st.MouseX = 600;
  st.MouseY = PLAYER_HEIGHT + 10;
  Send(surface, QEvent::MouseButtonPress, t.BareSurface(600), Qt::LeftButton);
  ASSERT_TRUE(st.DragHeld);
  // The release went elsewhere; the next move comes with no button held.
  st.MouseX = 640;
  Send(surface, QEvent::MouseMove, t.BareSurface(640), Qt::NoButton);
  EXPECT_FALSE(st.DragHeld);
  EXPECT_EQ(st.PlayPos, 25000);

  EditingInput* in = t.w->Input();
  in->StripEnter();
  st.MouseY = st.Panel1Top + 100;
  in->StripPress(Qt::LeftButton, 300);
  ASSERT_TRUE(st.Dragging);
  in->StripMove(320, 100, Qt::NoButton);
  EXPECT_FALSE(st.Dragging);
  EXPECT_EQ(st.Subs[0].TimeIn, 1000);
}

TEST(EditingInput, ThePointerOnTheStripReachesTheDragsAndShowsTheirShape) {
  EditingWindow t;
  EditorState& st = t.St();
  ASSERT_NE(t.w->Strip, nullptr);
  QWidget* wav = t.w->Strip->PaintWav;
  QEnterEvent enter(QPointF(300, 100), wav->mapTo(t.w.get(), QPointF(300, 100)),
                    wav->mapToGlobal(QPointF(300, 100)));
  QApplication::sendEvent(wav, &enter);
  EXPECT_TRUE(st.OverWave);
  // The cut band shows the text cursor; below it the drag's own shape.
  Send(wav, QEvent::MouseMove, QPoint(300, 50), Qt::NoButton);
  EXPECT_EQ(wav->cursor().shape(), Qt::IBeamCursor);
  Send(wav, QEvent::MouseMove, QPoint(300, 100), Qt::NoButton);
  EXPECT_EQ(wav->cursor().shape(), Qt::DragMoveCursor);
  st.MouseY = st.Panel1Top + 100;
  Send(wav, QEvent::MouseButtonPress, QPoint(300, 100), Qt::LeftButton);
  ASSERT_TRUE(st.Dragging);
  Send(wav, QEvent::MouseMove, QPoint(340, 100), Qt::LeftButton);
  EXPECT_EQ(st.Subs[0].TimeIn, 1040);
  EXPECT_EQ(st.Subs[0].TimeOut, 1240);
  Send(wav, QEvent::MouseButtonRelease, QPoint(340, 100), Qt::LeftButton);
  EXPECT_FALSE(st.Dragging);
  // The shape stays through a drag as the hover left it; the drag ends when any button is let
  // go, also while another is still held (the moves after it only hover).
  Send(wav, QEvent::MouseMove, QPoint(340, 50), Qt::NoButton);
  ASSERT_EQ(wav->cursor().shape(), Qt::IBeamCursor);
  Send(wav, QEvent::MouseButtonPress, QPoint(340, 100), Qt::LeftButton);
  ASSERT_TRUE(st.Dragging);
  QMouseEvent right(QEvent::MouseButtonPress, QPointF(340, 100),
                    wav->mapToGlobal(QPointF(340, 100)), Qt::RightButton,
                    Qt::LeftButton | Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(wav, &right);
  Send(wav, QEvent::MouseMove, QPoint(360, 100), Qt::LeftButton);
  EXPECT_EQ(wav->cursor().shape(), Qt::IBeamCursor);
  EXPECT_EQ(st.Subs[0].TimeIn, 1060);
  QMouseEvent rightUp(QEvent::MouseButtonRelease, QPointF(360, 100),
                      wav->mapToGlobal(QPointF(360, 100)), Qt::RightButton, Qt::LeftButton,
                      Qt::NoModifier);
  QApplication::sendEvent(wav, &rightUp);
  EXPECT_FALSE(st.Dragging);
  Send(wav, QEvent::MouseMove, QPoint(380, 100), Qt::LeftButton);
  EXPECT_EQ(st.Subs[0].TimeIn, 1060);
  Send(wav, QEvent::MouseButtonRelease, QPoint(380, 100), Qt::LeftButton);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(wav, &leave);
  EXPECT_FALSE(st.OverWave);
}

TEST(EditingInput, AResizeDuringAStripDragKeepsTheSubtitleUnderThePointer) {
  // With the second power class the strip is at most 1024 px wide and centred: widening the
  // window from 1000 to 1400 px moves its first column from 70 to 188.
  EditingWindow t(/*powerClass=*/1);
  EditorState& st = t.St();
  ASSERT_EQ(st.Panel1Left, 70);
  EditingInput* in = t.w->Input();
  in->StripEnter();
  st.MouseY = st.Panel1Top + 100;  // below the cut band
  in->StripPress(Qt::LeftButton, 300);
  t.w->resize(1400, 700);
  ASSERT_TRUE(QTest::qWaitFor([&] { return st.Panel1Left == 188; }));
  // The pointer has not moved: it is now at column 300 - 118 of the strip.
  in->StripMove(300 - 118, 100, Qt::LeftButton);
  EXPECT_EQ(st.Subs[0].TimeIn, 1000);
  in->StripMove(340 - 118, 100, Qt::LeftButton);
  EXPECT_EQ(st.Subs[0].TimeIn, 1040);
  in->StripRelease();
  EXPECT_FALSE(st.Dragging);
}

/// How many file descriptors the process holds.
int OpenFiles() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(EditingInput, LeavingAndEnteringAgainLeavesNothingBehind) {
  EditingWindow t;
  EditorState& st = t.St();
  const auto objects = [&] { return t.w->findChildren<QObject*>().size(); };
  // The first round makes what is kept between sessions (the strip's widgets).
  t.w->PaintBoxBackClick();
  t.w->ImageReadyGoClick();
  ASSERT_EQ(st.ReadyState, 2);
  const auto before = objects();
  const int files = OpenFiles();
  for (int i = 0; i < 20; ++i) {
    t.w->PaintBoxBackClick();
    ASSERT_EQ(st.ReadyState, 1);
    ASSERT_FALSE(t.w->Input()->Started());
    t.w->ImageReadyGoClick();
    ASSERT_EQ(st.ReadyState, 2) << ::testing::PrintToString(t.messages);
    ASSERT_TRUE(t.w->Input()->Started());
  }
  EXPECT_EQ(objects(), before);
  EXPECT_EQ(OpenFiles(), files);
  // The hook is installed once: a key acts once.
  st.ActiveSub = 0;
  const int32_t out = st.Subs[0].TimeOut;
  t.Press(Qt::Key_E, Qt::NoModifier, "e");
  EXPECT_EQ(st.Subs[0].TimeOut, out + 20);
}

TEST(EditingInput, KeysAndTheWheelAnsweringAMessageBoxAreLeftToIt) {
  EditingWindow t;
  EditorState& st = t.St();
  const int32_t in = st.Subs[0].TimeIn;
  const int32_t pos = st.PlayPos;
  QMessageBox box(QMessageBox::Information, "Tamsel", "message", QMessageBox::Ok, t.w.get());
  box.setWindowModality(Qt::ApplicationModal);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  ASSERT_EQ(QApplication::activeModalWidget(), &box);
  for (QWindow* target : {box.windowHandle(), t.Handle()}) {
    QKeyEvent s(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier, "s");
    QApplication::sendEvent(target, &s);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(target, &space);
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &wheel);
  }
  EXPECT_EQ(st.Subs[0].TimeIn, in);
  EXPECT_EQ(st.ReplayState, 0);
  EXPECT_EQ(st.PlayPos, pos);
  box.close();
  ASSERT_EQ(QApplication::activeModalWidget(), nullptr);
  t.Press(Qt::Key_S, Qt::NoModifier, "s");
  EXPECT_EQ(st.Subs[0].TimeIn, in - 20);
}

TEST(EditingInput, KeysDoNothingWithoutAVideoOpen) {
  // The start screen: nothing is installed, nothing acts.
  EditingWindow start(0, /*enter=*/false);
  EditorState& st = start.St();
  EXPECT_FALSE(start.w->Input()->Started());
  const std::vector<TSub> before = st.Subs;
  for (Qt::Key k : {Qt::Key_S, Qt::Key_F, Qt::Key_E, Qt::Key_D, Qt::Key_R, Qt::Key_W, Qt::Key_X,
                    Qt::Key_C, Qt::Key_V, Qt::Key_A, Qt::Key_Space, Qt::Key_Left, Qt::Key_1,
                    Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5, Qt::Key_6}) {
    start.Press(k);
  }
  start.Wheel(120, QPoint(10, 10));
  // Even with the ready state of editing (as while the window closes), no key reaches the
  // document without a video open.
  st.ReadyState = 2;
  start.Press(Qt::Key_S);
  start.Press(Qt::Key_V);
  start.Wheel(-120, QPoint(10, 10));
  st.ReadyState = 1;
  ASSERT_EQ(st.Subs.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(st.Subs[i].TimeIn, before[i].TimeIn);
    EXPECT_EQ(st.Subs[i].TimeOut, before[i].TimeOut);
  }
  EXPECT_FALSE(st.SubDirty || st.DialogueOnly || st.HeadTailOnly);
  EXPECT_EQ(st.StepFactor, 1);
  EXPECT_EQ(st.PlayPos, 0);

  // Back from editing: the hook is gone with the video.
  EditingWindow t;
  t.w->PaintBoxBackClick();
  EXPECT_FALSE(t.w->Input()->Started());
  EXPECT_EQ(t.St().ReadyState, 1);
  t.Press(Qt::Key_F);
  t.Press(Qt::Key_4);
  EXPECT_EQ(t.St().Subs[0].TimeIn, 1000);
  EXPECT_FALSE(t.St().LoopMode);
}

TEST(EditingInput, ADeviceThatFailsInASeekEndsEditingWithAMessage) {
  EditingWindow t;
  EditorState& st = t.St();
  t.factory->player->failing = true;
  st.PrevBegin = 5000;
  t.Press(Qt::Key_W);  // jump back: seeks both
  EXPECT_EQ(st.PlayPos, 5000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return st.ReadyState == 1; }));
  ASSERT_FALSE(t.messages.empty());
  EXPECT_NE(t.messages[0].find("播放器出错"), std::string::npos) << t.messages[0];
  EXPECT_FALSE(t.w->Input()->Started());
}

#ifndef _WIN32  // a mapped file cannot be cut there
TEST(EditingInput, AWavCutWhileEditingEndsEditingWithTheEditsSavedAndTheUserTold) {
  // Another program cuts the WAV to 1 MB while an edit waits for the autosave.
  EditingWindow t(0, /*enter=*/false);
  t.mapSound = true;
  EditorState& st = t.St();
  const std::string wav = st.WavFileName;
  const std::string srt = st.BaseFileName + ".srt";
  t.w->ImageReadyGoClick();
  ASSERT_EQ(st.ReadyState, 2) << ::testing::PrintToString(t.messages);
  st.ActiveSub = 0;
  t.Press(Qt::Key_S);  // the first subtitle 0.20 s earlier
  ASSERT_EQ(st.Subs[0].TimeIn, 980);
  ASSERT_TRUE(st.SubDirty);
  std::filesystem::resize_file(ToPath(wav), 1 << 20);

  ASSERT_TRUE(QTest::qWaitFor([&] { return st.ReadyState == 1; }));
  ASSERT_EQ(t.messages.size(), 1u);
  EXPECT_EQ(t.messages[0],
            wav +
                "\n声音文件在播放时被截短了（原有11520044字节，现在只有1048576字节），"
                "截掉的声音无法再播放。\n编辑已停止，字幕的修改都已保存。\n"
                "要重新提取声音，请删掉这个声音文件，再重新打开视频。");
  EXPECT_FALSE(st.SubDirty);
  EXPECT_NE(test::ReadBytes(srt).find("00:00:09,800 --> 00:00:11,800"), std::string::npos)
      << test::ReadBytes(srt);
  EXPECT_FALSE(t.w->Input()->Started());
  // The side files were made from the whole sound: the video is no longer ready, and the ready
  // picture, were it clicked, says why.
  EXPECT_FALSE(st.Pictures.ImageReadyGo);
  EXPECT_TRUE(st.Pictures.ImageNotReady);
  t.w->ImageReadyGoClick();
  EXPECT_EQ(st.ReadyState, 1);
  ASSERT_EQ(t.messages.size(), 2u);
  EXPECT_TRUE(t.messages[1].starts_with(wav + "\n声音文件与波形文件")) << t.messages[1];
}
#endif

}  // namespace
}  // namespace tamsel
