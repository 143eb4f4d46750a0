#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Controls.h"
#include "IniFile.h"
#include "TextCodec.h"
#include "Timeline.h"
#include "UserPrompts.h"

namespace tamsel {

/// The window's title.
inline constexpr const char* PROGRAM_TITLE = "Tamsel时间轴 V1.0 beta9";

/// Subtitle formats, the values of `SubFormat`.
enum : int32_t { FORMAT_SRT = 0, FORMAT_SSA = 1, FORMAT_ASS = 2 };

/// The open subtitle document. A load builds a whole new one and puts it in place only when it
/// succeeded, so a failed load never leaves a half-read document behind.
struct SubtitleDocument {
  std::vector<TSub> Subs;               ///< the timeline, in ascending TimeIn
  std::vector<std::string> SrtHead;     ///< SRT: lines before the first entry, kept as they were
  std::vector<TSub> SubsBase;           ///< ASS/SSA: event ranges and times as last written
  std::vector<TAssOriginal> AssLines;   ///< ASS/SSA: every line of the file
  std::vector<TAssSort> AssEvents;      ///< ASS/SSA: the edited layer's events by time
  CoverageMap WavSel;                   ///< coverage map, one cell per centisecond
  int32_t SubCurr = 0;                  ///< current entry, -1 for an empty timeline
  bool SubDirty = false;                ///< changes not yet on disk
  int32_t SubFormat = FORMAT_ASS;       ///< FORMAT_SRT, FORMAT_SSA or FORMAT_ASS
  bool SubUtf8Bom = false;              ///< write UTF-8 with the byte-order mark
  CodePage SubCodePage = CodePage::Utf8;  ///< without the mark: the encoding the file was read in
  int32_t SubLayer = 0;                 ///< ASS/SSA: the layer being edited
  int32_t LoadMinGap = -1;              ///< ASS/SSA: the minimum length the lines were read with
  std::string SubFileName;              ///< the subtitle file being edited
  std::string TmpFileName;              ///< BaseFileName + ".tmp", every write goes through it
  bool SaveFailureReported = false;     ///< a failed write has been reported; quiet till one succeeds
  bool LeftoversRemoved = false;        ///< the first save removed what killed saves left
};

/// The position bar `ScrollBarPlayPost` along the bottom of the editing screen, as the window
/// shows it. Until the playback loop sets it up it holds its design values.
struct ScrollBarState {
  bool Enabled = false;
  bool Visible = false;
  int32_t Max = 65536;  ///< once set up: the media length, cs
  int32_t PageSize = 1000;
  int32_t LargeChange = 6000;
  int32_t SmallChange = 1000;
  int32_t Position = 0;  ///< cs once set up; follows the video
  std::string Hint;      ///< the play position as text
  bool operator==(const ScrollBarState&) const = default;
};

/// Which of the start screen's state pictures are shown.
struct StartPictures {
  bool ImageReadyGo = false;
  bool ImageNotReady = true;
  bool ImageVideoYes = false;
  bool ImageVideoNon = true;
};

/// Everything the editor works on, owned by the main window and passed to the operations.
struct EditorState : SubtitleDocument {
  std::string BaseFileName;    ///< the video's path without its extension
  std::string VideoFileName;
  std::string WavFileName;
  std::string WsFileName;
  std::string AiFileName;
  /// No waveform file is at hand (the command line): size the coverage map from the timeline.
  bool SizeMapFromSubs = false;

  // Sound geometry, set by the side-file builder from the WAV header.
  int32_t WavChannels = 0;     ///< channel count
  int32_t SamplesPerSlot = 0;  ///< sample rate div 100
  int64_t WavFileSize = 0;     ///< RIFF size + 8
  int64_t WavDataSize = 0;     ///< data chunk size
  int32_t AutoVolLevel = 0;    ///< loudness-control strength the builder used, 0..5

  // Playback as the timing edits see it.
  int32_t PlayPos = 0;         ///< play position, ms
  double PlayRate = 1.0;       ///< playback rate; its sign is the direction (>= 0 forward)
  bool DialogueOnly = false;   ///< play mode "只播放对白"
  bool HeadTailOnly = false;   ///< play mode "只播放首尾"
  bool LoopMode = false;       ///< play mode "循环"
  int32_t MediaLength = 0;     ///< the video's length, cs (0 until known)
  /// MediaLength is the sound's length standing in for a player that never told its own.
  bool MediaLengthGuessed = false;
  int32_t SubsInVideo = 0;     ///< entries that begin more than 1 s before the end of the video

  // Play edges: three consecutive segments around the play position, ms.
  int32_t PrevBegin = 0;
  int32_t PrevEnd = 0;
  int32_t CurBegin = 0;
  int32_t CurEnd = 0;
  int32_t NextBegin = 0;
  int32_t NextEnd = 0;

  // Editing.
  int32_t ActiveSub = -1;      ///< the entry edits act on, -1 for none
  std::vector<int8_t> WsData;  ///< the strip's envelope: (top, bottom) per slot (2N + 2000)
  std::vector<uint8_t> AiBegin;  ///< speech-start score per slot (N + 500 entries)
  std::vector<uint8_t> AiEnd;    ///< speech-end score per slot, moved by the out-point delay
  double ViewMarker = 0;       ///< -99 asks the strip to repaint, -100 to repaint and follow
  bool WaveRedraw = false;     ///< the strip redraws everything on its next tick
  int32_t ViewStart = 0;       ///< the strip's first column shows slot ViewStart div 2
  bool OverWave = false;       ///< the pointer is over the waveform strip
  int32_t MouseY = 0;          ///< pointer's vertical position in the window, pixels
  int32_t Panel1Top = 0;       ///< top of the strip's container in the window, pixels

  // Input.
  int32_t StepFactor = 1;      ///< 1 in fine mode ("精校"), 3 in coarse mode ("粗校")
  int32_t ReplayState = 0;     ///< 0 idle, 1 Space replays at normal speed, -1 the pointer steers
  int32_t FrameRate = 0;       ///< frames per second the player reports (0 until it does)
  int32_t FrameStep = 0;       ///< one video frame, ms, lengthened by the power class
  int32_t MouseX = 0;          ///< pointer's horizontal position in the window, pixels
  int32_t PrevMouseX = 0;      ///< the pointer at the playback loop's previous tick
  int32_t PrevMouseY = 0;
  bool DragHeld = false;       ///< a button was pressed on the window below the video, not released
  int32_t DragLastX = 0;       ///< MouseX at the last step of that scrub
  bool OverPositionBar = false;  ///< the pointer is over the position bar
  bool AltSeen = false;        ///< the Alt key has been seen once (the strip then redraws)
  int32_t Panel1Left = 0;      ///< left of the strip's container in the window, pixels
  int32_t Panel1Width = 0;     ///< width of the strip's container, pixels
  int32_t PlayerHeight = 0;    ///< height of the video picture in the window, pixels
  bool StripIBeam = false;     ///< the strip shows the text cursor (the pointer is in its cut band)

  // Drag on the waveform strip.
  bool Dragging = false;
  int32_t DragMode = 0;        ///< 0 plain, 1 queue (Shift), 2 elastic (Ctrl)
  int32_t DragStartX = 0;      ///< strip column at the press
  int32_t DragStartIn = 0;     ///< TimeIn of the active entry at the press, cs
  std::vector<TSub> SubSnapshot;  ///< elastic drag: every entry's times at the press

  // The playback loop's timers and what it keeps between ticks.
  int32_t Timer2GetMouseXYInterval = 42;  ///< the loop's tick, ms: max(FrameStep, 42) once known
  bool Timer4ShowWavEnabled = false;      ///< the strip's timer runs (once the frame rate is known)
  int32_t LastFormLeft = 0;               ///< the window's left and top edges at the previous tick
  int32_t LastFormTop = 0;
  int32_t MediaWaitTicks = 0;   ///< ticks since editing began, counted up to the media wait
  int64_t LastTickMicros = -1;  ///< the clock at the previous tick (-1: none since editing began)
  /// How far the video's frame lags the sound at 1.0, ms, smoothed over the ticks (the loop
  /// nudges the video's speed by it).
  double VideoLag = 0;
  /// A jump of the play position (a key, a double click) asks the sound to wait, at 1.0, until
  /// the video shows the frame it jumped to, SOUND_WAIT ms at most: both then start together.
  bool SoundWaitsForVideo = false;
  int64_t SoundWaitSince = -1;  ///< the clock when the loop first saw the wait (-1: not yet)
  ScrollBarState ScrollBarPlayPost;

  int32_t SaveCountdown = 0;   ///< autosave delay in timer ticks
  int32_t ReadyState = 1;      ///< 1 start screen, 2 editing
  std::string Caption = PROGRAM_TITLE;  ///< the window caption
  StartPictures Pictures;
  bool BackHover = false;      ///< the pointer is over the back button

  Controls Ctrl;               ///< the settings and tools pages
  IniFile Ini;                 ///< the settings file
  /// A failed save is tried again by the autosave (the editor); false where nothing will try
  /// again (the command line), so the failure message does not promise it.
  bool SaveRetries = true;
  UserPrompts* Prompts = nullptr;  ///< may be null: messages are then only kept in LastMessage
  std::string LastMessage;     ///< the last message shown
  std::string SaveBuffer;      ///< where every save puts its text together, kept between saves

  /// Shows a message to the user.
  void Tell(const std::string& text) {
    LastMessage = text;
    if (Prompts) Prompts->ShowMessage(text);
  }
};

/// The base name of a video path: the path without the extension of its file name.
std::string BaseNameOf(const std::string& videoPath);

}  // namespace tamsel
