#include "TransformWs.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

#include "FileIo.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tamsel {

namespace {

constexpr int32_t SLOTS_PER_BLOCK = 20;
/// Every slot sequence reaches this far (30 s) past the sound, so later readers may look ahead.
constexpr int64_t SLOT_MARGIN = 3000;
/// The peak scan looks at every eighth sample frame.
constexpr int64_t PEAK_FRAME_STEP = 8;
/// Scaled samples at or above this size (in hundreds) lower the gains around them.
constexpr int64_t CLIP_HUNDREDS = 327;

constexpr const char* LABEL_SCAN = "WAV转WS……";
constexpr const char* LABEL_LEVELS = "扫描音量……";
constexpr const char* LABEL_CLIP = "防范爆音……";
constexpr const char* LABEL_ADJUST = "调整音量……";
constexpr const char* LABEL_SAVE = "存盘……";

std::string Reason(int err) { return std::error_code(err, std::generic_category()).message(); }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenFile(const std::string& path, const char* mode) {
#ifdef _WIN32
  std::wstring wideMode(mode, mode + std::strlen(mode));
  return File(_wfopen(ToPath(path).c_str(), wideMode.c_str()));
#else
  return File(std::fopen(path.c_str(), mode));
#endif
}

bool SeekTo(std::FILE* f, int64_t pos, int whence = SEEK_SET) {
#ifdef _WIN32
  return _fseeki64(f, pos, whence) == 0;
#else
  return fseeko(f, static_cast<off_t>(pos), whence) == 0;
#endif
}

int64_t TellPos(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<int64_t>(ftello(f));
#endif
}

/// Reads up to `size` bytes, fewer only at the end of the file. Throws FileError on a read error.
size_t ReadSome(std::FILE* f, void* dest, size_t size, const std::string& path) {
  const size_t got = std::fread(dest, 1, size, f);
  if (got < size && std::ferror(f)) throw FileError(path, "读取文件出错：" + Reason(errno));
  return got;
}

/// Turns little-endian sample values into native ones, or back.
void SwapToNative(int16_t* values, size_t count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < count; ++i) {
      const auto u = static_cast<uint16_t>(values[i]);
      values[i] = static_cast<int16_t>(static_cast<uint16_t>(u >> 8 | u << 8));
    }
  } else {
    (void)values;
    (void)count;
  }
}

uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

/// The progress label and bar. Reports only changes, and the bar only moves forward.
class Progress {
 public:
  explicit Progress(const ProgressFn& fn) : m_fn(fn) {}
  void Show(const char* label) {
    if (m_label == label) return;
    m_label = label;
    Report();
  }
  void Raise(int64_t position) {
    if (position <= m_position) return;
    m_position = static_cast<int>(std::min<int64_t>(position, 100));
    Report();
  }

 private:
  void Report() {
    if (m_fn) m_fn(m_label, m_position);
  }
  const ProgressFn& m_fn;
  std::string m_label;
  int m_position = 66;  // where the caller has put the bar
};

/// Hands out the 16-bit samples of one stretch of the file in order, a block read at a time.
class SampleReader {
 public:
  /// The stretch starts at byte `firstByte` and holds `count` values. `blockValues` is the
  /// reading size; when it and every request are whole frames, so is every piece.
  SampleReader(std::FILE* f, const std::string& path, int64_t firstByte, int64_t count,
               size_t blockValues)
      : m_file(f), m_path(path), m_left(count), m_block(blockValues) {
    if (count > 0 && !SeekTo(f, firstByte)) throw FileError(path, "读取文件出错：" + Reason(errno));
  }
  /// The next at most `max` values (max > 0), fewer only where a block ends. Throws FileError
  /// when the file ends inside the stretch.
  std::pair<const int16_t*, size_t> Next(int64_t max) {
    if (m_pos == m_len) Refill();
    const size_t n = static_cast<size_t>(std::min<int64_t>(max, int64_t(m_len - m_pos)));
    const int16_t* p = m_block.data() + m_pos;
    m_pos += n;
    return {p, n};
  }

 private:
  void Refill() {
    const size_t want = static_cast<size_t>(std::min<int64_t>(m_left, int64_t(m_block.size())));
    const size_t got = ReadSome(m_file, m_block.data(), want * 2, m_path) / 2;
    if (want == 0 || got < want) throw FileError(m_path, "读取文件出错：文件比预期的短。");
    SwapToNative(m_block.data(), got);
    m_left -= int64_t(got);
    m_pos = 0;
    m_len = got;
  }

  std::FILE* m_file;
  const std::string& m_path;
  int64_t m_left;
  std::vector<int16_t> m_block;
  size_t m_pos = 0;
  size_t m_len = 0;
};

/// Where the slots lie in the file and how many there are.
struct Geometry {
  int64_t headerBytes = 44;  ///< A: the first sample byte
  int64_t channels = 0;      ///< CH
  int64_t slotSamples = 0;   ///< S
  int64_t slotValues = 0;    ///< S * CH: 16-bit values per slot
  int64_t slotCount = 0;     ///< N: whole slots in the data
  int64_t padded = 0;        ///< B: slot count of the working sequences
  int64_t lastAdjusted = 0;  ///< G: the level control adjusts slots 0..G
  int64_t adjustEnd = 0;     ///< one past the last value index the level control touches
  int64_t FirstValue() const { return headerBytes / 2; }
};

/// The loudest non-negative sample of the first and second channel in every eighth frame of each
/// slot but the last (which stays silent).
void ScanPeaks(std::FILE* f, const std::string& path, const Geometry& g, size_t blockValues,
               std::vector<int32_t>& peaks, Progress& progress) {
  const int64_t n = g.slotCount;
  if (n < 2) return;
  SampleReader in(f, path, g.headerBytes, (n - 1) * g.slotValues, blockValues);
  const int64_t stride = PEAK_FRAME_STEP * g.channels;
  const bool stereo = g.channels == 2;
  for (int64_t i = 0; i + 1 < n; ++i) {
    int32_t first = 0;
    int32_t second = 0;
    for (int64_t done = 0; done < g.slotValues;) {
      const auto [p, count] = in.Next(g.slotValues - done);
      // Pieces are whole frames, so a looked-at frame lies wholly in one.
      for (int64_t k = (stride - done % stride) % stride; k < int64_t(count); k += stride) {
        first = std::max<int32_t>(first, p[k]);
        if (stereo) second = std::max<int32_t>(second, p[k + 1]);
      }
      done += int64_t(count);
    }
    peaks[2 * i] = first;
    peaks[2 * i + 1] = stereo ? second : first;
    progress.Raise(66 + (2 * (i + 1)) / n);
  }
}

/// The sample scaled by the gain, truncated toward zero. The product is exact in double.
inline int64_t Scaled(int32_t sample, float gain) {
  return static_cast<int64_t>(double(sample) * double(gain));
}

/// Lowers the gains around slot h after a sample came within `k` percent of full scale: down
/// over the k slots before it, then back up over about 2k slots after it.
void Dip(std::vector<float>& gains, int64_t h, int64_t k) {
  const int64_t last = int64_t(gains.size()) - 1;
  const auto lower = [&](int64_t s, int32_t m) {
    gains[s] = static_cast<float>(double(gains[s]) * m / 100);
  };
  int32_t m = 100;
  const int64_t from = std::max<int64_t>(h - k, 0);
  const int64_t turn = std::min(from + k, last);
  for (int64_t s = from; s <= turn; ++s) lower(s, m--);
  // The slot at the turn is lowered a second time.
  const int64_t to = std::min(turn + 2 * k, last);
  for (int64_t s = turn; s <= to; ++s) {
    lower(s, m);
    m = std::min(m + 1, 100);
  }
}

/// Tests samples of slot h in order against its current gain and dips the gains where one
/// would come too close to full scale.
void ProtectPiece(const int16_t* p, size_t count, std::vector<float>& gains, int64_t h) {
  // Fixed-width groups, so the compiler turns each into vector instructions even at -O2.
  constexpr size_t GROUP = 16;
  int32_t loudest = 0;
  size_t i = 0;
  for (; i + GROUP <= count; i += GROUP) {
    int32_t group = 0;
    for (size_t k = 0; k < GROUP; ++k) group = std::max(group, std::abs(int32_t(p[i + k])));
    loudest = std::max(loudest, group);
  }
  for (; i < count; ++i) loudest = std::max(loudest, std::abs(int32_t(p[i])));
  // Scaling is monotonic in the size of the sample: if the loudest passes, all do.
  if (Scaled(loudest, gains[h]) / 100 < CLIP_HUNDREDS) return;
  for (i = 0; i < count; ++i) {
    const int64_t hundreds = std::abs(Scaled(p[i], gains[h])) / 100;
    if (hundreds < CLIP_HUNDREDS) continue;
    Dip(gains, h, (hundreds - CLIP_HUNDREDS) * 100 / hundreds);
  }
}

/// Clipping protection: walks the samples of slots 0..G (each but its slot's last) and lowers the
/// gains where needed. Samples are only read; every gain is final afterwards.
void ProtectFromClipping(std::FILE* f, const std::string& path, const Geometry& g,
                         size_t blockValues, std::vector<float>& gains, Progress& progress) {
  if (g.lastAdjusted < 0) return;
  const int64_t first = g.FirstValue();
  const int64_t total = std::max<int64_t>(g.adjustEnd - first, 0);
  SampleReader in(f, path, g.headerBytes, total, blockValues);
  for (int64_t h = 0; h <= g.lastAdjusted; ++h) {
    const int64_t begin = first + h * g.slotValues;
    const int64_t count = std::clamp<int64_t>(g.adjustEnd - begin, 0, g.slotValues);
    for (int64_t done = 0; done < count;) {
      const auto [p, n] = in.Next(count - done);
      done += int64_t(n);
      ProtectPiece(p, done == count ? n - 1 : n, gains, h);
    }
    progress.Raise(g.lastAdjusted > 0 ? 71 + (15 * h) / g.lastAdjusted : 71);
  }
}

/// Scales one sample: the product is exact in double, then truncated and limited.
inline int16_t ScaleSample(int16_t sample, double scale) {
  return static_cast<int16_t>(std::clamp(static_cast<int32_t>(sample * scale), -32767, 32767));
}

void ScalePiece(int16_t* p, size_t count, float gain) {
  const double scale = gain;
  // Fixed-width groups, so the compiler turns each into vector instructions even at -O2.
  constexpr size_t GROUP = 16;
  size_t i = 0;
  for (; i + GROUP <= count; i += GROUP) {
    for (size_t k = 0; k < GROUP; ++k) p[i + k] = ScaleSample(p[i + k], scale);
  }
  for (; i < count; ++i) p[i] = ScaleSample(p[i], scale);
}

/// Removes a file on scope exit unless released.
class RemoveOnExit {
 public:
  explicit RemoveOnExit(std::string path) : m_path(std::move(path)) {}
  ~RemoveOnExit() {
    if (m_path.empty()) return;
    std::error_code ec;
    std::filesystem::remove(ToPath(m_path), ec);
  }
  void Release() { m_path.clear(); }

 private:
  std::string m_path;
};

/// Volume adjustment: copies the WAV file into `tmpPath` with the samples of slots 0..G scaled
/// by their gains and limited to -32767..32767, forces it to the disk and renames it over the WAV
/// file. Everything else (header, the sound after slot G, any bytes past the RIFF size) is copied
/// unchanged.
void WriteAdjusted(File wav, const std::string& path, const std::string& tmpPath, const Geometry& g,
                   size_t blockValues, const std::vector<float>& gains, Progress& progress) {
  RemoveOnExit cleanup(tmpPath);
  File out = OpenFile(tmpPath, "wb");
  if (!out) throw FileError(tmpPath, "无法创建临时文件：" + Reason(errno));
  if (!SeekTo(wav.get(), 0)) throw FileError(path, "读取文件出错：" + Reason(errno));

  const int64_t first = g.FirstValue();
  const int64_t lastSlot = int64_t(gains.size()) - 1;
  std::vector<int16_t> block(blockValues);
  int64_t blockFirst = 0;  // value index of block[0]
  for (;;) {
    const size_t bytes = ReadSome(wav.get(), block.data(), block.size() * 2, path);
    if (bytes == 0) break;
    const int64_t blockEnd = blockFirst + int64_t(bytes / 2);
    int64_t from = std::max(blockFirst, first);
    const int64_t to = std::min(blockEnd, g.adjustEnd);
    if (from < to) {
      int16_t* values = block.data() + (from - blockFirst);
      SwapToNative(values, size_t(to - from));
      while (from < to) {
        const int64_t h = (from - first) / g.slotValues;
        const int64_t slotEnd = first + (h + 1) * g.slotValues;
        const int64_t end = std::min(slotEnd, to);
        ScalePiece(block.data() + (from - blockFirst), size_t(end - from),
                   gains[size_t(std::min(h, lastSlot))]);
        if (end == slotEnd || end == g.adjustEnd) progress.Raise(86 + (13 * h) / lastSlot);
        from = end;
      }
      SwapToNative(values, size_t(to - std::max(blockFirst, first)));
    }
    if (std::fwrite(block.data(), 1, bytes, out.get()) != bytes) {
      throw FileError(path, "写入文件失败：" + Reason(errno));
    }
#ifdef __linux__
    // Start writing this block to the disk now, so that the closing flush has little left to
    // wait for while the next blocks are being scaled.
    if (std::fflush(out.get()) == 0) {
      ::sync_file_range(fileno(out.get()), blockFirst * 2, static_cast<off_t>(bytes),
                        SYNC_FILE_RANGE_WRITE);
    }
#endif
    blockFirst = blockEnd;
  }

  progress.Show(LABEL_SAVE);
  progress.Raise(99);
  bool ok = std::fflush(out.get()) == 0;
#ifdef _WIN32
  ok = ok && _commit(_fileno(out.get())) == 0;
#else
  ok = ok && ::fsync(fileno(out.get())) == 0;
#endif
  int err = errno;
  ok = std::fclose(out.release()) == 0 && ok;
  if (!ok) throw FileError(path, "写入文件失败：" + Reason(err ? err : errno));
  wav.reset();  // the original must be closed before it can be replaced everywhere

  std::error_code ec;
  const auto perms = std::filesystem::status(ToPath(path), ec).permissions();
  if (!ec) std::filesystem::permissions(ToPath(tmpPath), perms, ec);
  std::filesystem::rename(ToPath(tmpPath), ToPath(path), ec);
  if (ec) throw FileError(path, "无法替换文件：" + ec.message());
  cleanup.Release();
  progress.Raise(100);
}

/// Checks the header; on a refusal tells why and returns false.
bool CheckHeader(EditorState& st, const unsigned char* h) {
  const std::string& path = st.WavFileName;
  const auto refuse = [&](const char* separator, const std::string& text) {
    st.Tell(path + separator + text);
    return false;
  };
  if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0 ||
      std::memcmp(h + 12, "fmt ", 4) != 0) {
    return refuse("\r", "文件不对。");
  }
  const uint32_t fmtSize = Le32(h + 16);
  if (fmtSize != 16 && fmtSize != 18) return refuse("\r", "的格式不支持，请重新转换。");
  if (Le16(h + 20) != 1) return refuse("!", "请转换成非压缩式的windows PCM格式。");
  st.WavChannels = Le16(h + 22);
  const uint16_t bits = Le16(h + 34);
  if (bits == 8) return refuse("\r", "请转换成16位的格式。");
  if (bits != 16) {
    return refuse("\r", "的采样位数是" + std::to_string(bits) + "位，请转换成16位的格式。");
  }
  const uint32_t rate = Le32(h + 24);
  if (rate % 100 != 0) return refuse("\r", "的采样率不能被100整除。");
  // Below 100 Hz a slot would hold no sample at all.
  if (rate < 100) return refuse("\r", "的采样率太低，至少要100Hz。");
  if (st.WavChannels == 0) return refuse("\r", "没有声道，请重新转换。");
  return true;
}

bool Build(EditorState& st, Progress& progress, size_t blockBytes) {
  const std::string& path = st.WavFileName;
  File wav = OpenFile(path, "rb");
  if (!wav) throw FileError(path, "无法打开文件：" + Reason(errno));

  // The canonical layout is taken at fixed offsets; the chunks are not walked. Bytes a short
  // file lacks read as zero.
  unsigned char head[46] = {};
  ReadSome(wav.get(), head, sizeof head, path);
  if (!CheckHeader(st, head)) return false;
  const bool fmt18 = Le32(head + 16) == 18;
  st.WavFileSize = int64_t(Le32(head + 4)) + 8;
  st.SamplesPerSlot = static_cast<int32_t>(Le32(head + 24) / 100);

  if (FileExists(st.WsFileName) && FileExists(st.AiFileName)) return true;

  Geometry g;
  g.headerBytes = fmt18 ? 46 : 44;
  g.channels = st.WavChannels;
  g.slotSamples = st.SamplesPerSlot;
  g.slotValues = g.slotSamples * g.channels;
  int64_t dataSize = Le32(head + g.headerBytes - 4);
  if (std::memcmp(head + g.headerBytes - 8, "data", 4) != 0) {
    // Not the canonical layout (a LIST chunk stands before the samples, as many converters
    // write it): the sound data is found by walking the chunks, as the player reads it.
    int64_t pos = 12;
    unsigned char chunk[8];
    for (;;) {
      if (!SeekTo(wav.get(), pos) || ReadSome(wav.get(), chunk, 8, path) != 8) {
        st.Tell(path + "\r" + "找不到声音数据（data块），请重新转换。");
        return false;
      }
      const int64_t size = Le32(chunk + 4);
      if (std::memcmp(chunk, "data", 4) == 0) {
        g.headerBytes = pos + 8;
        dataSize = size;
        break;
      }
      pos += 8 + size + (size & 1);
    }
  }
  st.WavDataSize = dataSize;
  if (!SeekTo(wav.get(), 0, SEEK_END)) throw FileError(path, "读取文件出错：" + Reason(errno));
  const int64_t fileSize = TellPos(wav.get());
  if (fileSize < 0) throw FileError(path, "读取文件出错：" + Reason(errno));
  // A file that ends early is taken as far as it goes.
  const int64_t data = std::min(dataSize, std::max<int64_t>(fileSize - g.headerBytes, 0));
  g.slotCount = data / (g.slotValues * 2);
  g.padded = (g.slotCount + SLOT_MARGIN) / 100 * 100;
  g.lastAdjusted = (data / 2 - 8) / g.slotSamples / g.channels - 10;
  // Slots never reach into the last 16 values of the file (as far as the RIFF size says).
  const int64_t valueCount = std::min(st.WavFileSize, fileSize) / 2;
  g.adjustEnd = std::min(g.FirstValue() + (g.lastAdjusted + 1) * g.slotValues, valueCount - 16);

  const size_t padded = static_cast<size_t>(g.padded);
  st.WavSel.assign(padded, TWavSelect{});
  progress.Show(LABEL_SCAN);
  progress.Raise(66);

  // Reading blocks are whole frames, so no looked-at frame is ever split.
  const auto frameValues = static_cast<size_t>(g.channels);
  const size_t blockValues = std::max(blockBytes / 2 / frameValues, size_t{1}) * frameValues;

  std::vector<int32_t> peaks(2 * padded, 0);
  ScanPeaks(wav.get(), path, g, blockValues, peaks, progress);

  progress.Show(LABEL_LEVELS);
  const int32_t p = std::clamp(st.Ctrl.TrackBarAutoVolCtrlSpeed, 0, 5);
  st.AutoVolLevel = p;
  std::vector<float> gains = WsSlotGains(WsBlockLevels(peaks, g.slotCount, p));

  const auto n = static_cast<size_t>(g.slotCount);
  std::string ws(2 * n, '\0');
  for (size_t i = 0; i < n; ++i) {
    const auto level = [&](size_t k) {
      return static_cast<char>(std::min<int64_t>(Scaled(peaks[k], gains[i]) / 410, 63));
    };
    ws[2 * i] = level(2 * i);
    const char second = level(2 * i + 1);
    ws[2 * i + 1] = static_cast<char>(second == 0 ? -1 : -second);
  }
  WriteFileThroughTemp(st.WsFileName, st.WsFileName + ".tmp", ws);
  progress.Raise(69);

  // Speech scores come from the raw peaks as one series; the end scores from the series
  // smoothed once more.
  std::vector<int32_t> series = std::move(peaks);
  WsSmoothSeries(series);
  const std::vector<uint8_t> begins = WsEdgeScores(series, /*falling=*/false, p);
  progress.Raise(70);
  WsSmoothSeries(series);
  const std::vector<uint8_t> ends = WsEdgeScores(series, /*falling=*/true, p);
  progress.Raise(71);
  std::string ai(2 * n, '\0');
  for (size_t i = 0; i < n; ++i) {
    ai[2 * i] = static_cast<char>(begins[2 * i]);
    ai[2 * i + 1] = static_cast<char>(ends[2 * i + 1]);
  }
  WriteFileThroughTemp(st.AiFileName, st.AiFileName + ".tmp", ai);

  if (p == 0) return true;

  // Level control. The gains are settled by a read-only pass before any sample is rewritten.
  progress.Show(LABEL_CLIP);
  ProtectFromClipping(wav.get(), path, g, blockValues, gains, progress);
  progress.Show(LABEL_ADJUST);
  if (g.lastAdjusted >= 0 && g.adjustEnd > g.FirstValue()) {
    WriteAdjusted(std::move(wav), path, path + ".tmp", g, blockValues, gains, progress);
  } else {
    progress.Show(LABEL_SAVE);  // nothing to scale: the file stays as it is
    progress.Raise(99);
    progress.Raise(100);
  }
  return true;
}

}  // namespace

std::vector<int32_t> WsBlockLevels(const std::vector<int32_t>& peaks, int64_t slotCount,
                                   int32_t autoVolLevel) {
  autoVolLevel = std::clamp(autoVolLevel, 0, 5);
  const int64_t blocks = int64_t(peaks.size()) / (2 * SLOTS_PER_BLOCK);
  const int64_t last = blocks - 1;
  std::vector<int32_t> level(size_t(blocks), 256);
  for (int64_t m = 0; m < blocks; ++m) {
    const auto first = peaks.begin() + m * 2 * SLOTS_PER_BLOCK;
    level[m] = std::max(level[m], *std::max_element(first, first + 2 * SLOTS_PER_BLOCK));
  }
  // The opening is never amplified strongly.
  for (int64_t k = 0; k < 8 && k < blocks; ++k) {
    level[k] = std::max<int32_t>(level[k], 32000 - 5000 * int32_t(k));
  }
  // Neither is the close; past the end of the sound the level is full scale.
  if (slotCount > 800) {
    const int64_t l = slotCount / SLOTS_PER_BLOCK;
    for (int64_t m = 0; m <= 33 && l - 33 + m <= last; ++m) {
      level[l - 33 + m] = std::max<int32_t>(level[l - 33 + m], 1000 * int32_t(m));
    }
    for (int64_t m = l; m <= last; ++m) level[m] = 32767;
  }

  // Look ahead, so the gain is already down when a loud passage starts.
  const int64_t span = 14 - 2 * autoVolLevel;
  const int32_t floor = 256 << (5 - autoVolLevel);
  for (int64_t j = 0; j <= last - span; ++j) {
    level[j] = std::max(floor, *std::max_element(level.begin() + j, level.begin() + j + span + 1));
  }
  // Centred average, in place: blocks already averaged count as averaged.
  const int64_t half = 14 - 2 * autoVolLevel;
  for (int64_t j = half; j <= last - 2 * half; ++j) {
    int64_t sum = 0;
    for (int64_t k = j - half; k <= j + half; ++k) sum += level[k];
    const auto avg = static_cast<int32_t>(sum / (2 * half + 1));
    level[j] = std::max(avg, level[j] + level[j] / 5);
  }
  return level;
}

std::vector<float> WsSlotGains(const std::vector<int32_t>& levels) {
  std::vector<float> gains(levels.size() * SLOTS_PER_BLOCK);
  for (size_t m = 0; m < levels.size(); ++m) {
    // The last block has no successor; it lies far past the sound, so its own level serves.
    const double here = levels[m];
    const double next = levels[std::min(m + 1, levels.size() - 1)];
    for (int32_t g = 0; g < SLOTS_PER_BLOCK; ++g) {
      gains[m * SLOTS_PER_BLOCK + size_t(g)] =
          static_cast<float>(32770 / (here / 20 * (20 - g) + next / 20 * g));
    }
  }
  return gains;
}

void WsSmoothSeries(std::vector<int32_t>& v) {
  const int64_t last = int64_t(v.size()) - 1;
  for (int64_t i = 1; i <= last - 4; ++i) v[i] = (v[i - 1] + v[i] + v[i + 1]) / 3;
  for (int64_t i = 1; i <= last - 4; ++i) v[i] = (v[i] + v[i + 1] + v[i + 2]) / 3;
  for (int pass = 0; pass < 2; ++pass) {
    for (int64_t i = 2; i <= last - 2; ++i) {
      v[i] = (v[i - 2] + v[i - 1] + v[i] + 2 * v[i + 1] + v[i + 2]) / 6;
    }
  }
}

std::vector<uint8_t> WsEdgeScores(const std::vector<int32_t>& v, bool falling,
                                  int32_t autoVolLevel) {
  const int64_t last = int64_t(v.size()) - 1;
  std::vector<uint8_t> score(v.size(), 0);
  const auto at = [&](int64_t i) { return i <= last ? v[i] : 0; };
  int32_t avg = (at(0) + at(1) + at(2) + at(3)) / 4;
  for (int64_t i = 0; i <= last; ++i) {
    int32_t step = falling ? avg - v[i] : v[i] - avg;
    avg = (3 * avg + v[i]) / 4;
    if (step < 4) continue;
    uint8_t halvings = 0;
    for (; step > 4; step /= 2) ++halvings;
    score[i] = halvings;
  }
  for (int64_t i = 1; i <= last - 1; ++i) {
    score[i] = static_cast<uint8_t>((score[i - 1] + score[i] + score[i + 1]) / 3);
  }
  WsDropShortRuns(score, autoVolLevel);
  return score;
}

void WsDropShortRuns(std::vector<uint8_t>& s, int32_t autoVolLevel) {
  const int64_t last = int64_t(s.size()) - 1;
  const int64_t weakLimit = 2 * (10 - int64_t(autoVolLevel));
  for (int64_t w = 0; w < last - 8;) {
    if (s[w] == 0) {
      ++w;
      continue;
    }
    // The run never takes in the series' last entry.
    int64_t n = 1;
    int64_t sum = 0;
    for (; w + n < last && s[w + n] != 0; ++n) sum += s[w + n];
    if (n < 9 || (n < weakLimit && sum / n < 5)) std::fill_n(s.begin() + w, n, uint8_t{0});
    w += n;
  }
}

bool TransformWs(EditorState& st, const ProgressFn& progress, size_t blockBytes) {
  Progress bar(progress);
  try {
    return Build(st, bar, blockBytes);
  } catch (const FileError& e) {
    st.Tell(e.path() + "\r" + e.what());
    return false;
  } catch (const std::bad_alloc&) {
    // Only absurd geometries get here, such as gigabytes of sound at 100 samples a second.
    st.Tell(st.WavFileName + "\r" + "内存不足，无法处理这个文件。");
    return false;
  }
}

}  // namespace tamsel
