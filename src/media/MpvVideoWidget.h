#pragma once

#include <QCursor>
#include <QString>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "MediaDevices.h"

struct mpv_handle;

namespace tamsel {

/// The video player of the editing screen: libmpv drawing into a Qt widget, silent (no audio
/// track is decoded, no audio device is opened), seeking precisely to the frame asked for and
/// showing it also while paused, keeping the last frame at the end of the file.
///
/// mpv draws through its render API: with OpenGL straight into a native window of its own
/// inside the widget (a QOpenGLWindow in a window container, so that the picture is not drawn
/// once more into the window's own surface), or through its software renderer into an image
/// painted by the widget where OpenGL is missing or unusable (Qt's offscreen platform, which
/// the tests use). The window's thread never waits for mpv's core, which may be busy for a
/// while decoding its way to the frame of a seek: commands are sent without waiting for their
/// answer, and what the player tells (the position, the length, the frame rate, whether it is
/// paused, when a seek is done) arrives as mpv's events, queued to the window's thread.
class MpvVideoWidget : public QWidget, public VideoPlayer {
  Q_OBJECT

 public:
  enum class Renderer {
    Automatic,  ///< OpenGL where the platform offers it, else software
    OpenGl,     ///< mpv's OpenGL renderer in a QOpenGLWidget; software if its set-up fails
    Software,   ///< mpv's software renderer into an image
  };

  /// Creates mpv's core (paused, silent, precise seeks). Sets the C runtime's number format to
  /// "C" for the whole program, as libmpv requires. Throws MediaError when mpv cannot start.
  explicit MpvVideoWidget(Renderer renderer = Renderer::Automatic, QWidget* parent = nullptr);
  /// Frees the render context (with its OpenGL context current) before mpv's core.
  ~MpvVideoWidget() override;

  /// Starts loading the video at `path`, paused at its start. Loading goes on in mpv's own
  /// threads once the widget has its renderer (for OpenGL: once the widget is first shown);
  /// FileLoaded or LoadFailed tells how it went. Until then Duration and FrameRate are 0, and a
  /// position set meanwhile is sought as soon as the file is open.
  void Open(const std::string& path);
  /// Whether the file of Open is open and playable.
  bool IsLoaded() const { return m_loaded; }
  /// The renderer in use: OpenGl or Software (OpenGl turns Software when mpv cannot use it).
  Renderer ActiveRenderer() const { return m_active; }
  /// What Automatic stands for on this platform.
  static Renderer AutomaticRenderer();

  /// Who turns the numbered pointer shapes into cursors (the window's own pictures); empty: the
  /// nearest standard cursors of Qt (DefaultPointer).
  void SetPointerShapes(std::function<QCursor(int shape)> shapes);
  /// The numbered shape last set (0 before any).
  int PointerShape() const { return m_shape; }
  /// A standard cursor for each numbered shape: 1-5 backward, 6 paused, 7-11 forward, the rest
  /// the arrow.
  static QCursor DefaultPointer(int shape);

  /// An mpv property as text ("" when it is not available), for checks and diagnostics.
  std::string PropertyText(const char* name) const;

  void Play() override;
  void Pause() override;
  double Position() const override;
  void SetPosition(double seconds) override;
  bool Seeking() const override { return m_hasPendingSeek || m_seekUnderway; }
  double SeekSeconds() const override { return m_seekSeconds; }
  void SetSpeed(double speed) override;
  double Duration() const override;
  int FrameRate() const override;
  void SetPointerShape(int shape) override;
  int Height() const override;
  void SetClickHandler(std::function<void(int button)> onClick) override;

 Q_SIGNALS:
  /// The file of Open is open: its length and frame rate can be read.
  void FileLoaded();
  /// The file of Open cannot be played; `message` names it and says why.
  void LoadFailed(const QString& message);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  class View;
  class GlWindow;
  class GlView;
  class SwView;

  void SetUpRenderer(Renderer renderer);
  /// Told by the view once mpv can draw (loading starts) or cannot (software takes over).
  void RendererReady(bool ok);
  void StartLoading();
  void DrainEvents();
  void PropertyChanged(uint64_t which, const void* property);
  /// Reads the length and the frame rate of the file just opened.
  void ReadFileFacts();
  void Seek(double seconds);
  /// Asks mpv to pause or play, unless it is known to do so already.
  void AskPause(bool pause);
  /// The frame rate the file states or, failing that, the decoder measures; 0 when unknown.
  double FramesPerSecond() const;

  mpv_handle* m_mpv = nullptr;
  View* m_view = nullptr;
  Renderer m_active = Renderer::Automatic;
  bool m_rendererReady = false;
  std::string m_path;  ///< the file of Open, loaded once the renderer is ready
  bool m_loadIssued = false;
  bool m_loaded = false;
  bool m_hasPendingSeek = false;
  double m_pendingSeek = 0;    ///< a position set before the file was open
  double m_frameDuration = 0;  ///< seconds; 0 while unknown

  // What mpv told last (its events); unknown values are 0.
  double m_timePos = 0;  ///< the time of the frame shown
  double m_duration = 0;
  double m_containerFps = 0;
  double m_estimatedFps = 0;
  bool m_mpvPaused = true;
  bool m_wantPaused = true;  ///< what was asked of mpv last
  double m_speed = 1;        ///< the speed asked for last

  double m_soughtAt = 0;        ///< the position last set
  uint64_t m_seekId = 0;        ///< the number of the last seek command (its answer carries it)
  bool m_seekAnswered = false;  ///< mpv has taken the last seek command in
  bool m_seekUnderway = false;  ///< its frame is not ready yet
  /// The seek is done, but mpv has not yet told the time of the frame it shows.
  bool m_awaitingTime = false;
  std::chrono::steady_clock::time_point m_seekStarted;
  double m_seekSeconds = 0;  ///< how long the last seek done took
  bool m_held = false;       ///< paused at m_soughtAt since it was set
  int m_shape = 0;
  std::function<QCursor(int)> m_shapes;
  std::function<void(int)> m_onClick;
  std::atomic<bool> m_drainQueued{false};  ///< a drain of mpv's events is on its way
};

}  // namespace tamsel
