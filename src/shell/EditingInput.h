#pragma once

// The editing screen's input: the application-wide hook for keys and the wheel, the window's
// own surface (the scrub below the video, double clicks), clicks on the video, the position
// bar, and the entry points the waveform strip calls with its pointer events. Each event
// becomes a call of the core (InputActions, the key map, the strip's drags); nothing is decided
// here.

#include <QScrollBar>

#include <functional>
#include <string>

#include "DragGestures.h"
#include "EditorState.h"
#include "InputActions.h"
#include "ReadyGo.h"

class QKeyEvent;
class QWheelEvent;

namespace tamsel {

/// The virtual-key code of a key event, as the key map knows them (32 space, 37-40 the arrows,
/// 48-57 the main keyboard's digits, 65-90 the letters, 18 Alt); 0 for any other key. The
/// digits of the number pad are not the main keyboard's. Shift does not change the key: the
/// shifted digits of a US keyboard read as their digits.
int VirtualKeyOf(const QKeyEvent& event);

/// The key state of a wheel event: the buttons and the Shift and Ctrl keys held
/// (WHEEL_KEY_*).
int WheelKeyStateOf(const QWheelEvent& event);

/// The pointer shape the strip shows for a StripCursor.
Qt::CursorShape CursorShapeOf(StripCursor cursor);

/// The position bar `ScrollBarPlayPost` along the bottom of the editing screen. It shows the
/// state's ScrollBarPlayPost (the playback loop sets it up and moves it) and passes what the
/// user does to it on; it takes no focus and leaves the wheel to the hook.
class PositionBar : public QScrollBar {
 public:
  explicit PositionBar(QWidget* parent);

  /// Shows `bar`: visible, enabled, range, page, steps, position and hint. Not reported as
  /// the user's change.
  void ShowState(const ScrollBarState& bar);

  /// The user moved the bar to `position` (cs), before its value changes.
  std::function<void(int32_t position)> onScroll;
  /// The bar's value changed by the user's hand.
  std::function<void(int32_t position)> onChange;
  std::function<void()> onEnter;
  std::function<void()> onLeave;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void ActionTriggered(int action);

  ScrollBarState m_shown;
  bool m_showing = false;
};

/// The input of the editing screen over the window's editor state and its devices.
class EditingInput : public QObject {
 public:
  /// `window` is the main window, `surface` its editing face (the window's own surface, which
  /// holds the video, the strip and the other controls of the editing screen).
  EditingInput(EditorState& st, EditingMedia& media, QWidget* window, QWidget* surface);
  ~EditingInput() override;

  /// Editing has begun: the hook is installed application-wide and the video's clicks come
  /// here.
  void Start();
  /// Editing has been laid out: a pointer that already rests on the strip (where the ready
  /// picture was clicked) has entered it, though the system tells of no entering.
  void NoticePointer();
  /// Editing ends: the hook is removed and whatever drag or scrub is held is let go.
  void Stop();
  /// Whether the hook is installed.
  bool Started() const { return m_started; }

  /// The position bar follows the state (after each tick of the playback loop).
  void ShowState();

  /// "Seek both" for other controls of the editing screen: a device's failure is reported
  /// through onMediaError, as the input's own seeks are.
  SeekBothFn SeekBoth();

  // The waveform strip's pointer events, in the strip's own pixels (x = column from its left
  // edge, y = row from its top). The strip calls them from its mouse handlers and sets the
  // pointer shape StripMove returns; the Shift and Ctrl keys are read from the keyboard here.

  /// A button pressed on the strip: a cut in its cut band, else a drag begins.
  void StripPress(Qt::MouseButton button, int x);
  /// The pointer moved over the strip (or, while a drag is held, anywhere): a drag step or the
  /// hover selection. `held`: the buttons held now (a move with none ends a drag whose release
  /// was lost).
  StripCursor StripMove(int x, int y, Qt::MouseButtons held);
  /// The button is released: the drag ends.
  void StripRelease();
  /// The pointer enters / leaves the strip.
  void StripEnter();
  void StripLeave();
  /// The strip's panel takes the input focus.
  void PanelFocused();
  /// The strip's widgets: the pointer's events on `paintWav` and the focus of `panel` are
  /// passed to the entry points above, and the strip shows the pointer shape they choose.
  void WatchStrip(QWidget* paintWav, QWidget* panel);

  /// The position bar, laid out by the window.
  PositionBar* ScrollBarPlayPost;

  /// Called after an event changed the state, so that the window repaints what shows it.
  std::function<void()> onChanged;
  /// A device failed in a seek (the text says why); called once the event is over, so the
  /// window may leave editing.
  std::function<void(const std::string& text)> onMediaError;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  InputDevices Devices() const;
  /// The player's height as the state's PlayerHeight, before an action compares MouseY to it.
  void NotePlayerHeight();
  /// Runs `action`, catching a device's failure.
  void Act(const std::function<void()>& action);
  void KeyDown(QObject* watched, const QKeyEvent& event);
  void Wheel(const QWheelEvent& event);
  bool SurfaceEvent(QEvent* event);
  void StripEvent(QEvent* event);

  EditorState& m_st;
  EditingMedia& m_media;
  QWidget* m_window;
  QWidget* m_surface;
  QWidget* m_paintWav = nullptr;
  QWidget* m_panel = nullptr;
  bool m_started = false;
  /// What a fine wheel or a touchpad has turned towards the next whole notch (1/8 degrees).
  int m_wheelRest = 0;
};

}  // namespace tamsel
