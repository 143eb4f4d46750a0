#include "KeyCommands.h"

#include <algorithm>
#include <limits>

#include "BoundaryMove.h"
#include "EdgeTracking.h"
#include "SplitJoin.h"

namespace tamsel {

namespace {

/// Wheel messages carry these key states; any other (a mouse button held) stops the notch.
constexpr int KEYSTATE_NONE = 0;
constexpr int KEYSTATE_SHIFT = 4;
constexpr int KEYSTATE_CTRL = 8;
/// The delta of one notch of an ordinary wheel.
constexpr int WHEEL_NOTCH = 120;

int32_t ToPosition(int64_t ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int32_t>::max()));
}

/// The play position at which the sound ends (10 * the highest cell of the coverage map), ms;
/// the wheel wraps to the start there.
int64_t WrapPosition(const EditorState& st) {
  return 10 * (static_cast<int64_t>(st.WavSel.size()) - 1);
}

void Seek(const EditorState& st, const SeekBothFn& seekBoth) {
  if (seekBoth) seekBoth(st);
}

/// Seek both after a jump to a segment's edge: playing at 1.0, the sound waits for the video's
/// frame (the wheel's small steps do not wait).
void JumpTo(EditorState& st, const SeekBothFn& seekBoth) {
  if (!seekBoth) return;
  st.SoundWaitsForVideo = true;
  st.SoundWaitSince = -1;
  seekBoth(st);
}

bool HasActiveEntry(const EditorState& st) {
  return st.ActiveSub >= 0 && static_cast<size_t>(st.ActiveSub) < st.Subs.size();
}

}  // namespace

std::optional<Key> KeyFromVirtualKey(int code) {
  switch (code) {
    case 32:
      return Key::Space;
    case 37:
      return Key::Left;
    case 38:
      return Key::Up;
    case 39:
      return Key::Right;
    case 40:
      return Key::Down;
    case 49:
      return Key::Digit1;
    case 50:
      return Key::Digit2;
    case 51:
      return Key::Digit3;
    case 52:
      return Key::Digit4;
    case 53:
      return Key::Digit5;
    case 54:
      return Key::Digit6;
    case 65:
      return Key::A;
    case 67:
      return Key::C;
    case 68:
      return Key::D;
    case 69:
      return Key::E;
    case 70:
      return Key::F;
    case 82:
      return Key::R;
    case 83:
      return Key::S;
    case 86:
      return Key::V;
    case 87:
      return Key::W;
    case 88:
      return Key::X;
    default:
      return std::nullopt;
  }
}

WheelPlace WheelPlaceOf(const EditorState& st) {
  if (!st.OverWave) return WheelPlace::OffStrip;
  return st.StripIBeam ? WheelPlace::StripCutBand : WheelPlace::Strip;
}

int32_t KeyStep(const EditorState& st) { return (5 * st.Ctrl.TrackBarKeyStep + 5) * st.StepFactor; }

int WheelDirection(int delta, int keyState) {
  if (keyState != KEYSTATE_NONE && keyState != KEYSTATE_SHIFT && keyState != KEYSTATE_CTRL) {
    return 0;
  }
  if (delta == WHEEL_NOTCH) return -1;
  if (delta == -WHEEL_NOTCH) return 1;
  return 0;
}

int32_t WheelStep(const EditorState& st, int direction) {
  if (st.MouseY <= st.PlayerHeight) return st.FrameStep * direction * st.StepFactor;
  return (st.Ctrl.TrackBarMouseStep + 1) * 20 * direction * st.StepFactor;
}

void JumpAhead(EditorState& st, const SeekBothFn& seekBoth) {
  if (st.PlayRate >= 0) {
    if (st.PlayPos < st.CurBegin) {
      st.PlayPos = st.CurBegin;
    } else if (st.PlayPos < st.NextBegin) {
      st.PlayPos = st.NextBegin;
    }
  } else {
    if (st.PlayPos > st.CurEnd) {
      st.PlayPos = st.CurEnd;
    } else if (st.PlayPos < st.NextEnd) {
      st.PlayPos = st.NextEnd;
    }
  }
  JumpTo(st, seekBoth);
  RefreshEdge(st);
}

void JumpBack(EditorState& st, const SeekBothFn& seekBoth) {
  st.PlayPos = st.PlayRate >= 0 ? st.PrevBegin : st.PrevEnd;
  JumpTo(st, seekBoth);
  RefreshEdge(st);
}

void ToggleStatusSwitch(EditorState& st, int panel) {
  switch (panel) {
    case 0:
      st.Ctrl.CheckBoxSoundStyle = !st.Ctrl.CheckBoxSoundStyle;
      break;
    case 1:
      st.DialogueOnly = !st.DialogueOnly;
      if (!st.DialogueOnly) st.HeadTailOnly = st.LoopMode = false;
      RefreshEdge(st);
      break;
    case 2:
      st.HeadTailOnly = !st.HeadTailOnly;
      if (st.HeadTailOnly) st.DialogueOnly = true;
      RefreshEdge(st);
      break;
    case 3:
      st.LoopMode = !st.LoopMode;
      if (st.LoopMode) st.DialogueOnly = true;
      RefreshEdge(st);
      break;
    case 4:
      st.Ctrl.chkBoxAIenable = !st.Ctrl.chkBoxAIenable;
      st.ViewMarker = -100.0;
      break;
    case 5:
      st.StepFactor = st.StepFactor <= 1 ? 3 : 1;
      break;
    default:
      break;
  }
}

bool PressKey(EditorState& st, Key key, const SeekBothFn& seekBoth) {
  if (st.ReadyState != 2) return false;
  switch (key) {
    case Key::Space:
      st.PlayPos = st.CurBegin;
      // The replay plays at 1.0 from the seek on.
      st.ReplayState = 1;
      st.PlayRate = 1.0;
      JumpTo(st, seekBoth);
      break;
    case Key::S:
    case Key::Left:
      Move(st, MoveWhole, -KeyStep(st));
      break;
    case Key::F:
    case Key::Right:
      Move(st, MoveWhole, KeyStep(st));
      break;
    case Key::E:
    case Key::Up:
      Move(st, MoveOutPoint, KeyStep(st));
      break;
    case Key::D:
    case Key::Down:
      Move(st, MoveOutPoint, -KeyStep(st));
      break;
    case Key::R:
      JumpAhead(st, seekBoth);
      break;
    case Key::W:
      JumpBack(st, seekBoth);
      break;
    case Key::X:
      Shear(st);
      break;
    case Key::C:
      Joint(st);
      break;
    case Key::V:
    case Key::A:
      MoveToHere(st, st.PlayPos / 10);
      break;
    case Key::Digit1:
      ToggleStatusSwitch(st, 0);
      break;
    case Key::Digit2:
      ToggleStatusSwitch(st, 1);
      break;
    case Key::Digit3:
      ToggleStatusSwitch(st, 2);
      break;
    case Key::Digit4:
      ToggleStatusSwitch(st, 3);
      break;
    case Key::Digit5:
      ToggleStatusSwitch(st, 4);
      break;
    case Key::Digit6:
      ToggleStatusSwitch(st, 5);
      break;
  }
  return true;
}

void WheelNotch(EditorState& st, int direction, WheelPlace place, const SeekBothFn& seekBoth) {
  if (st.ReadyState != 2) return;
  const int64_t step = WheelStep(st, direction);
  switch (place) {
    case WheelPlace::OffStrip: {
      int64_t pos =
          std::max<int64_t>(0, st.PlayPos + step * (10 - st.Ctrl.TrackBarAutoVolCtrlSpeed));
      if (pos >= WrapPosition(st)) pos = 0;
      st.PlayPos = ToPosition(pos);
      Seek(st, seekBoth);
      break;
    }
    case WheelPlace::StripCutBand: {
      if (HasActiveEntry(st)) {
        // The play position at which the strip draws the out point 20 px right of the pointer
        // (its centre column shows PlayPos, one column per centisecond). Near the start of the
        // media that position would lie before 0, where the view cannot go: it stops at 0.
        const int64_t column = int64_t{st.MouseX} - st.Panel1Left - st.Panel1Width / 2;
        const int64_t target =
            std::max<int64_t>(0, (st.Subs[st.ActiveSub].TimeOut - column) * 10 - 200);
        if (st.PlayPos < target - 500 || st.PlayPos > target) {
          st.PlayPos = ToPosition(target);
          Seek(st, seekBoth);
        }
      }
      Move(st, MoveOutPoint, static_cast<int32_t>(step / 10));
      break;
    }
    case WheelPlace::Strip:
      if (st.PlayPos >= WrapPosition(st)) st.PlayPos = 0;
      Move(st, MoveWhole, static_cast<int32_t>(step / 10));
      st.PlayPos = ToPosition(st.PlayPos + step);
      Seek(st, seekBoth);
      break;
  }
}

}  // namespace tamsel
