#include "InputActions.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "DragGestures.h"
#include "EdgeTracking.h"
#include "MagnetCut.h"
#include "PlaybackLoop.h"
#include "TimeText.h"

namespace tamsel {

namespace {

bool Editing(const EditorState& st) { return st.ReadyState == 2; }

int32_t ToPosition(int64_t ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int32_t>::max()));
}

/// The end of the sound as the coverage map knows it (10 * its highest index), ms; the bar
/// seeks no further. 0 for an empty map.
int64_t MapEndPosition(const EditorState& st) {
  return 10 * std::max<int64_t>(static_cast<int64_t>(st.WavSel.size()) - 1, 0);
}

/// The end of the media for the scrub, ms: the video's as the player told it; while it has
/// not, the sound's; nothing when neither is known.
std::optional<int64_t> ScrubEnd(const EditorState& st) {
  if (st.MediaLength > 0) return 10 * int64_t{st.MediaLength};
  if (st.SamplesPerSlot > 0 && st.WavChannels > 0 && st.WavDataSize > 0) {
    return SoundEndOf(st);
  }
  return std::nullopt;
}

}  // namespace

SeekBothFn SeekBothOf(InputDevices dev) {
  return [dev](const EditorState& st) {
    if (dev.player) SeekVideoToJump(st, *dev.player);
    if (dev.sound) SeekSound(st, *dev.sound, st.PlayPos);
    if (dev.player && dev.sound) HoldSoundForVideo(st, *dev.player, *dev.sound);
  };
}

// ---- The application-wide hook ----

bool HookKeyDown(EditorState& st, int virtualKey, const SeekBothFn& seekBoth) {
  if (!Editing(st)) return false;
  if (virtualKey == VK_ALT) {
    if (!st.AltSeen) st.WaveRedraw = true;
    return false;
  }
  const std::optional<Key> key = KeyFromVirtualKey(virtualKey);
  if (!key) return false;
  return PressKey(st, *key, seekBoth);
}

void FormKeyDown(EditorState& st, int virtualKey) {
  if (virtualKey != VK_ALT || st.AltSeen) return;
  st.AltSeen = true;
  st.WaveRedraw = true;
}

void HookWheel(EditorState& st, int delta, int keyState, const SeekBothFn& seekBoth) {
  if (!Editing(st)) return;
  WheelNotch(st, WheelDirection(delta, keyState), WheelPlaceOf(st), seekBoth);
}

// ---- The position bar ----

void ScrollBarPlayPostMouseEnter(EditorState& st) { st.OverPositionBar = true; }

void ScrollBarPlayPostMouseLeave(EditorState& st) { st.OverPositionBar = false; }

int32_t ScrollBarTop(const ScrollBarState& bar) {
  const int64_t top = bar.PageSize > 0 ? int64_t{bar.Max} - bar.PageSize + 1 : bar.Max;
  return static_cast<int32_t>(std::clamp<int64_t>(top, 0, std::numeric_limits<int32_t>::max()));
}

int32_t ScrollBarTarget(const ScrollBarState& bar, BarAction action, int32_t position,
                        int32_t tracked) {
  int64_t to = position;
  switch (action) {
    case BarAction::Track:
      to = tracked;
      break;
    case BarAction::StepAdd:
      to += bar.SmallChange;
      break;
    case BarAction::StepSub:
      to -= bar.SmallChange;
      break;
    case BarAction::PageAdd:
      to += bar.LargeChange;
      break;
    case BarAction::PageSub:
      to -= bar.LargeChange;
      break;
    case BarAction::ToStart:
      to = 0;
      break;
    case BarAction::ToEnd:
      to = ScrollBarTop(bar);
      break;
  }
  return static_cast<int32_t>(std::clamp<int64_t>(to, 0, ScrollBarTop(bar)));
}

void ScrollBarPlayPostScroll(EditorState& st, int32_t scrollPos, InputDevices dev) {
  if (!Editing(st) || !st.OverPositionBar) return;
  st.PlayPos = ToPosition(std::min<int64_t>(int64_t{scrollPos} * 10, MapEndPosition(st)));
  st.ScrollBarPlayPost.Hint = IntToTimeAssStr(st.PlayPos / 10);
  if (dev.player) SeekVideo(st, *dev.player, st.PlayPos);
  if (dev.sound) SeekSoundAndPlay(st, *dev.sound, st.PlayPos);
  RefreshEdge(st);
}

// ---- The video and the window's own surface ----

int32_t ClickSlotOf(int32_t ms) {
  int32_t q = ms / 10;
  const int32_t r = ms % 10;
  if (r > 5 || (r == 5 && q % 2 != 0)) ++q;
  if (r < -5 || (r == -5 && q % 2 != 0)) --q;
  return q;
}

void WMPonClick(EditorState& st, int button) {
  if (!Editing(st)) return;
  if (button == 1) {
    CutInAt(st, ClickSlotOf(st.PlayPos));
  } else if (button == 2) {
    CutOutAt(st, ClickSlotOf(st.PlayPos));
  }
}

SurfaceCursor FormMouseDown(EditorState& st) {
  if (!Editing(st) || st.MouseY < st.PlayerHeight) return SurfaceCursor::Unchanged;
  st.DragHeld = true;
  st.DragLastX = st.MouseX;
  st.ReplayState = -1;
  return SurfaceCursor::Default;
}

SurfaceCursor FormMouseMove(EditorState& st, InputDevices dev) {
  if (!st.DragHeld) return SurfaceCursor::Drag;
  if (!Editing(st)) {
    st.DragHeld = false;  // editing ended under the held button
    return SurfaceCursor::Unchanged;
  }
  int64_t pos = int64_t{st.PlayPos} - (int64_t{st.MouseX} - st.DragLastX) * 10;
  if (const auto end = ScrubEnd(st)) pos = std::min(pos, *end);
  st.PlayPos = ToPosition(pos);
  if (dev.player) SeekVideo(st, *dev.player, st.PlayPos);
  // The sound follows in steps of 5 ms.
  if (dev.sound) SeekSound(st, *dev.sound, st.PlayPos / 5 * 5);
  RefreshEdge(st);
  st.DragLastX = st.MouseX;
  return SurfaceCursor::Unchanged;
}

void FormMouseUp(EditorState& st) { st.DragHeld = false; }

void FormDblClick(EditorState& st, int32_t clientWidth, const SeekBothFn& seekBoth) {
  if (!Editing(st)) return;
  if (st.MouseX >= clientWidth / 2) {
    JumpAhead(st, seekBoth);
  } else {
    JumpBack(st, seekBoth);
  }
}

// ---- The waveform strip ----

void PaintWavMouseEnter(EditorState& st) {
  st.PlayRate = 0;
  st.OverWave = true;
  st.ReplayState = -1;
  st.ViewMarker = -99.0;
}

void PaintWavMouseLeave(EditorState& st) {
  st.OverWave = false;
  st.ViewMarker = -99.0;
}

void Panel1Enter(EditorState& st) { st.PlayRate = 0; }

RefreshTick Timer4refreshTimer(const EditorState& st, bool minimised) {
  RefreshTick tick;
  tick.repaintLowerPanel = st.MouseX < 0 && st.MouseY < 0 && !minimised;
  tick.stop = st.MouseX > 0 && st.MouseY > 0;
  return tick;
}

}  // namespace tamsel
