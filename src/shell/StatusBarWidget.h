#pragma once

#include <QWidget>

#include <array>
#include <functional>

#include "KeyCommands.h"
#include "StatusPanel.h"

namespace tamsel {

/// StatusBar1: the editing screen's six owner-drawn panels of the sound style, the play modes,
/// the magnet and the step size. Paints the looks the core decides from the editor state and
/// passes a click with its client x to StatusBar1Click. The bar spans the client width from its
/// left edge, so its own x is the client x.
class StatusBarWidget : public QWidget {
 public:
  StatusBarWidget(EditorState& st, QWidget* parent);

  /// The panels' widths from the editing layout.
  void SetPanelWidths(const StatusPanelWidths& widths);
  const StatusPanelWidths& PanelWidths() const { return m_widths; }
  /// Where panel `panel` is painted: the columns strictly between its borders (the columns a
  /// click switches it at), under the bar's top line. The bar's own colour shows around it.
  QRect PanelRect(int panel) const;
  /// The look of a panel as the state says now, in the bar's font.
  StatusPanelLook Look(int panel) const;
  /// Repaints every panel whose look changed since it was last painted (a key may have
  /// switched a state behind the bar's back).
  void Refresh();

  /// Brings the devices to a play position a click's play mode jumped to. Optional.
  SeekBothFn seekBoth;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  /// Not a press (Qt's own would pass it on as one).
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  EditorState& m_st;
  /// The left button went down on the bar: its release is a click. The second press of a
  /// double click does not set it, so a double click switches once.
  bool m_pressed = false;
  StatusPanelWidths m_widths{};
  std::array<StatusPanelLook, STATUS_PANEL_COUNT> m_painted;
};

}  // namespace tamsel
