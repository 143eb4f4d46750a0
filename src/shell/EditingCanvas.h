#pragma once

#include <QWidget>

#include <functional>

#include "EditorState.h"
#include "LowerPanel.h"

namespace tamsel {

/// The editing face: the whole client area while editing, its own canvas painted as the lower
/// panel's picture says (the gradient around the waveform strip and the back button); the
/// video, the strip and the panels are its children.
class EditingCanvas : public QWidget {
 public:
  EditingCanvas(const EditorState& st, QWidget* parent);

  /// Where the lower panel's parts lie, from the editing layout.
  void SetPanelGeometry(const LowerPanelGeometry& g);
  const LowerPanelGeometry& PanelGeometry() const { return m_geometry; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const EditorState& m_st;
  LowerPanelGeometry m_geometry;
};

/// PaintBoxBack: a transparent box over the lower panel, under which the canvas draws the back
/// triangle. The pointer over it sets BackHover and repaints the triangle; a click goes back to
/// the start screen.
class BackButton : public QWidget {
 public:
  BackButton(EditorState& st, EditingCanvas* canvas);

  /// PaintBoxBackClick.
  std::function<void()> onClick;

  /// PaintBoxBackMouseEnter and PaintBoxBackMouseLeave.
  void PaintBoxBackMouseEnter();
  void PaintBoxBackMouseLeave();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  EditorState& m_st;
  EditingCanvas* m_canvas;
};

}  // namespace tamsel
