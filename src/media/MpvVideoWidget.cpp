#include "MpvVideoWidget.h"

#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>

#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QPointer>
#include <QSurfaceFormat>
#include <QThread>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace tamsel {

namespace {

std::string MpvReason(int rc) { return mpv_error_string(rc); }

/// Why a file could not be played, in the user's words where mpv's reason is a common one,
/// followed by mpv's own.
std::string PlayFailure(int rc) {
  const char* why = nullptr;
  switch (rc) {
    case MPV_ERROR_NOTHING_TO_PLAY:
      why = "文件里没有视频画面（只有声音的文件不能用来打轴）";
      break;
    case MPV_ERROR_UNKNOWN_FORMAT:
      why = "文件格式不认识，或者不是视频文件";
      break;
    case MPV_ERROR_LOADING_FAILED:
      why = "文件打不开或者已经损坏";
      break;
    default:
      return MpvReason(rc);
  }
  return std::string(why) + "（" + MpvReason(rc) + "）";
}

/// Asks for a repaint of the widget `view` on its own thread; called by mpv from its threads.
void RequestRepaint(void* view) {
  auto* w = static_cast<QWidget*>(view);
  QMetaObject::invokeMethod(
      w, [w] { w->update(); }, Qt::QueuedConnection);
}

/// The properties the player follows; the number comes back with each change.
enum Observed : uint64_t { TIME_POS = 1, DURATION, CONTAINER_FPS, ESTIMATED_FPS, PAUSE };

}  // namespace

/// What both renderers share: the widget mpv draws into, covering the player.
class MpvVideoWidget::View {
 public:
  virtual ~View() = default;
  virtual QWidget* Widget() = 0;
};

/// mpv's OpenGL renderer drawing straight into a native window of its own, so that the frames
/// go to the screen without being drawn once more into the window's surface, and drawing on a
/// thread of its own, so that the window's thread never waits for a frame to be drawn (with a
/// software OpenGL a frame of a large video takes tens of milliseconds, the playback loop's
/// tick no more than forty). The window only shows: it takes no input (clicks, the wheel and
/// the pointer's shape are the player's), and frames never wait for the screen's refresh.
class MpvVideoWidget::GlWindow : public QWindow {
 public:
  GlWindow(MpvVideoWidget* owner, mpv_handle* mpv) : m_owner(owner), m_mpv(mpv) {
    setSurfaceType(QSurface::OpenGLSurface);
    setFlag(Qt::WindowTransparentForInput);
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSwapInterval(0);
    setFormat(format);
  }
  ~GlWindow() override { StopDrawing(); }

  /// Ends the drawing thread; mpv's render context goes with it, before mpv's core.
  void StopDrawing() {
    if (!m_thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_quit = true;
    }
    m_wake.notify_one();
    m_thread.join();
    m_gl.reset();
  }

 protected:
  void exposeEvent(QExposeEvent*) override {
    NoteSize();
    m_exposed = isExposed();
    if (!m_exposed) return;
    if (!m_thread.joinable() && !m_failed) StartDrawing();
    Redraw();
  }
  void resizeEvent(QResizeEvent*) override {
    NoteSize();
    Redraw();
  }

  // Where the system still hands the window input (it cannot make it pass through), the
  // player's own widget gets it.
  void mousePressEvent(QMouseEvent* event) override { Forward(event); }
  void mouseReleaseEvent(QMouseEvent* event) override { Forward(event); }
  void mouseMoveEvent(QMouseEvent* event) override { Forward(event); }
  void mouseDoubleClickEvent(QMouseEvent* event) override { Forward(event); }
  void wheelEvent(QWheelEvent* event) override { Forward(event); }

 private:
  void NoteSize() {
    const qreal ratio = devicePixelRatio();
    m_width = static_cast<int>(std::lround(width() * ratio));
    m_height = static_cast<int>(std::lround(height() * ratio));
  }

  /// Asks the drawing thread for a frame; from any thread (mpv calls it from its own).
  void Redraw() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_redraw = true;
    }
    m_wake.notify_one();
  }

  void StartDrawing() {
    m_gl = std::make_unique<QOpenGLContext>();
    m_gl->setFormat(format());
    if (!m_gl->create()) {
      m_gl.reset();
      m_failed = true;
      m_owner->RendererReady(false);
      return;
    }
    m_gl->doneCurrent();
    m_gl->moveToThread(nullptr);  // taken up by the drawing thread
    m_thread = std::thread([this] { Draw(); });
  }

  /// The drawing thread: makes mpv's render context in the OpenGL context, tells the player
  /// whether that worked, then draws a frame whenever mpv or the window asks for one.
  void Draw() {
    QOpenGLContext* gl = m_gl.get();
    gl->moveToThread(QThread::currentThread());
    mpv_render_context* ctx = nullptr;
    bool ok = gl->makeCurrent(this);
    if (ok) {
      mpv_opengl_init_params init{&GlWindow::ProcAddress, nullptr};
      mpv_render_param params[] = {
          {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
          {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &init},
          {MPV_RENDER_PARAM_INVALID, nullptr}};
      ok = mpv_render_context_create(&ctx, m_mpv, params) >= 0;
    }
    QPointer<MpvVideoWidget> owner(m_owner);
    QMetaObject::invokeMethod(
        m_owner,
        [owner, ok] {
          if (owner) owner->RendererReady(ok);
        },
        Qt::QueuedConnection);
    if (!ok) {
      gl->doneCurrent();
      gl->moveToThread(nullptr);
      return;
    }
    mpv_render_context_set_update_callback(
        ctx, [](void* self) { static_cast<GlWindow*>(self)->Redraw(); }, this);
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return m_redraw || m_quit; });
        if (m_quit) break;
        m_redraw = false;
      }
      if (!m_exposed || !gl->makeCurrent(this)) continue;
      mpv_opengl_fbo fbo{static_cast<int>(gl->defaultFramebufferObject()), m_width, m_height, 0};
      int flipY = 1;  // the window's framebuffer has its origin at the bottom left
      int block = 0;  // never wait for a frame's display time
      mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                   {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                   {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                   {MPV_RENDER_PARAM_INVALID, nullptr}};
      mpv_render_context_render(ctx, params);
      gl->swapBuffers(this);
      mpv_render_context_report_swap(ctx);
    }
    mpv_render_context_set_update_callback(ctx, nullptr, nullptr);
    gl->makeCurrent(this);
    mpv_render_context_free(ctx);
    gl->doneCurrent();
    gl->moveToThread(nullptr);
  }

  static void* ProcAddress(void*, const char* name) {
    QOpenGLContext* ctx = QOpenGLContext::currentContext();
    return ctx ? reinterpret_cast<void*>(ctx->getProcAddress(name)) : nullptr;
  }
  void Forward(QEvent* event) {
    QCoreApplication::sendEvent(m_owner, event);
    event->accept();
  }

  MpvVideoWidget* m_owner;
  mpv_handle* m_mpv;
  std::unique_ptr<QOpenGLContext> m_gl;
  std::thread m_thread;
  bool m_failed = false;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_redraw = false;  // guarded by m_mutex
  bool m_quit = false;    // guarded by m_mutex
  // Told by the window's thread, read by the drawing thread.
  std::atomic<bool> m_exposed{false};
  std::atomic<int> m_width{0};
  std::atomic<int> m_height{0};
};

/// The OpenGL window in the widget tree: a window container over the player, which it fills.
class MpvVideoWidget::GlView : public MpvVideoWidget::View {
 public:
  GlView(MpvVideoWidget* owner, mpv_handle* mpv) : m_window(new GlWindow(owner, mpv)) {
    // The container owns the window from here on and deletes it with itself.
    m_container = QWidget::createWindowContainer(m_window, owner);
    m_container->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  ~GlView() override {
    m_window->StopDrawing();
    delete m_container;
  }
  QWidget* Widget() override { return m_container; }

 private:
  GlWindow* m_window;
  QWidget* m_container;
};

/// mpv's software renderer drawing into an image that the paint event shows. Slow for large
/// pictures, but needs nothing of the platform beyond painting.
class MpvVideoWidget::SwView : public QWidget, public MpvVideoWidget::View {
 public:
  /// Throws MediaError when mpv cannot make its software renderer.
  SwView(MpvVideoWidget* owner, mpv_handle* mpv) : QWidget(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    const int rc = mpv_render_context_create(&m_ctx, mpv, params);
    if (rc < 0) throw MediaError("视频播放器无法建立软件绘制：" + MpvReason(rc));
    mpv_render_context_set_update_callback(m_ctx, &RequestRepaint, static_cast<QWidget*>(this));
  }
  ~SwView() override {
    mpv_render_context_set_update_callback(m_ctx, nullptr, nullptr);
    mpv_render_context_free(m_ctx);
  }
  QWidget* Widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    const int w = static_cast<int>(std::lround(width() * ratio));
    const int h = static_cast<int>(std::lround(height() * ratio));
    if (w <= 0 || h <= 0) return;
    if (w != m_size[0] || h != m_size[1]) Allocate(w, h);
    size_t stride = m_stride;
    // Bytes in memory order; QImage::Format_RGB32 holds 0xffRRGGBB words.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    char format[] = "bgr0";
#else
    char format[] = "0rgb";
#endif
    int block = 0;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, m_size},
                                 {MPV_RENDER_PARAM_SW_FORMAT, format},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                 {MPV_RENDER_PARAM_SW_POINTER, m_pixels.get()},
                                 {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    QImage image(m_pixels.get(), w, h, static_cast<qsizetype>(m_stride), QImage::Format_RGB32);
    if (mpv_render_context_render(m_ctx, params) < 0) {
      image.fill(Qt::black);
    } else {
      // The fourth byte of each pixel is left undefined by mpv; Qt wants it opaque.
      for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) line[x] |= 0xff000000u;
      }
    }
    image.setDevicePixelRatio(ratio);
    painter.drawImage(0, 0, image);
  }

 private:
  /// mpv works fastest on lines and pixels aligned to 64 bytes.
  static constexpr std::align_val_t ALIGN{64};
  struct AlignedDelete {
    void operator()(uchar* p) const { ::operator delete(p, ALIGN); }
  };

  void Allocate(int w, int h) {
    m_stride = (static_cast<size_t>(w) * 4 + 63) / 64 * 64;
    const size_t bytes = m_stride * static_cast<size_t>(h);
    m_pixels.reset(static_cast<uchar*>(::operator new(bytes, ALIGN)));
    m_size[0] = w;
    m_size[1] = h;
  }

  mpv_render_context* m_ctx = nullptr;
  std::unique_ptr<uchar, AlignedDelete> m_pixels;
  size_t m_stride = 0;
  int m_size[2] = {0, 0};
};

namespace {

/// Options set before mpv starts. The player only shows pictures: the sound comes from the
/// editor's own sound output, so no audio track is chosen and no audio device could be opened.
struct Option {
  const char* name;
  const char* value;
};
constexpr Option OPTIONS[] = {
    {"vo", "libmpv"},
    {"aid", "no"},
    {"ao", "null"},
    // The subtitle file beside the video is the one being edited: never drawn over it.
    {"sid", "no"},
    {"sub-auto", "no"},
    {"hr-seek", "yes"},
    {"keep-open", "yes"},
    {"pause", "yes"},
    {"idle", "yes"},
    {"osd-level", "0"},
    // Frames reach the renderer at their time, so rendering never waits on the window thread.
    {"video-timing-offset", "0"},
    {"resume-playback", "no"},
    // Decoding is done in software: no probing of graphics drivers for decoding help.
    {"hwdec", "no"},
    {"gpu-hwdec-interop", "no"},
    {"load-scripts", "no"},
    {"config", "no"},
};

}  // namespace

MpvVideoWidget::MpvVideoWidget(Renderer renderer, QWidget* parent) : QWidget(parent) {
  // libmpv refuses to start unless numbers are formatted the C way; Qt has set the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  std::unique_ptr<mpv_handle, void (*)(mpv_handle*)> mpv(mpv_create(), &mpv_terminate_destroy);
  if (!mpv) throw MediaError("视频播放器无法启动：libmpv 没能建立播放核心。");
  for (const Option& o : OPTIONS) {
    const int rc = mpv_set_option_string(mpv.get(), o.name, o.value);
    if (rc < 0) {
      throw MediaError(std::string("视频播放器无法设置选项 ") + o.name + "：" + MpvReason(rc));
    }
  }
  if (const int rc = mpv_initialize(mpv.get()); rc < 0) {
    throw MediaError("视频播放器无法启动：" + MpvReason(rc));
  }
  // What the loop reads on every tick arrives as events, never by asking mpv's core, which may
  // be busy decoding for a while.
  const struct {
    Observed which;
    const char* name;
    mpv_format format;
  } observed[] = {{TIME_POS, "time-pos", MPV_FORMAT_DOUBLE},
                  {DURATION, "duration", MPV_FORMAT_DOUBLE},
                  {CONTAINER_FPS, "container-fps", MPV_FORMAT_DOUBLE},
                  {ESTIMATED_FPS, "estimated-vf-fps", MPV_FORMAT_DOUBLE},
                  {PAUSE, "pause", MPV_FORMAT_FLAG}};
  for (const auto& o : observed) {
    if (const int rc = mpv_observe_property(mpv.get(), o.which, o.name, o.format); rc < 0) {
      throw MediaError(std::string("视频播放器无法跟踪 ") + o.name + "：" + MpvReason(rc));
    }
  }
  m_mpv = mpv.release();
  mpv_set_wakeup_callback(
      m_mpv,
      [](void* self) {
        // Called from mpv's threads: one queued drain at a time is enough.
        auto* w = static_cast<MpvVideoWidget*>(self);
        if (w->m_drainQueued.exchange(true)) return;
        QMetaObject::invokeMethod(
            w, [w] { w->DrainEvents(); }, Qt::QueuedConnection);
      },
      this);

  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);
  try {
    SetUpRenderer(renderer);
  } catch (...) {
    mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
    mpv_terminate_destroy(m_mpv);
    throw;
  }
}

MpvVideoWidget::~MpvVideoWidget() {
  mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
  // The render context goes before the core (a GlView makes its OpenGL context current for it).
  delete m_view;
  m_view = nullptr;
  mpv_terminate_destroy(m_mpv);
}

MpvVideoWidget::Renderer MpvVideoWidget::AutomaticRenderer() {
  // Qt's OpenGL widget crashes on the offscreen and minimal platforms, which have no screen.
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    return Renderer::Software;
  }
  // OpenGL drawing runs on a thread of its own; a platform that cannot do that draws in software.
  if (!QOpenGLContext::supportsThreadedOpenGL()) return Renderer::Software;
  QOpenGLContext probe;
  return probe.create() ? Renderer::OpenGl : Renderer::Software;
}

void MpvVideoWidget::SetUpRenderer(Renderer renderer) {
  if (renderer == Renderer::Automatic) renderer = AutomaticRenderer();
  m_active = renderer;
  m_rendererReady = false;
  View* view;
  if (renderer == Renderer::OpenGl) {
    view = new GlView(this, m_mpv);
  } else {
    view = new SwView(this, m_mpv);
  }
  m_view = view;
  QWidget* w = view->Widget();
  // Clicks belong to the player, whichever widget draws.
  w->setAttribute(Qt::WA_TransparentForMouseEvents);
  w->setGeometry(rect());
  w->show();
  if (renderer == Renderer::Software) RendererReady(true);
}

void MpvVideoWidget::RendererReady(bool ok) {
  if (ok) {
    m_rendererReady = true;
    StartLoading();
    return;
  }
  // OpenGL is there but mpv cannot use it (too old, missing extensions): draw in software.
  // Not from here: Qt is inside the OpenGL widget's set-up.
  QMetaObject::invokeMethod(
      this,
      [this] {
        View* old = m_view;
        m_view = nullptr;
        delete old;
        try {
          SetUpRenderer(Renderer::Software);
        } catch (const MediaError& e) {
          Q_EMIT LoadFailed(QString::fromStdString(m_path + "\r" + e.what()));
        }
      },
      Qt::QueuedConnection);
}

void MpvVideoWidget::Open(const std::string& path) {
  m_path = path;
  m_loadIssued = false;
  m_loaded = false;
  StartLoading();
}

void MpvVideoWidget::StartLoading() {
  if (!m_rendererReady || m_path.empty() || m_loadIssued) return;
  // An absolute path, so that mpv never takes a name for a protocol or an option.
  const std::string file =
      QFileInfo(QString::fromStdString(m_path)).absoluteFilePath().toStdString();
  const char* cmd[] = {"loadfile", file.c_str(), nullptr};
  const int rc = mpv_command(m_mpv, cmd);
  m_loadIssued = true;
  if (rc < 0) {
    Q_EMIT LoadFailed(QString::fromStdString(m_path + "\r视频无法打开：" + MpvReason(rc)));
  }
}

void MpvVideoWidget::DrainEvents() {
  m_drainQueued = false;
  for (;;) {
    const mpv_event* e = mpv_wait_event(m_mpv, 0);
    switch (e->event_id) {
      case MPV_EVENT_NONE:
        return;
      case MPV_EVENT_START_FILE:
        m_loaded = false;
        m_frameDuration = 0;
        m_seekUnderway = false;
        m_awaitingTime = false;
        m_held = false;
        break;
      case MPV_EVENT_FILE_LOADED:
        m_loaded = true;
        ReadFileFacts();
        if (m_hasPendingSeek) {
          m_hasPendingSeek = false;
          try {
            Seek(m_pendingSeek);
          } catch (const MediaError& err) {
            Q_EMIT LoadFailed(QString::fromStdString(m_path + "\r" + err.what()));
          }
        }
        Q_EMIT FileLoaded();
        break;
      case MPV_EVENT_COMMAND_REPLY:
        if (e->reply_userdata != 0 && e->reply_userdata == m_seekId) {
          m_seekAnswered = true;
          // A seek mpv refused (no file, a time it cannot reach) is over at once.
          if (e->error < 0) m_seekUnderway = m_awaitingTime = false;
        }
        break;
      case MPV_EVENT_PLAYBACK_RESTART:
        // The first frame after a seek is ready. One of an earlier seek, which the last one
        // replaced, comes before mpv has taken the last one in.
        if (m_seekUnderway && m_seekAnswered) {
          m_seekUnderway = false;
          m_seekSeconds =
              std::chrono::duration<double>(std::chrono::steady_clock::now() - m_seekStarted)
                  .count();
        }
        break;
      case MPV_EVENT_PROPERTY_CHANGE:
        PropertyChanged(e->reply_userdata, e->data);
        break;
      case MPV_EVENT_END_FILE: {
        m_loaded = false;
        m_seekUnderway = false;
        m_awaitingTime = false;
        const auto* end = static_cast<const mpv_event_end_file*>(e->data);
        if (end->reason == MPV_END_FILE_REASON_ERROR) {
          Q_EMIT LoadFailed(
              QString::fromStdString(m_path + "\r视频无法播放：" + PlayFailure(end->error)));
        }
        break;
      }
      default:
        break;
    }
  }
}

void MpvVideoWidget::ReadFileFacts() {
  // Once, as the file opens and before any seek: mpv's core is not decoding yet, so asking it
  // is quick. The events of these properties follow soon, but the length and the frame rate are
  // known from the moment the file is open, and the first seek needs the frame's length.
  const auto read = [this](const char* name) {
    double v = 0;
    return mpv_get_property(m_mpv, name, MPV_FORMAT_DOUBLE, &v) >= 0 && std::isfinite(v) ? v : 0;
  };
  m_duration = read("duration");
  m_containerFps = read("container-fps");
  m_estimatedFps = read("estimated-vf-fps");
}

void MpvVideoWidget::PropertyChanged(uint64_t which, const void* data) {
  const auto* p = static_cast<const mpv_event_property*>(data);
  double number = 0;  // unavailable: 0
  if (p->format == MPV_FORMAT_DOUBLE && p->data) {
    number = *static_cast<const double*>(p->data);
    if (!std::isfinite(number)) number = 0;
  }
  switch (which) {
    case TIME_POS:
      m_timePos = number;
      // The time told after the seek's frame is ready is that frame's.
      if (!m_seekUnderway) m_awaitingTime = false;
      break;
    case DURATION:
      m_duration = number;
      break;
    case CONTAINER_FPS:
      m_containerFps = number;
      break;
    case ESTIMATED_FPS:
      m_estimatedFps = number;
      break;
    case PAUSE:
      if (p->format == MPV_FORMAT_FLAG && p->data) {
        m_mpvPaused = *static_cast<const int*>(p->data) != 0;
      }
      break;
    default:
      break;
  }
}

void MpvVideoWidget::AskPause(bool pause) {
  if (m_wantPaused == pause && m_mpvPaused == pause) return;
  int flag = pause ? 1 : 0;
  const int rc = mpv_set_property_async(m_mpv, 0, "pause", MPV_FORMAT_FLAG, &flag);
  if (rc < 0) throw MediaError(std::string("视频播放器无法设置 pause：") + MpvReason(rc));
  m_wantPaused = pause;
}

double MpvVideoWidget::FramesPerSecond() const {
  double fps = m_containerFps;
  // A container that does not say (raw streams, some AVI files): what the decoder measured.
  if (!(fps > 0)) fps = m_estimatedFps;
  return fps > 0 && fps <= 10000 ? fps : 0;
}

void MpvVideoWidget::Seek(double seconds) {
  // A negative absolute time would count from the end of the file.
  if (!(seconds > 0)) seconds = 0;
  if (m_frameDuration <= 0) {
    const double fps = FramesPerSecond();
    if (fps > 0) m_frameDuration = 1 / fps;
  }
  // mpv shows the first frame that starts at or after the time asked for, less 5 ms. The frame
  // of a time is the one on screen at that time, which starts up to a frame earlier: so ask for
  // a frame less, plus those 5 ms and a tenth of a millisecond for rounding.
  const double target =
      m_frameDuration > 0 ? std::max(0.0, seconds - m_frameDuration + 0.0051) : seconds;
  char text[64];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text - 1, target, std::chars_format::fixed, 6);
  if (ec != std::errc()) throw MediaError("视频定位失败：时间超出范围。");
  *end = '\0';
  const char* cmd[] = {"seek", text, "absolute+exact", nullptr};
  const int rc = mpv_command_async(m_mpv, m_seekId + 1, cmd);
  if (rc < 0) throw MediaError(std::string("视频定位失败：") + MpvReason(rc));
  ++m_seekId;
  m_seekAnswered = false;
  m_seekUnderway = true;
  m_awaitingTime = true;
  m_seekStarted = std::chrono::steady_clock::now();
  m_soughtAt = seconds;
  m_held = m_wantPaused;
}

void MpvVideoWidget::Play() {
  AskPause(false);
  m_held = false;
}

void MpvVideoWidget::Pause() { AskPause(true); }

void MpvVideoWidget::SetSpeed(double speed) {
  if (!(speed > 0) || std::abs(speed - m_speed) < 0.0005) return;
  const int rc = mpv_set_property_async(m_mpv, 0, "speed", MPV_FORMAT_DOUBLE, &speed);
  if (rc < 0) throw MediaError(std::string("视频播放器无法设置 speed：") + MpvReason(rc));
  m_speed = speed;
}

double MpvVideoWidget::Position() const {
  if (!m_loaded) return m_hasPendingSeek ? m_pendingSeek : 0;
  // Until the seek's frame is shown and its time told, the player stands where it goes: callers
  // that compare the position with the one they set would otherwise seek again.
  if (m_seekUnderway || m_awaitingTime) return m_soughtAt;
  // Paused on the frame of a time that was set, the player stands at that time (mpv tells the
  // start of the frame), so a position written is read back unchanged.
  if (m_held && std::abs(m_soughtAt - m_timePos) < m_frameDuration) return m_soughtAt;
  return m_timePos;
}

void MpvVideoWidget::SetPosition(double seconds) {
  if (!m_loaded) {
    m_hasPendingSeek = true;
    m_pendingSeek = std::max(0.0, seconds);
    return;
  }
  Seek(seconds);
}

double MpvVideoWidget::Duration() const {
  if (!m_loaded) return 0;
  return std::max(0.0, m_duration);
}

int MpvVideoWidget::FrameRate() const {
  if (!m_loaded) return 0;
  return static_cast<int>(std::nearbyint(FramesPerSecond()));  // halves to even
}

void MpvVideoWidget::SetPointerShape(int shape) {
  if (shape == m_shape) return;
  m_shape = shape;
  setCursor(m_shapes ? m_shapes(shape) : DefaultPointer(shape));
}

void MpvVideoWidget::SetPointerShapes(std::function<QCursor(int shape)> shapes) {
  m_shapes = std::move(shapes);
  if (m_shape != 0) setCursor(m_shapes ? m_shapes(m_shape) : DefaultPointer(m_shape));
}

QCursor MpvVideoWidget::DefaultPointer(int shape) {
  switch (shape) {
    case 1:
    case 2:
    case 11:
      return Qt::SizeHorCursor;  // fast backward, x1 backward, fast forward
    case 3:
    case 4:
    case 5:
    case 7:
    case 8:
    case 9:
      return Qt::SplitHCursor;  // slow motion either way
    case 6:
      return Qt::CrossCursor;  // paused
    case 10:
      return Qt::PointingHandCursor;  // x1 forward
    default:
      return Qt::ArrowCursor;
  }
}

int MpvVideoWidget::Height() const { return height(); }

void MpvVideoWidget::SetClickHandler(std::function<void(int button)> onClick) {
  m_onClick = std::move(onClick);
}

std::string MpvVideoWidget::PropertyText(const char* name) const {
  char* text = mpv_get_property_string(m_mpv, name);
  if (!text) return {};
  std::string s = text;
  mpv_free(text);
  return s;
}

void MpvVideoWidget::mousePressEvent(QMouseEvent* event) {
  int button = 0;
  if (event->button() == Qt::LeftButton) button = 1;
  if (event->button() == Qt::RightButton) button = 2;
  if (button != 0 && m_onClick) m_onClick(button);
  event->accept();
}

void MpvVideoWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_view) m_view->Widget()->setGeometry(rect());
}

}  // namespace tamsel
