#pragma once

// The sample video of the demo: a calm moving picture with a few spoken everyday sentences and
// their script beside it, so that a new user can prepare and time a video in a minute. Made
// with ffmpeg and espeak-ng, found as the converter is found (beside the executable, else on
// the PATH).

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace tamsel {

/// The sentences the sample video speaks, in order; its script holds one per line.
const std::vector<std::string>& DemoSentences();

/// The silence after each sentence, in milliseconds (the last one is the silence at the end).
const std::vector<int>& DemoPausesMs();

/// The silence before the first sentence, in milliseconds.
inline constexpr int DEMO_LEAD_MS = 1000;

/// The folder the demo is made in unless the user picks another: "Tamsel示例" in the home
/// folder ($HOME, on Windows %USERPROFILE%), else in the system's temporary folder.
std::string DefaultDemoFolder();

/// The path without extension under which a new demo goes into `folder`: "示例", else
/// "示例2", "示例3" … the first name NAME for which no entry of the folder begins with
/// "NAME." (a video, its script, side files, subtitles, temporary files, a demo being made).
/// So the demo never takes the name of anything already there, whatever its extension.
std::string FreeDemoBase(const std::string& folder);

/// Makes the sample video NAME.mp4 and its script NAME.txt (UTF-8, one sentence a line) in
/// `folder`, created when missing, with NAME from FreeDemoBase, and returns the video's path.
/// Everything is made in a folder of its own ("NAME.part-" + six characters, which also keeps
/// the name from a second demo made at the same time) and given its final name only when
/// complete, without replacing anything; the working folder is removed at the end. Called on a
/// worker thread; takes some seconds. On failure returns nothing with the reason in `error`
/// (Chinese, naming the missing program, the folder or the converter's own words) and leaves
/// nothing behind (not even the folder, when it made it). When `*cancel` turns true, the running program is ended and the call
/// returns nothing, with nothing left behind either.
std::optional<std::string> MakeDemoVideo(const std::string& folder, std::string& error,
                                         const std::atomic<bool>* cancel = nullptr);

}  // namespace tamsel
