#pragma once

// The status panel StatusBar1 under the waveform strip: six panels that show and switch, with
// one click each, the sound style, the three play modes, the magnet and the step size. What a
// click does and what each panel shows are decided here; the window only paints the looks and
// passes the clicks on.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "EditorState.h"
#include "KeyCommands.h"
#include "Rgb.h"

namespace tamsel {

/// The panels, left to right.
enum StatusPanelIndex : int {
  PANEL_SOUND_STYLE = 0,     ///< "变调" / "跳跃": CheckBoxSoundStyle
  PANEL_DIALOGUE_ONLY = 1,   ///< "只播放对白": DialogueOnly
  PANEL_HEAD_TAIL_ONLY = 2,  ///< "只播放首尾": HeadTailOnly
  PANEL_LOOP = 3,            ///< "循环": LoopMode
  PANEL_MAGNET = 4,          ///< "磁石": chkBoxAIenable
  PANEL_STEP = 5,            ///< "精校" / "粗校": StepFactor
};
inline constexpr int STATUS_PANEL_COUNT = 6;

/// The panels' widths, as the editing layout gives them; each panel starts where the one
/// before it ends, the first at the bar's left edge (client x 0).
using StatusPanelWidths = std::array<int32_t, STATUS_PANEL_COUNT>;

/// The status bar's hint.
inline constexpr const char* STATUS_BAR_HINT = "粗校粒度扩大三倍";
/// The status bar's font and its size in pixels, as designed.
inline constexpr const char* STATUS_BAR_FONT = "楷体";
inline constexpr int STATUS_BAR_FONT_PIXELS = 27;

/// The bar's own colour ("sky blue"), shown where no panel is painted.
inline constexpr Rgb STATUS_BAR_COLOUR{166, 202, 240};
/// Every panel's fill.
inline constexpr Rgb STATUS_PANEL_FILL{150, 175, 200};
/// A caption whose switch is on, and the captions of panels 0 and 5.
inline constexpr Rgb STATUS_TEXT_ON{255, 255, 255};
/// A caption whose switch is off.
inline constexpr Rgb STATUS_TEXT_OFF{185, 195, 185};
/// The magnet's caption while it is on: its first character red, its last blue.
inline constexpr Rgb MAGNET_FIRST_COLOUR{255, 0, 0};
inline constexpr Rgb MAGNET_LAST_COLOUR{0, 0, 255};

/// The left edge of `panel` (0-5) in client x: the sum of the widths before it.
int32_t StatusPanelLeft(const StatusPanelWidths& widths, int panel);

/// The panel hit at client x: panel i when its left edge < x < its left edge + its width (both
/// bounds exclusive), so the pixel where two panels meet, x = 0 and anything right of the last
/// panel hit none: -1.
int StatusPanelAt(const StatusPanelWidths& widths, int32_t x);

/// StatusBar1Click: a click on the bar at client x. Switches the panel hit as its key does
/// (ToggleStatusSwitch); then, when any play mode is on, applies the modes at once (CheckEdge
/// with PlayPos; a jump it makes is brought to the devices with `seekBoth`, optional); then
/// saves the settings (IniSave, which keeps the sound style and the magnet), also after a
/// click that hits no panel. A settings file that cannot be written is told; the switch stays.
/// Returns the panel hit, -1 for none.
int StatusBar1Click(EditorState& st, const StatusPanelWidths& widths, int32_t x,
                    const SeekBothFn& seekBoth = {});

/// A panel's caption as the state says: "变调" or "跳跃", "只播放对白", "只播放首尾", "循环",
/// "磁石", "精校" (StepFactor up to 1) or "粗校"; "" for another number.
std::string StatusPanelText(const EditorState& st, int panel);

/// Whether a panel's switch is on; panels 0 and 5 always count as on (their caption tells).
bool StatusPanelOn(const EditorState& st, int panel);

/// A piece of a caption in one colour, `x` pixels right of the panel's rectangle's left edge,
/// its top at the rectangle's top.
struct StatusTextRun {
  std::string text;
  int32_t x = 0;
  Rgb colour;
  bool operator==(const StatusTextRun&) const = default;
};

/// How one panel is painted: its rectangle filled, then its caption's pieces.
struct StatusPanelLook {
  Rgb fill = STATUS_PANEL_FILL;
  std::vector<StatusTextRun> runs;
  bool operator==(const StatusPanelLook&) const = default;
};

/// The width of a text in the status bar's font, pixels.
using TextWidthFn = std::function<int32_t(const std::string&)>;

/// StatusBar1DrawPanel: the look of `panel` in a panel `width` pixels wide. The caption starts
/// at x = Round((width - its width) / 2, halves to even) - 1, white when the panel's switch is
/// on, RGB(185, 195, 185) when off. The magnet's caption while the magnet is on is its first
/// character in red and its last in blue right after the first one's width.
StatusPanelLook StatusBar1DrawPanel(const EditorState& st, int panel, int32_t width,
                                    const TextWidthFn& textWidth);

/// The status bar's font among the installed font families (in the system's list order): "楷体"
/// when installed under exactly that name, else the last one whose name begins with "楷体";
/// nothing when there is none (the bar keeps the font it has).
std::optional<std::string> StatusBarFontName(const std::vector<std::string>& installed);

}  // namespace tamsel
