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
/// At 1.0 the video's speed is nudged by its lag behind the sound: by 1% for each VIDEO_LAG_MS
/// ms, by MAX_NUDGE at most; within LAG_DEAD_BAND ms of none it plays at 1.
inline constexpr double VIDEO_LAG_MS = 10;
inline constexpr double MAX_NUDGE = 0.05;
inline constexpr double LAG_DEAD_BAND = 3;
/// The longest the sound waits for the video's frame after a jump at 1.0, ms.
inline constexpr int64_t SOUND_WAIT = 400;

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
/// "Seek both": the video (as SeekVideoToJump) and the sound to PlayPos, neither started nor
/// stopped.
void SeekBoth(const EditorState& st, PlaybackDevices& dev);
/// A jump that makes the sound wait for the video (SoundWaitsForVideo, at 1.0, the video still
/// seeking) stops the sound at once, rather than at the loop's next tick.
void HoldSoundForVideo(const EditorState& st, const VideoPlayer& player, SoundOutput& sound);
/// Whether the player shows the frame of `ms` (no seek under way, `ms` within the frame that
/// starts at its position; a frame lasts 1000 / FrameRate ms). False while the frame rate is
/// not known.
bool ShowsFrameOf(const EditorState& st, const VideoPlayer& player, int64_t ms);
/// The video after a jump of the play position (a key, a double click, the wheel): sought to
/// PlayPos, unless it shows that frame already (a replay from where it stands starts at once,
/// without a seek that may take a while on videos with key frames far apart).
void SeekVideoToJump(const EditorState& st, VideoPlayer& player);

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
/// waits for the sound, paused; otherwise it plays, a little faster or slower while its frame
/// lags or leads the sound (VideoLag), so that a seek that landed late or a clock that runs
/// apart is made up for without a seek.
void KeepVideoInStep(EditorState& st, VideoPlayer& player);

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
/// playing; the sound not while it waits for the video (SoundWaitsForVideo).
void StartReplay(EditorState& st, PlaybackDevices& dev);
/// After a jump at 1.0 (SoundWaitsForVideo), while the player is still seeking the frame jumped
/// to and for SOUND_WAIT ms at most: the sound waits at the play position, the player plays as
/// soon as its frame is there, and the tick ends here (true). Then both go on together; a jump at
/// another rate, or a frame shown at once, ends the wait at once.
bool SoundWaitsForTheVideo(EditorState& st, PlaybackDevices& dev);

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
