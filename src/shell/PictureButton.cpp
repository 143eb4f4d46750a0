#include "PictureButton.h"

#include <QEnterEvent>
#include <QImage>
#include <QPainter>

namespace tamsel {

PictureButton::PictureButton(const QString& resource, const QString& hint, QWidget* parent,
                             Fit fit)
    : QAbstractButton(parent), m_fit(fit) {
  // An empty resource makes a clickable area that shows nothing (the help area over the logo).
  if (!resource.isEmpty()) m_svg.load(resource);
  setToolTip(hint);
  setFocusPolicy(Qt::NoFocus);
  resize(sizeHint());
}

QSize PictureButton::sizeHint() const {
  return m_svg.isValid() ? m_svg.defaultSize() : QSize(96, 96);
}

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF target = rect();
  if (m_fit == Fit::Cover && m_svg.isValid()) {
    // Keep the picture's proportions and cover the whole widget, cropping what sticks out.
    const QSizeF own = m_svg.defaultSize();
    const qreal scale = std::max(width() / own.width(), height() / own.height());
    const QSizeF size = own * scale;
    target = QRectF((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(),
                    size.height());
  }
  if (m_fit == Fit::Cover) {
    m_svg.render(&p, target);
    return;
  }
  if (isDown()) target.translate(1, 2);
  // The picture alone in an image of its own, where its shape can be lit or greyed.
  const qreal ratio = devicePixelRatioF();
  QImage image((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::transparent);
  {
    QPainter ip(&image);
    ip.setRenderHint(QPainter::Antialiasing);
    m_svg.render(&ip, target);
    if (isEnabled() && (m_hover || isDown())) {
      ip.setCompositionMode(QPainter::CompositionMode_SourceAtop);
      ip.fillRect(QRectF(QPointF(0, 0), QSizeF(size())), QColor(255, 255, 255, isDown() ? 24 : 56));
    }
  }
  if (!isEnabled()) {
    QImage shown = image.convertToFormat(QImage::Format_Grayscale8).convertToFormat(
        QImage::Format_ARGB32);
    shown.setAlphaChannel(image.convertToFormat(QImage::Format_Alpha8));
    shown.setDevicePixelRatio(ratio);
    p.setOpacity(0.5);
    p.drawImage(0, 0, shown);
    return;
  }
  p.drawImage(0, 0, image);
}

void PictureButton::enterEvent(QEnterEvent* event) {
  m_hover = true;
  update();
  QAbstractButton::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event) {
  m_hover = false;
  update();
  QAbstractButton::leaveEvent(event);
}

}  // namespace tamsel
