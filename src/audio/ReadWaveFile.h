#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tamsel {

/// The body of a WAV file's fmt chunk, as the sound output takes it.
#pragma pack(push, 1)
struct WAVEFORMATEX {
  uint16_t wFormatTag = 0;  ///< 1 = PCM
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

/// The sound the editor plays: SDL's audio takes up to 8 channels, and no sound output plays
/// faster than 384 kHz. Below 100 Hz a 1/100-s slot would hold no sample at all. A header that
/// claims more is refused before anything is sized from it.
inline constexpr uint16_t MAX_WAVE_CHANNELS = 8;
inline constexpr uint32_t MIN_WAVE_RATE = 100;
inline constexpr uint32_t MAX_WAVE_RATE = 384000;

/// A minimal RIFF/WAVE reader: finds the fmt and data chunks, then reads the sample bytes in
/// order from the first one.
class TReadWaveFile {
 public:
  TReadWaveFile() = default;
  ~TReadWaveFile();
  TReadWaveFile(const TReadWaveFile&) = delete;
  TReadWaveFile& operator=(const TReadWaveFile&) = delete;

  /// Opens the file and walks its chunks. True when it is a RIFF file of form type WAVE, whether
  /// or not fmt and data chunks were found; the file then stands at the first sample byte.
  bool Open(const std::string& FileName);
  /// Reads `Size` bytes from the current position; true exactly when all of them were read.
  /// Bytes read before a short read stay in `pDest`.
  bool Read(void* pDest, uint32_t Size);

  const WAVEFORMATEX& Format() const { return FFormat; }
  /// Byte length of the data chunk's body as its header says; 0 when none was found.
  uint32_t Size() const { return FSize; }
  /// Where the data chunk's body starts in the file, bytes; 0 when none was found. Lets the
  /// sound output map the samples where they lie instead of reading them.
  uint64_t DataOffset() const { return FDataOffset; }

 private:
  /// Reads chunk headers forward from the current position up to `parentEnd`, passing over
  /// every chunk whose id is not `id` (bodies rounded up to even lengths). On success the file
  /// stands at the body and `size` holds the size field.
  bool FindChunk(const char id[4], uint64_t parentEnd, uint32_t& size);

  std::FILE* FFileHandle = nullptr;
  WAVEFORMATEX FFormat;
  uint32_t FSize = 0;
  uint64_t FDataOffset = 0;
};

}  // namespace tamsel
