// The editing face's status panel and lower panel as painted on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTest>

#include <functional>
#include <memory>

#include "EditingCanvas.h"
#include "StatusBarWidget.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

/// What the window shows on the screen now, once the pending repaints are done (not a fresh
/// painting of the widget: a repaint that was never asked for shows here as stale pixels).
QImage Shot(QWidget& w) {
  QTest::qWait(30);
  return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

/// Pixels of exactly `colour` in `area` of `image`.
int Count(const QImage& image, const QRect& area, Rgb colour) {
  const QRgb want = qRgb(colour.r, colour.g, colour.b);
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) n += image.pixel(x, y) == want;
  }
  return n;
}

Rgb At(const QImage& image, int x, int y) {
  const QRgb c = image.pixel(x, y);
  return {static_cast<uint8_t>(qRed(c)), static_cast<uint8_t>(qGreen(c)),
          static_cast<uint8_t>(qBlue(c))};
}

/// The status bar of a 784 px wide window, on its own, over an editor whose settings file lies
/// in a folder of its own.
struct Bar {
  test::TempDir dir;
  test::RecordingPrompts prompts;
  EditorState st;
  std::unique_ptr<StatusBarWidget> bar;

  Bar() {
    st.Prompts = &prompts;
    st.Ini = IniFile(dir.Path("RuziRudoDudiro.ini"));
    st.ReadyState = 2;
    bar = std::make_unique<StatusBarWidget>(st, nullptr);
    bar->resize(784, 32);
    bar->SetPanelWidths({92, 207, 207, 92, 92, 92});
    bar->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(bar.get()));
  }
  void Click(int panel) {
    const QRect r = bar->PanelRect(panel);
    QTest::mouseClick(bar.get(), Qt::LeftButton, {}, QPoint(r.center().x(), 16));
  }
};

/// What the painted bar shows of one panel's caption.
struct Caption {
  int on = 0, off = 0, red = 0, blue = 0;  ///< pixels of each caption colour
};
Caption CaptionOf(const QImage& shot, const QRect& r) {
  return {Count(shot, r, STATUS_TEXT_ON), Count(shot, r, STATUS_TEXT_OFF),
          Count(shot, r, MAGNET_FIRST_COLOUR), Count(shot, r, MAGNET_LAST_COLOUR)};
}

TEST(StatusBar, DesignFontHintAndPanelsBetweenTheBordersAClickMisses) {
  Bar b;
  EXPECT_EQ(b.bar->toolTip(), QString::fromUtf8("粗校粒度扩大三倍"));
  EXPECT_EQ(b.bar->font().pixelSize(), 27);
  const QImage shot = Shot(*b.bar);
  // Panel 1 spans columns 93 .. 298: the columns 92 and 299 where it meets its neighbours show
  // the bar's sky blue. The last panel runs on to the bar's right end over the 2 columns the
  // rounded widths leave (they add up to 782 of 784).
  EXPECT_EQ(b.bar->PanelRect(1), QRect(93, 1, 206, 31));
  EXPECT_EQ(b.bar->PanelRect(5), QRect(691, 1, 93, 31));
  for (int x : {0, 92, 299, 506, 598, 690}) EXPECT_EQ(At(shot, x, 20), STATUS_BAR_COLOUR) << x;
  for (int x : {1, 93, 298, 300, 781, 782, 783}) {
    EXPECT_EQ(At(shot, x, 30), STATUS_PANEL_FILL) << x;
  }
}

TEST(StatusBar, EveryClickRepaintsWhatItSwitched) {
  Bar b;
  b.st.Ctrl.chkBoxAIenable = false;
  b.st.Ctrl.CheckBoxSoundStyle = true;
  b.bar->update();

  struct Expected {
    bool dialogue, headTail, loop, magnet;
  };
  const struct {
    int click;  ///< -1: none yet
    Expected after;
  } steps[] = {
      {-1, {false, false, false, false}},
      {PANEL_HEAD_TAIL_ONLY, {true, true, false, false}},
      {PANEL_LOOP, {true, true, true, false}},
      {PANEL_DIALOGUE_ONLY, {false, false, false, false}},
      {PANEL_MAGNET, {false, false, false, true}},
      {PANEL_LOOP, {true, false, true, true}},
      {PANEL_MAGNET, {true, false, true, false}},
  };
  for (const auto& step : steps) {
    if (step.click >= 0) b.Click(step.click);
    const QImage shot = Shot(*b.bar);
    const std::string where = "after a click on panel " + std::to_string(step.click);
    const bool on[] = {step.after.dialogue, step.after.headTail, step.after.loop};
    for (int panel : {PANEL_DIALOGUE_ONLY, PANEL_HEAD_TAIL_ONLY, PANEL_LOOP}) {
      const Caption c = CaptionOf(shot, b.bar->PanelRect(panel));
      const bool isOn = on[panel - PANEL_DIALOGUE_ONLY];
      EXPECT_EQ(c.on > 0, isOn) << "panel " << panel << " " << where;
      EXPECT_EQ(c.off > 0, !isOn) << "panel " << panel << " " << where;
    }
    // The magnet: "磁石" in grey while off; "磁" red and "石" blue beside it while on.
    const QRect magnet = b.bar->PanelRect(PANEL_MAGNET);
    const Caption m = CaptionOf(shot, magnet);
    EXPECT_EQ(m.on, 0) << where;
    if (step.after.magnet) {
      EXPECT_EQ(m.off, 0) << where;
      ASSERT_GT(m.red, 0) << where;
      ASSERT_GT(m.blue, 0) << where;
      const int split = magnet.left() + b.bar->Look(PANEL_MAGNET).runs.at(1).x;
      EXPECT_EQ(Count(shot, QRect(split, 0, magnet.right() - split + 1, 32), MAGNET_FIRST_COLOUR),
                0);
      EXPECT_EQ(Count(shot, QRect(magnet.left(), 0, split - magnet.left(), 32), MAGNET_LAST_COLOUR),
                0);
    } else {
      EXPECT_GT(m.off, 0) << where;
      EXPECT_EQ(m.red + m.blue, 0) << where;
    }
    // Panels 0 and 5 are always white.
    for (int panel : {PANEL_SOUND_STYLE, PANEL_STEP}) {
      const Caption c = CaptionOf(shot, b.bar->PanelRect(panel));
      EXPECT_GT(c.on, 0) << where;
      EXPECT_EQ(c.off, 0) << where;
    }
  }
  // Each click saved the magnet: it is off again.
  EXPECT_NE(test::ReadBytes(b.dir.Path("RuziRudoDudiro.ini")).find("AIenable=0"),
            std::string::npos);
}

TEST(StatusBar, CaptionsOfTheSoundStyleAndTheStepFollowTheirClicks) {
  Bar b;
  ASSERT_TRUE(b.st.Ctrl.CheckBoxSoundStyle);
  const auto text = [&](int panel) {
    const auto runs = b.bar->Look(panel).runs;
    return runs.empty() ? std::string() : runs[0].text;
  };
  EXPECT_EQ(text(PANEL_SOUND_STYLE), "变调");
  EXPECT_EQ(text(PANEL_STEP), "精校");
  const QImage before = Shot(*b.bar);
  b.Click(PANEL_SOUND_STYLE);
  b.Click(PANEL_STEP);
  EXPECT_FALSE(b.st.Ctrl.CheckBoxSoundStyle);
  EXPECT_EQ(b.st.StepFactor, 3);
  EXPECT_EQ(text(PANEL_SOUND_STYLE), "跳跃");
  EXPECT_EQ(text(PANEL_STEP), "粗校");
  // The new captions are on the screen: both panels' pixels changed, the others' did not.
  const QImage after = Shot(*b.bar);
  for (int panel = 0; panel < STATUS_PANEL_COUNT; ++panel) {
    const QRect r = b.bar->PanelRect(panel);
    const bool changed = before.copy(r) != after.copy(r);
    EXPECT_EQ(changed, panel == PANEL_SOUND_STYLE || panel == PANEL_STEP) << panel;
  }
}

TEST(StatusBar, AStateSwitchedByAKeyIsRepaintedOnTheNextRefresh) {
  Bar b;
  const QRect r = b.bar->PanelRect(PANEL_DIALOGUE_ONLY);
  EXPECT_GT(CaptionOf(Shot(*b.bar), r).off, 0);
  ASSERT_TRUE(PressKey(b.st, Key::Digit2));      // dialogue-only on, behind the bar's back
  EXPECT_GT(CaptionOf(Shot(*b.bar), r).off, 0);  // the screen does not know yet
  b.bar->Refresh();
  const Caption c = CaptionOf(Shot(*b.bar), r);
  EXPECT_GT(c.on, 0);
  EXPECT_EQ(c.off, 0);
}

TEST(StatusBar, ADoubleClickSwitchesOnceAndAReleaseWithoutAPressNever) {
  Bar b;
  const QPoint loop(b.bar->PanelRect(PANEL_LOOP).center().x(), 16);
  // A double click: press and release, then the double click in place of the second press,
  // and its release.
  QTest::mouseClick(b.bar.get(), Qt::LeftButton, {}, loop);
  QTest::mouseDClick(b.bar.get(), Qt::LeftButton, {}, loop);
  QTest::mouseRelease(b.bar.get(), Qt::LeftButton, {}, loop);
  EXPECT_TRUE(b.st.LoopMode);
  QTest::mouseRelease(b.bar.get(), Qt::LeftButton, {}, loop);
  EXPECT_TRUE(b.st.LoopMode);
  QTest::mouseClick(b.bar.get(), Qt::RightButton, {}, loop);
  EXPECT_TRUE(b.st.LoopMode);
  QTest::mouseClick(b.bar.get(), Qt::LeftButton, {}, loop);
  EXPECT_FALSE(b.st.LoopMode);
}

TEST(StatusBar, AClickOnABorderSwitchesNothingButSaves) {
  Bar b;
  QTest::mouseClick(b.bar.get(), Qt::LeftButton, {}, QPoint(299, 16));
  QTest::mouseClick(b.bar.get(), Qt::LeftButton, {}, QPoint(0, 16));
  EXPECT_FALSE(b.st.DialogueOnly || b.st.HeadTailOnly);
  EXPECT_TRUE(FileExists(b.dir.Path("RuziRudoDudiro.ini")));
}

/// The lower panel of a 784 x 599 window with its back button.
struct Canvas {
  EditorState st;
  std::unique_ptr<EditingCanvas> canvas;
  BackButton* back = nullptr;
  int clicks = 0;

  Canvas() {
    st.ReadyState = 2;
    canvas = std::make_unique<EditingCanvas>(st, nullptr);
    // A colour of its own under the strip shows that the gradient leaves the strip alone.
    QPalette palette = canvas->palette();
    palette.setColor(QPalette::Window, QColor(1, 2, 3));
    canvas->setPalette(palette);
    canvas->resize(784, 599);
    canvas->SetPanelGeometry({784, 550, 70, 366, 644, 128, 11, 390, 40});
    back = new BackButton(st, canvas.get());
    back->setGeometry(11, 390, 40, 78);
    back->onClick = [this] { ++clicks; };
    canvas->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(canvas.get()));
  }
  void Send(QEvent::Type type) {
    if (type == QEvent::Enter) {
      QEnterEvent e(QPointF(20, 39), QPointF(31, 429), QPointF(31, 429));
      QApplication::sendEvent(back, &e);
    } else {
      QEvent e(type);
      QApplication::sendEvent(back, &e);
    }
  }
};

TEST(LowerPanelPainting, GradientAroundTheStrip) {
  Canvas c;
  const QImage shot = Shot(*c.canvas);
  // G = 366 - 40 = 326.
  EXPECT_EQ(At(shot, 400, 100), (Rgb{0, 0, 0}));
  EXPECT_EQ(At(shot, 400, 325), (Rgb{0, 0, 0}));
  for (int x : {0, 69, 714, 783}) {
    EXPECT_EQ(At(shot, x, 326 + 120), (Rgb{0, 31, 66})) << x;
    EXPECT_EQ(At(shot, x, 326 + 150), (Rgb{17, 61, 90})) << x;
  }
  EXPECT_EQ(At(shot, 400, 326 + 184), (Rgb{47, 96, 124}));  // below the strip: the whole row
  EXPECT_EQ(At(shot, 400, 326 + 224), (Rgb{120, 144, 175}));
  // The strip's own pixels are not touched.
  for (auto [x, y] : {std::pair{70, 366}, {400, 430}, {713, 493}}) {
    EXPECT_EQ(At(shot, x, y), (Rgb{1, 2, 3})) << x << "," << y;
  }
  EXPECT_EQ(At(shot, 400, 326 + 225), (Rgb{1, 2, 3}));  // past the status panel's top

  // On the start screen nothing is painted.
  c.st.ReadyState = 1;
  c.canvas->update();
  const QImage start = Shot(*c.canvas);
  EXPECT_EQ(Count(start, start.rect(), Rgb{1, 2, 3}), 784 * 599);
}

TEST(LowerPanelPainting, TheBackButtonLightsUnderThePointerAndClicks) {
  Canvas c;
  const QRect box(11, 390, 40, 78);
  QImage shot = Shot(*c.canvas);
  EXPECT_EQ(Count(shot, box, BACK_COLOUR), 310);
  EXPECT_EQ(Count(shot, box, BACK_HOVER_COLOUR), 0);
  // The stroke's top and the tip of the outer triangle, R = 49 and T = 398.
  EXPECT_EQ(At(shot, 49, 397), BACK_COLOUR);
  EXPECT_EQ(At(shot, 17, 430), BACK_COLOUR);

  c.Send(QEvent::Enter);
  EXPECT_TRUE(c.st.BackHover);
  shot = Shot(*c.canvas);
  EXPECT_EQ(Count(shot, box, BACK_HOVER_COLOUR), 310);
  EXPECT_EQ(Count(shot, box, BACK_COLOUR), 0);

  c.Send(QEvent::Leave);
  EXPECT_FALSE(c.st.BackHover);
  shot = Shot(*c.canvas);
  EXPECT_EQ(Count(shot, box, BACK_COLOUR), 310);
  EXPECT_EQ(Count(shot, box, BACK_HOVER_COLOUR), 0);

  QTest::mouseClick(c.back, Qt::LeftButton, {}, QPoint(20, 39));
  EXPECT_EQ(c.clicks, 1);
  // Hidden while lit (going back to the start screen), it is dark when editing begins again.
  c.Send(QEvent::Enter);
  c.canvas->hide();
  EXPECT_FALSE(c.st.BackHover);
}

}  // namespace
}  // namespace tamsel

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
