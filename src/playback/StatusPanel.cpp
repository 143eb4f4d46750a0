#include "StatusPanel.h"

#include <cmath>

#include "EdgeTracking.h"
#include "FileIo.h"
#include "Settings.h"
#include "TextCodec.h"

namespace tamsel {

namespace {

bool AnyPlayMode(const EditorState& st) {
  return st.DialogueOnly || st.HeadTailOnly || st.LoopMode;
}

/// The caption whose two ends the magnet colours while it is on.
constexpr std::string_view MAGNET_CAPTION = "磁石";

}  // namespace

int32_t StatusPanelLeft(const StatusPanelWidths& widths, int panel) {
  int32_t left = 0;
  for (int i = 0; i < panel && i < STATUS_PANEL_COUNT; ++i) left += widths[i];
  return left;
}

int StatusPanelAt(const StatusPanelWidths& widths, int32_t x) {
  int32_t left = 0;
  for (int i = 0; i < STATUS_PANEL_COUNT; ++i) {
    if (left < x && x < left + widths[i]) return i;
    left += widths[i];
  }
  return -1;
}

int StatusBar1Click(EditorState& st, const StatusPanelWidths& widths, int32_t x,
                    const SeekBothFn& seekBoth) {
  const int panel = StatusPanelAt(widths, x);
  if (panel >= 0) ToggleStatusSwitch(st, panel);
  // A mode just switched on acts at once, not only when the playback loop next looks.
  if (AnyPlayMode(st)) {
    const int32_t before = st.PlayPos;
    CheckEdge(st, st.PlayPos);
    if (st.PlayPos != before && seekBoth) seekBoth(st);
  }
  try {
    IniSave(st.Ini, st.Ctrl, st.SubCurr);
  } catch (const FileError& e) {
    st.Tell(e.path() + "\r" + e.what() + "\r设置没有保存。");
  }
  return panel;
}

std::string StatusPanelText(const EditorState& st, int panel) {
  switch (panel) {
    case PANEL_SOUND_STYLE:
      return SoundStyleText(st.Ctrl.CheckBoxSoundStyle);
    case PANEL_DIALOGUE_ONLY:
      return "只播放对白";
    case PANEL_HEAD_TAIL_ONLY:
      return "只播放首尾";
    case PANEL_LOOP:
      return "循环";
    case PANEL_MAGNET:
      return std::string(MAGNET_CAPTION);
    case PANEL_STEP:
      return st.StepFactor <= 1 ? "精校" : "粗校";
    default:
      return "";
  }
}

bool StatusPanelOn(const EditorState& st, int panel) {
  switch (panel) {
    case PANEL_DIALOGUE_ONLY:
      return st.DialogueOnly;
    case PANEL_HEAD_TAIL_ONLY:
      return st.HeadTailOnly;
    case PANEL_LOOP:
      return st.LoopMode;
    case PANEL_MAGNET:
      return st.Ctrl.chkBoxAIenable;
    default:
      return true;
  }
}

StatusPanelLook StatusBar1DrawPanel(const EditorState& st, int panel, int32_t width,
                                    const TextWidthFn& textWidth) {
  StatusPanelLook look;
  const std::string text = StatusPanelText(st, panel);
  if (text.empty()) return look;
  const int32_t x = static_cast<int32_t>(std::nearbyint((width - textWidth(text)) / 2.0)) - 1;
  if (text.find(MAGNET_CAPTION) != std::string::npos && st.Ctrl.chkBoxAIenable) {
    const std::string first = Utf8Copy(text, 1, 1);
    const std::string last = Utf8Copy(text, Utf8Length(text), 1);
    look.runs.push_back({first, x, MAGNET_FIRST_COLOUR});
    look.runs.push_back({last, x + textWidth(first), MAGNET_LAST_COLOUR});
    return look;
  }
  look.runs.push_back({text, x, StatusPanelOn(st, panel) ? STATUS_TEXT_ON : STATUS_TEXT_OFF});
  return look;
}

std::optional<std::string> StatusBarFontName(const std::vector<std::string>& installed) {
  std::optional<std::string> found;
  for (const std::string& name : installed) {
    if (name == STATUS_BAR_FONT) return name;
    if (name.starts_with(STATUS_BAR_FONT)) found = name;
  }
  return found;
}

}  // namespace tamsel
