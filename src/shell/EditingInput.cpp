#include "EditingInput.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QWheelEvent>
#include <QWindow>
#include <cstdlib>

#include "PlaybackLoop.h"

namespace tamsel {

namespace {

/// The key map's virtual-key codes of the keys Qt names apart from their characters.
constexpr int VK_SPACE = 32, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40;

MouseButton StripButtonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return MouseButton::Left;
    case Qt::RightButton:
      return MouseButton::Right;
    default:
      return MouseButton::Middle;  // neither cuts; any button drags
  }
}

/// The Shift and Ctrl keys as the keyboard holds them now, not as an event carried them.
Modifiers HeldKeys() {
  const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
  return Modifiers{keys.testFlag(Qt::ShiftModifier), keys.testFlag(Qt::ControlModifier)};
}

}  // namespace

int VirtualKeyOf(const QKeyEvent& event) {
#ifdef Q_OS_WIN
  // Windows tells the virtual key itself.
  if (event.nativeVirtualKey() != 0) return static_cast<int>(event.nativeVirtualKey());
#endif
  const int key = event.key();
  const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return key;  // Qt names letters by capitals
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return keypad ? 0 : key;
  switch (key) {
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
      return VK_ALT;
    default:
      break;
  }
  // Qt names a digit typed with Shift by the character it gives; on a US keyboard these are
  // the digits 1-6 (the ones the key map uses).
  if (!keypad && event.modifiers().testFlag(Qt::ShiftModifier)) {
    switch (key) {
      case Qt::Key_Exclam:
        return '1';
      case Qt::Key_At:
        return '2';
      case Qt::Key_NumberSign:
        return '3';
      case Qt::Key_Dollar:
        return '4';
      case Qt::Key_Percent:
        return '5';
      case Qt::Key_AsciiCircum:
        return '6';
      default:
        break;
    }
  }
  return 0;
}

int WheelKeyStateOf(const QWheelEvent& event) {
  int state = 0;
  const Qt::MouseButtons buttons = event.buttons();
  if (buttons.testFlag(Qt::LeftButton)) state |= WHEEL_KEY_LBUTTON;
  if (buttons.testFlag(Qt::RightButton)) state |= WHEEL_KEY_RBUTTON;
  if (buttons.testFlag(Qt::MiddleButton)) state |= WHEEL_KEY_MBUTTON;
  if (buttons.testFlag(Qt::BackButton)) state |= WHEEL_KEY_XBUTTON1;
  if (buttons.testFlag(Qt::ForwardButton)) state |= WHEEL_KEY_XBUTTON2;
  if (event.modifiers().testFlag(Qt::ShiftModifier)) state |= WHEEL_KEY_SHIFT;
  if (event.modifiers().testFlag(Qt::ControlModifier)) state |= WHEEL_KEY_CONTROL;
  return state;
}

Qt::CursorShape CursorShapeOf(StripCursor cursor) {
  switch (cursor) {
    case StripCursor::IBeam:
      return Qt::IBeamCursor;
    case StripCursor::MultiDrag:
      return Qt::DragCopyCursor;
    case StripCursor::SizeWE:
      return Qt::SizeHorCursor;
    case StripCursor::Drag:
    case StripCursor::Unchanged:
      break;
  }
  return Qt::DragMoveCursor;
}

// ---- The position bar ----

PositionBar::PositionBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {
  setFocusPolicy(Qt::NoFocus);
  // A scroll bar shows the arrow of its own, not the window's scrub pointer.
  setCursor(Qt::ArrowCursor);
  m_shown.Visible = true;  // so that the first ShowState applies everything
  ShowState(ScrollBarState{});
  connect(this, &QAbstractSlider::actionTriggered, this,
          [this](int action) { ActionTriggered(action); });
  // Letting go of the thumb ends the scroll where the thumb stands, as a scroll of its own:
  // the play position returns there if playback went on meanwhile.
  connect(this, &QAbstractSlider::sliderReleased, this, [this] {
    if (onScroll) onScroll(sliderPosition());
  });
  connect(this, &QAbstractSlider::valueChanged, this, [this](int value) {
    if (!m_showing && onChange) onChange(value);
  });
}

void PositionBar::ShowState(const ScrollBarState& bar) {
  if (bar == m_shown) return;
  m_showing = true;
  setVisible(bar.Visible);
  setEnabled(bar.Enabled);
  setRange(0, ScrollBarTop(bar));
  setPageStep(std::max(bar.PageSize, 1));
  setSingleStep(std::max(bar.SmallChange, 1));
  if (!isSliderDown()) setValue(bar.Position);  // the user's hand wins while it holds the thumb
  if (bar.Hint != m_shown.Hint) setToolTip(QString::fromStdString(bar.Hint));
  m_showing = false;
  m_shown = bar;
}

void PositionBar::ActionTriggered(int action) {
  BarAction what;
  switch (action) {
    case SliderSingleStepAdd:
      what = BarAction::StepAdd;
      break;
    case SliderSingleStepSub:
      what = BarAction::StepSub;
      break;
    case SliderPageStepAdd:
      what = BarAction::PageAdd;
      break;
    case SliderPageStepSub:
      what = BarAction::PageSub;
      break;
    case SliderToMinimum:
      what = BarAction::ToStart;
      break;
    case SliderToMaximum:
      what = BarAction::ToEnd;
      break;
    case SliderMove:
      what = BarAction::Track;
      break;
    default:
      return;
  }
  // The bar's own steps are the state's small and large changes; its thumb is the page.
  const int32_t to = ScrollBarTarget(m_shown, what, value(), sliderPosition());
  setSliderPosition(to);
  if (onScroll) onScroll(to);
}

void PositionBar::enterEvent(QEnterEvent* event) {
  QScrollBar::enterEvent(event);
  if (onEnter) onEnter();
}

void PositionBar::leaveEvent(QEvent* event) {
  QScrollBar::leaveEvent(event);
  if (onLeave) onLeave();
}

void PositionBar::wheelEvent(QWheelEvent* event) {
  event->ignore();  // the hook turns the wheel into a seek already
}

// ---- The input of the editing screen ----

EditingInput::EditingInput(EditorState& st, EditingMedia& media, QWidget* window, QWidget* surface)
    : m_st(st), m_media(media), m_window(window), m_surface(surface) {
  ScrollBarPlayPost = new PositionBar(surface);
  ScrollBarPlayPost->onEnter = [this] { ScrollBarPlayPostMouseEnter(m_st); };
  ScrollBarPlayPost->onLeave = [this] { ScrollBarPlayPostMouseLeave(m_st); };
  ScrollBarPlayPost->onScroll = [this](int32_t position) {
    Act([&] { ScrollBarPlayPostScroll(m_st, position, Devices()); });
  };
  ScrollBarPlayPost->onChange = [this](int32_t position) {
    m_st.ScrollBarPlayPost.Position = position;
    ScrollBarPlayPostChange(m_st);
  };
}

EditingInput::~EditingInput() {
  Stop();
  delete ScrollBarPlayPost;  // before the state it reports to is gone
}

void EditingInput::Start() {
  if (m_started) return;
  m_started = true;
  m_surface->setMouseTracking(true);
  qApp->installEventFilter(this);
  if (m_media.MediaPlayer) {
    m_media.MediaPlayer->SetClickHandler(
        [this](int button) { Act([&] { WMPonClick(m_st, button); }); });
  }
  ShowState();
}

void EditingInput::NoticePointer() {
  if (!m_started || !m_paintWav || !m_paintWav->isVisible() || m_st.OverWave) return;
  if (m_paintWav->rect().contains(m_paintWav->mapFromGlobal(QCursor::pos()))) StripEnter();
}

void EditingInput::Stop() {
  if (!m_started) return;
  m_started = false;
  qApp->removeEventFilter(this);
  if (m_media.MediaPlayer) m_media.MediaPlayer->SetClickHandler({});
  // A drag or a scrub held while editing ends is over with it; an elastic drag is finished.
  if (m_st.Dragging) PaintWavMouseUp(m_st);
  FormMouseUp(m_st);
  m_st.OverWave = false;
  m_st.OverPositionBar = false;
  m_surface->unsetCursor();
}

void EditingInput::ShowState() { ScrollBarPlayPost->ShowState(m_st.ScrollBarPlayPost); }

SeekBothFn EditingInput::SeekBoth() {
  return [this](const EditorState&) { Act([&] { SeekBothOf(Devices())(m_st); }); };
}

InputDevices EditingInput::Devices() const {
  return InputDevices{m_media.MediaPlayer.get(), m_media.SoundBuffer.get()};
}

void EditingInput::NotePlayerHeight() {
  if (m_media.MediaPlayer) m_st.PlayerHeight = m_media.MediaPlayer->Height();
}

void EditingInput::Act(const std::function<void()>& action) {
  NotePlayerHeight();
  try {
    action();
  } catch (const MediaError& e) {
    // The device is released by the window, which must not happen under its own event.
    const std::string text = e.what();
    QPointer<EditingInput> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, text] {
          if (self && self->onMediaError) self->onMediaError(text);
        },
        Qt::QueuedConnection);
  }
  if (onChanged) onChanged();
}

// ---- The waveform strip ----

void EditingInput::StripPress(Qt::MouseButton button, int x) {
  if (!m_started) return;
  const Modifiers keys = HeldKeys();
  Act([&] { PaintWavMouseDown(m_st, StripButtonOf(button), keys, x); });
}

StripCursor EditingInput::StripMove(int x, int y, Qt::MouseButtons held) {
  if (!m_started) return StripCursor::Drag;
  // A drag whose release never came (the window lost the pointer meanwhile) ends here.
  if (m_st.Dragging && held == Qt::NoButton) StripRelease();
  StripCursor cursor = StripCursor::Drag;
  const Modifiers keys = HeldKeys();
  Act([&] { cursor = PaintWavMouseMove(m_st, keys, x, y); });
  return cursor;
}

void EditingInput::StripRelease() {
  if (!m_started) return;
  Act([&] { PaintWavMouseUp(m_st); });
}

void EditingInput::StripEnter() {
  if (!m_started) return;
  Act([&] { PaintWavMouseEnter(m_st); });
}

void EditingInput::StripLeave() {
  if (!m_started) return;
  Act([&] { PaintWavMouseLeave(m_st); });
}

void EditingInput::PanelFocused() {
  if (!m_started) return;
  Act([&] { Panel1Enter(m_st); });
}

void EditingInput::WatchStrip(QWidget* paintWav, QWidget* panel) {
  m_paintWav = paintWav;
  m_panel = panel;
  // The hover selection and the pointer shape follow the pointer without a button held.
  m_paintWav->setMouseTracking(true);
}

void EditingInput::StripEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      StripPress(mouse->button(), mouse->position().toPoint().x());
      break;
    }
    case QEvent::MouseMove: {
      // While a button is held the strip has the pointer to itself, also outside it.
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint at = mouse->position().toPoint();
      // A pointer moving on the strip has entered it, whether or not the system said so.
      if (!m_st.OverWave && mouse->buttons() == Qt::NoButton) StripEnter();
      const StripCursor cursor = StripMove(at.x(), at.y(), mouse->buttons());
      if (cursor != StripCursor::Unchanged) m_paintWav->setCursor(CursorShapeOf(cursor));
      break;
    }
    case QEvent::MouseButtonRelease:
      // Any button let go ends the drag, also while another is still held.
      StripRelease();
      break;
    case QEvent::Enter:
      StripEnter();
      break;
    case QEvent::Leave:
      StripLeave();
      break;
    default:
      break;
  }
}

// ---- The hook and the window's surface ----

bool EditingInput::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_paintWav && m_paintWav) {
    StripEvent(event);
    return false;
  }
  if (watched == m_panel && m_panel && event->type() == QEvent::FocusIn) PanelFocused();
  switch (event->type()) {
    case QEvent::KeyPress:
      // Every key-down reaches its window first, once, before any control sees it: that is
      // where the hook looks at it, whichever control has the focus. It is not consumed.
      if (watched->isWindowType()) KeyDown(watched, *static_cast<QKeyEvent*>(event));
      break;
    case QEvent::Wheel:
      if (watched->isWindowType()) Wheel(*static_cast<QWheelEvent*>(event));
      break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
      if (watched == m_surface) SurfaceEvent(event);
      break;
    default:
      break;
  }
  return false;
}

void EditingInput::KeyDown(QObject* watched, const QKeyEvent& event) {
  const int vk = VirtualKeyOf(event);
  if (vk == 0) return;
  // A message box or dialog over the editing screen takes its keys for itself: the space bar
  // or a letter that answers it must not also replay or move a subtitle.
  if (QApplication::activeModalWidget()) return;
  // A key pressed with Alt held is a system key, not a key-down the hook acts on; Alt itself
  // is seen.
  if (vk != VK_ALT && event.modifiers().testFlag(Qt::AltModifier)) return;
  Act([&] { HookKeyDown(m_st, vk, SeekBothOf(Devices())); });
  // The window's own key handler follows for the keys that reach it.
  if (static_cast<QObject*>(m_window->windowHandle()) == watched) FormKeyDown(m_st, vk);
}

void EditingInput::Wheel(const QWheelEvent& event) {
  // Qt turns the wheel sideways while Alt is held; it is still the same wheel turned.
  const bool altTurned = event.modifiers().testFlag(Qt::AltModifier) && event.angleDelta().y() == 0;
  int delta = altTurned ? event.angleDelta().x() : event.angleDelta().y();
  if (delta == 0) return;                         // a sideways wheel is another message
  if (QApplication::activeModalWidget()) return;  // the dialog's, as its keys are
  // A fine wheel or a touchpad reports a notch in parts: they are gathered into whole notches,
  // which is what the key map reads. A turn the other way starts again.
  constexpr int NOTCH = 120;
  if (std::abs(delta) < NOTCH) {
    if ((m_wheelRest > 0) != (delta > 0)) m_wheelRest = 0;
    m_wheelRest += delta;
    if (std::abs(m_wheelRest) < NOTCH) return;
    delta = m_wheelRest > 0 ? NOTCH : -NOTCH;
    m_wheelRest -= delta;
  }
  const int keyState = WheelKeyStateOf(event);
  Act([&] { HookWheel(m_st, delta, keyState, SeekBothOf(Devices())); });
}

bool EditingInput::SurfaceEvent(QEvent* event) {
  const auto* mouse = static_cast<QMouseEvent*>(event);
  SurfaceCursor cursor = SurfaceCursor::Unchanged;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      // A press that a control of the editing screen let pass is the control's, not the
      // window's; only the subtitle lines show through.
      const QWidget* under = m_surface->childAt(mouse->position().toPoint());
      if (under && !qobject_cast<const QLabel*>(under)) return false;
      Act([&] {
        // Only the left button double-clicks; a quick second press of another is a press.
        if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
          FormDblClick(m_st, m_window->width(), SeekBothOf(Devices()));
        }
        cursor = FormMouseDown(m_st);
      });
      break;
    }
    case QEvent::MouseMove:
      // A scrub whose release never came (the window lost the pointer meanwhile) ends here.
      if (m_st.DragHeld && mouse->buttons() == Qt::NoButton) FormMouseUp(m_st);
      Act([&] { cursor = FormMouseMove(m_st, Devices()); });
      break;
    case QEvent::MouseButtonRelease:
      FormMouseUp(m_st);
      break;
    default:
      return false;
  }
  if (cursor == SurfaceCursor::Default) m_surface->setCursor(Qt::ArrowCursor);
  if (cursor == SurfaceCursor::Drag) m_surface->setCursor(Qt::DragMoveCursor);
  return true;
}

}  // namespace tamsel
