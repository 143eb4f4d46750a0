#include "EditingCanvas.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "Looks.h"

namespace tamsel {

EditingCanvas::EditingCanvas(const EditorState& st, QWidget* parent) : QWidget(parent), m_st(st) {
  // The window is black while editing; whatever the lower panel leaves unpainted stays so.
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::black);
  setPalette(palette);
  setAutoFillBackground(true);
}

void EditingCanvas::SetPanelGeometry(const LowerPanelGeometry& g) {
  m_geometry = g;
  update();
}

void EditingCanvas::paintEvent(QPaintEvent* event) {
  const LowerPanelPicture picture = LowerPanelPaint(m_st.ReadyState, m_st.BackHover, m_geometry);
  if (!picture.painted) return;
  QPainter p(this);
  const QRect dirty = event->rect();
  p.fillRect(0, 0, m_geometry.clientWidth, picture.blackBottom, Qt::black);
  for (const PanelRun& run : picture.rows) {
    if (run.y < dirty.top() || run.y > dirty.bottom() || run.x1 <= run.x0) continue;
    p.fillRect(run.x0, run.y, run.x1 - run.x0, 1, ToQColor(run.colour));
  }
  const QColor pen = ToQColor(picture.back.colour);
  for (const PanelPoint& q : picture.back.pixels) p.fillRect(q.x, q.y, 1, 1, pen);
}

BackButton::BackButton(EditorState& st, EditingCanvas* canvas)
    : QWidget(canvas), m_st(st), m_canvas(canvas) {
  // Transparent: the canvas under it shows, and with it the triangle.
  setAttribute(Qt::WA_NoSystemBackground, true);
}

void BackButton::PaintBoxBackMouseEnter() {
  m_st.BackHover = true;
  m_canvas->update(geometry());
}

void BackButton::PaintBoxBackMouseLeave() {
  m_st.BackHover = false;
  m_canvas->update(geometry());
}

void BackButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  PaintBoxBackMouseEnter();
}

void BackButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  PaintBoxBackMouseLeave();
}

void BackButton::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // Hidden under the pointer (going back to the start screen), the button may never hear the
  // pointer leave; the next time editing begins it must not be lit.
  if (m_st.BackHover) PaintBoxBackMouseLeave();
}

void BackButton::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  if (onClick) onClick();
}

}  // namespace tamsel
