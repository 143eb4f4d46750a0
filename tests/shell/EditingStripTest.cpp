#include "EditingStrip.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QTest>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ChildProcess.h"
#include "FileIo.h"
#include "MainWindow.h"
#include "StripSound.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

using test::Times;

constexpr int32_t CLIENT_WIDTH = 784, CLIENT_HEIGHT = 599;

int8_t TopOf(int64_t slot) { return static_cast<int8_t>(12 + slot % 37); }
int8_t BottomOf(int64_t slot) { return static_cast<int8_t>(-(3 + slot % 29)); }

/// The editing face of a window CLIENT_WIDTH x CLIENT_HEIGHT with the strip laid out on it, as
/// entering editing leaves it, over `slots` slots of sound with the given entries.
struct Face {
  EditorState st;
  QWidget face;
  EditingStrip* strip = nullptr;
  EditingLayout layout;

  Face(int32_t slots, const Times& times, int power = 1) {
    test::GiveStripSound(st, slots, times, TopOf, BottomOf);
    st.Ctrl.RadioGroupPower = power;
    st.PlayRate = 0;
    st.ActiveSub = -1;
    st.ReadyState = 2;
    st.Timer4ShowWavEnabled = true;
    face.resize(CLIENT_WIDTH, CLIENT_HEIGHT);
    face.setAutoFillBackground(true);
    QPalette black = face.palette();
    black.setColor(QPalette::Window, Qt::black);
    face.setPalette(black);
    face.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&face));
    strip = new EditingStrip(st, &face);
    LayOut();
    strip->Start();
  }

  void LayOut() {
    const int32_t cw = face.width(), ch = face.height();
    const EditingHeights heights{17, 32, 128, strip->LabelStrHeight(cw, ch)};
    layout = LayOutEditing(cw, ch, st.Ctrl.RadioGroupPower, heights);
    PlaceStripPanel(st, layout.panel.left, layout.panel.top, layout.panel.width);
    strip->LayOut(layout, cw, ch);
  }

  /// One tick at `playPos`.
  void TickAt(int32_t playPos) {
    st.PlayPos = playPos;
    strip->Timer4ShowWavTimer();
  }

  /// The strip as it appears on screen.
  QImage Shot() const { return strip->PaintWav->grab().toImage(); }
  /// The strip's column of `slot`.
  int32_t Column(int64_t slot) const { return int32_t(slot - st.ViewStart / 2); }
};

/// The first pixel where the strip on screen differs from the strip the core drew; "" if none.
std::string ScreenDiffers(const Face& f) {
  const QImage shot = f.Shot();
  const WaveStrip& s = f.strip->Strip();
  if (shot.width() != s.Width() || shot.height() != s.Height()) return "sizes differ";
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      if (shot.pixel(x, y) != s.Pixel(x, y)) {
        return "column " + std::to_string(x) + " row " + std::to_string(y);
      }
    }
  }
  return "";
}

TEST(EditingStrip, LaidOutInPanel1AsTheEditingFaceSays) {
  for (int power : {0, 1, 2}) {
    Face f(6000, {{1000, 1100}}, power);
    EXPECT_EQ(f.strip->Panel1->geometry(),
              QRect(f.layout.panel.left, f.layout.panel.top, f.layout.panel.width, 128))
        << power;
    EXPECT_EQ(f.strip->PaintWav->geometry(), QRect(0, 0, f.layout.panel.width, 128));
    EXPECT_EQ(f.st.Panel1Left, f.layout.panel.left);
    EXPECT_EQ(f.st.Panel1Width, f.layout.panel.width);
    // The strip's timer at the power class's interval: 28, 33 or 41 ms.
    EXPECT_TRUE(f.strip->Timer4ShowWav.isActive());
    EXPECT_EQ(f.strip->Timer4ShowWav.interval(), ShowWavInterval(power));
    // The timer draws once the playback loop has switched the strip on.
    f.st.PlayPos = 10500;
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.strip->Strip().Shows(); }, 2000));
    EXPECT_EQ(f.strip->Strip().Width(), f.layout.panel.width);
    EXPECT_EQ(ScreenDiffers(f), "");
  }
}

TEST(EditingStrip, NothingIsDrawnBeforeTheLoopSwitchesTheStripOn) {
  Face f(6000, {{1000, 1100}});
  f.st.Timer4ShowWavEnabled = false;
  f.TickAt(10500);
  EXPECT_FALSE(f.strip->Strip().Shows());
  EXPECT_FALSE(f.strip->TimeDisplay->isVisible());
  // Black until then.
  EXPECT_EQ(f.Shot().pixel(10, 64), qRgb(0, 0, 0));
}

TEST(EditingStrip, PixelsOnScreenAtKnownStates) {
  // Entry 0 at slots 1000 .. 1100, entry 1 at 1112 .. 1200 (a gap of 11 slots).
  Face f(6000, {{1000, 1100}, {1112, 1200}});
  f.st.AiBegin[1160] = 12;
  f.st.AiEnd[1163] = 7;
  f.TickAt(11500);  // the cursor in entry 1 (slots 1149 .. 1151)
  ASSERT_EQ(f.st.ActiveSub, 1);
  const QImage shot = f.Shot();
  const StripPalette& p = StripColours(false);

  // An envelope column of the earlier entry: background, then the body from 64 - top to
  // 64 - bottom, then background.
  const int64_t slot = 1043;
  const int32_t x = f.Column(slot);
  const int32_t top = 64 - TopOf(slot), bottom = 64 - BottomOf(slot);
  EXPECT_EQ(shot.pixel(x, top - 1), p.subBackground);
  EXPECT_EQ(shot.pixel(x, top), p.subBody);
  EXPECT_EQ(shot.pixel(x, bottom - 1), p.subBody);
  EXPECT_EQ(shot.pixel(x, bottom), p.subBackground);
  EXPECT_EQ(shot.pixel(x, 127), p.subBackground);

  // The active entry in its own colours; its band reaches into the gap before it from slot
  // 1112 - 12 div 2 + 1 = 1107, below the envelope only.
  EXPECT_EQ(shot.pixel(f.Column(1180), 64 - TopOf(1180) - 1), p.currentBackground);
  EXPECT_EQ(shot.pixel(f.Column(1180), 64), p.currentBody);
  EXPECT_EQ(shot.pixel(f.Column(1107), 64 - BottomOf(1107)), p.band);
  EXPECT_EQ(shot.pixel(f.Column(1107), 64 - TopOf(1107) - 1), p.background);
  EXPECT_EQ(shot.pixel(f.Column(1106), 64 - BottomOf(1106)), p.background);

  // The cursor's three columns, inside an entry.
  for (int64_t s : {1149, 1150, 1151}) {
    EXPECT_EQ(shot.pixel(f.Column(s), 64 - TopOf(s) - 1), p.cursorBackgroundInSub) << s;
    EXPECT_EQ(shot.pixel(f.Column(s), 64), p.cursorBodyInSub) << s;
  }
  EXPECT_EQ(shot.pixel(f.Column(1152), 64), p.currentBody);

  // Speech marks: a start of 12 over rows 53 .. 63, an end of 7 over rows 65 .. 70.
  EXPECT_EQ(shot.pixel(f.Column(1160), 53), p.beginMark);
  EXPECT_EQ(shot.pixel(f.Column(1160), 63), p.beginMark);
  EXPECT_NE(shot.pixel(f.Column(1160), 52), p.beginMark);
  EXPECT_EQ(shot.pixel(f.Column(1163), 65), p.endMark);
  EXPECT_EQ(shot.pixel(f.Column(1163), 70), p.endMark);
  EXPECT_NE(shot.pixel(f.Column(1163), 71), p.endMark);

  // Tick marks every second: 8 rows at both ends.
  EXPECT_EQ(shot.pixel(f.Column(1100), 7), TICK_COLOUR);
  EXPECT_EQ(shot.pixel(f.Column(1100), 120), TICK_COLOUR);
  EXPECT_NE(shot.pixel(f.Column(1100), 8), TICK_COLOUR);

  EXPECT_EQ(ScreenDiffers(f), "");
}

TEST(EditingStrip, TheScreenFollowsEveryScrollingStep) {
  Face f(20000, {{1000, 1100}, {1112, 1200}, {1500, 2300}, {2310, 2400}});
  int32_t pos = 9000;
  for (int step = 0; step < 120; ++step) {
    pos += step % 17 == 16 ? -700 : 41;  // playing, now and then a jump back
    f.TickAt(pos);
    QApplication::processEvents();
    ASSERT_EQ(ScreenDiffers(f), "") << "step " << step;
  }
  // The buffer has scrolled round: its first column is no longer the screen's.
  EXPECT_NE(f.strip->Strip().Origin(), 0);
}

TEST(EditingStrip, TheSubtitleLinesAndTheTime) {
  Face f(6000, {{1000, 1100}, {1112, 1450}, {1500, 1520}});
  f.st.Subs[1].Dialogue = "<b>第二句</b>||下一行";
  f.TickAt(11500);
  const int32_t first = f.st.ViewStart / 2;
  const int32_t left = f.layout.panel.left;
  EditingStrip& s = *f.strip;
  ASSERT_TRUE(s.LabelStr->isVisible());
  EXPECT_EQ(s.LabelStr->geometry().left(), left + 1112 - first);
  EXPECT_EQ(s.LabelStr->width(), 1450 - 1112);
  // Directly above the strip, under the video; the side lines lower by 0.6 of the difference.
  EXPECT_EQ(s.LabelStr->geometry().bottom() + 1, f.layout.panel.top);
  EXPECT_EQ(s.LabelStrPrev->y(),
            s.LabelStr->y() + int((s.LabelStr->height() - s.LabelStrPrev->height()) * 0.6));
  // The text as it is, markup and "||" included, then the tildes.
  EXPECT_TRUE(s.LabelStr->text().startsWith(QString::fromUtf8("<b>第二句</b>||下一行～")));
  EXPECT_EQ(s.LabelStr->textFormat(), Qt::PlainText);
  EXPECT_EQ(s.LabelStrPrev->text(), QString::fromUtf8("第1句"));
  EXPECT_EQ(s.LabelStrNext->text(), QString::fromUtf8("第3句"));
  EXPECT_TRUE(s.LabelStrPrev->alignment() & Qt::AlignRight);
  EXPECT_EQ(s.LabelStr->palette().color(QPalette::WindowText), QColor(Qt::white));

  // The time under the strip: its text and, right of it, the background of its rows.
  ASSERT_TRUE(s.TimeDisplay->isVisible());
  EXPECT_EQ(s.TimeDisplay->Shown().text, "0:00:11.5");
  EXPECT_EQ(s.TimeDisplay->pos(), QPoint(CLIENT_WIDTH / 2 - 84, f.layout.panel.top + 128 + 8));
  const QImage time = s.TimeDisplay->grab().toImage();
  int textPixels = 0;
  for (int y = 0; y < time.height(); ++y) {
    for (int x = 0; x < time.width(); ++x) textPixels += time.pixel(x, y) == TIME_TEXT_COLOUR;
  }
  EXPECT_GT(textPixels, 100);
  // Without its text, every pixel of the background rows is the gradient's colour of its row.
  StripTimeDisplay blank = s.TimeDisplay->Shown();
  blank.text.clear();
  s.TimeDisplay->Show(blank);
  const QImage background = s.TimeDisplay->grab().toImage();
  for (int y = TIME_ROWS_FROM; y <= TIME_ROWS_TO; ++y) {
    for (int x = 0; x < TIME_ROW_WIDTH; ++x) {
      ASSERT_EQ(background.pixel(x, y), blank.rows[size_t(y - TIME_ROWS_FROM)]) << x << ", " << y;
    }
  }

  // The lines turned off: all three leave the window.
  f.st.Ctrl.CheckBoxShowSub = false;
  f.TickAt(11600);
  for (QLabel* l : {s.LabelStrPrev, s.LabelStr, s.LabelStrNext}) {
    EXPECT_FALSE(l->isVisible());
    EXPECT_EQ(l->x(), CLIENT_WIDTH + 99);
  }
}

TEST(EditingStrip, TheSubtitleLinesAreSetInAKaiFaceWhereverOneIsInstalled) {
  // No installed font may bear the design's name "楷体"; the lines then take a Kai face of
  // the system, as the status panel does, not whatever the system substitutes for the name.
  QStringList kai;
  for (const QString& family : QFontDatabase::families()) {
    if (family.contains("Kai", Qt::CaseInsensitive) || family.startsWith(QString::fromUtf8("楷体")))
      kai << family;
  }
  // The test command installs one (fonts-arphic-ukai).
  ASSERT_FALSE(kai.isEmpty()) << "no Kai face installed";
  Face f(6000, {{1000, 1100}});
  for (const QLabel* label : {f.strip->LabelStr, f.strip->LabelStrPrev, f.strip->LabelStrNext}) {
    if (QFontInfo(label->font()).pointSize() <= 16) continue;  // small lines are set in 宋体
    EXPECT_TRUE(kai.contains(QFontInfo(label->font()).family()))
        << QFontInfo(label->font()).family().toStdString();
  }
}

TEST(EditingStrip, AResizeDuringADragRedrawsTheWholeStripAtItsNewWidth) {
  Face f(6000, {{1000, 1100}, {1112, 1200}});
  f.TickAt(11500);
  f.st.Dragging = true;
  f.st.DragStartX = 300;
  const int32_t leftBefore = f.st.Panel1Left;
  f.face.resize(1200, 700);
  f.LayOut();
  EXPECT_EQ(f.st.DragStartX, 300 + leftBefore - f.st.Panel1Left);
  f.strip->Timer4ShowWavTimer();  // the position did not move
  EXPECT_EQ(f.strip->Strip().Width(), f.layout.panel.width);
  EXPECT_EQ(f.st.ActiveSub, 1);
  EXPECT_EQ(ScreenDiffers(f), "");
}

TEST(EditingStrip, StoppedItHidesEverythingAndStartsAgainBlank) {
  Face f(6000, {{1000, 1100}});
  f.TickAt(10500);
  ASSERT_TRUE(f.strip->LabelStr->isVisible());
  f.strip->Stop();
  EXPECT_FALSE(f.strip->Timer4ShowWav.isActive());
  for (QWidget* w :
       std::initializer_list<QWidget*>{f.strip->Panel1, f.strip->LabelStrPrev, f.strip->LabelStr,
                                       f.strip->LabelStrNext, f.strip->TimeDisplay}) {
    EXPECT_FALSE(w->isVisible());
  }
  f.st.ReadyState = 1;
  f.TickAt(20000);  // a tick after editing ended draws nothing
  EXPECT_FALSE(f.strip->Strip().Shows());
  f.st.ReadyState = 2;
  f.strip->Start();
  EXPECT_TRUE(f.strip->Panel1->isVisible());
  f.TickAt(10500);
  EXPECT_TRUE(f.strip->Strip().Shows());
  EXPECT_EQ(ScreenDiffers(f), "");
}

// ---- In the window, entering editing for real ----

/// Makes a short video with a beeping tone and an ASS file beside it.
bool MakeVideoWithSubtitles(const test::TempDir& dir, const std::string& name, double seconds) {
  const ProcessResult r =
      RunProcess(FindProgram("ffmpeg"),
                 {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                  "testsrc=size=160x120:rate=10:duration=" + std::to_string(seconds), "-f", "lavfi",
                  "-i", "sine=frequency=440:beep_factor=4:duration=" + std::to_string(seconds),
                  "-c:v", "mpeg4", "-shortest", dir.Path(name + ".mp4")});
  if (r.exitCode != 0) return false;
  test::WriteBytes(
      dir.Path(name + ".ass"),
      test::CrLf(test::With(test::AssScriptHead(),
                            {"Dialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,第一句",
                             "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,第二句",
                             "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,第三句"})));
  return true;
}

TEST(EditingStripInTheWindow, MadeWhenEditingBeginsLaidOutAndTickingUntilItEnds) {
  ASSERT_FALSE(FindProgram("ffmpeg").empty()) << "ffmpeg is not installed";
  test::TempDir dir;
  ASSERT_TRUE(MakeVideoWithSubtitles(dir, "片", 8));
  std::vector<std::string> messages;
  WindowOptions o;
  o.exeDir = TAMSEL_MODULE_DIR;  // where the devices' module is
  o.settingsPath = dir.Path("settings.ini");
  o.renderer = VideoRenderer::Software;
  o.showMessage = [&](const std::string& m) { messages.push_back(m); };
  o.chooseFile = [&](const std::string&, const std::string&) { return dir.Path("片.mp4"); };
  TForm1 w(o);
  bool ended = false, ready = false;
  w.onPreparationEnded = [&](bool r) {
    ended = true;
    ready = r;
  };
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(w.Strip, nullptr);  // nothing of the strip on the start screen
  w.ImageVideoClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, 120000));
  ASSERT_TRUE(ready) << ::testing::PrintToString(messages);

  for (int session = 0; session < 2; ++session) {
    w.ImageReadyGoClick();
    ASSERT_EQ(w.State().ReadyState, 2) << ::testing::PrintToString(messages);
    ASSERT_NE(w.Strip, nullptr);
    static EditingStrip* first = w.Strip;
    EXPECT_EQ(w.Strip, first);  // made once, when editing first began
    EditingStrip& s = *w.Strip;
    const auto layout = [&] {
      const EditingHeights heights{17, 32, 128, s.LabelStrHeight(w.width(), w.height())};
      return LayOutEditing(w.width(), w.height(), w.State().Ctrl.RadioGroupPower, heights);
    };
    EXPECT_EQ(s.Panel1->geometry(),
              QRect(layout().panel.left, layout().panel.top, layout().panel.width, 128));
    EXPECT_TRUE(s.Panel1->isVisible());
    EXPECT_EQ(s.PaintWav->size(), QSize(layout().panel.width, 128));
    EXPECT_TRUE(s.Timer4ShowWav.isActive());
    EXPECT_EQ(s.Timer4ShowWav.interval(), ShowWavInterval(w.State().Ctrl.RadioGroupPower));
    // The strip draws once the playback loop has learnt the frame rate.
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.Strip().Shows(); }, 20000));
    EXPECT_EQ(s.Strip().Width(), layout().panel.width);
    EXPECT_TRUE(s.TimeDisplay->isVisible());
    EXPECT_GE(w.State().ActiveSub, 0);
    EXPECT_TRUE(s.LabelStr->isVisible());
    // A resize while editing lays the strip out again.
    w.resize(900 + 50 * session, 650);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.width() == 900 + 50 * session; }));
    EXPECT_EQ(s.Panel1->geometry().width(), layout().panel.width);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.Strip().Width() == layout().panel.width; }, 5000));

    w.PaintBoxBackClick();
    EXPECT_EQ(w.State().ReadyState, 1);
    EXPECT_FALSE(s.Timer4ShowWav.isActive());
    EXPECT_FALSE(s.Panel1->isVisible());
    EXPECT_FALSE(s.LabelStr->isVisible());
    EXPECT_FALSE(s.TimeDisplay->isVisible());
    ASSERT_TRUE(w.ImageReadyGo->isVisible());  // and editing may begin again
  }
  w.close();
}

}  // namespace
}  // namespace tamsel

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
