#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <utility>

#include "EditorState.h"
#include "PlaybackLoop.h"

namespace tamsel {

/// The timer that runs the playback loop in the window: `tick` every tick interval, which
/// follows the frame step once the loop has learnt it (the shortest tick until then). The
/// interval is changed only when it changes: setting it restarts the timer, and a timer restarted
/// on every tick runs late by the tick's own time.
class PlaybackTimer : public QObject {
 public:
  PlaybackTimer(const EditorState& st, std::function<void()> tick, QObject* parent = nullptr)
      : QObject(parent), m_st(st), m_tick(std::move(tick)) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(MIN_TICK_INTERVAL);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
      const qint64 now = m_clock.nsecsElapsed();
      m_lateMs = m_lastTick < 0 ? 0 : (now - m_lastTick) / 1e6 - m_timer.interval();
      m_lastTick = now;
      m_tick();
      const int interval = m_st.FrameStep > 0 ? TickIntervalOf(m_st.FrameStep) : MIN_TICK_INTERVAL;
      if (interval != m_timer.interval()) m_timer.setInterval(interval);
    });
  }

  void Start() {
    m_clock.start();
    m_startMs = m_clock.msecsSinceReference();
    m_lastTick = -1;
    m_timer.start();
  }
  void Stop() { m_timer.stop(); }
  bool IsActive() const { return m_timer.isActive(); }
  int Interval() const { return m_timer.interval(); }
  /// How much later than its due time the tick now running came, ms: the time since the tick
  /// before less the interval (0 for the first; negative when early). A window thread held up
  /// by other work shows here.
  double LateMs() const { return m_lateMs; }
  /// When the tick now running began, ms on the system's monotonic clock (CLOCK_MONOTONIC where
  /// there is one), as other processes read it.
  double TickStartMs() const { return static_cast<double>(m_startMs) + m_lastTick / 1e6; }

 private:
  const EditorState& m_st;
  std::function<void()> m_tick;
  QTimer m_timer;
  QElapsedTimer m_clock;
  qint64 m_startMs = 0;    ///< when the timer started, ms on the monotonic clock
  qint64 m_lastTick = -1;  ///< when the tick before began, ns on m_clock
  double m_lateMs = 0;
};

}  // namespace tamsel
