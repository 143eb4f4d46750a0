#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace tamsel {

/// A media device call that failed; what() says why in the user's language.
class MediaError : public std::runtime_error {
 public:
  explicit MediaError(const std::string& what) : std::runtime_error(what) {}
};

/// Time as the playback loop sees it. The window uses the system's steady clock; tests and the
/// command line use a clock they advance themselves.
class Clock {
 public:
  virtual ~Clock() = default;
  /// Microseconds since some fixed moment; never goes back.
  virtual int64_t NowMicros() const = 0;
};

/// The system's steady clock.
class SteadyClock : public Clock {
 public:
  int64_t NowMicros() const override {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

/// The video player: shows the video, always silent (the sound comes from SoundOutput).
/// Created on entering editing and destroyed on leaving it; every call is made on the window's
/// thread and returns without waiting for the player's own threads, so that the window is never
/// held up by a player busy decoding. A call that fails throws MediaError (the playback loop
/// says where it is caught).
class VideoPlayer {
 public:
  virtual ~VideoPlayer() = default;

  /// Plays from the current position. Idempotent.
  virtual void Play() = 0;
  /// Pauses and freezes the frame shown. Idempotent.
  virtual void Pause() = 0;
  /// The position of the frame shown, seconds. May lag the sound. While a seek is being carried
  /// out (Seeking), the position it goes to.
  virtual double Position() const = 0;
  /// Seeks to `seconds` precisely, also while paused, and shows that frame. Returns at once: the
  /// seek is carried out meanwhile (a player may take a while to decode its way to the frame).
  virtual void SetPosition(double seconds) = 0;
  /// Whether the seek of the position set last is still being carried out: its frame is not yet
  /// shown. Optional: a player whose seeks take no time leaves it false.
  virtual bool Seeking() const { return false; }
  /// How long the last seek that was carried out took, from SetPosition until its frame was
  /// ready, seconds; 0 before the first. Optional, as Seeking.
  virtual double SeekSeconds() const { return 0; }
  /// Plays at `speed` times the normal speed from now on (1 at first). The loop keeps it within
  /// a few percent of 1, to bring a picture that drifts from the sound back without a seek.
  /// Optional: a player that cannot leaves it at 1.
  virtual void SetSpeed(double speed) { (void)speed; }
  /// The media's length, seconds; 0 until the media is open.
  virtual double Duration() const = 0;
  /// The video's frame rate, frames per second rounded to an integer; 0 until known.
  virtual int FrameRate() const = 0;
  /// The numbered pointer shape (1-14) shown over the video.
  virtual void SetPointerShape(int shape) = 0;
  /// The height of the video area in the window, pixels: its lower edge.
  virtual int Height() const = 0;
  /// Who is told of a click on the video: button 1 left, 2 right. Optional (empty: nobody).
  virtual void SetClickHandler(std::function<void(int button)> onClick) = 0;
};

/// The sound output: one buffer holding the whole PCM data of the side WAV (16-bit samples),
/// played from a cursor at an adjustable sample rate. Created on entering editing, released on
/// leaving it; called from the window's thread (the device itself plays on its own thread).
/// Calls do not fail: an output that cannot play keeps the cursor moving as if it did.
class SoundOutput {
 public:
  virtual ~SoundOutput() = default;

  /// The play cursor: bytes from the start of the PCM data, always on a whole sample frame.
  virtual int64_t Cursor() const = 0;
  /// Moves the cursor, playing or stopped. Rounded down to a whole sample frame and kept within
  /// the data (an offset past the end puts it at the end).
  virtual void SetCursor(int64_t bytes) = 0;
  /// Starts, or goes on, from the cursor: once (stops at the end of the data) or looping (wraps
  /// to the start).
  virtual void Play(bool looping) = 0;
  /// Halts; the cursor stays where it is.
  virtual void Stop() = 0;
  /// Sets the playback rate in samples per second: speed and pitch follow (rate = frequency /
  /// the WAV's own sample rate). 0 halts the sound without stopping it; the cursor stays.
  virtual void SetFrequency(int64_t samplesPerSecond) = 0;
  /// Whether the sound is playing (started and not stopped, not yet at the end when once).
  virtual bool Playing() const = 0;
  /// Why the sound can no longer be played as it was when the output was made, as a message
  /// that begins with the WAV file's path: another program cut the file shorter (the part cut
  /// off plays as silence). "" while all is well, and from outputs that hold no file. Cheap
  /// enough for every tick of the playback loop.
  virtual std::string SourceProblem() const { return ""; }
};

}  // namespace tamsel
