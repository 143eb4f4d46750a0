#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "CancelFlag.h"
#include "EditorState.h"
#include "TransformWs.h"

namespace tamsel {

/// One way of extracting the sound: channel count and sample rate.
struct ConverterVariant {
  int Channels;
  int Rate;
};

/// The extraction variants, best first; the last ones (2000 Hz mono) are the fallback.
const std::array<ConverterVariant, 18>& ConverterVariants();

/// Size limit of the extracted WAV file in megabytes for the "无声问题：" choice.
int SizeLimitMegabytes(int wavSizeItem);

/// The first variant whose WAV for `seconds` of sound stays under `limitMegabytes`.
int ChooseVariant(int64_t seconds, int limitMegabytes);

/// The name of the converter program and of its probe on this platform.
std::string ConverterName();

/// The arguments that extract the sound of `video` into `wav` with a variant.
std::vector<std::string> ConverterArguments(const std::string& video, const std::string& wav,
                                            const ConverterVariant& variant);

/// The video's length in seconds as the media probe reports it; nothing when it cannot tell
/// (`error` then holds the probe's own words) or when `cancel` was set (the probe is then ended
/// and `error` is empty).
std::optional<double> ProbeDuration(const std::string& video, std::string& error,
                                    const CancelFlag* cancel = nullptr);

/// Prepares the chosen video: derives the side-file names, extracts the sound when the .wav is
/// missing, builds .ws and .ai when either is missing, loads or creates the subtitles and shows
/// the readiness. Failures are told through the state's prompts (a video that is a pipe or a
/// device is refused at once). Returns true when ready. It holds BaseFileName + ".lock" while
/// it runs and removes it afterwards, also one that a killed preparation left; what killed runs
/// left under the temporary names of the files beside the video (RemoveLeftoverTemporaries) is
/// removed once the lock is held.
///
/// It may run on any thread: the window runs it on a worker thread, on its own copy of the
/// editor state, while it goes on with its own. It touches nothing but `st`, the video's side
/// files and the programs it starts. `progress` is called on the thread that runs it, and so
/// are the state's prompts (st.Tell): the copy's prompts must hand messages over to the window.
///
/// Once `cancel` is set, from any thread, the preparation ends within a fraction of a second:
/// the probe or the converter is ended and reaped, the builder stops at its next block, and
/// OpenVideoClick returns false without telling anything (a cancel is the user's own doing).
/// Nothing half-made is left (no partial WAV, side file, temporary file or folder, no lock file)
/// and nothing that was there before is changed. A WAV file that this run had completed and
/// put in place before the cancel stays, as a complete one from an earlier run would: the next
/// preparation goes on from it and gives the same files as a clean one.
bool OpenVideoClick(EditorState& st, const std::string& chosenVideo, const ProgressFn& progress,
                    const CancelFlag* cancel = nullptr);

/// Shows whether the video and all its side files and subtitles are in place.
void CheckFileReady(EditorState& st);

/// Whether the video, its .wav, .ws and .ai files and the subtitle file that the preparation
/// found are all still there: "" when they are. When one has gone since (deleted, renamed or
/// moved away while the start screen or the editor showed), the start screen is set to the
/// not-ready state (CheckFileReady) and the message to tell is returned, beginning with the
/// missing file's path; the caller tells it once the start screen shows. Editing itself does not
/// need the video's file once the player has opened it, so the window asks this when the user
/// goes back to the start screen and when editing is to be entered.
std::string CheckEditingFiles(EditorState& st);

}  // namespace tamsel
