#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EditorState.h"
#include "ReadWaveFile.h"

namespace tamsel {

/// Spare entries behind the last slot of AiBegin and AiEnd, so that searches may look up to 5 s
/// past the end of the sound without a bound check.
inline constexpr size_t SCORE_MARGIN = 500;
/// Spare (top, bottom) pairs behind the last slot of WsData, so that the strip may look 10 s
/// past the end of the sound without a bound check.
inline constexpr size_t WS_MARGIN = 1000;

/// The out-point delay in slots: 10 * (TrackBarOutDelay + 1), 0.1 s to 0.6 s.
int32_t OutDelaySlots(const Controls& c);

/// Reads the begin scores (and, when `end` is given, the end scores moved `endDelay` slots
/// later) of the .ai file into arrays of N + 500 entries, N being the slot count of the .ws
/// file. The two files must agree: the .ws file of even length and the .ai file as long as it
/// (a cut or foreign .ai file would shift or lose scores). On failure shows a message naming
/// the file, followed by `consequence`, and returns false without touching the arrays.
bool ReadSpeechScores(EditorState& st, std::vector<uint8_t>& begin, std::vector<uint8_t>* end,
                      size_t endDelay, const std::string& consequence);

/// Loads the side files as entering editing does: AiBegin and AiEnd (N + 500 entries each, the
/// end scores moved by the out-point delay) and WsData (2N + 2000 entries: the .ws bytes, or
/// with CheckBoxShowAI the speech scores drawn as an envelope, then 1000 pairs (0, -1)).
/// Returns false, with a message naming the file, when a side file cannot be read or the two
/// disagree; nothing is loaded then.
bool LoadSideData(EditorState& st);

/// The message for a WAV file the sound output cannot play: the file, then "WAV文件格式不认识。"
/// and what is accepted (for a PCM file, also what it has).
std::string UnknownWaveFormatMessage(const std::string& wavFileName, const WAVEFORMATEX& format);

/// Whether the sound output can play a WAV of this format: PCM with 16-bit samples,
/// 1 to MAX_WAVE_CHANNELS channels and a sample rate from MIN_WAVE_RATE (one sample per slot) to
/// MAX_WAVE_RATE.
bool PlayableWaveFormat(const WAVEFORMATEX& format);

}  // namespace tamsel
