#include "WaveStrip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "DragGestures.h"
#include "StripSound.h"

namespace tamsel {
namespace {

using test::Times;

constexpr int32_t PANEL_LEFT = 70;
constexpr int32_t PANEL_TOP = 300;

/// The envelope the test sound has at a slot: a top and a bottom that vary from slot to slot.
int8_t TopOf(int64_t slot) { return static_cast<int8_t>(10 + slot % 40); }
int8_t BottomOf(int64_t slot) { return static_cast<int8_t>(-(5 + slot % 30)); }

/// An editor state over `slots` slots of sound, as entering editing leaves it (WsData with its
/// margin of silent pairs, the score arrays with theirs), with the given entries and a strip
/// `width` columns wide.
EditorState MakeState(int32_t slots, const Times& times, int32_t width) {
  EditorState st;
  test::GiveStripSound(st, slots, times, TopOf, BottomOf);
  st.Panel1Left = PANEL_LEFT;
  st.Panel1Top = PANEL_TOP;
  st.Panel1Width = width;
  st.PlayRate = 0;
  st.ActiveSub = -1;
  st.SubCurr = 0;
  st.ViewMarker = -100.0;
  st.ReadyState = 2;
  return st;
}

/// A text's width on the fake canvas: 7 pixels a character (a UTF-8 lead byte).
int32_t FakeMeasure(const std::string& text) {
  int32_t chars = 0;
  for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
  return 7 * chars;
}

/// A strip with its state and window facts.
struct Strip {
  EditorState st;
  WaveStrip strip;
  StripView view;
  int lowerPanelPaints = 0;

  Strip(int32_t slots, const Times& times, int32_t width = 400)
      : st(MakeState(slots, times, width)) {
    view.width = width;
    view.clientWidth = width + 140;
    view.measureText = FakeMeasure;
    view.formBelowPaint = [this] { ++lowerPanelPaints; };
  }
  StripFrame Tick() { return Timer4ShowWavTimer(st, strip, view); }
  StripFrame TickAt(int32_t playPos) {
    st.PlayPos = playPos;
    return Tick();
  }
};

// ---- A reference painter: the drawing as the rules describe it, one line at a time ----

struct Canvas {
  int32_t width, height;
  std::vector<Argb> px;
  Canvas(int32_t w, int32_t h) : width(w), height(h), px(size_t(w) * size_t(h), 0) {}
  /// A vertical line from y0 up to but not including y1.
  void Line(int32_t x, int32_t y0, int32_t y1, Argb c) {
    for (int32_t y = std::max(y0, 0); y < std::min(y1, height); ++y) px[size_t(y) * width + x] = c;
  }
  Argb At(int32_t x, int32_t y) const { return px[size_t(y) * width + x]; }
};

Canvas ReferencePaint(const EditorState& st, int32_t width) {
  Canvas cv(width, STRIP_HEIGHT);
  const StripMarks k = StripMarksOf(st);
  const int64_t g = 2 * (int64_t{st.PlayPos} / 10);
  const StripPalette& p = StripColours(st.Ctrl.CheckBoxShowAI);
  for (int32_t x = 0; x < width; ++x) {
    const int64_t m = st.ViewStart + 2 * int64_t{x};
    const int64_t s = m / 2;
    const bool inData = m + 1 < int64_t(st.WsData.size());
    const int up = inData ? st.WsData[size_t(m)] : 0;
    const int down = inData ? st.WsData[size_t(m) + 1] : -1;
    const bool sel = s < int64_t(st.WavSel.size()) && st.WavSel[size_t(s)].Select;
    const bool cursor = std::llabs(m - g) < 4;
    const bool current = k.inB <= m && m <= k.outB;
    const bool band = k.bandStart <= m && m <= k.bandEnd;
    Argb bg = cursor    ? (sel ? p.cursorBackgroundInSub : p.cursorBackgroundOutside)
              : current ? p.currentBackground
              : sel     ? p.subBackground
                        : p.background;
    Argb upper = bg, lower = bg;
    if (!cursor && band && !sel) {
      lower = p.band;
      upper = p.background;
    }
    const Argb body = cursor           ? (sel ? p.cursorBodyInSub : p.currentBody)
                      : sel && current ? p.currentBody
                      : sel            ? p.subBody
                                       : p.plainBody;
    if (up > down) {
      cv.Line(x, 0, 64 - up, upper);
      cv.Line(x, 64 - up, 64 - down, body);
      cv.Line(x, 64 - down, 128, lower);
    } else {
      cv.Line(x, 0, 128,
              !cursor && current && lower == p.currentBackground ? p.subBackground : lower);
    }
    if (s % 10 == 0) {
      cv.Line(x, 0, 2, TICK_COLOUR);
      cv.Line(x, 126, 128, TICK_COLOUR);
    }
    if (s % 50 == 0) {
      cv.Line(x, 2, 4, TICK_COLOUR);
      cv.Line(x, 124, 126, TICK_COLOUR);
    }
    if (s % 100 == 0) {
      cv.Line(x, 4, 8, TICK_COLOUR);
      cv.Line(x, 120, 124, TICK_COLOUR);
    }
    if (st.Ctrl.chkBoxAIenable) {
      const int b = s < int64_t(st.AiBegin.size()) ? st.AiBegin[size_t(s)] : 0;
      const int e = s < int64_t(st.AiEnd.size()) ? st.AiEnd[size_t(s)] : 0;
      if (b > 1) cv.Line(x, 65 - b, 64, p.beginMark);
      if (e > 1) cv.Line(x, 65, 64 + e, p.endMark);
    }
  }
  return cv;
}

/// The first pixel where the strip differs from the reference painting, as text; "" if none.
std::string FirstDifference(const WaveStrip& strip, const Canvas& cv) {
  if (strip.Width() != cv.width || strip.Height() != cv.height) return "sizes differ";
  for (int32_t x = 0; x < cv.width; ++x) {
    for (int32_t y = 0; y < cv.height; ++y) {
      if (strip.Pixel(x, y) != cv.At(x, y)) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "column %d row %d: %08X, expected %08X", x, y,
                      strip.Pixel(x, y), cv.At(x, y));
        return buf;
      }
    }
  }
  return "";
}

// ---- The view ----

TEST(WaveStripView, ViewStartKeepsThePlayPositionInTheMiddleExceptNearBothEnds) {
  struct Case {
    int32_t playPos, width, mediaLength, viewStart;
  } cases[] = {
      {0, 1024, 10000, 0},                        // the start: no scrolling
      {5000, 1024, 10000, 0},                     // still less than half a strip in
      {10000, 1024, 10000, 2 * 1000 - 1024},      // slot 1000 in the middle column
      {10000, 1023, 10000, 2 * 1000 - 1024},      // odd widths round down to an even index
      {99000, 1024, 10000, 2 * (10000 - 1024)},   // near the end the view stops
      {200000, 1024, 10000, 2 * (10000 - 1024)},  // past the end as well
      {50000, 1024, 0, 0},                        // length not known yet
      {3000, 1024, 500, 0},                       // a strip wider than the media
      {-500, 400, 10000, 0},                      // a position before the start
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ViewStartOf(c.playPos, c.width, c.mediaLength), c.viewStart)
        << c.playPos << " ms, W " << c.width << ", length " << c.mediaLength;
  }
}

TEST(WaveStripView, CursorColumnsAtTheStartInTheMiddleAndNearTheEnd) {
  struct Case {
    int32_t playPos;
    std::vector<int32_t> cursorColumns;
  } cases[] = {
      {0, {0, 1}},               // the column of slot -1 does not exist
      {10000, {199, 200, 201}},  // slot 1000 in the middle of 400 columns
      {49980, {397, 398, 399}},  // the view stopped: the cursor moved right of the middle
      {49990, {398, 399}},       // the last slot: its right neighbour does not exist
  };
  for (const Case& c : cases) {
    Strip s(5000, {}, 400);
    s.TickAt(c.playPos);
    std::vector<int32_t> columns;
    const StripScene scene{s.st.ViewStart, 2 * (c.playPos / 10), {}, false, false, STRIP_HEIGHT};
    for (int32_t x = 0; x < 400; ++x) {
      if (StripColumnAt(s.st, scene, x).cursor) columns.push_back(x);
    }
    EXPECT_EQ(columns, c.cursorColumns) << c.playPos;
    EXPECT_EQ(s.strip.Pixel(c.cursorColumns.back(), 127),
              StripColours(false).cursorBackgroundOutside);
  }
}

TEST(WaveStripView, MovesOfLessThanASlotDrawNothingAndNegativeMarkersRedrawEverything) {
  Strip s(5000, {{100, 200}}, 400);
  StripFrame t = s.TickAt(15000);
  EXPECT_TRUE(t.drawn);
  EXPECT_TRUE(t.full);
  EXPECT_EQ(s.st.ViewMarker, 15000);
  // A paint request before the position moves draws nothing.
  EXPECT_FALSE(s.Tick().drawn);
  EXPECT_FALSE(s.TickAt(15009).drawn);
  EXPECT_FALSE(s.TickAt(14991).drawn);
  t = s.TickAt(15010);
  EXPECT_TRUE(t.drawn);
  EXPECT_FALSE(t.full);
  // Both markers other Parts store redraw everything, also at the same position.
  for (double marker : {-100.0, -99.0}) {
    s.st.ViewMarker = marker;
    t = s.Tick();
    EXPECT_TRUE(t.drawn && t.full) << marker;
    EXPECT_EQ(s.st.ViewMarker, 15010);
  }
  // WaveRedraw paints the lower panel first, once, and redraws the strip.
  s.st.WaveRedraw = true;
  t = s.Tick();
  EXPECT_EQ(s.lowerPanelPaints, 1);
  EXPECT_FALSE(s.st.WaveRedraw);
  EXPECT_TRUE(t.drawn && t.full);
  s.Tick();
  EXPECT_EQ(s.lowerPanelPaints, 1);
  // Without a painter the tick still does what the painting does to the state.
  s.view.formBelowPaint = nullptr;
  s.st.WaveRedraw = true;
  EXPECT_TRUE(s.Tick().full);
  EXPECT_FALSE(s.st.WaveRedraw);
  // A negative play position is taken as 0.
  s.st.PlayPos = -300;
  s.Tick();
  EXPECT_EQ(s.st.PlayPos, 0);
}

// ---- Pixels ----

TEST(WaveStripPixels, EveryPixelIsWhatTheRulesDrawInBothViews) {
  struct Case {
    const char* name;
    int32_t playPos;
    bool overWave;
    int32_t mouseColumn;
    bool showAI;
    bool speechMarks;
  } cases[] = {
      {"cursor inside the second entry", 12000, false, 0, false, true},
      {"cursor in a gap", 8300, false, 0, false, true},
      {"pointer over the strip", 8300, true, 150, false, true},
      {"speech-score colours", 12000, false, 0, true, true},
      {"magnet off", 12000, false, 0, false, false},
      {"near the end of the media", 49000, false, 0, false, true},
      {"at the start", 0, false, 0, false, true},
  };
  for (const Case& c : cases) {
    Strip s(5000, {{0, 150}, {700, 900}, {1100, 1300}, {1320, 1500}, {4800, 4990}}, 400);
    s.st.Ctrl.CheckBoxShowAI = c.showAI;
    s.st.Ctrl.chkBoxAIenable = c.speechMarks;
    for (size_t k = 0; k < s.st.AiBegin.size(); k += 7) s.st.AiBegin[k] = uint8_t(k % 90);
    for (size_t k = 3; k < s.st.AiEnd.size(); k += 11) s.st.AiEnd[k] = uint8_t(k % 80);
    s.st.OverWave = c.overWave;
    s.st.MouseX = PANEL_LEFT + c.mouseColumn;
    s.TickAt(c.playPos);
    EXPECT_EQ(FirstDifference(s.strip, ReferencePaint(s.st, 400)), "") << c.name;
  }
}

TEST(WaveStripPixels, AnEnvelopeColumnHasTheHeightAndColoursOfItsPair) {
  // Slot 1234 lies in the active entry, away from the cursor and the tick marks.
  Strip s(5000, {{1200, 1300}}, 400);
  s.st.WsData[2 * 1234] = 20;
  s.st.WsData[2 * 1234 + 1] = -30;
  s.TickAt(12500);
  const StripPalette& p = StripColours(false);
  const int32_t x = 1234 - s.st.ViewStart / 2;
  ASSERT_GE(x, 0);
  EXPECT_EQ(s.strip.Pixel(x, 0), p.currentBackground);
  EXPECT_EQ(s.strip.Pixel(x, 43), p.currentBackground);
  EXPECT_EQ(s.strip.Pixel(x, 44), p.currentBody);  // 64 - 20
  EXPECT_EQ(s.strip.Pixel(x, 93), p.currentBody);
  EXPECT_EQ(s.strip.Pixel(x, 94), p.currentBackground);  // 64 - (-30)
  EXPECT_EQ(s.strip.Pixel(x, 127), p.currentBackground);
  // A silent pair (0, -1) is a one-pixel body on the centre line.
  s.st.WsData[2 * 1234] = 0;
  s.st.WsData[2 * 1234 + 1] = -1;
  s.st.ViewMarker = -99.0;
  s.Tick();
  EXPECT_EQ(s.strip.Pixel(x, 63), p.currentBackground);
  EXPECT_EQ(s.strip.Pixel(x, 64), p.currentBody);
  EXPECT_EQ(s.strip.Pixel(x, 65), p.currentBackground);
  // A pair whose top is not above its bottom fills the column with the lower background;
  // inside the active entry the plain entry background stands for the active one's.
  s.st.WsData[2 * 1234] = -5;
  s.st.WsData[2 * 1234 + 1] = -5;
  s.st.ViewMarker = -99.0;
  s.Tick();
  for (int32_t y : {0, 64, 127}) EXPECT_EQ(s.strip.Pixel(x, y), p.subBackground) << y;
}

TEST(WaveStripPixels, TickAndSpeechMarks) {
  Strip s(5000, {}, 400);
  s.st.AiBegin[1205] = 10;
  s.st.AiEnd[1207] = 6;
  s.st.AiBegin[1209] = 1;  // a score of 1 is no mark
  s.st.AiBegin[1211] = 255;
  s.TickAt(12000);  // the view from slot 1000
  const int32_t first = s.st.ViewStart / 2;
  const auto column = [&](int32_t slot) { return slot - first; };
  const StripPalette& p = StripColours(false);
  // Tick marks: 2 rows every 0.1 s, 4 every 0.5 s, 8 every second, at both ends.
  for (auto [slot, rows] :
       std::vector<std::pair<int32_t, int32_t>>{{1110, 2}, {1150, 4}, {1100, 8}, {1111, 0}}) {
    for (int32_t y = 0; y < 10; ++y) {
      const bool tick = y < rows;
      EXPECT_EQ(s.strip.Pixel(column(slot), y) == TICK_COLOUR, tick) << slot << " row " << y;
      EXPECT_EQ(s.strip.Pixel(column(slot), 127 - y) == TICK_COLOUR, tick)
          << slot << " row " << 127 - y;
    }
  }
  // Speech start 10: rows 55 .. 63; speech end 6: rows 65 .. 69.
  EXPECT_NE(s.strip.Pixel(column(1205), 54), p.beginMark);
  for (int32_t y = 55; y <= 63; ++y) EXPECT_EQ(s.strip.Pixel(column(1205), y), p.beginMark) << y;
  EXPECT_NE(s.strip.Pixel(column(1205), 64), p.beginMark);
  EXPECT_NE(s.strip.Pixel(column(1207), 64), p.endMark);
  for (int32_t y = 65; y <= 69; ++y) EXPECT_EQ(s.strip.Pixel(column(1207), y), p.endMark) << y;
  EXPECT_NE(s.strip.Pixel(column(1207), 70), p.endMark);
  for (int32_t y = 0; y < 128; ++y) EXPECT_NE(s.strip.Pixel(column(1209), y), p.beginMark) << y;
  // A score higher than the strip reaches its top, over the tick rows.
  EXPECT_EQ(s.strip.Pixel(column(1211), 0), p.beginMark);
  // With the magnet off there are no speech marks.
  s.st.Ctrl.chkBoxAIenable = false;
  s.st.ViewMarker = -100.0;
  s.Tick();
  EXPECT_NE(s.strip.Pixel(column(1205), 60), p.beginMark);
}

TEST(WaveStripPixels, ScrollingRedrawsOnlyWhatChangedAndEndsLikeAFullRedraw) {
  Strip s(20000,
          {{300, 500},
           {650, 900},
           {905, 1400},
           {2000, 2300},
           {2310, 2400},
           {9000, 9100},
           {19700, 19990}},
          512);
  for (size_t k = 0; k < s.st.AiBegin.size(); k += 13) s.st.AiBegin[k] = uint8_t(k % 60);
  std::mt19937 rng(7);
  int32_t pos = 0;
  int partial = 0;
  for (int step = 0; step < 400; ++step) {
    const int r = int(rng() % 20);
    if (r < 12) {
      pos += 41;  // playing at 1.0
    } else if (r < 14) {
      pos -= 120;  // backwards
    } else if (r < 15) {
      pos += int32_t(rng() % 40000) - 15000;  // a jump
    } else if (r < 16) {
      // The pointer enters or leaves the strip, which asks for a redraw as the window does.
      s.st.OverWave = !s.st.OverWave;
      s.st.MouseX = PANEL_LEFT + int32_t(rng() % 512);
      s.st.ViewMarker = -99.0;
    }  // else paused
    pos = std::clamp(pos, 0, 205000);
    const int32_t viewBefore = s.st.ViewStart;
    const int64_t cursorBefore = s.strip.Shown().centre / 2;
    const StripFrame t = s.TickAt(pos);
    if (t.drawn && !t.full) {
      ++partial;
      if (s.st.ViewStart == viewBefore) {
        // Only the cursor's old and new columns changed.
        EXPECT_LE(t.changedTo - t.changedFrom, 3 + std::llabs(pos / 10 - cursorBefore));
      } else {
        EXPECT_EQ(t.changedTo - t.changedFrom, 512);
      }
    }
    ASSERT_EQ(FirstDifference(s.strip, ReferencePaint(s.st, 512)), "")
        << "step " << step << " at " << pos << " ms";
  }
  EXPECT_GT(partial, 150);
}

// ---- Reading past the data ----

TEST(WaveStripData, AStripWiderThanTheSoundShowsSilenceAndNothingPastTheArrays) {
  // Ten slots of sound and a 1024-column strip: WsData holds 1010 pairs, the coverage map 10
  // cells, the score arrays 510 entries; the length is not known yet, so the view stays at 0.
  Strip s(10, {{2, 6}}, 1024);
  s.st.MediaLength = 0;
  s.st.SubsInVideo = 0;
  s.st.AiBegin.back() = 30;
  s.st.AiEnd.back() = 30;
  s.st.Ctrl.chkBoxAIenable = true;
  s.TickAt(60);
  EXPECT_EQ(s.st.ViewStart, 0);
  EXPECT_EQ(FirstDifference(s.strip, ReferencePaint(s.st, 1024)), "");
  const StripPalette& p = StripColours(false);
  for (int32_t x : {1009, 1010, 1023}) {
    EXPECT_EQ(s.strip.Pixel(x, 64), p.plainBody) << x;
    EXPECT_EQ(s.strip.Pixel(x, 63), p.background) << x;
    EXPECT_EQ(s.strip.Pixel(x, 65), p.background) << x;
  }
  // A view far past the data (a video much longer than its sound) as well.
  s.st.MediaLength = 100000;
  s.TickAt(500000);
  EXPECT_EQ(s.st.ViewStart, 2 * 50000 - 1024);
  EXPECT_EQ(FirstDifference(s.strip, ReferencePaint(s.st, 1024)), "");
  // The cursor in the middle column, outside any entry, on a silent slot.
  EXPECT_EQ(s.strip.Pixel(512, 64), p.currentBody);
  EXPECT_EQ(s.strip.Pixel(512, 63), p.cursorBackgroundOutside);
}

TEST(WaveStripData, HitTestsAndSearchesPastTheCoverageMapFindNothing) {
  Strip s(100, {{10, 40}, {60, 90}}, 400);
  s.st.MediaLength = 5000;  // the video is much longer than its sound
  // The pointer over the strip past the map's end keeps the active entry.
  s.st.ActiveSub = 1;
  s.st.OverWave = true;
  s.st.MouseX = PANEL_LEFT + 390;
  s.TickAt(30000);
  EXPECT_EQ(s.st.ActiveSub, 1);
  // The cursor past the end, pointer away: the search stays inside the map.
  s.st.OverWave = false;
  s.st.ActiveSub = -1;
  s.TickAt(40000);
  EXPECT_EQ(s.st.ActiveSub, -1);
  // An empty map.
  s.st.WavSel.assign(0, TWavSelect{});
  s.st.ActiveSub = -1;
  s.TickAt(100);
  EXPECT_EQ(s.st.ActiveSub, -1);
}

// ---- The active subtitle and SubCurr ----

TEST(WaveStripActive, FindCursorSubInWavTable) {
  struct Case {
    const char* name;
    int32_t playPos;
    double rate;
    int32_t before;  ///< ActiveSub before
    int32_t mediaLength;
    int32_t after;
    int32_t end1 = 1400;  ///< where entry 1 ends
  } cases[] = {
      {"under the cursor", 12500, 1, -1, 5000, 1},
      {"under the cursor replaces the remembered one", 12500, 1, 0, 5000, 1},
      {"in a gap the remembered one stays while in view", 14500, 1, 1, 5000, 1},
      {"a remembered one out of view gives way to the nearest", 39000, 1, 0, 5000, 3},
      {"a gap: the nearest in view", 17500, 1, -1, 5000, 2},
      // Slot 1600: forward the search starts at 1600 and 1601, both 200 slots from an entry.
      {"equal distance: the earlier wins", 16000, 1, -1, 5000, 1},
      // Slot 1601, entry 1 ending at the view's first slot 1401: forward the search starts at
      // 1601 and 1602 (200 and 199 slots away), backward at 1600 and 1601 (199 and 200).
      {"forward the later side is one slot nearer", 16010, 1, -1, 5000, 2, 1401},
      {"backward the earlier side is", 16010, -1, -1, 5000, 1, 1401},
      {"nothing in view", 29000, 1, -1, 5000, -1},
      {"length unknown: slot 0 whatever the position", 12500, 1, -1, 0, 0},
      {"length unknown: a remembered entry is limited to entry 0", 30000, 1, 2, 0, 0},
  };
  for (const Case& c : cases) {
    EditorState st = MakeState(5000, {{0, 100}, {1200, c.end1}, {1801, 1900}, {4000, 4100}}, 400);
    st.PlayPos = c.playPos;
    st.PlayRate = c.rate;
    st.ActiveSub = c.before;
    st.MediaLength = c.mediaLength;
    st.ViewStart = ViewStartOf(c.playPos, 400, c.mediaLength);
    FindCursorSubInWav(st, 400);
    EXPECT_EQ(st.ActiveSub, c.after) << c.name;
  }
}

TEST(WaveStripActive, PointerDraggingAndTheVideosEntries) {
  struct Case {
    const char* name;
    bool overWave;
    int32_t mouseColumn;
    bool dragging;
    int32_t subsInVideo;
    int32_t before;
    int32_t after;
  } cases[] = {
      // The view starts at slot 1000 (play position slot 1200, W 400).
      {"pointer over an entry", true, 250, false, 4, -1, 2},  // slot 1250
      {"pointer in a gap keeps the previous one", true, 10, false, 4, 3, 3},
      {"pointer left of the strip: the cursor decides", true, -5, false, 4, 3, 1},
      {"dragging changes nothing", true, 250, true, 4, 3, 3},
      {"dragging, pointer away", false, 0, true, 4, -1, -1},
      {"limited to the entries inside the video", false, 0, false, 1, -1, 1},
      {"limited to the entries inside the video, beyond", true, 250, false, 1, -1, 1},
  };
  for (const Case& c : cases) {
    Strip s(5000, {{0, 100}, {1180, 1210}, {1240, 1300}, {1400, 1500}}, 400);
    s.st.OverWave = c.overWave;
    s.st.MouseX = PANEL_LEFT + c.mouseColumn;
    s.st.Dragging = c.dragging;
    s.st.SubsInVideo = c.subsInVideo;
    s.st.ActiveSub = c.before;
    s.TickAt(12000);
    EXPECT_EQ(s.st.ViewStart, 2000) << c.name;
    EXPECT_EQ(s.st.ActiveSub, c.after) << c.name;
  }
}

TEST(WaveStripActive, ARemovedEntryIsNeverActive) {
  Strip s(5000, {{100, 200}}, 400);
  s.st.ActiveSub = 7;  // left from a longer timeline
  s.st.SubsInVideo = 9;
  s.st.Dragging = true;
  s.TickAt(1500);
  EXPECT_EQ(s.st.ActiveSub, 0);
  s.st.Subs.clear();
  s.st.WavSel.assign(5000, TWavSelect{false, -1});
  s.st.ActiveSub = 3;
  s.st.ViewMarker = -99;
  const StripFrame t = s.Tick();
  EXPECT_EQ(s.st.ActiveSub, -1);
  EXPECT_FALSE(t.label.visible);
}

TEST(WaveStripActive, SubCurrIsTheEntryUnderTheRightmostCursorColumn) {
  struct Case {
    const char* name;
    int32_t playPos;
    int32_t subCurr;
  } cases[] = {
      {"inside an entry", 11500, 1},
      {"the cursor's right column reaches the next entry", 11990, 2},   // slots 1198 .. 1200
      {"the rightmost column in a gap: the one left of it", 13000, 2},  // slots 1299 .. 1301
      {"a gap leaves it as it was", 15000, 7},
      {"at the start of the media", 0, 0},
  };
  for (const Case& c : cases) {
    Strip s(5000, {{0, 1000}, {1001, 1199}, {1200, 1300}}, 400);
    s.st.SubCurr = 7;
    s.TickAt(c.playPos);
    EXPECT_EQ(s.st.SubCurr, c.subCurr) << c.name;
  }
  // A slot whose pair draws no envelope does not count.
  Strip s(5000, {{0, 1000}, {1001, 1199}, {1200, 1300}}, 400);
  s.st.SubCurr = 7;
  for (int64_t slot = 1198; slot <= 1200; ++slot) {
    s.st.WsData[size_t(2 * slot)] = -1;
    s.st.WsData[size_t(2 * slot + 1)] = -1;
  }
  s.TickAt(11990);
  EXPECT_EQ(s.st.SubCurr, 7);
}

TEST(WaveStripActive, MarkedRangesOfTheActiveEntry) {
  struct Case {
    const char* name;
    int32_t active;
    bool overWave;
    StripMarks marks;
  } cases[] = {
      {"none", -1, false, {-1, -1, -1, -1}},
      // The first entry's band starts at 0; it ends in the middle of the gap after it:
      // 2 * (100 + (112 - 100) div 2 - 1).
      {"first entry", 0, false, {0, 200, 0, 2 * 105}},
      // A gap of 11 slots (101 .. 111) before the second entry: its band starts
      // 2 * (112 - 12 div 2 + 1); the gap after it (401 .. 449) ends at 2 * (400 + 50 div 2 - 1).
      {"between two gaps", 1, false, {224, 800, 2 * 107, 2 * 424}},
      {"pointer over the strip: the gaps' whole width", 1, true, {224, 800, 2 * 101, 2 * 449}},
      // The last entry's band reaches the end of the coverage map.
      {"last entry", 2, false, {900, 1000, 2 * (450 - 25 + 1), 2 * 4999}},
  };
  for (const Case& c : cases) {
    EditorState st = MakeState(5000, {{0, 100}, {112, 400}, {450, 500}}, 400);
    st.ActiveSub = c.active;
    st.OverWave = c.overWave;
    EXPECT_EQ(StripMarksOf(st), c.marks) << c.name;
  }
}

TEST(WaveStripActive, TheBandColoursTheGapBelowTheEnvelope) {
  Strip s(5000, {{1000, 1100}, {1112, 1200}}, 400);
  s.st.ActiveSub = 1;
  s.TickAt(11500);
  ASSERT_EQ(s.st.ActiveSub, 1);
  const StripPalette& p = StripColours(false);
  const int32_t first = s.st.ViewStart / 2;
  // Slot 1107 is in the band (it starts at slot 1107), 1106 is not; 1112 is the entry.
  const int32_t x = 1107 - first;
  const int32_t bottom = 64 - BottomOf(1107);
  EXPECT_EQ(s.strip.Pixel(x, 10), p.background);
  EXPECT_EQ(s.strip.Pixel(x, bottom), p.band);
  EXPECT_EQ(s.strip.Pixel(x, 127 - 20), p.band);
  EXPECT_EQ(s.strip.Pixel(x - 1, 64 - BottomOf(1106)), p.background);
  EXPECT_EQ(s.strip.Pixel(1112 - first, 10), p.currentBackground);
  EXPECT_EQ(s.strip.Pixel(1101 - first, 120), p.background);
  EXPECT_EQ(s.strip.Pixel(1050 - first, 127 - 20), p.subBackground);
}

// ---- Substitute edges ----

TEST(WaveStripEdges, StandInEdgesWhileTheFirstEntryEndsPastTheSound) {
  Strip s(1000, {{500, 1200}}, 400);  // the map's last index 999 < 1200
  s.TickAt(3000);
  EXPECT_EQ(s.st.PrevBegin, 0);
  EXPECT_EQ(s.st.PrevEnd, 500);
  EXPECT_EQ(s.st.CurBegin, 2750);
  EXPECT_EQ(s.st.CurEnd, 3250);
  EXPECT_EQ(s.st.NextBegin, 8000);
  EXPECT_EQ(s.st.NextEnd, 8500);
  s.TickAt(9800);
  EXPECT_EQ(s.st.PrevBegin, 4800);
  EXPECT_EQ(s.st.PrevEnd, 5300);
  EXPECT_EQ(s.st.CurEnd, 9990);
  EXPECT_EQ(s.st.NextBegin, 9990);
  EXPECT_EQ(s.st.NextEnd, 9990);

  // Entries that end inside the sound, and an empty timeline, keep their edges.
  for (const Times& times : {Times{{100, 200}}, Times{}}) {
    Strip t(1000, times, 400);
    t.st.PrevBegin = t.st.PrevEnd = t.st.CurBegin = t.st.CurEnd = t.st.NextBegin = t.st.NextEnd =
        77;
    t.TickAt(3000);
    EXPECT_EQ(t.st.CurBegin, 77);
    EXPECT_EQ(t.st.NextEnd, 77);
  }
  // No sound at all: the edges stay at 0, never before it.
  Strip e(0, {{10, 20}}, 400);
  e.TickAt(3000);
  EXPECT_EQ(e.st.CurEnd, 0);
  EXPECT_EQ(e.st.NextEnd, 0);
  EXPECT_EQ(e.st.CurBegin, 2750);
}

// ---- The subtitle lines ----

TEST(WaveStripLabels, PlacesOfTheThreeLines) {
  struct Case {
    const char* name;
    int32_t playPos;
    int32_t active;
    StripLabel prev, cur, next;
  } cases[] = {
      // Entry 0 reaches into the view from its left: its box begins at the container's left
      // edge; entry 2 begins right of the strip (column 400) and gets no width.
      {"clipped on the left",
       12000,
       1,
       {true, PANEL_LEFT, 50, "第1句"},
       {true, PANEL_LEFT + 150, 100, ""},
       {true, PANEL_LEFT + 400, 0, "第3句"}},
      // View from slot 1050: entry 0 ends where the view begins, entry 2 runs past its right
      // edge and is cut there.
      {"clipped on the right",
       12500,
       1,
       {true, PANEL_LEFT, 0, "第1句"},
       {true, PANEL_LEFT + 100, 100, ""},
       {true, PANEL_LEFT + 350, 50, "第3句"}},
      {"first entry: no line before it",
       11000,
       0,
       {false, 540 + 99, 0, ""},
       {true, PANEL_LEFT, 150, ""},
       {true, PANEL_LEFT + 250, 100, "第2句"}},
      // View from slot 1450: entry 1 lies wholly left of it.
      {"last entry: no line after it",
       16500,
       2,
       {true, PANEL_LEFT, 0, "第2句"},
       {true, PANEL_LEFT, 50, ""},
       {false, 540 + 99, 0, ""}},
  };
  for (const Case& c : cases) {
    Strip s(5000, {{900, 1050}, {1150, 1250}, {1400, 1500}}, 400);
    s.st.ActiveSub = c.active;
    s.st.OverWave = true;  // the pointer keeps the active entry
    s.st.MouseX = PANEL_LEFT - 1;
    s.st.Dragging = true;
    const StripFrame t = s.TickAt(c.playPos);
    const auto check = [&](const StripLabel& got, const StripLabel& want, const char* which) {
      EXPECT_EQ(got.visible, want.visible) << c.name << ": " << which;
      EXPECT_EQ(got.left, want.left) << c.name << ": " << which;
      if (want.visible) {
        EXPECT_EQ(got.width, want.width) << c.name << ": " << which;
      }
      if (!want.text.empty()) {
        EXPECT_EQ(got.text, want.text) << c.name << ": " << which;
      }
    };
    check(t.labelPrev, c.prev, "prev");
    check(t.label, c.cur, "current");
    check(t.labelNext, c.next, "next");
  }
}

TEST(WaveStripLabels, TheCurrentLineIsPaddedWithTildesToItsBoxesWidth) {
  Strip s(5000, {{1100, 1300}}, 400);
  s.st.Subs[0].Dialogue = "你好||世界";
  const StripFrame t = s.TickAt(12000);
  ASSERT_TRUE(t.label.visible);
  ASSERT_EQ(t.label.width, 200);
  // The text itself first, "||" and all, then tildes fifteen at a time until the text
  // measures at least the box's width (7 px a character: 6 + 15 + 15 = 36 characters).
  EXPECT_EQ(t.label.text.rfind("你好||世界", 0), 0u);
  EXPECT_GE(FakeMeasure(t.label.text), 200);
  EXPECT_LT(FakeMeasure(t.label.text) - 7 * 15, 200);
  EXPECT_EQ(t.label.text, "你好||世界" + std::string(LABEL_TILDES) + LABEL_TILDES);
  // A canvas on which the tildes take no room does not loop for ever.
  EXPECT_EQ(PadWithTildes("x", 100, [](const std::string&) { return 3; }),
            std::string("x") + LABEL_TILDES);
  // Nothing to measure with: no tildes.
  EXPECT_EQ(PadWithTildes("x", 100, nullptr), "x");
  EXPECT_EQ(PadWithTildes("x", 0, FakeMeasure), "x");
}

TEST(WaveStripLabels, HiddenWithoutAnActiveEntryOrWhenTurnedOff) {
  for (bool showSub : {true, false}) {
    Strip s(5000, {{1100, 1300}, {1400, 1450}}, 400);
    s.st.Ctrl.CheckBoxShowSub = showSub;
    const StripFrame t = s.TickAt(showSub ? 30000 : 12000);
    for (const StripLabel* l : {&t.labelPrev, &t.label, &t.labelNext}) {
      EXPECT_FALSE(l->visible);
      EXPECT_EQ(l->left, 540 + 99);
    }
  }
}

// ---- The time display ----

TEST(WaveStripTime, TextAndBackgroundOfTheTimeDisplay) {
  Strip s(50000, {}, 400);
  const StripFrame t = s.TickAt(83456);
  EXPECT_EQ(t.time.text, "0:01:23.4");
  EXPECT_EQ(t.time.left, 540 / 2 - 84);
  EXPECT_EQ(t.time.top, PANEL_TOP + 128 + 8);
  ASSERT_EQ(t.time.rows.size(), 29u);
  // Rows y0 + 4 .. y0 + 32 lie 180 .. 208 rows below the gradient's top (Panel1 top - 40).
  EXPECT_EQ(t.time.rows.front(), TimeBackgroundColour(180));
  EXPECT_EQ(t.time.rows.back(), TimeBackgroundColour(208));
  EXPECT_EQ(TimeBackgroundColour(180), RgbOf(43, 91, 120));
  // The gradient's sample rows.
  struct Sample {
    int32_t d;
    Argb colour;
  } samples[] = {{0, RgbOf(0, 0, 0)},      {72, RgbOf(0, 0, 28)},     {120, RgbOf(0, 31, 66)},
                 {150, RgbOf(17, 61, 90)}, {184, RgbOf(47, 96, 124)}, {224, RgbOf(120, 144, 175)}};
  for (const Sample& x : samples) EXPECT_EQ(TimeBackgroundColour(x.d), x.colour) << x.d;
  // Past the formula's range the components wrap to their low 8 bits rather than fail.
  EXPECT_NO_THROW(TimeBackgroundColour(391));
  EXPECT_NO_THROW(TimeBackgroundColour(100000));
  // Ten hours and more: the first nine characters.
  EXPECT_EQ(s.TickAt(36000000 + 83456).time.text, "10:01:23.");
}

// ---- A resize during a drag ----

TEST(WaveStripResize, AResizeDuringADragNeitherMovesTheEntryNorBreaksTheStrip) {
  Strip s(5000, {{1100, 1200}, {2000, 2100}}, 400);
  s.st.MouseY = PANEL_TOP + 100;  // below the cut band: a press drags
  s.st.Ctrl.chkBoxAIenable = false;
  s.TickAt(11500);
  ASSERT_EQ(s.st.ActiveSub, 0);
  const int32_t press = 120;  // a strip column
  PaintWavMouseDown(s.st, MouseButton::Left, {}, press);
  ASSERT_TRUE(s.st.Dragging);
  PaintWavMouseMove(s.st, {}, press + 10, 100);
  ASSERT_EQ(s.st.Subs[0].TimeIn, 1110);

  // The window grows: the container moves 60 px left and gets 120 px wider.
  const int32_t pointer = PANEL_LEFT + press + 10;  // where the pointer is in the window
  PlaceStripPanel(s.st, PANEL_LEFT - 60, PANEL_TOP + 30, 520);
  s.view.width = 520;
  s.view.clientWidth = 660;
  const StripFrame t = s.Tick();
  EXPECT_TRUE(t.drawn && t.full);
  EXPECT_EQ(s.strip.Width(), 520);
  EXPECT_EQ(s.st.ActiveSub, 0);
  EXPECT_EQ(FirstDifference(s.strip, ReferencePaint(s.st, 520)), "");
  // The pointer where it was reads as the same displacement: nothing moves.
  PaintWavMouseMove(s.st, {}, pointer - s.st.Panel1Left, 100);
  EXPECT_EQ(s.st.Subs[0].TimeIn, 1110);
  // Moving on moves the entry by what the pointer moves.
  PaintWavMouseMove(s.st, {}, pointer - s.st.Panel1Left + 5, 100);
  EXPECT_EQ(s.st.Subs[0].TimeIn, 1115);
  PaintWavMouseUp(s.st);

  // Without a drag the layout only moves the container and asks for a full redraw.
  s.st.ViewMarker = 11500;
  const int32_t startX = s.st.DragStartX;
  PlaceStripPanel(s.st, 10, 20, 300);
  EXPECT_EQ(s.st.DragStartX, startX);
  EXPECT_EQ(s.st.Panel1Left, 10);
  EXPECT_EQ(s.st.Panel1Top, 20);
  EXPECT_EQ(s.st.Panel1Width, 300);
  EXPECT_LT(s.st.ViewMarker, 0);
}

TEST(WaveStripResize, AStripOfAnotherSizeIsDrawnWholeEvenWithoutAMarker) {
  Strip s(5000, {{1100, 1200}}, 400);
  s.TickAt(11500);
  s.view.width = 300;
  const StripFrame t = s.Tick();  // ViewMarker equals the position
  EXPECT_TRUE(t.drawn && t.full);
  EXPECT_EQ(s.strip.Width(), 300);
  EXPECT_EQ(FirstDifference(s.strip, ReferencePaint(s.st, 300)), "");
  // A strip of no width draws nothing and does not fail.
  s.view.width = 0;
  EXPECT_TRUE(s.Tick().drawn);
  EXPECT_EQ(s.strip.Width(), 0);
}

}  // namespace
}  // namespace tamsel
