#pragma once

// The sample of `tamsel --demo`: a short video with speech and the text script of what is said,
// so that a new user sees the whole work in a minute: the script becomes the subtitles, which are
// then timed against the speech.

#include <optional>
#include <string>
#include <vector>

#include "CancelFlag.h"

namespace tamsel {

/// The sentences spoken in the sample, one subtitle each.
const std::vector<std::string>& DemoSentences();

/// Where the sample goes unless told otherwise: "Tamsel示例" in the user's home folder.
std::string DefaultDemoFolder();

/// Makes the sample in `folder` (created when missing): a video of under a minute, a calm moving
/// picture with the sentences spoken by espeak-ng one after another with pauses between them,
/// and the script (UTF-8, one sentence per line) under the same name with ".txt". The name is
/// "示例", or "示例2", "示例3", … when a file of that name (the video, the script or any of
/// their side files) is there already: nothing of the user's is ever replaced. Both files take
/// their names only when complete. Returns the video's path; nothing when it cannot be made
/// (`error` then names what failed) or when `cancel` was set (`error` empty; nothing is left
/// behind).
std::optional<std::string> MakeDemoVideo(const std::string& folder, std::string& error,
                                         const CancelFlag* cancel = nullptr);

}  // namespace tamsel
