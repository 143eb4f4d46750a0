#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "EditorState.h"
#include "ShellLayout.h"
#include "WaveStrip.h"

namespace tamsel {

/// `PaintWav`: shows the pixels the strip's tick drew. Painting only copies them, so a paint
/// request (an exposure, a repaint of the window) never changes the editor's state.
class PaintWavWidget : public QWidget {
 public:
  PaintWavWidget(const WaveStrip& strip, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const WaveStrip& m_strip;
};

/// The play time under the strip: its strip of the lower panel's gradient and the time text.
class StripTimeWidget : public QWidget {
 public:
  explicit StripTimeWidget(QWidget* parent);
  /// Shows `time`; repaints only when something changed.
  void Show(const StripTimeDisplay& time);
  const StripTimeDisplay& Shown() const { return m_time; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  StripTimeDisplay m_time;
  QFont m_font;
};

/// The waveform strip's side of the editing face: `Panel1` with `PaintWav` in it, the three
/// scrolling subtitle lines, the time display and the timer `Timer4ShowWav`, all children of the
/// editing face. They are made once, when editing first begins, and hidden between sessions.
class EditingStrip : public QObject {
 public:
  EditingStrip(EditorState& st, QWidget* face);

  QWidget* Panel1;
  PaintWavWidget* PaintWav;
  QLabel *LabelStrPrev, *LabelStr, *LabelStrNext;
  StripTimeWidget* TimeDisplay;
  /// Ticks at the power class's interval (ShowWavInterval) while editing; draws only once the
  /// playback loop has switched the strip on (Timer4ShowWavEnabled).
  QTimer Timer4ShowWav;

  /// Paints the lower panel (FormBelowPaint) when the tick finds WaveRedraw set. Optional.
  std::function<void()> formBelowPaint;

  /// The subtitle lines' fonts and height for a client area of CW x CH: the current line's
  /// height is what the layout gives the space between the video and the strip.
  int32_t LabelStrHeight(int32_t clientWidth, int32_t clientHeight);
  /// Places `Panel1`, `PaintWav` and the subtitle lines where the editing face's layout puts
  /// them, and applies the subtitle lines' fonts. The strip is drawn anew on the next tick.
  void LayOut(const EditingLayout& layout, int32_t clientWidth, int32_t clientHeight);

  /// Editing began: shows the strip and starts its timer.
  void Start();
  /// Editing ended: stops the timer and hides the strip, the lines and the time.
  void Stop();

  /// One tick: `Timer4ShowWavTimer` of the core, then shows what it decided.
  void Timer4ShowWavTimer();

  const WaveStrip& Strip() const { return m_strip; }

 private:
  void ApplyFonts(int32_t clientWidth, int32_t clientHeight);
  void ShowLabel(QLabel* label, const StripLabel& place, int32_t top);

  EditorState& m_st;
  QWidget* m_face;
  WaveStrip m_strip;
  QString m_subtitleFont;
  QFont m_measureFont;
  QFontMetrics m_measure;
  int32_t m_labelTop = 0;  ///< LabelStr's top
  int32_t m_sideTop = 0;   ///< LabelStrPrev's and LabelStrNext's top
  QSize m_fontsFor;        ///< the client size the fonts were applied for
};

/// The font the subtitle lines are set in: `name` when installed, else the first installed font
/// whose name begins with "楷体", else `name` (set with the Kai faces of other systems as its
/// stand-ins, KaiFallbackFont).
QString SubtitleFontFamily(const std::string& name);

}  // namespace tamsel
