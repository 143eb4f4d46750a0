#include "WaveStrip.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "TimeText.h"

namespace tamsel {

namespace {

constexpr StripPalette NORMAL_COLOURS{
    RgbOf(0, 56, 0),      RgbOf(16, 64, 64),    RgbOf(0, 100, 0),   RgbOf(64, 191, 64),
    RgbOf(0, 0, 0),       RgbOf(20, 40, 56),    RgbOf(80, 110, 96), RgbOf(56, 88, 80),
    RgbOf(200, 190, 175), RgbOf(175, 164, 140), RgbOf(72, 0, 0),    RgbOf(0, 0, 48),
};
constexpr StripPalette SCORE_COLOURS{
    RgbOf(56, 0, 0),      RgbOf(56, 16, 32),    RgbOf(56, 0, 0),   RgbOf(191, 64, 64),
    RgbOf(0, 0, 0),       RgbOf(48, 48, 72),    RgbOf(96, 80, 96), RgbOf(80, 72, 72),
    RgbOf(190, 200, 175), RgbOf(164, 175, 140), RgbOf(127, 0, 0),  RgbOf(127, 0, 0),
};

/// Whether a subtitle covers `slot`; slots outside the coverage map are not covered.
bool Covered(const EditorState& st, int64_t slot) {
  return slot >= 0 && slot < static_cast<int64_t>(st.WavSel.size()) &&
         st.WavSel[static_cast<size_t>(slot)].Select;
}

int32_t SubIndexAt(const EditorState& st, int64_t slot) {
  return st.WavSel[static_cast<size_t>(slot)].SubIndex;
}

int32_t ToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

/// A score of AiBegin or AiEnd; none past their end.
int32_t ScoreAt(const std::vector<uint8_t>& scores, int64_t slot) {
  return slot >= 0 && slot < static_cast<int64_t>(scores.size()) ? scores[size_t(slot)] : 0;
}

/// A component of the time display's background: truncated, then its low 8 bits.
int32_t LowByte(double v) {
  if (!std::isfinite(v) || std::fabs(v) > 1e15) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(std::trunc(v)) & 0xFF);
}

/// Whether a remembered active entry still shows in the strip's view: it stays active while any
/// part of it is on screen, so that the entry the user is working on does not change for a
/// neighbour while the cursor passes the gap after it.
bool ShownInView(const EditorState& st, int32_t index, int32_t width) {
  if (index < 0 || static_cast<size_t>(index) >= st.Subs.size()) return false;
  const int64_t first = st.ViewStart / 2;
  const TSub& s = st.Subs[static_cast<size_t>(index)];
  return s.TimeOut >= first && s.TimeIn < first + width;
}

void HideLabel(StripLabel& l, int32_t clientWidth) {
  l = StripLabel{};
  l.left = ToInt32(int64_t{clientWidth} + 99);
}

/// Subtitle k's box on the strip, clipped to the strip's container.
void PlaceLabel(const EditorState& st, size_t k, StripLabel& l) {
  const TSub& s = st.Subs[k];
  const int64_t panelLeft = st.Panel1Left;
  int64_t x = panelLeft + s.TimeIn - st.ViewStart / 2;
  int64_t w = int64_t{s.TimeOut} - s.TimeIn;
  if (x < panelLeft) {
    w -= panelLeft - x;
    x = panelLeft;
  }
  w = std::min(w, panelLeft + st.Panel1Width - x);
  l.visible = true;
  l.left = ToInt32(x);
  // A box wholly outside the container has no width; a label cannot have less.
  l.width = ToInt32(std::max<int64_t>(w, 0));
  l.text = s.Dialogue;
}

using PadFunction = std::function<std::string(const std::string&, int32_t)>;

void PlaceLabels(const EditorState& st, int32_t clientWidth, const PadFunction& pad,
                 StripLabel& prev, StripLabel& cur, StripLabel& next) {
  const int64_t u = st.ActiveSub;
  const int64_t count = static_cast<int64_t>(st.Subs.size());
  if (!st.Ctrl.CheckBoxShowSub || u < 0 || u >= count) {
    HideLabel(prev, clientWidth);
    HideLabel(cur, clientWidth);
    HideLabel(next, clientWidth);
    return;
  }
  PlaceLabel(st, size_t(u), cur);
  cur.text = pad(cur.text, cur.width);
  if (u > 0) {
    PlaceLabel(st, size_t(u - 1), prev);
  } else {
    HideLabel(prev, clientWidth);
  }
  if (u + 1 < count) {
    PlaceLabel(st, size_t(u + 1), next);
  } else {
    HideLabel(next, clientWidth);
  }
}

/// The cursor's three slots, as columns of a view starting at `viewStart` (may lie outside).
int64_t CursorColumn(int64_t centre, int64_t viewStart, int d) {
  return (centre - viewStart) / 2 + d;
}

/// One row of a run of columns: `upper` above `top`, `body` above `bottom`, `lower` below. As
/// selections by masks over arrays that do not overlap, so that the compiler can do several
/// columns at once.
void FillRow(Argb* __restrict row, int32_t y, const int32_t* __restrict top,
             const int32_t* __restrict bottom, const Argb* __restrict upper,
             const Argb* __restrict body, const Argb* __restrict lower, int32_t count) {
  for (int32_t j = 0; j < count; ++j) {
    // All ones when y < bottom (top): the sign of bottom - y - 1 spread over the word.
    const Argb inBody = ~static_cast<Argb>((bottom[j] - y - 1) >> 31);
    const Argb inTop = ~static_cast<Argb>((top[j] - y - 1) >> 31);
    Argb v = lower[j] ^ ((body[j] ^ lower[j]) & inBody);
    v ^= (upper[j] ^ v) & inTop;
    row[j] = v;
  }
}

/// Whether two scenes differ in no more than where the view starts and where the cursor is.
bool SameButScroll(const StripScene& a, const StripScene& b) {
  StripScene moved = b;
  moved.viewStart = a.viewStart;
  moved.centre = a.centre;
  return moved == a;
}

}  // namespace

const char* const LABEL_TILDES = "～～～～～～～～～～～～～～～";

const StripPalette& StripColours(bool showAI) { return showAI ? SCORE_COLOURS : NORMAL_COLOURS; }

Argb TimeBackgroundColour(int32_t d) {
  const double rx = std::max(d - 120, 0);
  const double gx = std::max(d - 72, 0);
  const double bd = d;
  // n / den * x, worked out as n * x / den: one rounding only, so that a whole quotient
  // (200 / 300 * 180) is not truncated to the integer below it.
  const int32_t r = LowByte(250.0 * rx / (std::fabs(128 - rx) + 400 - 2 * rx));
  const int32_t g = LowByte(350.0 * gx / (std::fabs(80 - gx) + 600 - 2 * gx));
  const int32_t b = LowByte(200.0 * bd / (std::fabs(120 - bd) + 600 - 2 * bd));
  return RgbOf(r, g, b);
}

StripColumn StripColumnAt(const EditorState& st, const StripScene& scene, int32_t x) {
  StripColumn c;
  const int64_t m = scene.viewStart + 2 * int64_t{x};
  c.slot = m / 2;
  // Past the data (a video longer than its sound, a strip wider than the sound) lies silence.
  int32_t up = 0, down = -1;
  if (m >= 0 && m + 1 < static_cast<int64_t>(st.WsData.size())) {
    up = st.WsData[size_t(m)];
    down = st.WsData[size_t(m) + 1];
  }
  c.selected = Covered(st, c.slot);
  c.subIndex = c.selected ? SubIndexAt(st, c.slot) : -1;
  c.cursor = std::llabs(m - scene.centre) < 4;
  c.envelope = up > down;
  const StripMarks& k = scene.marks;
  const bool inCurrent = k.inB <= m && m <= k.outB;
  const bool inBand = k.bandStart <= m && m <= k.bandEnd;
  const StripPalette& p = StripColours(scene.showAI);

  const Argb background = c.cursor
                              ? (c.selected ? p.cursorBackgroundInSub : p.cursorBackgroundOutside)
                          : inCurrent  ? p.currentBackground
                          : c.selected ? p.subBackground
                                       : p.background;
  c.upper = c.lower = background;
  const bool banded = !c.cursor && inBand && !c.selected;
  if (banded) {
    c.lower = p.band;
    c.upper = p.background;
  }
  c.body = c.cursor                  ? (c.selected ? p.cursorBodyInSub : p.currentBody)
           : c.selected && inCurrent ? p.currentBody
           : c.selected              ? p.subBody
                                     : p.plainBody;
  const int32_t h = scene.height;
  if (c.envelope) {
    c.bodyTop = std::clamp(STRIP_CENTRE - up, 0, h);
    c.bodyBottom = std::clamp(STRIP_CENTRE - down, 0, h);
  } else {
    // One colour for the whole column: the lower background, where inside the active
    // subtitle the plain subtitle background stands for the active one's.
    const Argb whole = !c.cursor && inCurrent && !banded ? p.subBackground : c.lower;
    c.upper = c.body = c.lower = whole;
    c.bodyTop = c.bodyBottom = h;
  }

  c.tickRows = c.slot % 100 == 0 ? 8 : c.slot % 50 == 0 ? 4 : c.slot % 10 == 0 ? 2 : 0;
  c.tickRows = std::min(c.tickRows, h / 2);
  c.beginFrom = STRIP_CENTRE;
  c.endTo = STRIP_CENTRE;
  if (scene.speechMarks) {
    const int32_t b = ScoreAt(st.AiBegin, c.slot);
    const int32_t e = ScoreAt(st.AiEnd, c.slot);
    if (b > 1) c.beginFrom = std::max(STRIP_CENTRE + 1 - b, 0);
    if (e > 1) c.endTo = std::min(STRIP_CENTRE - 1 + e, h - 1);
  }
  return c;
}

void WaveStrip::Resize(int32_t width, int32_t height) {
  m_width = std::max(width, 0);
  m_height = std::max(height, 0);
  m_origin = 0;
  m_pixels.assign(static_cast<size_t>(m_width) * static_cast<size_t>(m_height), RgbOf(0, 0, 0));
  m_shows = false;
}

void WaveStrip::Scroll(int32_t columns) {
  if (m_width == 0) return;
  const int32_t shift = columns % m_width;
  m_origin = ((m_origin + shift) % m_width + m_width) % m_width;
}

void WaveStrip::DrawColumns(const EditorState& st, const StripScene& scene, int32_t from,
                            int32_t to) {
  from = std::max(from, 0);
  to = std::min(to, m_width);
  if (from >= to || m_height == 0) return;
  const int32_t count = to - from;
  m_cols.resize(size_t(count));
  m_top.resize(size_t(count));
  m_bottom.resize(size_t(count));
  m_upper.resize(size_t(count));
  m_body.resize(size_t(count));
  m_lower.resize(size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    const StripColumn& c = m_cols[size_t(i)] = StripColumnAt(st, scene, from + i);
    m_top[size_t(i)] = c.bodyTop;
    m_bottom[size_t(i)] = c.bodyBottom;
    m_upper[size_t(i)] = c.upper;
    m_body[size_t(i)] = c.body;
    m_lower[size_t(i)] = c.lower;
  }
  const size_t stride = static_cast<size_t>(m_width);
  // The three segments row by row, over at most two runs of the circular buffer.
  for (int32_t i = 0; i < count;) {
    const size_t first = Physical(from + i);
    const int32_t run = std::min(count - i, m_width - static_cast<int32_t>(first));
    const int32_t* top = m_top.data() + i;
    const int32_t* bottom = m_bottom.data() + i;
    const Argb* upper = m_upper.data() + i;
    const Argb* body = m_body.data() + i;
    const Argb* lower = m_lower.data() + i;
    for (int32_t y = 0; y < m_height; ++y) {
      FillRow(m_pixels.data() + static_cast<size_t>(y) * stride + first, y, top, bottom, upper,
              body, lower, run);
    }
    i += run;
  }
  // Tick marks, then the speech marks over them.
  const StripPalette& p = StripColours(scene.showAI);
  for (int32_t i = 0; i < count; ++i) {
    const StripColumn& c = m_cols[size_t(i)];
    Argb* column = m_pixels.data() + Physical(from + i);
    const auto paint = [&](int32_t y0, int32_t y1, Argb colour) {  // rows y0 .. y1 inclusive
      for (int32_t y = std::max(y0, 0); y <= std::min(y1, m_height - 1); ++y) {
        column[static_cast<size_t>(y) * stride] = colour;
      }
    };
    if (c.tickRows > 0) {
      paint(0, c.tickRows - 1, TICK_COLOUR);
      paint(m_height - c.tickRows, m_height - 1, TICK_COLOUR);
    }
    if (c.beginFrom < STRIP_CENTRE) paint(c.beginFrom, STRIP_CENTRE - 1, p.beginMark);
    if (c.endTo > STRIP_CENTRE) paint(STRIP_CENTRE + 1, c.endTo, p.endMark);
  }
}

const std::string& WaveStrip::Padded(
    const std::string& text, int32_t width,
    const std::function<int32_t(const std::string&)>& measureText) {
  if (width != m_padWidth || text != m_padSource) {
    m_padSource = text;
    m_padWidth = width;
    m_padded = PadWithTildes(text, width, measureText);
  }
  return m_padded;
}

int32_t ViewStartOf(int32_t playPos, int32_t width, int32_t mediaLength) {
  const int64_t g = 2 * (int64_t{std::max(playPos, 0)} / 10);
  int64_t v = g - width;
  v = std::min<int64_t>(v, 2 * (int64_t{mediaLength} - width));
  v = std::max<int64_t>(v, 0);
  if (v % 2 != 0) --v;
  // Even and within the 32-bit range ViewStart is kept in.
  return static_cast<int32_t>(std::min<int64_t>(v, std::numeric_limits<int32_t>::max() - 1));
}

StripMarks StripMarksOf(const EditorState& st) {
  StripMarks k;
  const int64_t u = st.ActiveSub;
  const int64_t count = static_cast<int64_t>(st.Subs.size());
  if (u < 0 || u >= count) return k;
  const auto timeIn = [&](int64_t i) -> int64_t { return st.Subs[size_t(i)].TimeIn; };
  const auto timeOut = [&](int64_t i) -> int64_t { return st.Subs[size_t(i)].TimeOut; };
  k.inB = 2 * timeIn(u);
  k.outB = 2 * timeOut(u);
  if (u == 0) {
    k.bandStart = 0;
  } else if (st.OverWave) {
    k.bandStart = 2 * (timeOut(u - 1) + 1);
  } else {
    k.bandStart = 2 * (timeIn(u) - (timeIn(u) - timeOut(u - 1)) / 2 + 1);
  }
  if (u == count - 1) {
    k.bandEnd = 2 * (static_cast<int64_t>(st.WavSel.size()) - 1);
  } else if (st.OverWave) {
    k.bandEnd = 2 * (timeIn(u + 1) - 1);
  } else {
    k.bandEnd = 2 * (timeOut(u) + (timeIn(u + 1) - timeOut(u)) / 2 - 1);
  }
  return k;
}

void FindCursorSubInWav(EditorState& st, int32_t width) {
  const int64_t last = static_cast<int64_t>(st.WavSel.size()) - 1;
  const int64_t slot = std::min<int64_t>(st.PlayPos / 10, st.MediaLength);
  if (Covered(st, slot)) st.ActiveSub = SubIndexAt(st, slot);
  if (st.ActiveSub >= 0) {
    // While the media length is not known yet (0) only the first entry can stay.
    st.ActiveSub = std::min(st.ActiveSub, st.MediaLength);
    if (!ShownInView(st, st.ActiveSub, width)) st.ActiveSub = -1;
  }
  if (st.ActiveSub >= 0 || last < 0) return;
  const int64_t lo = std::min<int64_t>(std::max<int64_t>(st.ViewStart / 2, 0), last - 1);
  const int64_t hi = std::min<int64_t>(int64_t{st.ViewStart / 2} + width, last);
  int64_t a = st.PlayPos / 10;
  int64_t b = a + 1;
  if (st.PlayRate < 0) {
    b = st.PlayPos / 10;
    a = b - 1;
  }
  for (int64_t d = 0; d < width; ++d) {
    const int64_t i = std::min(std::max(a - d, lo), last);
    const int64_t j = std::min({b + d, hi, last});
    if (Covered(st, i)) {
      st.ActiveSub = SubIndexAt(st, i);
      return;
    }
    if (Covered(st, j)) {
      st.ActiveSub = SubIndexAt(st, j);
      return;
    }
  }
}

void SubstituteEdges(EditorState& st) {
  const int64_t last = static_cast<int64_t>(st.WavSel.size()) - 1;
  if (st.Subs.empty() || last >= st.Subs[0].TimeOut) return;
  const int64_t end = std::max<int64_t>(10 * last, 0);
  const int64_t p = st.PlayPos;
  st.PrevBegin = ToInt32(std::max<int64_t>(p - 5000, 0));
  st.PrevEnd = ToInt32(std::min<int64_t>(end, int64_t{st.PrevBegin} + 500));
  st.CurBegin = ToInt32(std::max<int64_t>(p - 250, 0));
  st.CurEnd = ToInt32(std::min<int64_t>(end, p + 250));
  st.NextBegin = ToInt32(std::min<int64_t>(end, p + 5000));
  st.NextEnd = ToInt32(std::min<int64_t>(end, p + 5500));
}

std::string PadWithTildes(const std::string& text, int32_t width,
                          const std::function<int32_t(const std::string&)>& measureText) {
  std::string padded = text;
  if (!measureText) return padded;
  int32_t have = measureText(padded);
  while (have < width) {
    padded += LABEL_TILDES;
    const int32_t now = measureText(padded);
    // A canvas that cannot show the tildes would never reach the width.
    if (now <= have) break;
    have = now;
  }
  return padded;
}

void PlaceStripLabels(const EditorState& st, int32_t clientWidth,
                      const std::function<int32_t(const std::string&)>& measureText,
                      StripLabel& prev, StripLabel& cur, StripLabel& next) {
  PlaceLabels(
      st, clientWidth,
      [&](const std::string& text, int32_t width) {
        return PadWithTildes(text, width, measureText);
      },
      prev, cur, next);
}

StripTimeDisplay TimeDisplayOf(const EditorState& st, int32_t clientWidth) {
  StripTimeDisplay t;
  t.left = clientWidth / 2 - 84;
  t.top = ToInt32(int64_t{st.Panel1Top} + STRIP_HEIGHT + 8);
  const int64_t gradientTop = int64_t{st.Panel1Top} - 40;
  for (int32_t r = TIME_ROWS_FROM; r <= TIME_ROWS_TO; ++r) {
    t.rows.push_back(TimeBackgroundColour(ToInt32(t.top + r - gradientTop)));
  }
  t.text = IntToTimeAssStr(std::max(st.PlayPos, 0) / 10).substr(0, 9);
  return t;
}

StripScene StripChoices(EditorState& st, int32_t width) {
  width = std::max(width, 0);
  st.PlayPos = std::max(st.PlayPos, 0);
  StripScene scene;
  scene.centre = 2 * (int64_t{st.PlayPos} / 10);
  st.ViewStart = ViewStartOf(st.PlayPos, width, st.MediaLength);
  scene.viewStart = st.ViewStart;

  if (!st.Dragging) {
    if (st.OverWave && st.MouseX >= st.Panel1Left) {
      const int64_t s = int64_t{st.ViewStart / 2} + st.MouseX - st.Panel1Left;
      if (Covered(st, s)) st.ActiveSub = SubIndexAt(st, s);
    } else {
      FindCursorSubInWav(st, width);
    }
  }
  st.ActiveSub = std::min(st.ActiveSub, st.SubsInVideo);
  // An entry that no longer exists (the timeline got shorter) cannot be active.
  st.ActiveSub = ToInt32(std::min<int64_t>(st.ActiveSub, static_cast<int64_t>(st.Subs.size()) - 1));

  scene.marks = StripMarksOf(st);
  scene.showAI = st.Ctrl.CheckBoxShowAI;
  scene.speechMarks = st.Ctrl.chkBoxAIenable;
  scene.height = STRIP_HEIGHT;

  SubstituteEdges(st);

  // SubCurr: the entry under the rightmost cursor column inside one whose envelope is drawn.
  for (int d = -1; d <= 1; ++d) {
    const int64_t x = CursorColumn(scene.centre, scene.viewStart, d);
    if (x < 0 || x >= width) continue;
    const StripColumn c = StripColumnAt(st, scene, static_cast<int32_t>(x));
    if (c.cursor && c.selected && c.envelope) st.SubCurr = c.subIndex;
  }
  return scene;
}

StripFrame Timer4ShowWavTimer(EditorState& st, WaveStrip& strip, const StripView& view) {
  StripFrame tick;
  if (st.WaveRedraw) {
    if (view.formBelowPaint) view.formBelowPaint();
    st.WaveRedraw = false;
    st.ViewMarker = -100.0;
  }
  st.PlayPos = std::max(st.PlayPos, 0);
  const int32_t width = std::max(view.width, 0);
  // A strip that changed its size or never showed anything is drawn whatever the position.
  const bool fresh = strip.Width() != width || strip.Height() != STRIP_HEIGHT || !strip.Shows();
  if (std::fabs(st.ViewMarker - st.PlayPos) < 10 && !fresh) return tick;
  const bool whole = st.ViewMarker < 0 || fresh;
  st.ViewMarker = st.PlayPos;
  if (strip.Width() != width || strip.Height() != STRIP_HEIGHT) strip.Resize(width);
  tick.drawn = true;

  tick.time = TimeDisplayOf(st, view.clientWidth);
  const StripScene scene = StripChoices(st, width);
  const int64_t centre = scene.centre;

  PlaceLabels(
      st, view.clientWidth,
      [&](const std::string& text, int32_t w) { return strip.Padded(text, w, view.measureText); },
      tick.labelPrev, tick.label, tick.labelNext);

  // The columns: all of them, or only what scrolling into view and the cursor changed.
  const StripScene& shown = strip.Shown();
  const int64_t shift = (scene.viewStart - shown.viewStart) / 2;
  if (whole || !SameButScroll(shown, scene) || std::llabs(shift) >= width) {
    strip.DrawColumns(st, scene, 0, width);
    tick.full = true;
    tick.changedFrom = 0;
    tick.changedTo = width;
  } else {
    strip.Scroll(static_cast<int32_t>(shift));
    int64_t lo = width, hi = 0;
    const auto redraw = [&](int64_t from, int64_t to) {
      from = std::max<int64_t>(from, 0);
      to = std::min<int64_t>(to, width);
      if (from >= to) return;
      strip.DrawColumns(st, scene, static_cast<int32_t>(from), static_cast<int32_t>(to));
      lo = std::min(lo, from);
      hi = std::max(hi, to);
    };
    if (shift > 0) redraw(width - shift, width);
    if (shift < 0) redraw(0, -shift);
    // The columns the cursor left and those it entered.
    redraw(CursorColumn(shown.centre, scene.viewStart, -1),
           CursorColumn(shown.centre, scene.viewStart, 2));
    redraw(CursorColumn(centre, scene.viewStart, -1), CursorColumn(centre, scene.viewStart, 2));
    tick.changedFrom = static_cast<int32_t>(shift != 0 ? 0 : std::min<int64_t>(lo, hi));
    tick.changedTo = static_cast<int32_t>(shift != 0 ? width : hi);
  }
  strip.SetShown(scene);
  st.ViewMarker = st.PlayPos;
  return tick;
}

void PlaceStripPanel(EditorState& st, int32_t left, int32_t top, int32_t width) {
  if (left == st.Panel1Left && top == st.Panel1Top && width == st.Panel1Width) return;
  // The drag's start column is counted from the container's left edge: moved with it, the
  // pointer's displacement since the press stays what it was.
  if (st.Dragging) st.DragStartX = ToInt32(int64_t{st.DragStartX} + st.Panel1Left - left);
  st.Panel1Left = left;
  st.Panel1Top = top;
  st.Panel1Width = width;
  st.ViewMarker = -100.0;
}

}  // namespace tamsel
