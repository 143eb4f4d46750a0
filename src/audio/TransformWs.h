#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "CancelFlag.h"
#include "EditorState.h"

namespace tamsel {

/// Progress of a long job: the label text ("WAV转WS……", "扫描音量……", "防范爆音……",
/// "调整音量……", "存盘……") and the progress-bar position 0..100. Called only when one of them
/// changes; the positions never go down. Called on the thread that runs the job (a worker
/// thread, when the window prepares a video), never on another one.
using ProgressFn = std::function<void(const std::string& label, int position)>;

/// How many bytes the builder reads from the WAV file at a time.
inline constexpr size_t TRANSFORM_WS_BLOCK_BYTES = size_t{256} << 10;

class WsSampleWork;

/// Follows the WAV file while the converter is still writing it and does the builder's work on
/// the samples that are there: the peak scan and, with the level control on, the clipping
/// protection and the adjusted copy of all the sound that what follows can no longer change.
/// Hand it to TransformWs once the file is complete, which then has little left to do. A file
/// it cannot follow (another layout, a read error) is simply worked through by TransformWs.
class WsFollower {
 public:
  /// For the state's WavFileName and volume setting. Once `cancel` is set it stops following
  /// (at its next block) and drops its work.
  explicit WsFollower(const EditorState& st, size_t blockBytes = TRANSFORM_WS_BLOCK_BYTES,
                      const CancelFlag* cancel = nullptr);
  ~WsFollower();
  WsFollower(const WsFollower&) = delete;
  WsFollower& operator=(const WsFollower&) = delete;

  /// Takes in what has been added to the file at `growingPath` since the last call. Never
  /// throws.
  void Follow(const std::string& growingPath);
  /// The work done so far, for TransformWs.
  std::unique_ptr<WsSampleWork> TakeWork();
  /// Bytes of the adjusted copy written so far (0 when none was begun); for the tests.
  int64_t AdjustedBytes() const;

 private:
  std::string m_tmpPath;
  int32_t m_autoVolLevel;
  size_t m_blockBytes;
  const CancelFlag* m_cancel;
  bool m_stopped = false;
  std::unique_ptr<WsSampleWork> m_work;
};

/// Builds BaseFileName.ws (the waveform envelope, two signed bytes per 1/100-s slot) and .ai
/// (speech-begin and speech-end scores, two bytes per slot) from the PCM WAV file and, unless
/// the volume setting (Ctrl.TrackBarAutoVolCtrlSpeed) is 0, rewrites the WAV with a slowly varying
/// gain that keeps every sample inside -32767..32767. Called by the audio extraction when a side
/// file is missing; `progress` may be empty.
///
/// Sets WavChannels, SamplesPerSlot, WavFileSize, WavDataSize and AutoVolLevel and sizes WavSel
/// to the padded slot count. Returns false when the WAV header is refused or a file cannot be
/// read or written; the reason has then been told through st.Tell, beginning with the file's path.
/// Returns true otherwise, also when the side files are ready already (SideFilesReady; nothing is
/// rebuilt then). A WAV file this builder has adjusted is never adjusted again: its side files
/// are put back from the level mark it carries. The side files are written through temporary
/// files; the adjusted WAV is written to a new file beside it (a temporary name for
/// WavFileName + ".tmp", TemporaryName), given the level mark, and swapped with the original
/// only when complete and before the side files are written, so that a kill at any moment
/// leaves either the extracted WAV or the adjusted one with its mark. A file that ends before its
/// data size says is read as far as it goes. `blockBytes` is the read size; only tests change it.
/// `followed`, when given, holds the work done while the file was being written.
///
/// Once `cancel` is set (from any thread), the builder stops at its next block and returns false
/// without telling anything; the adjusted copy is removed and the WAV and side files are as they
/// were. Only the last step, from the swap of the adjusted WAV to the written side files, runs to
/// its end: a cancel never leaves the adjusted WAV without its side files.
bool TransformWs(EditorState& st, const ProgressFn& progress,
                 size_t blockBytes = TRANSFORM_WS_BLOCK_BYTES, WsFollower* followed = nullptr,
                 const CancelFlag* cancel = nullptr);

/// The sound of a WAV file as the builder finds it.
struct WavExtent {
  int64_t slots = 0;          ///< whole 1/100-s slots of sound the file holds
  int64_t heldBytes = 0;      ///< bytes of sound the file holds
  int64_t promisedBytes = 0;  ///< bytes of sound its data chunk says it holds
};

/// How much sound the WAV file at `path` holds, as TransformWs counts it; nothing when it cannot
/// be read or TransformWs would refuse it. Tells nothing.
std::optional<WavExtent> ReadWavExtent(const std::string& path);

/// Whether the .ws and .ai files are in place and belong together: regular files (not links)
/// of the same even size, one pair of bytes for every slot of the WAV file (side files made
/// from another sound, a WAV cut or replaced since, are not ready) and, when the WAV file
/// carries the level mark that the level control leaves in a file it adjusted, equal to the
/// side files kept in that mark. Side files that are not ready are made anew (or put back from
/// the mark) by TransformWs.
bool SideFilesReady(const EditorState& st);

/// Whether the names of the .wav, .ws and .ai files are free or hold regular files. A link or
/// anything else there is neither read, written through nor replaced: tells about the first
/// such name, beginning with its path, and returns false.
bool SideFileNamesUsable(EditorState& st);

// The steps of the builder that work on its in-memory sequences, exposed for the tests.

/// Reference level of every 20-slot block, from the peak pairs (two per slot, their count a
/// multiple of 40): the loudest peak, floors for the first 1.6 s and the closing ramp of a sound
/// of `slotCount` slots, then a look-ahead maximum and a centred average whose spans shrink as
/// `autoVolLevel` (0..5) grows.
std::vector<int32_t> WsBlockLevels(std::span<const int32_t> peaks, int64_t slotCount,
                                   int32_t autoVolLevel);

/// Gain of every slot, the inverse of the block level interpolated from its block to the next.
std::vector<float> WsSlotGains(const std::vector<int32_t>& levels);

/// The .ai file's bytes for `slotCount` slots from the peak pairs (two per slot, zero-padded
/// past the sound): for every slot its speech-begin score from the first peak and its speech-end
/// score from the second, computed over the whole series.
std::string WsSpeechScores(std::vector<int32_t> series, int64_t slotCount, int32_t autoVolLevel);

/// Smooths the speech series in place: two three-point passes and two five-point passes.
void WsSmoothSeries(std::vector<int32_t>& series);

/// Edge scores (0..13) of a smoothed series: how sharply each entry rises above (`falling` false)
/// or falls below (`falling` true) the running average, smoothed, short runs dropped.
std::vector<uint8_t> WsEdgeScores(const std::vector<int32_t>& series, bool falling,
                                  int32_t autoVolLevel);

/// Clears runs of non-zero scores shorter than 9, and runs of weak scores shorter than
/// 2 * (10 - autoVolLevel).
void WsDropShortRuns(std::vector<uint8_t>& scores, int32_t autoVolLevel);

}  // namespace tamsel
