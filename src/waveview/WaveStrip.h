#pragma once

// The waveform strip under the video: one pixel column per centisecond slot around the play
// position, showing the sound's envelope (or the speech scores), the subtitles that cover each
// slot, the active subtitle and its band, the play cursor, tick marks and the detected speech
// edges. Its tick also decides which subtitle the edits act on (ActiveSub), keeps SubCurr on the
// subtitle under the cursor and places the three scrolling subtitle lines.
//
// Everything here is arithmetic on the editor state: the strip is drawn into a pixel buffer
// (WaveStrip) that the window only copies to the screen, and the texts (the time display and
// the subtitle lines) are handed to the window with their places. So every pixel the strip
// shows can be checked without a window.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "EditorState.h"

namespace tamsel {

/// The strip's height in pixels and the row of its centre line.
inline constexpr int32_t STRIP_HEIGHT = 128;
inline constexpr int32_t STRIP_CENTRE = 64;

/// A colour as 0xFFRRGGBB: opaque, the layout of a 32-bit RGB image.
using Argb = uint32_t;
constexpr Argb RgbOf(int r, int g, int b) {
  return 0xFF000000u | (static_cast<uint32_t>(r & 0xFF) << 16) |
         (static_cast<uint32_t>(g & 0xFF) << 8) | static_cast<uint32_t>(b & 0xFF);
}

/// The strip's colours for one of its two views.
struct StripPalette {
  Argb plainBody;    ///< envelope outside subtitles
  Argb subBody;      ///< envelope inside a subtitle
  Argb currentBody;  ///< envelope inside the active subtitle; under the cursor outside subtitles
  Argb cursorBodyInSub;    ///< envelope under the cursor inside a subtitle
  Argb background;         ///< outside subtitles
  Argb subBackground;      ///< inside a subtitle
  Argb currentBackground;  ///< inside the active subtitle
  Argb band;               ///< below the envelope in the active subtitle's band, outside subtitles
  Argb cursorBackgroundInSub;    ///< under the cursor inside a subtitle
  Argb cursorBackgroundOutside;  ///< under the cursor outside subtitles
  Argb beginMark;                ///< a detected speech start
  Argb endMark;                  ///< a detected speech end
};
/// The normal view, or with `showAI` the view of the speech scores.
const StripPalette& StripColours(bool showAI);
/// The tick marks every 0.1, 0.5 and 1 s.
inline constexpr Argb TICK_COLOUR = RgbOf(64, 64, 64);
/// The time display's text colour.
inline constexpr Argb TIME_TEXT_COLOUR = RgbOf(32, 35, 56);

/// The active subtitle's ranges as indices into WsData (twice a slot), -1 when none is active.
struct StripMarks {
  int64_t inB = -1;        ///< the active subtitle: from inB
  int64_t outB = -1;       ///< ... to outB
  int64_t bandStart = -1;  ///< its band, reaching into the gaps around it
  int64_t bandEnd = -1;
  bool operator==(const StripMarks&) const = default;
};

/// What one column of the strip shows. Rows [0, bodyTop) are `upper`, [bodyTop, bodyBottom)
/// `body`, [bodyBottom, height) `lower`; over these the tick rows at both ends and the speech
/// marks.
struct StripColumn {
  int64_t slot = 0;
  bool cursor = false;    ///< one of the three columns around the play position
  bool selected = false;  ///< a subtitle covers the slot
  bool envelope = false;  ///< its pair has top > bottom: drawn as three segments, not one colour
  int32_t bodyTop = 0;
  int32_t bodyBottom = 0;
  Argb upper = 0, body = 0, lower = 0;
  int32_t tickRows = 0;   ///< 0, 2, 4 or 8 rows in TICK_COLOUR at the top and at the bottom
  int32_t beginFrom = 0;  ///< the speech-start mark covers rows beginFrom .. 63 (none: 64)
  int32_t endTo = 0;      ///< the speech-end mark covers rows 65 .. endTo (none: 64)
  int32_t subIndex = -1;  ///< the covering subtitle, when selected
};

/// The facts a strip column depends on, besides its slot.
struct StripScene {
  int64_t viewStart = 0;  ///< ViewStart: twice the first column's slot
  int64_t centre = 0;     ///< g: twice the play position's slot
  StripMarks marks;
  bool showAI = false;       ///< CheckBoxShowAI: the speech-score colours
  bool speechMarks = false;  ///< chkBoxAIenable: the speech edges are marked
  int32_t height = STRIP_HEIGHT;
  bool operator==(const StripScene&) const = default;
};

/// Column x of the strip (slot viewStart div 2 + x). Slots past the end of WsData read as
/// silence (0, -1), past the end of WavSel as not covered, past AiBegin and AiEnd as no mark.
StripColumn StripColumnAt(const EditorState& st, const StripScene& scene, int32_t x);

/// One of the subtitle lines over the strip (LabelStrPrev, LabelStr, LabelStrNext).
struct StripLabel {
  bool visible = false;
  int32_t left = 0;   ///< in the window's client area
  int32_t width = 0;  ///< the subtitle's box on the strip, never negative
  std::string text;   ///< UTF-8
  bool operator==(const StripLabel&) const = default;
};

/// The time display under the strip: its background rows and its text.
struct StripTimeDisplay {
  int32_t left = 0;  ///< x0 = client width div 2 - 84
  int32_t top = 0;   ///< y0 = Panel1 bottom + 8; the text's top-left corner is (x0, y0)
  /// The background of rows y0 + 4 .. y0 + 32, each 172 pixels wide from x0: the lower
  /// panel's gradient colour of that row.
  std::vector<Argb> rows;
  std::string text;  ///< hours, minutes, seconds and tenths: "0:01:23.4"
};
/// Rows of the time display's background (y0 + 4 .. y0 + 32) and their width.
inline constexpr int32_t TIME_ROWS_FROM = 4, TIME_ROWS_TO = 32, TIME_ROW_WIDTH = 172;

/// The lower panel's gradient colour for row d below its top (Panel1 top - 40), as the time
/// display repaints it: each component truncated and then taken as its low 8 bits.
Argb TimeBackgroundColour(int32_t d);

/// What the window tells the strip's tick.
struct StripView {
  int32_t width = 0;        ///< W: PaintWav's width, one column per slot
  int32_t clientWidth = 0;  ///< the window's client width
  /// The width of a text on the window canvas in "宋体" at 11 points; the current subtitle's
  /// line is padded with full-width tildes up to its box's width by it. Optional: without it
  /// no tildes are added.
  std::function<int32_t(const std::string&)> measureText;
  /// Paints the lower panel (FormBelowPaint) when WaveRedraw is set. Optional: the tick then
  /// only does what that painting does to the state (WaveRedraw cleared, ViewMarker -100).
  std::function<void()> formBelowPaint;
};

/// What one tick did, for the window to show.
struct StripFrame {
  bool drawn = false;       ///< the play position had moved (or a full redraw was asked for)
  bool full = false;        ///< every column was drawn anew
  int32_t changedFrom = 0;  ///< columns whose pixels on screen changed: [changedFrom, changedTo)
  int32_t changedTo = 0;
  StripTimeDisplay time;                   ///< when drawn
  StripLabel labelPrev, label, labelNext;  ///< when drawn
};

/// The strip's pixels, kept between ticks. Scrolling moves the origin of a circular buffer
/// rather than the pixels: a tick that only scrolls draws the columns that came into view and
/// those the cursor left or entered, nothing else.
class WaveStrip {
 public:
  /// Sizes the strip; nothing is shown until it is drawn whole.
  void Resize(int32_t width, int32_t height = STRIP_HEIGHT);
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }
  /// The pixel at column x, row y as the strip shows it.
  Argb Pixel(int32_t x, int32_t y) const {
    return m_pixels[static_cast<size_t>(y) * static_cast<size_t>(m_width) + Physical(x)];
  }
  /// The buffer, row by row, Width() pixels a row; column x lies at (Origin() + x) mod Width().
  const Argb* Data() const { return m_pixels.data(); }
  int32_t Origin() const { return m_origin; }

  /// Draws columns [from, to) of `scene` for `st` (kept within the strip).
  void DrawColumns(const EditorState& st, const StripScene& scene, int32_t from, int32_t to);
  /// Moves the view by `columns` (positive: later slots come into view at the right). The
  /// columns that come into view hold stale pixels until they are drawn.
  void Scroll(int32_t columns);

  /// The scene the pixels show, if they show one wholly.
  bool Shows() const { return m_shows; }
  const StripScene& Shown() const { return m_shown; }
  void SetShown(const StripScene& scene) {
    m_shown = scene;
    m_shows = true;
  }

  /// PadWithTildes, remembered for the last text and width (the measuring is the costly part).
  const std::string& Padded(const std::string& text, int32_t width,
                            const std::function<int32_t(const std::string&)>& measureText);

 private:
  size_t Physical(int32_t x) const {
    const int32_t p = m_origin + x;
    return static_cast<size_t>(p >= m_width ? p - m_width : p);
  }

  int32_t m_width = 0;
  int32_t m_height = STRIP_HEIGHT;
  int32_t m_origin = 0;
  std::vector<Argb> m_pixels;
  bool m_shows = false;
  StripScene m_shown;
  // Working space of DrawColumns, one entry a column.
  std::vector<int32_t> m_top, m_bottom;
  std::vector<Argb> m_upper, m_body, m_lower;
  std::vector<StripColumn> m_cols;
  // The padded line remembered.
  std::string m_padSource, m_padded;
  int32_t m_padWidth = -1;
};

/// ViewStart for a play position (ms), strip width and media length (slots): twice the slot of
/// the first column, even, the play position in the middle column except near both ends.
int32_t ViewStartOf(int32_t playPos, int32_t width, int32_t mediaLength);

/// The active subtitle's ranges (the current subtitle and its band) for ActiveSub.
StripMarks StripMarksOf(const EditorState& st);

/// Picks the subtitle that belongs to the play cursor for a strip `width` columns wide: the one
/// under it, else the remembered ActiveSub while any part of it is in view, else the nearest
/// one in view (the earlier at equal distance), else none (-1).
void FindCursorSubInWav(EditorState& st, int32_t width);

/// The stand-in play edges around the play position while the first subtitle does not end
/// inside the sound (an empty timeline keeps its edges).
void SubstituteEdges(EditorState& st);

/// Where the three subtitle lines go for ActiveSub (hidden at client width + 99 without one or
/// with CheckBoxShowSub off). `measureText` as in StripView.
void PlaceStripLabels(const EditorState& st, int32_t clientWidth,
                      const std::function<int32_t(const std::string&)>& measureText,
                      StripLabel& prev, StripLabel& cur, StripLabel& next);

/// The full-width tildes the current subtitle line is padded with, fifteen at a time.
extern const char* const LABEL_TILDES;
/// `text` padded with LABEL_TILDES while it measures narrower than `width`.
std::string PadWithTildes(const std::string& text, int32_t width,
                          const std::function<int32_t(const std::string&)>& measureText);

/// The time display for the play position and the strip's place.
StripTimeDisplay TimeDisplayOf(const EditorState& st, int32_t clientWidth);

/// The strip's choices on a tick, without drawing, for a strip `width` columns wide: the play
/// position kept at 0 or later, ViewStart, ActiveSub (under the pointer over the strip, else
/// FindCursorSubInWav; kept while dragging; limited to SubsInVideo and the timeline), the
/// stand-in edges, and SubCurr (the entry under the rightmost cursor column inside one).
/// Returns what the columns are to show.
StripScene StripChoices(EditorState& st, int32_t width);

/// One tick of the strip's timer, which is also its paint handler: paints the lower panel when
/// asked, and when the play position has moved by a slot or more since the last drawing (or
/// ViewMarker is negative), chooses ActiveSub, places the view, the subtitle lines and the time
/// display and draws the strip: in whole after a negative ViewMarker or any change but
/// scrolling, otherwise only the columns that scrolled into view and the cursor's.
StripFrame Timer4ShowWavTimer(EditorState& st, WaveStrip& strip, const StripView& view);

/// The strip's container moved or changed size (the window was laid out). A drag under way
/// keeps its hold: the pointer where it was still means the same displacement, so a resize
/// never moves the dragged subtitle. The strip is redrawn whole on its next tick.
void PlaceStripPanel(EditorState& st, int32_t left, int32_t top, int32_t width);

}  // namespace tamsel
