#pragma once

#include <QAbstractButton>
#include <QSvgRenderer>

namespace tamsel {

/// A picture of the start screen that can be clicked: drawn from an SVG at its own size (or
/// stretched over the widget, for the background), lighter under the pointer, pressed in while
/// held, grey while disabled.
class PictureButton : public QAbstractButton {
 public:
  enum class Fit { Natural, Cover };
  /// `resource` is a Qt resource path such as ":/art/setup.svg"; `hint` the tooltip.
  PictureButton(const QString& resource, const QString& hint, QWidget* parent,
                Fit fit = Fit::Natural);

  QSize sizeHint() const override;
  /// Whether the picture's SVG was found and is valid.
  bool IsValid() const { return m_svg.isValid(); }
  /// Whether the pointer is over the picture.
  bool Hovered() const { return m_hover; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QSvgRenderer m_svg;
  Fit m_fit;
  bool m_hover = false;
};

}  // namespace tamsel
