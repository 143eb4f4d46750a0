#include "StatusBarWidget.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "Looks.h"

namespace tamsel {

namespace {

/// The bar's font: the Kai face of the design as the rule for the status bar picks it among the
/// installed fonts. Without one the design's name stays, with the Kai faces other systems ship
/// under their own names as its stand-ins.
QFont StatusBarFont() {
  std::vector<std::string> installed;
  for (const QString& family : QFontDatabase::families()) installed.push_back(family.toStdString());
  const auto name = StatusBarFontName(installed);
  QFont font = KaiFallbackFont(QString::fromStdString(name.value_or(STATUS_BAR_FONT)));
  font.setPixelSize(STATUS_BAR_FONT_PIXELS);
  return font;
}

}  // namespace

StatusBarWidget::StatusBarWidget(EditorState& st, QWidget* parent) : QWidget(parent), m_st(st) {
  setFont(StatusBarFont());
  setToolTip(QString::fromUtf8(STATUS_BAR_HINT));
  setCursor(Qt::ArrowCursor);
}

void StatusBarWidget::SetPanelWidths(const StatusPanelWidths& widths) {
  if (widths == m_widths) return;
  m_widths = widths;
  update();
}

QRect StatusBarWidget::PanelRect(int panel) const {
  const int32_t left = StatusPanelLeft(m_widths, panel);
  // The last panel runs on to the bar's right end, over what the rounded widths leave.
  const int32_t width = panel == STATUS_PANEL_COUNT - 1
                            ? std::max(m_widths[panel], this->width() - left)
                            : m_widths[panel];
  return QRect(left + 1, 1, std::max(0, width - 1), std::max(0, height() - 1));
}

StatusPanelLook StatusBarWidget::Look(int panel) const {
  const QFontMetrics metrics(font());
  return StatusBar1DrawPanel(m_st, panel, m_widths[panel], [&](const std::string& text) {
    return metrics.horizontalAdvance(QString::fromStdString(text));
  });
}

void StatusBarWidget::Refresh() {
  for (int i = 0; i < STATUS_PANEL_COUNT; ++i) {
    if (Look(i) != m_painted[i]) update(PanelRect(i));
  }
}

void StatusBarWidget::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(rect(), ToQColor(STATUS_BAR_COLOUR));
  const QFontMetrics metrics(font());
  for (int i = 0; i < STATUS_PANEL_COUNT; ++i) {
    const QRect r = PanelRect(i);
    const StatusPanelLook look = Look(i);
    // Only a panel shown whole now counts as painted; the rest is left to the next Refresh.
    if (QRegion(r).subtracted(event->region()).isEmpty()) m_painted[i] = look;
    if (r.isEmpty()) continue;
    p.setClipRect(r);
    p.fillRect(r, ToQColor(look.fill));
    for (const StatusTextRun& run : look.runs) {
      p.setPen(ToQColor(run.colour));
      p.drawText(QPoint(r.left() + run.x, r.top() + metrics.ascent()),
                 QString::fromStdString(run.text));
    }
  }
}

void StatusBarWidget::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) m_pressed = true;
}

void StatusBarWidget::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void StatusBarWidget::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const bool pressed = std::exchange(m_pressed, false);
  // A click: pressed and released over the bar.
  if (!pressed || !rect().contains(event->position().toPoint())) return;
  StatusBar1Click(m_st, m_widths, event->position().toPoint().x(), seekBoth);
  Refresh();
}

}  // namespace tamsel
