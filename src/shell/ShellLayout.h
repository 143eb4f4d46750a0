#pragma once

// Where the controls of the window go, for any client size: the start screen's picture buttons
// and pages, the editing face's video, subtitle lines, waveform panel, back button, status panel
// and position bar. Pure arithmetic on sizes, so that the formulas are tested without a window.
// Integer division truncates toward zero, as the layout always has.

#include <array>
#include <cstdint>
#include <string>

namespace tamsel {

struct Rect {
  int32_t left = 0, top = 0, width = 0, height = 0;
  int32_t Right() const { return left + width; }
  int32_t Bottom() const { return top + height; }
  bool operator==(const Rect&) const = default;
};

struct Size {
  int32_t width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

/// The window's colour on both faces: RGB(40, 90, 120).
inline constexpr int WINDOW_RED = 40, WINDOW_GREEN = 90, WINDOW_BLUE = 120;
/// The client area at first show, and the smallest window (outer size) on the start screen at
/// first, after going back from editing, and while editing.
inline constexpr Size DESIGN_CLIENT{784, 599};
inline constexpr Size MIN_WINDOW_START{800, 640};
inline constexpr Size MIN_WINDOW_BACK{480, 640};
inline constexpr Size MIN_WINDOW_EDITING{560, 560};

/// The sizes of the start screen's pictures and pages, as the window has them.
struct StartScreenSizes {
  Size logo;        ///< Image1
  Size videoNon;    ///< ImageVideoNon (ImageVideoYes and the progress bar take its place)
  Size notReady;    ///< ImageNotReady (ImageReadyGo takes its place)
  Size setup;       ///< ImageSetup
  Size tools;       ///< ImageTools
  Size pageSetup;   ///< PageControlSetup
  Size pageTools;   ///< PageControlTools
};

/// The start screen laid out.
struct StartScreenLayout {
  int32_t base = 0;  ///< the line the picture buttons stand on
  int32_t gap = 0;   ///< the space between them
  Rect videoNon, videoYes, progressBar, labelState;
  Rect notReady, readyGo, setup, tools;
  Rect pageSetup, pageTools;
};

/// Lays out the start screen for a client area of `clientWidth` x `clientHeight` in a window
/// `windowWidth` wide (outer): the buttons stand on base = min(CH - 64, logo height +
/// (CH - logo height + video button height) div 2), gap = Trunc((CW - 640) / 8) (0 when
/// negative) apart, the video button at Trunc((CW - its width) * 0.618); the progress bar and
/// the state label keep the video button's left (their own sizes are `progressBar` and
/// `labelState`); the pages centred in the upper two thirds, two thirds across the window.
StartScreenLayout LayOutStartScreen(int32_t clientWidth, int32_t clientHeight, int32_t windowWidth,
                                    const StartScreenSizes& sizes, Size progressBar,
                                    Size labelState);

/// The waveform panel's width for a power class (0, 1, 2) and client width: all but 140 px;
/// for class 1 at most 1024 px but at least half the width; for class 2 at most 640 px but at
/// least a third.
int32_t WavePanelWidth(int powerClass, int32_t clientWidth);

/// Heights of the editing face's fixed parts.
struct EditingHeights {
  int32_t positionBar = 0;  ///< ScrollBarPlayPost
  int32_t statusBar = 0;    ///< StatusBar1
  int32_t panel = 128;      ///< Panel1 as it stands before this layout
  int32_t labelStr = 0;     ///< LabelStr (the current subtitle line)
};

/// The editing face laid out.
struct EditingLayout {
  Rect video;        ///< the video player (only while the position bar is enabled)
  Rect positionBar;  ///< ScrollBarPlayPost
  Rect panel;        ///< Panel1, which PaintWav fills
  Rect back;         ///< PaintBoxBack, 40 x 78 left of the panel
  Rect statusBar;    ///< StatusBar1
  std::array<int32_t, 6> statusPanels{};  ///< widths of the six status panels
};

/// Lays out the editing face for a client area of CW x CH.
EditingLayout LayOutEditing(int32_t clientWidth, int32_t clientHeight, int powerClass,
                            const EditingHeights& heights);

/// Round as the layout rounds: to the nearest integer, halves to even.
int32_t RoundHalfEven(double v);

/// The subtitle lines' font sizes: the current line S = Trunc(sqrt(CW * CH / 800 / 600) * F)
/// with F the configured size clamped to 10..48, the lines before and after it
/// Trunc(S * 0.7 + 2).
struct SubtitleFontSizes {
  int32_t current = 0;
  int32_t side = 0;
};
SubtitleFontSizes SubtitleLineFontSizes(int32_t clientWidth, int32_t clientHeight, int fontSize);
/// The font the subtitle lines use at `size`: `name` above 16 px, "宋体" at 16 px and below.
std::string SubtitleLineFont(const std::string& name, int32_t size);

}  // namespace tamsel
