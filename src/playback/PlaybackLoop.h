#pragma once

// The playback loop: one tick of the timer Timer2GetMouseXY while editing. It turns the
// pointer's place over the window into a signed rate, keeps the sound and the video at one play
// position, lets the play modes jump at subtitle edges and keeps the position bar in step.
//
// The sound is the master clock. In the pitch-shifted style ("变调") the sound plays at the
// rate and the play position is read back from its cursor; in the jumping style ("跳跃") the
// sound plays at its own rate and the loop moves the position itself, moving the sound in jumps
// when it drifts. The video player only plays at 1.0: slow motion is play-pause stepping, fast
// and backward motion are seeks ahead of or behind the play position.

#include <cstdint>
#include <functional>
#include <optional>

#include "EditorState.h"
#include "MediaDevices.h"

namespace tamsel {

/// What the window tells the loop on each tick.
struct WindowFacts {
  bool active = true;  ///< the main window is the active window
  int32_t left = 0;    ///< the window's outer left and top edges on the screen
  int32_t top = 0;
  int32_t width = 0;  ///< the window's outer size, frame included
  int32_t height = 0;
  int32_t clientWidth = 0;  ///< the client area's size
  int32_t clientHeight = 0;
  int32_t pointerX = 0;  ///< the pointer on the screen
  int32_t pointerY = 0;
  int32_t panel1Width = 0;  ///< the waveform panel's width
};

/// What the loop drives: the devices of the editing session and the window's layout.
struct PlaybackDevices {
  VideoPlayer& player;
  SoundOutput& sound;
  const Clock& clock;
  uint32_t sampleRate = 0;  ///< the WAV's own sample rate
  /// Lays the window out (FormResize) when the position bar is first shown. Optional.
  std::function<void()> formResize;
};

// ---- Facts and conversions ----

/// The loop's shortest tick, ms.
inline constexpr int32_t MIN_TICK_INTERVAL = 42;
/// How far the pointer may tremble during a replay without ending it: horizontally, vertically
/// over the video, and vertically elsewhere (px).
inline constexpr int32_t TREMBLE_X = 8;
inline constexpr int32_t TREMBLE_Y_VIDEO = 8;
inline constexpr int32_t TREMBLE_Y_ELSEWHERE = 4;
/// Ticks (about 5 s) the player is given to tell the media's length and frame rate before the
/// loop does without: the sound's length stands in, and STAND_IN_FRAME_RATE.
inline constexpr int32_t MEDIA_WAIT_TICKS = 120;
inline constexpr int STAND_IN_FRAME_RATE = 25;
/// The farthest the loop aims a seek of the video ahead of the play position to make up for the
/// time the seek takes, ms.
inline constexpr int64_t MAX_SEEK_LEAD = 1000;

/// FrameStep for a frame rate: 1000 div (rate + 1) ms, then by the power class: 0 keeps it,
/// 1 makes it Trunc(step * 1.4), 2 doubles it. 0 for a rate of 0 or less.
int32_t FrameStepOf(int frameRate, int powerClass);
/// The loop's tick for a frame step: max(FrameStep, 42) ms.
int32_t TickIntervalOf(int32_t frameStep);
/// K: the power class + 1 (1, 2 or 3).
int PowerFactor(const EditorState& st);
/// Lead, the base of every video jump, ms: Trunc(CW * CH / 20000) + FrameStep.
int32_t LeadOf(const EditorState& st, const WindowFacts& w);

/// The sound's byte offset of a play position (ms): ms * SamplesPerSlot * WavChannels / 5,
/// rounded down to a whole sample frame (16-bit samples) and kept within the sound's data.
int64_t SoundOffsetOf(const EditorState& st, int64_t ms);
/// The play position (ms) of a sound byte offset: Trunc(bytes * 5 / SamplesPerSlot / WavChannels).
int32_t SoundMsOf(const EditorState& st, int64_t bytes);
/// Where the sound ends, ms.
int32_t SoundEndOf(const EditorState& st);
/// Where the video ends, ms: 10 * MediaLength as the player told it; nothing while it has not
/// (the sound's length standing in does not count).
std::optional<int64_t> VideoEndOf(const EditorState& st);

/// Seeks the video to `ms` (seconds = ms / 1000.0), kept within 0 and the video's end: past its
/// end the video shows its last frame.
void SeekVideo(const EditorState& st, VideoPlayer& player, int64_t ms);
/// Seeks the sound to the byte offset of `ms`. A position at or past the end of the sound puts
/// the cursor at the end, once: false, doing nothing, when it stands there already.
bool SeekSound(const EditorState& st, SoundOutput& sound, int64_t ms);
/// Seeks the sound to `ms` and plays it once (not when SeekSound did nothing).
void SeekSoundAndPlay(const EditorState& st, SoundOutput& sound, int64_t ms);
/// "Seek both": the video and the sound to PlayPos, neither started nor stopped.
void SeekBoth(const EditorState& st, PlaybackDevices& dev);

/// Snd: the sound's play cursor as a play position, ms.
int32_t SoundPosition(const EditorState& st, const SoundOutput& sound);
/// The play position as the sound tells it (Snd). Once the sound has reached its end, a play
/// position at or past that end moves on by the clock at the rate (`elapsedMicros` since the
/// last tick), silently, up to the end of the video: a video longer than its sound plays on.
int32_t SoundClockPosition(const EditorState& st, const PlaybackDevices& dev,
                           int64_t elapsedMicros);
/// How far the video is behind `ms`, the target kept within the video as SeekVideo keeps it:
/// target - Vid, ms (Vid = the player's position * 1000). D(t) is its Trunc.
double VideoGap(const EditorState& st, const VideoPlayer& player, int64_t ms);
/// D(t) = Trunc(VideoGap): positive while the video is behind `ms`.
int64_t VideoBehind(const EditorState& st, const VideoPlayer& player, int64_t ms);

/// How far ahead of the play position the loop aims a seek of the video while playing at
/// `rate`, ms: as far as the position moves while the player carries a seek out (the last one
/// took SeekSeconds), so that the frame is ready when the position gets there; at least a frame
/// step, at most MAX_SEEK_LEAD.
int64_t SeekLeadOf(const EditorState& st, const VideoPlayer& player, double rate);
/// The video at 1.0 in either style, after PlayPos has been taken from the sound. Behind by more
/// than two frame steps, or ahead by more than the lead and two frame steps, it is sought to
/// PlayPos + SeekLeadOf (not while a seek is carried out); ahead by more than a frame step it
/// waits for the sound, paused; otherwise it plays.
void KeepVideoInStep(const EditorState& st, VideoPlayer& player);

// ---- The steps of one tick ----

/// PlayRate := 0, the player paused, the sound stopped.
void PauseAll(EditorState& st, PlaybackDevices& dev);

/// Step 3: when the window's left or top edge moved, the strip redraws everything (WaveRedraw)
/// and the new edges are remembered.
void NoteWindowPosition(EditorState& st, const WindowFacts& w);

/// Step 4.1: while FrameRate is 0, asks the player; once it tells one (or after
/// MEDIA_WAIT_TICKS, the stand-in rate) sets FrameStep, the tick interval and starts the
/// strip's timer.
void LearnFrameRate(EditorState& st, VideoPlayer& player);
/// Step 4.2: MediaLength from the player's duration. False (the bar disabled) while it is not
/// known; after MEDIA_WAIT_TICKS the sound's length stands in until the player tells its own.
bool LearnMediaLength(EditorState& st, VideoPlayer& player);
/// Step 4.3: on the first tick that knows the length, shows and sets up the position bar, lays
/// the window out, and counts the subtitles inside the video (the last one ends at its end).
void SetUpPositionBar(EditorState& st, PlaybackDevices& dev);
/// Step 4.4: the bar's position follows the video (cs); a change fires its change handler.
void FollowVideoPosition(EditorState& st, VideoPlayer& player);
/// Step 4: the media facts above. False when the player failed: the tick ends quietly and the
/// next one tries again.
bool ReadMediaFacts(EditorState& st, PlaybackDevices& dev);

/// The position bar's change handler: in the first half second the play edges all point at the
/// first subtitle's first half second.
void ScrollBarPlayPostChange(EditorState& st);

/// Step 5: MouseX, MouseY in client pixels from the pointer on the screen. Outside the client
/// area both become -1 and playback pauses (PauseAll); the tick goes on. False then.
bool ReadPointer(EditorState& st, PlaybackDevices& dev, const WindowFacts& w);

/// Whether the pointer moved since the last tick beyond the tremble limits: more than 8 px
/// horizontally or `verticalLimit` px vertically.
bool Moved(const EditorState& st, int32_t verticalLimit);
/// Starts the x1 replay: PlayRate 1.0, pointer shape 10, the player and the sound (looping)
/// playing.
void StartReplay(EditorState& st, PlaybackDevices& dev);

/// One row of the speed-zone table.
struct SpeedZone {
  std::optional<double> rate;  ///< nothing: unchanged
  int shape = 0;               ///< the pointer shape, 1-11; 0: unchanged
  bool pause = false;          ///< the dead band pauses the player
};
/// The speed-zone table over the video for an offset e from the centre.
SpeedZone SpeedOfOffset(int32_t e);
/// e for the pointer: MouseX - CW div 2, spread over -400..400 with CheckBoxInductorStretch,
/// moved 200 right with CheckBoxPlayAtCenter.
int32_t PointerOffset(const EditorState& st, int32_t clientWidth);
/// The rate below the video for the pointer at MouseX (0 within the dead band near the centre).
double LowerZoneRate(const EditorState& st, int32_t clientWidth, int32_t panel1Width);

/// Step 7, the pointer over the video (MouseY up to the player's height): the replay holds
/// while the pointer trembles within 8 px; while the pointer steers (ReplayState -1) the rate
/// and the pointer shape follow the speed-zone table.
void SteerInVideoZone(EditorState& st, PlaybackDevices& dev, const WindowFacts& w);
/// Step 8, below the video off the strip: a held button pauses; otherwise the rate follows the
/// pointer's distance from the centre (the replay holds within 8 and 4 px).
void SteerInLowerZone(EditorState& st, PlaybackDevices& dev, const WindowFacts& w);
/// Step 9, over the strip: moving pauses; the replay holds within 8 and 4 px; otherwise the
/// rate stays.
void SteerOnStrip(EditorState& st, PlaybackDevices& dev);
/// Steps 6 to 10: the zone's steering, then the pointer is remembered for the next tick.
void SteerByPointer(EditorState& st, PlaybackDevices& dev, const WindowFacts& w);

/// Step 11, the pitch-shifted style: the sound at the rate, the play position from it.
/// False when the tick ends here (paused).
bool SyncPitchShifted(EditorState& st, PlaybackDevices& dev, const WindowFacts& w,
                      int64_t elapsedMicros);
/// Step 12, the jumping style: the sound at its own rate, the position moved by the loop.
/// False when the tick ends here (paused).
bool SyncJumping(EditorState& st, PlaybackDevices& dev, const WindowFacts& w,
                 int64_t elapsedMicros);

/// Step 13: the position bar's hint shows the play position.
void ShowPlayPosition(EditorState& st);

/// One tick of the loop (does nothing unless editing). Errors of the player while the media
/// facts are read end the tick quietly; those of later player calls reach the caller.
void Timer2GetMouseXYTimer(EditorState& st, PlaybackDevices& dev, const WindowFacts& w);

}  // namespace tamsel
