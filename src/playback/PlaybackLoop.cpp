#include "PlaybackLoop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "EdgeTracking.h"
#include "SplitJoin.h"
#include "TimeText.h"

namespace tamsel {

namespace {

/// The pointer shapes of the speed zones and of the x1 replay.
constexpr int SHAPE_REPLAY = 10;
/// Bytes of one 16-bit sample.
constexpr int64_t SAMPLE_BYTES = 2;

int32_t ToPosition(int64_t ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int32_t>::max()));
}

/// Trunc of a real number into 64 bits (0 for NaN, the nearest end for what does not fit).
int64_t Trunc(double v) {
  if (std::isnan(v)) return 0;
  constexpr double LIMIT = 9.0e18;
  return static_cast<int64_t>(std::clamp(v, -LIMIT, LIMIT));
}

int64_t FrameBytes(const EditorState& st) { return SAMPLE_BYTES * std::max(st.WavChannels, 1); }

/// The end of the sound's data, on a whole frame.
int64_t SoundDataEnd(const EditorState& st) {
  const int64_t data = std::max<int64_t>(st.WavDataSize, 0);
  return data - data % FrameBytes(st);
}

/// The play position past which the jumping style wraps to the start: 10 * the highest cell
/// of the coverage map (the sound plus 10 s).
int64_t WrapPositionOf(const EditorState& st) {
  return 10 * std::max<int64_t>(static_cast<int64_t>(st.WavSel.size()) - 1, 0);
}

/// The sound's frequency for the pitch-shifted style: Trunc(|rate| * the WAV's rate), never 0
/// for a rate that is not 0 (a frequency of 0 means "the original rate" to some outputs and
/// "halt" to others); nothing for rate 0, which stops the sound instead.
std::optional<int64_t> PitchFrequency(double rate, uint32_t sampleRate) {
  if (rate == 0) return std::nullopt;
  return std::max<int64_t>(Trunc(std::fabs(rate) * sampleRate), 1);
}

/// Seeks the video for the loop's own keeping in step, unless the player is still carrying out
/// a seek: it decodes from the key frame before the frame sought, and a seek asked for
/// meanwhile would start it again, most often from the same key frame, so that on videos with
/// key frames far apart the picture would freeze under a storm of seeks. Once the seek is done
/// the next tick judges the frame shown. False when it did not seek.
bool KeepVideoAt(const EditorState& st, VideoPlayer& player, int64_t ms) {
  if (player.Seeking()) return false;
  SeekVideo(st, player, ms);
  return true;
}

// The branches of the two synchronisation styles; each is one row of the loop's rules.

bool PitchForward(EditorState& st, PlaybackDevices& dev, const WindowFacts& w,
                  int64_t elapsedMicros) {
  const int64_t fs = st.FrameStep;
  const double rate = st.PlayRate;
  const int32_t snd = SoundPosition(st, dev.sound);
  st.PlayPos = SoundClockPosition(st, dev, elapsedMicros);
  if (snd == 0 || rate != 0) dev.sound.Play(/*looping=*/false);
  CheckEdge(st, st.PlayPos);
  if (rate == 0) {
    dev.sound.Stop();
    dev.player.Pause();
    if (std::llabs(VideoBehind(st, dev.player, st.PlayPos)) > fs) {
      KeepVideoAt(st, dev.player, st.PlayPos);
    }
    return false;
  }
  if (rate == 1.0) {
    KeepVideoInStep(st, dev.player);
    if (std::llabs(st.PlayPos - int64_t{SoundPosition(st, dev.sound)}) > fs) {
      SeekSoundAndPlay(st, dev.sound, st.PlayPos);
    }
  } else if (rate < 1.0) {
    // Slow motion: the video steps by playing and pausing.
    if (std::llabs(VideoBehind(st, dev.player, st.PlayPos)) > 2 * fs) {
      KeepVideoAt(st, dev.player, st.PlayPos + SeekLeadOf(st, dev.player, rate));
    }
    if (std::llabs(st.PlayPos - int64_t{SoundPosition(st, dev.sound)}) > fs) {
      SeekSoundAndPlay(st, dev.sound, st.PlayPos);
    }
    if (VideoBehind(st, dev.player, st.PlayPos) > fs) dev.player.Play();
    if (VideoBehind(st, dev.player, st.PlayPos) < fs) dev.player.Pause();
  } else {
    // Fast: the video jumps ahead of the position and plays from there.
    const int k = PowerFactor(st);
    if (std::llabs(VideoBehind(st, dev.player, st.PlayPos)) > Trunc(fs * k * rate)) {
      int64_t j = Trunc(LeadOf(st, w) * rate * k);
      if (rate > 2.0) j *= k;
      if (KeepVideoAt(st, dev.player, st.PlayPos + j)) dev.player.Play();
    }
    if (std::llabs(st.PlayPos - int64_t{SoundPosition(st, dev.sound)}) > (k + 2) * fs) {
      SeekSoundAndPlay(st, dev.sound, st.PlayPos);
    }
  }
  return true;
}

void PitchBackward(EditorState& st, PlaybackDevices& dev, const WindowFacts& w) {
  const int64_t fs = st.FrameStep;
  const double rate = st.PlayRate;
  const int k = PowerFactor(st);
  st.PlayPos = ToPosition(st.PlayPos + Trunc(fs * rate));
  CheckEdge(st, st.PlayPos);
  // The sound runs forward in snippets while the position walks back.
  if (std::llabs(st.PlayPos - int64_t{SoundPosition(st, dev.sound)}) > (k + 2) * fs) {
    SeekSoundAndPlay(st, dev.sound, st.PlayPos);
  }
  dev.player.Pause();
  int64_t b = Trunc((1 - rate) * LeadOf(st, w) * k);
  if (rate < -2.0) b *= k;
  const int64_t d = -VideoBehind(st, dev.player, st.PlayPos);
  // In effect whenever the video is 1 ms or more away.
  if (std::llabs(d * b) > Trunc((1 - rate) * fs * k)) KeepVideoAt(st, dev.player, st.PlayPos - b);
}

bool JumpPaused(EditorState& st, PlaybackDevices& dev) {
  dev.sound.Stop();
  if (std::fabs(VideoGap(st, dev.player, st.PlayPos)) > st.FrameStep) {
    dev.player.Pause();
    KeepVideoAt(st, dev.player, st.PlayPos);
  }
  return false;
}

void JumpNormal(EditorState& st, PlaybackDevices& dev, int64_t elapsedMicros) {
  const int64_t fs = st.FrameStep;
  dev.sound.Play(/*looping=*/false);
  st.PlayPos = SoundClockPosition(st, dev, elapsedMicros);
  CheckEdge(st, st.PlayPos);
  if (std::llabs(st.PlayPos - int64_t{SoundPosition(st, dev.sound)}) > fs) {
    SeekSoundAndPlay(st, dev.sound, st.PlayPos);
  }
  KeepVideoInStep(st, dev.player);
}

void JumpForward(EditorState& st, PlaybackDevices& dev, const WindowFacts& w) {
  const int64_t fs = st.FrameStep;
  const double rate = st.PlayRate;
  const int k = PowerFactor(st);
  int64_t pos = st.PlayPos + Trunc(fs * rate * 1.4);
  if (pos > WrapPositionOf(st)) pos = 0;  // past the end of the sound: from the start
  st.PlayPos = ToPosition(pos);
  CheckEdge(st, st.PlayPos);
  if (std::llabs(st.PlayPos - int64_t{SoundPosition(st, dev.sound)}) > Trunc((k + 0.5) * fs)) {
    SeekSoundAndPlay(st, dev.sound, st.PlayPos);  // the sound jumps
  }
  if (rate < 1.0) {
    if (std::llabs(VideoBehind(st, dev.player, st.PlayPos)) > 2 * fs) {
      KeepVideoAt(st, dev.player, st.PlayPos);
    }
    if (VideoBehind(st, dev.player, st.PlayPos) > fs) dev.player.Play();
    if (VideoBehind(st, dev.player, st.PlayPos) < fs) dev.player.Pause();
    return;
  }
  int64_t j = Trunc((1 + rate) * LeadOf(st, w) * k);
  if (std::llabs(VideoBehind(st, dev.player, st.PlayPos)) > j / 2) {
    if (rate > 2.0) j *= k;
    if (KeepVideoAt(st, dev.player, st.PlayPos + j)) dev.player.Play();
  }
}

void JumpBackward(EditorState& st, PlaybackDevices& dev, const WindowFacts& w) {
  const int64_t fs = st.FrameStep;
  const double rate = st.PlayRate;
  const int k = PowerFactor(st);
  dev.sound.Play(/*looping=*/false);
  const int64_t s = Trunc(fs * rate);
  st.PlayPos = ToPosition(st.PlayPos + s);
  CheckEdge(st, st.PlayPos);
  if (std::llabs(st.PlayPos - int64_t{SoundPosition(st, dev.sound)}) > (k + 4) * fs) {
    SeekSoundAndPlay(st, dev.sound, st.PlayPos - s);
  }
  dev.player.Pause();
  const int64_t b = Trunc((1 - rate) * LeadOf(st, w) * k);
  if (std::fabs(VideoGap(st, dev.player, st.PlayPos)) > Trunc((1 - rate) * fs * k)) {
    KeepVideoAt(st, dev.player, st.PlayPos - b);
  }
}

}  // namespace

// ---- Facts and conversions ----

int32_t FrameStepOf(int frameRate, int powerClass) {
  if (frameRate <= 0) return 0;
  int32_t step = 1000 / (frameRate + 1);
  if (powerClass == 1) step = static_cast<int32_t>(step * 1.4);
  if (powerClass >= 2) step *= 2;
  return step;
}

int32_t TickIntervalOf(int32_t frameStep) { return std::max(frameStep, MIN_TICK_INTERVAL); }

int PowerFactor(const EditorState& st) { return std::clamp(st.Ctrl.RadioGroupPower, 0, 2) + 1; }

int32_t LeadOf(const EditorState& st, const WindowFacts& w) {
  const int64_t area = int64_t{std::max(w.clientWidth, 0)} * std::max(w.clientHeight, 0);
  return static_cast<int32_t>(area / 20000 + st.FrameStep);
}

int64_t SoundOffsetOf(const EditorState& st, int64_t ms) {
  const int64_t bytes = std::max<int64_t>(ms, 0) * st.SamplesPerSlot * st.WavChannels / 5;
  // An offset inside a sample frame would swap the channels or the bytes of a sample.
  return std::min(bytes - bytes % FrameBytes(st), SoundDataEnd(st));
}

int32_t SoundMsOf(const EditorState& st, int64_t bytes) {
  const int64_t perMs = int64_t{st.SamplesPerSlot} * st.WavChannels;
  if (perMs <= 0) return 0;
  return ToPosition(std::max<int64_t>(bytes, 0) * 5 / perMs);
}

int32_t SoundEndOf(const EditorState& st) { return SoundMsOf(st, SoundDataEnd(st)); }

std::optional<int64_t> VideoEndOf(const EditorState& st) {
  if (st.MediaLength <= 0 || st.MediaLengthGuessed) return std::nullopt;
  return 10 * int64_t{st.MediaLength};
}

void SeekVideo(const EditorState& st, VideoPlayer& player, int64_t ms) {
  ms = std::max<int64_t>(ms, 0);
  if (const auto end = VideoEndOf(st)) ms = std::min(ms, *end);
  player.SetPosition(static_cast<double>(ms) / 1000.0);
}

bool SeekSound(const EditorState& st, SoundOutput& sound, int64_t ms) {
  const int64_t offset = SoundOffsetOf(st, ms);
  if (offset >= SoundDataEnd(st) && sound.Cursor() >= offset) return false;
  sound.SetCursor(offset);
  return true;
}

void SeekSoundAndPlay(const EditorState& st, SoundOutput& sound, int64_t ms) {
  if (SeekSound(st, sound, ms)) sound.Play(/*looping=*/false);
}

void SeekBoth(const EditorState& st, PlaybackDevices& dev) {
  SeekVideoToJump(st, dev.player);
  SeekSound(st, dev.sound, st.PlayPos);
  HoldSoundForVideo(st, dev.player, dev.sound);
}

void HoldSoundForVideo(const EditorState& st, const VideoPlayer& player, SoundOutput& sound) {
  if (st.SoundWaitsForVideo && st.PlayRate == 1.0 && player.Seeking()) sound.Stop();
}

bool ShowsFrameOf(const EditorState& st, const VideoPlayer& player, int64_t ms) {
  if (st.FrameRate <= 0 || player.Seeking()) return false;
  const double into = VideoGap(st, player, ms);
  return into >= 0 && into < 1000.0 / st.FrameRate;
}

void SeekVideoToJump(const EditorState& st, VideoPlayer& player) {
  if (ShowsFrameOf(st, player, st.PlayPos)) return;
  SeekVideo(st, player, st.PlayPos);
}

int32_t SoundPosition(const EditorState& st, const SoundOutput& sound) {
  return SoundMsOf(st, sound.Cursor());
}

int32_t SoundClockPosition(const EditorState& st, const PlaybackDevices& dev,
                           int64_t elapsedMicros) {
  const int32_t snd = SoundPosition(st, dev.sound);
  const int32_t end = SoundEndOf(st);
  if (snd < end || st.PlayPos < end) return snd;
  const auto videoEnd = VideoEndOf(st);
  if (!videoEnd || st.PlayPos >= *videoEnd) return st.PlayPos;
  const int64_t moved = Trunc(static_cast<double>(std::max<int64_t>(elapsedMicros, 0)) / 1000.0 *
                              std::max(st.PlayRate, 0.0));
  return ToPosition(std::min(*videoEnd, st.PlayPos + moved));
}

double VideoGap(const EditorState& st, const VideoPlayer& player, int64_t ms) {
  ms = std::max<int64_t>(ms, 0);
  if (const auto end = VideoEndOf(st)) ms = std::min(ms, *end);
  return static_cast<double>(ms) - player.Position() * 1000.0;
}

int64_t VideoBehind(const EditorState& st, const VideoPlayer& player, int64_t ms) {
  return Trunc(VideoGap(st, player, ms));
}

int64_t SeekLeadOf(const EditorState& st, const VideoPlayer& player, double rate) {
  const int64_t took =
      std::clamp<int64_t>(Trunc(player.SeekSeconds() * 1000 * std::fabs(rate)), 0, MAX_SEEK_LEAD);
  return std::max<int64_t>(st.FrameStep, took);
}

void KeepVideoInStep(EditorState& st, VideoPlayer& player) {
  const int64_t fs = st.FrameStep;
  if (player.Seeking()) {
    st.VideoLag = 0;
    player.SetSpeed(1.0);
    player.Play();
    return;
  }
  const double gap = VideoGap(st, player, st.PlayPos);
  const int64_t d = Trunc(gap);
  const int64_t lead = SeekLeadOf(st, player, 1.0);
  if (d > 2 * fs || d < -(lead + 2 * fs)) {
    st.VideoLag = 0;
    player.SetSpeed(1.0);
    SeekVideo(st, player, st.PlayPos + lead);
    player.Play();
    return;
  }
  if (d < -fs) {
    // Ahead, as a seek aimed ahead may land: the picture waits for the sound.
    st.VideoLag = 0;
    player.SetSpeed(1.0);
    player.Pause();
    return;
  }
  // The frame shown began `gap` ms before the sound's position. Smoothed, since a player tells
  // the time of the frame shown, which changes only every frame's length: in step, the frames
  // then start half a frame before and after the sound's position in turn.
  st.VideoLag += 0.1 * (gap - st.VideoLag);
  double speed = 1.0;
  if (std::fabs(st.VideoLag) > LAG_DEAD_BAND) {
    speed += std::clamp(st.VideoLag / VIDEO_LAG_MS / 100, -MAX_NUDGE, MAX_NUDGE);
  }
  player.SetSpeed(speed);
  player.Play();
}

// ---- The steps of one tick ----

void PauseAll(EditorState& st, PlaybackDevices& dev) {
  st.PlayRate = 0;
  dev.player.Pause();
  dev.sound.Stop();
}

void NoteWindowPosition(EditorState& st, const WindowFacts& w) {
  if (w.left == st.LastFormLeft && w.top == st.LastFormTop) return;
  st.WaveRedraw = true;
  st.LastFormLeft = w.left;
  st.LastFormTop = w.top;
}

void LearnFrameRate(EditorState& st, VideoPlayer& player) {
  if (st.FrameRate > 0) return;
  int fps = player.FrameRate();
  // A player that never tells one (a video without pictures, a stream it cannot measure)
  // would leave every tolerance at 0 and the backward steps standing still.
  if (fps <= 0 && st.MediaWaitTicks >= MEDIA_WAIT_TICKS) fps = STAND_IN_FRAME_RATE;
  if (fps <= 0) return;
  st.FrameRate = fps;
  st.FrameStep = FrameStepOf(fps, st.Ctrl.RadioGroupPower);
  st.Timer2GetMouseXYInterval = TickIntervalOf(st.FrameStep);
  st.Timer4ShowWavEnabled = true;
}

bool LearnMediaLength(EditorState& st, VideoPlayer& player) {
  const int64_t told = Trunc(player.Duration() * 100);
  if (told > 0) {
    if (st.MediaLengthGuessed) {
      // The player's own length replaces the sound's: the bar is set up again.
      st.MediaLengthGuessed = false;
      st.ScrollBarPlayPost.Enabled = false;
    }
    st.MediaLength =
        static_cast<int32_t>(std::min<int64_t>(told, std::numeric_limits<int32_t>::max()));
    return true;
  }
  if (st.MediaWaitTicks >= MEDIA_WAIT_TICKS && SoundEndOf(st) >= 10) {
    st.MediaLength = SoundEndOf(st) / 10;
    st.MediaLengthGuessed = true;
    return true;
  }
  st.MediaLength =
      static_cast<int32_t>(std::max<int64_t>(told, std::numeric_limits<int32_t>::min()));
  st.MediaLengthGuessed = false;
  st.ScrollBarPlayPost.Enabled = false;
  return false;
}

void SetUpPositionBar(EditorState& st, PlaybackDevices& dev) {
  ScrollBarState& bar = st.ScrollBarPlayPost;
  if (bar.Enabled) return;
  bar.Visible = true;
  bar.Enabled = true;
  if (dev.formResize) dev.formResize();
  bar.Max = st.MediaLength;
  bar.PageSize = bar.Max / 100;
  bar.LargeChange = 1000;
  bar.SmallChange = 500;
  RecountSubsInVideo(st);
}

void FollowVideoPosition(EditorState& st, VideoPlayer& player) {
  const int64_t cs = Trunc(player.Position() * 100);
  if (cs == st.ScrollBarPlayPost.Position) return;
  st.ScrollBarPlayPost.Position = static_cast<int32_t>(std::clamp<int64_t>(
      cs, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
  ScrollBarPlayPostChange(st);
}

bool ReadMediaFacts(EditorState& st, PlaybackDevices& dev) {
  if (st.MediaWaitTicks < MEDIA_WAIT_TICKS) ++st.MediaWaitTicks;
  try {
    LearnFrameRate(st, dev.player);
    if (!LearnMediaLength(st, dev.player)) return true;
    SetUpPositionBar(st, dev);
    FollowVideoPosition(st, dev.player);
  } catch (const MediaError&) {
    return false;  // the next tick tries again
  }
  return true;
}

void ScrollBarPlayPostChange(EditorState& st) {
  if (st.PlayPos >= 500 || st.Subs.empty()) return;
  const int32_t v = ToPosition(int64_t{st.Subs[0].TimeIn} * 10);
  if (v == st.CurBegin) return;
  st.CurBegin = st.PrevBegin = st.NextBegin = v;
  st.CurEnd = st.PrevEnd = st.NextEnd = ToPosition(int64_t{v} + 500);
}

bool ReadPointer(EditorState& st, PlaybackDevices& dev, const WindowFacts& w) {
  const int32_t border = (w.width - w.clientWidth) / 2;
  st.MouseX = w.pointerX - w.left - border;
  st.MouseY = w.pointerY - w.top - (w.height - w.clientHeight - border);
  if (st.MouseX >= 0 && st.MouseX < w.clientWidth && st.MouseY >= 0 && st.MouseY < w.clientHeight) {
    return true;
  }
  st.MouseX = st.MouseY = -1;
  PauseAll(st, dev);
  return false;
}

bool Moved(const EditorState& st, int32_t verticalLimit) {
  return std::abs(st.PrevMouseX - st.MouseX) > TREMBLE_X ||
         std::abs(st.PrevMouseY - st.MouseY) > verticalLimit;
}

void StartReplay(EditorState& st, PlaybackDevices& dev) {
  st.PlayRate = 1.0;
  dev.player.SetPointerShape(SHAPE_REPLAY);
  dev.player.Play();
  if (!st.SoundWaitsForVideo || !dev.player.Seeking()) dev.sound.Play(/*looping=*/true);
}

bool SoundWaitsForTheVideo(EditorState& st, PlaybackDevices& dev) {
  if (!st.SoundWaitsForVideo) return false;
  const int64_t now = dev.clock.NowMicros();
  if (st.SoundWaitSince < 0) st.SoundWaitSince = now;
  if (st.PlayRate != 1.0 || !dev.player.Seeking() || now - st.SoundWaitSince >= SOUND_WAIT * 1000) {
    st.SoundWaitsForVideo = false;
    st.SoundWaitSince = -1;
    return false;
  }
  dev.sound.Stop();
  dev.player.SetSpeed(1.0);
  dev.player.Play();
  return true;
}

SpeedZone SpeedOfOffset(int32_t e) {
  if (e < -9999 || e > 9999) return {};
  if (e <= -300) return {e / 100.0 + 2, 1};
  if (e <= -200) return {-1.0, 2};
  if (e <= -150) return {(e + 50) / 200.0 - 0.25, 3};
  if (e <= -100) return {(e + 50) / 200.0 - 0.25, 4};
  if (e <= -50) return {(e + 50) / 200.0 - 0.25, 5};
  if (e <= 49) return {0.0, 6, /*pause=*/true};
  if (e <= 99) return {(e - 50) / 200.0 + 0.25, 7};
  if (e <= 149) return {(e - 50) / 200.0 + 0.25, 8};
  if (e <= 199) return {(e - 50) / 200.0 + 0.25, 9};
  if (e <= 299) return {1.0, 10};
  return {e / 100.0 - 2, 11};
}

int32_t PointerOffset(const EditorState& st, int32_t clientWidth) {
  int64_t e = int64_t{st.MouseX} - clientWidth / 2;
  // The window spans -400..400 however wide it is.
  if (st.Ctrl.CheckBoxInductorStretch && clientWidth > 0) e = e * 800 / clientWidth;
  // The centre plays at 1.0; the pause band moves left.
  if (st.Ctrl.CheckBoxPlayAtCenter) e += 200;
  return static_cast<int32_t>(std::clamp<int64_t>(e, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

double LowerZoneRate(const EditorState& st, int32_t clientWidth, int32_t panel1Width) {
  const double g = std::abs(int64_t{st.MouseX} - clientWidth / 2);
  double s;
  if (st.Ctrl.CheckBoxInductorStretch) {
    s = g / std::max(panel1Width, 1) * 2 + 0.6;
    s = std::min(s, 1.0);
  } else {
    s = g / 240 + 0.4;
    if (1.0 < s && s <= 1.3) s = 1.0;
    if (s > 1.3) s = s - 0.3;
    s = std::min(s, 2.0);
  }
  if (g < 100) s = g * s / 111;
  const double rate = st.MouseX > clientWidth / 2 ? s : -s;
  return std::fabs(rate) < 0.09 ? 0.0 : rate;
}

void SteerInVideoZone(EditorState& st, PlaybackDevices& dev, const WindowFacts& w) {
  if (st.ReplayState == 1) {
    if (Moved(st, TREMBLE_Y_VIDEO)) {
      st.ReplayState = -1;
    } else {
      StartReplay(st, dev);
    }
  }
  if (st.ReplayState != -1) return;
  const SpeedZone zone = SpeedOfOffset(PointerOffset(st, w.clientWidth));
  if (zone.rate) st.PlayRate = *zone.rate;
  if (zone.shape) dev.player.SetPointerShape(zone.shape);
  if (zone.pause) dev.player.Pause();
  if (st.Ctrl.RadioGroupPower == 2) st.PlayRate = std::clamp(st.PlayRate, -2.0, 2.0);
}

void SteerInLowerZone(EditorState& st, PlaybackDevices& dev, const WindowFacts& w) {
  if (st.DragHeld) {
    st.ReplayState = -1;
    st.PlayRate = 0;
    return;
  }
  if (Moved(st, TREMBLE_Y_ELSEWHERE)) st.ReplayState = -1;
  if (st.ReplayState == 1) {
    StartReplay(st, dev);
    return;
  }
  st.PlayRate = LowerZoneRate(st, w.clientWidth, w.panel1Width);
}

void SteerOnStrip(EditorState& st, PlaybackDevices& dev) {
  if (Moved(st, TREMBLE_Y_ELSEWHERE)) {
    st.ReplayState = -1;
    st.PlayRate = 0;
  }
  if (st.ReplayState == 1) StartReplay(st, dev);
}

void SteerByPointer(EditorState& st, PlaybackDevices& dev, const WindowFacts& w) {
  const int32_t playerHeight = dev.player.Height();
  if (st.MouseX >= 0 && st.MouseY >= 0 && st.MouseY <= playerHeight) {
    SteerInVideoZone(st, dev, w);
  } else if (st.MouseY > playerHeight && !st.OverWave) {
    SteerInLowerZone(st, dev, w);
  } else if (st.OverWave) {
    SteerOnStrip(st, dev);
  }
  st.PrevMouseX = st.MouseX;
  st.PrevMouseY = st.MouseY;
}

bool SyncPitchShifted(EditorState& st, PlaybackDevices& dev, const WindowFacts& w,
                      int64_t elapsedMicros) {
  if (st.PlayRate != 1.0) dev.player.SetSpeed(1.0);  // nudged at 1.0 only
  if (const auto frequency = PitchFrequency(st.PlayRate, dev.sampleRate)) {
    dev.sound.SetFrequency(*frequency);
  }
  if (st.PlayRate >= 0) return PitchForward(st, dev, w, elapsedMicros);
  PitchBackward(st, dev, w);
  return true;
}

bool SyncJumping(EditorState& st, PlaybackDevices& dev, const WindowFacts& w,
                 int64_t elapsedMicros) {
  if (st.PlayRate != 1.0) dev.player.SetSpeed(1.0);  // nudged at 1.0 only
  dev.sound.SetFrequency(dev.sampleRate);
  if (st.PlayRate == 0) return JumpPaused(st, dev);
  if (st.PlayRate == 1.0) {
    JumpNormal(st, dev, elapsedMicros);
  } else if (st.PlayRate > 0) {
    JumpForward(st, dev, w);
  } else {
    JumpBackward(st, dev, w);
  }
  return true;
}

void ShowPlayPosition(EditorState& st) {
  st.ScrollBarPlayPost.Hint = IntToTimeAssStr(st.PlayPos / 10);
}

void Timer2GetMouseXYTimer(EditorState& st, PlaybackDevices& dev, const WindowFacts& w) {
  if (st.ReadyState != 2) return;
  const int64_t now = dev.clock.NowMicros();
  const int64_t elapsed = st.LastTickMicros < 0 ? 0 : now - st.LastTickMicros;
  st.LastTickMicros = now;
  if (!w.active) {
    PauseAll(st, dev);
    return;
  }
  NoteWindowPosition(st, w);
  if (!ReadMediaFacts(st, dev)) return;
  ReadPointer(st, dev, w);
  SteerByPointer(st, dev, w);
  if (SoundWaitsForTheVideo(st, dev)) {
    ShowPlayPosition(st);
    return;
  }
  const bool goOn = st.Ctrl.CheckBoxSoundStyle ? SyncPitchShifted(st, dev, w, elapsed)
                                               : SyncJumping(st, dev, w, elapsed);
  if (goOn) ShowPlayPosition(st);
}

}  // namespace tamsel
