#include "ReadWaveFile.h"

#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "FileIo.h"

namespace tamsel {

namespace {

uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

/// A stream on the file, or null when it cannot be opened or is no regular file (a pipe in its
/// place is never waited on: OpenRegularFile).
std::FILE* OpenForReading(const std::string& path) {
  int fd = -1;
  try {
    fd = OpenRegularFile(path);
  } catch (const FileError&) {
    return nullptr;
  }
#ifdef _WIN32
  std::FILE* f = _fdopen(fd, "rb");
  if (!f) _close(fd);
#else
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
#endif
  return f;
}

bool Seek(std::FILE* f, uint64_t pos) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<int64_t>(pos), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0;
#endif
}

uint64_t Tell(std::FILE* f) {
#ifdef _WIN32
  return static_cast<uint64_t>(_ftelli64(f));
#else
  return static_cast<uint64_t>(ftello(f));
#endif
}

}  // namespace

TReadWaveFile::~TReadWaveFile() {
  if (FFileHandle) std::fclose(FFileHandle);
}

bool TReadWaveFile::FindChunk(const char id[4], uint64_t parentEnd, uint32_t& size) {
  unsigned char head[8];
  for (uint64_t pos = Tell(FFileHandle); pos + 8 <= parentEnd;) {
    if (std::fread(head, 1, 8, FFileHandle) != 8) return false;
    size = Le32(head + 4);
    if (std::memcmp(head, id, 4) == 0) return true;
    pos += 8 + uint64_t(size) + (size & 1);
    if (!Seek(FFileHandle, pos)) return false;
  }
  return false;
}

bool TReadWaveFile::Open(const std::string& FileName) {
  if (FFileHandle || !FileExists(FileName)) return false;
  FFileHandle = OpenForReading(FileName);
  if (!FFileHandle) return false;

  unsigned char riff[12];
  if (std::fread(riff, 1, 12, FFileHandle) != 12) return false;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;
  const uint64_t riffEnd = 8 + uint64_t(Le32(riff + 4));

  FFormat = WAVEFORMATEX{};
  uint32_t size = 0;
  if (FindChunk("fmt ", riffEnd, size)) {
    // Only the first 18 bytes fit the record; a longer chunk (the extensible format) is passed
    // over whole, so the search for the data chunk starts at the next chunk.
    const uint64_t body = Tell(FFileHandle);
    const uint32_t keep = size < sizeof FFormat ? size : sizeof FFormat;
    const size_t got = std::fread(&FFormat, 1, keep, FFileHandle);
    if (got < keep) std::memset(reinterpret_cast<char*>(&FFormat) + got, 0, keep - got);
    if (size > keep) Seek(FFileHandle, body + size + (size & 1));
  } else {
    Seek(FFileHandle, riffEnd);  // no fmt chunk: nothing is left to search
  }
  if (FindChunk("data", riffEnd, size)) {
    FSize = size;
    FDataOffset = Tell(FFileHandle);
  }
  return true;
}

bool TReadWaveFile::Read(void* pDest, uint32_t Size) {
  if (!FFileHandle) return false;
  return std::fread(pDest, 1, Size, FFileHandle) == Size;
}

}  // namespace tamsel
