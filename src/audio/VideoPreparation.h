#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

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
/// (`error` then holds the probe's own words).
std::optional<double> ProbeDuration(const std::string& video, std::string& error);

/// Prepares the chosen video: derives the side-file names, extracts the sound when the .wav is
/// missing, builds .ws and .ai when either is missing, loads or creates the subtitles and shows
/// the readiness. Failures are told through the state's prompts. Returns true when ready.
bool OpenVideoClick(EditorState& st, const std::string& chosenVideo,
                    const ProgressFn& progress);

/// Shows whether the video and all its side files and subtitles are in place.
void CheckFileReady(EditorState& st);

}  // namespace tamsel
