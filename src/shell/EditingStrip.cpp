#include "EditingStrip.h"

#include <QFontDatabase>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

#include "Controls.h"
#include "Looks.h"

namespace tamsel {

namespace {

QColor ColourOf(Argb c) { return QColor::fromRgb(c); }

/// The grey of the lines before and after the current one.
const QColor SIDE_LINE_COLOUR(128, 128, 128);

}  // namespace

QString SubtitleFontFamily(const std::string& name) {
  const QString wanted = QString::fromStdString(name);
  const QStringList families = QFontDatabase::families();
  if (families.contains(wanted)) return wanted;
  const QString kai = QString::fromUtf8("楷体");
  for (const QString& family : families) {
    if (family.startsWith(kai)) return family;
  }
  return wanted;
}

// ---- PaintWav ----

PaintWavWidget::PaintWavWidget(const WaveStrip& strip, QWidget* parent)
    : QWidget(parent), m_strip(strip) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PaintWavWidget::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const int w = m_strip.Width(), h = m_strip.Height();
  if (!m_strip.Shows() || w == 0 || h == 0) {
    p.fillRect(event->rect(), Qt::black);
    return;
  }
  // The strip's buffer as an image without a copy; its columns start at Origin().
  const QImage image(reinterpret_cast<const uchar*>(m_strip.Data()), w, h,
                     static_cast<qsizetype>(w) * 4, QImage::Format_RGB32);
  const int origin = m_strip.Origin();
  p.drawImage(QPoint(0, 0), image, QRect(origin, 0, w - origin, h));
  if (origin > 0) p.drawImage(QPoint(w - origin, 0), image, QRect(0, 0, origin, h));
  // A widget laid out larger than the strip drawn so far (until the next tick).
  if (width() > w) p.fillRect(QRect(w, 0, width() - w, height()), Qt::black);
  if (height() > h) p.fillRect(QRect(0, h, width(), height() - h), Qt::black);
}

// ---- The time display ----

StripTimeWidget::StripTimeWidget(QWidget* parent) : QWidget(parent) {
  m_font = QFont(QString::fromUtf8("黑体"));
  m_font.setPointSize(28);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StripTimeWidget::Show(const StripTimeDisplay& time) {
  const bool moved = time.left != m_time.left || time.top != m_time.top;
  const bool changed = moved || time.text != m_time.text || time.rows != m_time.rows;
  m_time = time;
  if (moved || !isVisible()) {
    const QFontMetrics metrics(m_font);
    const int textWidth = metrics.horizontalAdvance(QString::fromStdString(time.text));
    setGeometry(time.left, time.top, std::max(TIME_ROW_WIDTH, textWidth + 4),
                std::max(TIME_ROWS_TO + 1, metrics.height()));
    show();
  }
  if (changed) update();
}

void StripTimeWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  for (size_t i = 0; i < m_time.rows.size(); ++i) {
    const int y = TIME_ROWS_FROM + static_cast<int>(i);
    p.fillRect(QRect(0, y, TIME_ROW_WIDTH, 1), ColourOf(m_time.rows[i]));
  }
  p.setFont(m_font);
  p.setPen(ColourOf(TIME_TEXT_COLOUR));
  p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(m_time.text));
}

// ---- The strip's side of the editing face ----

EditingStrip::EditingStrip(EditorState& st, QWidget* face)
    : QObject(face),
      m_st(st),
      m_face(face),
      m_measureFont(QString::fromUtf8("宋体")),
      m_measure(m_measureFont) {
  // The current line is padded to its box as measured on the window canvas in 宋体 11 pt.
  m_measureFont.setPointSize(11);
  m_measure = QFontMetrics(m_measureFont);
  m_subtitleFont = SubtitleFontFamily(m_st.Ctrl.SubFontName);

  Panel1 = new QWidget(face);
  Panel1->setAutoFillBackground(true);
  QPalette black = Panel1->palette();
  black.setColor(QPalette::Window, Qt::black);
  Panel1->setPalette(black);
  PaintWav = new PaintWavWidget(m_strip, Panel1);

  const auto makeLabel = [&](const QColor& colour, Qt::Alignment align) {
    auto* label = new QLabel(face);
    label->setTextFormat(Qt::PlainText);  // a subtitle's "<i>" is text, not markup
    label->setWordWrap(false);
    label->setAlignment(align | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->hide();
    return label;
  };
  LabelStrPrev = makeLabel(SIDE_LINE_COLOUR, Qt::AlignRight);
  LabelStr = makeLabel(Qt::white, Qt::AlignLeft);
  LabelStrNext = makeLabel(SIDE_LINE_COLOUR, Qt::AlignLeft);
  TimeDisplay = new StripTimeWidget(face);
  Panel1->hide();
  TimeDisplay->hide();

  Timer4ShowWav.setInterval(ShowWavInterval(m_st.Ctrl.RadioGroupPower));
  connect(&Timer4ShowWav, &QTimer::timeout, this, [this] { Timer4ShowWavTimer(); });
}

void EditingStrip::ApplyFonts(int32_t cw, int32_t ch) {
  if (m_fontsFor == QSize(cw, ch)) return;
  m_fontsFor = QSize(cw, ch);
  const SubtitleFontSizes sizes = SubtitleLineFontSizes(cw, ch, m_st.Ctrl.SubFontSize);
  const std::string name = m_subtitleFont.toStdString();
  QFont current = KaiFallbackFont(QString::fromStdString(SubtitleLineFont(name, sizes.current)));
  current.setPointSize(std::max(sizes.current, 1));
  QFont side = KaiFallbackFont(QString::fromStdString(SubtitleLineFont(name, sizes.side)));
  side.setPointSize(std::max(sizes.side, 1));
  LabelStr->setFont(current);
  LabelStrPrev->setFont(side);
  LabelStrNext->setFont(side);
}

int32_t EditingStrip::LabelStrHeight(int32_t cw, int32_t ch) {
  ApplyFonts(cw, ch);
  return QFontMetrics(LabelStr->font()).height() + 2;
}

void EditingStrip::LayOut(const EditingLayout& l, int32_t cw, int32_t ch) {
  const int32_t height = LabelStrHeight(cw, ch);
  const int32_t sideHeight = QFontMetrics(LabelStrPrev->font()).height() + 2;
  m_labelTop = l.panel.top - height;
  m_sideTop = m_labelTop + static_cast<int32_t>((height - sideHeight) * 0.6);
  LabelStr->resize(LabelStr->width(), height);
  LabelStrPrev->resize(LabelStrPrev->width(), sideHeight);
  LabelStrNext->resize(LabelStrNext->width(), sideHeight);
  for (QLabel* label : {LabelStrPrev, LabelStr, LabelStrNext}) {
    label->move(label->x(), label == LabelStr ? m_labelTop : m_sideTop);
  }
  Panel1->setGeometry(l.panel.left, l.panel.top, l.panel.width, l.panel.height);
  PaintWav->setGeometry(0, 0, l.panel.width, l.panel.height);
  m_st.ViewMarker = -100.0;
}

void EditingStrip::Start() {
  Panel1->show();
  PaintWav->show();
  Panel1->raise();
  Timer4ShowWav.setInterval(ShowWavInterval(m_st.Ctrl.RadioGroupPower));
  Timer4ShowWav.start();
}

void EditingStrip::Stop() {
  Timer4ShowWav.stop();
  Panel1->hide();
  for (QWidget* w :
       std::initializer_list<QWidget*>{LabelStrPrev, LabelStr, LabelStrNext, TimeDisplay}) {
    w->hide();
  }
  // The next session starts from a blank strip.
  m_strip.Resize(0);
}

void EditingStrip::ShowLabel(QLabel* label, const StripLabel& place, int32_t top) {
  if (!place.visible) {
    label->hide();
    label->move(place.left, top);
    return;
  }
  const QString text = QString::fromStdString(place.text);
  if (label->text() != text) label->setText(text);
  label->setGeometry(place.left, top, place.width, label->height());
  if (!label->isVisible()) {
    label->show();
    label->raise();
  }
}

void EditingStrip::Timer4ShowWavTimer() {
  if (m_st.ReadyState != 2 || !m_st.Timer4ShowWavEnabled) return;
  const int interval = ShowWavInterval(m_st.Ctrl.RadioGroupPower);
  if (Timer4ShowWav.interval() != interval) Timer4ShowWav.setInterval(interval);

  StripView view;
  view.width = PaintWav->width();
  view.clientWidth = m_face->width();
  view.measureText = [this](const std::string& text) {
    return static_cast<int32_t>(m_measure.horizontalAdvance(QString::fromStdString(text)));
  };
  view.formBelowPaint = formBelowPaint;
  const StripFrame tick = tamsel::Timer4ShowWavTimer(m_st, m_strip, view);
  if (!tick.drawn) return;
  // Only the columns that changed are painted again; update() leaves the painting to the
  // event loop, so the playback loop's next tick is never held up by it.
  if (tick.changedTo > tick.changedFrom) {
    PaintWav->update(
        QRect(tick.changedFrom, 0, tick.changedTo - tick.changedFrom, PaintWav->height()));
  }
  TimeDisplay->Show(tick.time);
  ShowLabel(LabelStrPrev, tick.labelPrev, m_sideTop);
  ShowLabel(LabelStr, tick.label, m_labelTop);
  ShowLabel(LabelStrNext, tick.labelNext, m_sideTop);
}

}  // namespace tamsel
