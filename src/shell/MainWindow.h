#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "CancelFlag.h"
#include "EditingCanvas.h"
#include "EditorState.h"
#include "MediaModule.h"
#include "PictureButton.h"
#include "ReadyGo.h"
#include "SetupPages.h"
#include "ShellLayout.h"
#include "StatusBarWidget.h"
#include "ToolPages.h"

namespace tamsel {

class EditingInput;
class EditingStrip;
class PlaybackTimer;
class WindowPrompts;

/// How the window is started.
struct WindowOptions {
  std::string exeDir;        ///< where the manual and (by default) the settings file live
  std::string settingsPath;  ///< the settings file; "" for the usual place beside exeDir
  /// The video player's renderer: software where OpenGL is unusable (Qt's offscreen platform).
  VideoRenderer renderer = VideoRenderer::Automatic;
  /// Asks for a file to open; empty: the system's file dialogs (tests put answers here).
  std::function<std::string(const std::string& title, const std::string& filter)> chooseFile;
  /// Shows a message; empty: a modal message box (tests record them here).
  std::function<void(const std::string& text)> showMessage;
  /// Opens a document with the desktop's default handler; empty: the desktop's own.
  std::function<bool(const std::string& path)> openDocument;
  /// Makes the devices of editing; empty: the real ones of the devices' module (tests give
  /// simulated ones here).
  std::function<std::unique_ptr<MediaFactory>()> mediaFactory;
};

/// The program's one window, `TForm1`: the start screen with its picture buttons, the settings
/// and tools pages, preparing a video with its progress, and the editing face.
class TForm1 : public QWidget {
 public:
  explicit TForm1(WindowOptions options);
  ~TForm1() override;

  EditorState& State() { return m_st; }

  // Navigation, as the pictures and the back button do it.
  void Image0Click();
  void ImageSetupClick();
  void ImageToolsClick();
  /// Either video picture: closes the pages, asks for a video and prepares it.
  void ImageVideoClick();
  void ImageTamselClick();
  /// The ready picture: enters editing.
  void ImageReadyGoClick();
  void PaintBoxBackClick();

  /// Prepares `video` as if it had been chosen in the video dialog. A preparation under way is
  /// cancelled first.
  void OpenVideo(const std::string& video);
  /// `tamsel --demo`: makes the sample video with speech and its script in `folder` (beside the
  /// window, which stays usable) and then prepares it as if chosen in the video dialog.
  void OpenDemo(const std::string& folder);
  /// Whether the sample video is being made.
  bool MakingDemo() const { return m_demo != nullptr; }
  /// Whether a video is being prepared.
  bool Preparing() const { return m_job != nullptr; }
  /// Called whenever a preparation has ended (tests wait for it).
  std::function<void(bool ready)> onPreparationEnded;

  // The controls, for the tests and the layout.
  PictureButton *Image0, *Image1, *ImageTamsel, *ImageVideoNon, *ImageVideoYes, *ImageNotReady,
      *ImageReadyGo, *ImageSetup, *ImageTools;
  QLabel* LabelState;
  QProgressBar* ProgressBar1;
  SetupPages* PageControlSetup;
  ToolPages* PageControlTools;
  EditingCanvas* EditingFace;   ///< the editing face's area (the video and what follows it)
  BackButton* PaintBoxBack;     ///< the back button
  StatusBarWidget* StatusBar1;  ///< the status panel of the play modes

  /// Paints the lower panel anew; the strip redraws everything on its next tick.
  void FormBelowPaint();
  /// The waveform strip, the subtitle lines and the time under the strip; made when editing
  /// first begins (null until then).
  EditingStrip* Strip = nullptr;
  /// The editing screen's keys, wheel and pointer, and its position bar ScrollBarPlayPost.
  EditingInput* Input() const { return m_input.get(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Job;
  struct DemoJob;

  void FormCreate();
  void FormResize();
  /// Shows the pictures, the caption and the tools' buttons as the state says.
  void ShowState();
  /// Writes where the controls are to the file named by TAMSEL_LAYOUT_FILE, when it is set.
  void WriteLayoutFile() const;
  /// Writes the editor's play state to the file named by TAMSEL_STATE_FILE, when it is set, at
  /// most ten times a second unless `now`.
  void WriteStateFile(bool now = false);
  /// Appends one line per tick of the playback loop to the file named by TAMSEL_TICK_LOG, when
  /// it is set: when the tick began (ms), how late the tick came (ms), PlayPos, PlayRate,
  /// FrameStep, the tick's interval, the video's position and the sound's (ms).
  void WriteTickLog();
  /// Hides the pages: the settings are saved and, when ready, the subtitles reloaded.
  void ClosePages();
  void Tell(const std::string& text);
  /// A device failed while editing: editing ends and the user is told why.
  void MediaFailed(const std::string& why);
  /// The WAV file was cut under the sound while editing (`why` says so, naming it): editing ends,
  /// the pending edits written, the video is shown as not ready, and the user is told.
  void SoundFileChanged(const std::string& why);
  std::string ChooseFile(const std::string& title, const std::string& filter);
  void StartPreparation(const std::string& video);
  void PreparationProgress(const std::string& label, int position);
  void FinishPreparation(std::shared_ptr<Job> job);
  /// Cancels a preparation under way and waits for it to end.
  void CancelPreparation();
  /// When the video or a file beside it that editing needs has gone, the start screen shows
  /// that it is not ready and the user is told which; true then.
  bool TellIfFilesGone();
  /// Runs a tool of the pages on the document and shows what changed.
  void RunTool(const std::function<void()>& tool);
  void LeaveEditing();
  void EditingTick();
  /// Stops the playback loop's ticks and calls `leave` (which leaves editing) once the tick
  /// under way has returned, unless editing has ended by then.
  void LeaveAfterTick(std::function<void()> leave);
  QSize OuterMinimum(Size outer) const;

  WindowOptions m_options;
  EditorState m_st;
  std::unique_ptr<WindowPrompts> m_prompts;
  std::shared_ptr<Job> m_job;
  std::shared_ptr<DemoJob> m_demo;
  void CancelDemo();
  bool m_shown = false;

  // Editing.
  EditingMedia m_media;
  std::unique_ptr<MediaFactory> m_factory;
  std::unique_ptr<PlaybackTimer> m_loop;
  QTimer m_saveTimer;
  /// Paints the lower panel again while the pointer is outside the window (FormPaint starts it).
  QTimer Timer4refresh;
  std::chrono::steady_clock::time_point m_stateWritten;
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> m_tickLog;
  std::string m_lastTold;                 ///< the last message shown, for the state file
  std::unique_ptr<EditingInput> m_input;  // last: it reports to the state and the devices
};

}  // namespace tamsel
