#include "TransformWs.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <filesystem>
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__linux__)
#include <fcntl.h>
#endif

#include "ChildProcess.h"
#include "FileIo.h"
#include "Prefault.h"


namespace tamsel {

namespace {

constexpr int32_t SLOTS_PER_BLOCK = 20;
/// Every slot sequence reaches this far (30 s) past the sound, so later readers may look ahead.
constexpr int64_t SLOT_MARGIN = 3000;
/// The peak scan looks at every eighth sample frame.
constexpr int64_t PEAK_FRAME_STEP = 8;
/// Scaled samples at or above this size (in hundreds) lower the gains around them.
constexpr int64_t CLIP_HUNDREDS = 327;
/// A scan of at least this many slots (ten minutes) is shared with a helper thread.
constexpr int64_t SPLIT_SCAN_SLOTS = 60000;

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

/// Where the slots lie in the file.
struct Geometry {
  int64_t headerBytes = 44;  ///< A: the first sample byte
  int64_t channels = 0;      ///< CH
  int64_t slotSamples = 0;   ///< S
  int64_t slotValues = 0;    ///< S * CH: 16-bit values per slot
  int64_t FirstValue() const { return headerBytes / 2; }
  bool operator==(const Geometry&) const = default;
};

/// How far the finished file's sound goes.
struct Extent {
  int64_t slotCount = 0;     ///< N: whole slots in the data
  int64_t padded = 0;        ///< B: N + 2901..3000, a multiple of 100
  int64_t lastAdjusted = 0;  ///< G: the level control adjusts slots 0..G
  int64_t adjustEnd = 0;     ///< one past the last value index the level control touches
};

// The sample loops get a second build for processors with 256-bit vector instructions, picked
// when the program starts; elsewhere the plain build serves. (The thread sanitizer cannot run
// the picking, which happens before it is set up.)
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define TAMSEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TAMSEL_VECTOR_CLONES
#endif

/// The loudest of `count` values, by size.
TAMSEL_VECTOR_CLONES int32_t LoudestOf(const int16_t* p, size_t count) {
  // Sizes as unsigned 16-bit numbers (-32768 has size 32768), in fixed-width groups, so that the
  // compiler turns each group into a few vector instructions.
  constexpr size_t GROUP = 32;
  const auto size = [](int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    return v < 0 ? static_cast<uint16_t>(0 - u) : u;
  };
  uint16_t loudest = 0;
  size_t i = 0;
  for (; i + GROUP <= count; i += GROUP) {
    uint16_t group = 0;
    for (size_t k = 0; k < GROUP; ++k) group = std::max(group, size(p[i + k]));
    loudest = std::max(loudest, group);
  }
  for (; i < count; ++i) loudest = std::max(loudest, size(p[i]));
  return loudest;
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

/// A dip lowers no slot more than this many before the slot of the sample that causes it...
constexpr int64_t DIP_BEFORE = 99;
/// ...nor more than this many after it (three times its depth when it starts at slot 0).
constexpr int64_t DIP_AFTER = 3 * 99;

/// Tests samples of slot h in order against its current gain and dips the gains where one
/// would come too close to full scale.
void ProtectPiece(const int16_t* p, size_t count, std::vector<float>& gains, int64_t h) {
  // Scaling is monotonic in the size of the sample: if the loudest passes, all do.
  if (Scaled(LoudestOf(p, count), gains[h]) / 100 < CLIP_HUNDREDS) return;
  for (size_t i = 0; i < count; ++i) {
    const int64_t hundreds = std::abs(Scaled(p[i], gains[h])) / 100;
    if (hundreds < CLIP_HUNDREDS) continue;
    Dip(gains, h, (hundreds - CLIP_HUNDREDS) * 100 / hundreds);
  }
}

/// Scales one sample: the product is exact in double, then truncated and limited.
inline int16_t ScaleSample(int16_t sample, double scale) {
  return static_cast<int16_t>(std::clamp(static_cast<int32_t>(sample * scale), -32767, 32767));
}

TAMSEL_VECTOR_CLONES void ScalePiece(int16_t* p, size_t count, float gain) {
  const double scale = gain;
  // Fixed-width groups, so the compiler turns each into vector instructions even at -O2.
  constexpr size_t GROUP = 16;
  size_t i = 0;
  for (; i + GROUP <= count; i += GROUP) {
    for (size_t k = 0; k < GROUP; ++k) p[i + k] = ScaleSample(p[i + k], scale);
  }
  for (; i < count; ++i) p[i] = ScaleSample(p[i], scale);
}

/// Gain of slot g (0..19) of a block: the inverse of the level, interpolated from the block's
/// level to the next one's.
float WsSlotGain(int32_t here, int32_t next, int32_t g) {
  return static_cast<float>(32770 / (double(here) / 20 * (20 - g) + double(next) / 20 * g));
}

/// Removes a file on scope exit unless released.
class RemoveOnExit {
 public:
  explicit RemoveOnExit(std::string path) : m_path(std::move(path)) {}
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;
  ~RemoveOnExit() {
    if (m_path.empty()) return;
    std::error_code ec;
    std::filesystem::remove(ToPath(m_path), ec);
  }
  void Release() { m_path.clear(); }

 private:
  std::string m_path;
};

/// Reads `count` values from value index `first` on into `dest`, in native order. Throws
/// FileError when the file ends before.
void ReadValues(std::FILE* f, const std::string& path, int64_t first, size_t count,
                int16_t* dest) {
  if (!SeekTo(f, first * 2)) throw FileError(path, "读取文件出错：" + Reason(errno));
  if (ReadSome(f, dest, count * 2, path) < count * 2) {
    throw FileError(path, "读取文件出错：文件比预期的短。");
  }
  SwapToNative(dest, count);
}

}  // namespace

/// The builder's work on the samples, done slot by slot in file order so that it can run
/// behind the converter while the WAV file is still being written: the peak scan, and with the
/// level control on, clipping protection and the adjusted copy in WavFileName + ".tmp". While
/// the file grows, only what the sound still to come cannot change is settled: a block level
/// depends on the blocks up to 2 * span + 1 after it and on the closing ramp over the last 34
/// blocks; a slot's gain on the next block's level; a clipping dip reaches 99 slots back and
/// 297 ahead.
class WsSampleWork {
 public:
  WsSampleWork(const Geometry& g, int32_t autoVolLevel, std::string tmpPath, size_t blockBytes)
      : m_g(g),
        m_p(std::clamp(autoVolLevel, 0, 5)),
        m_tmpPath(std::move(tmpPath)),
        m_cleanup(m_tmpPath) {
    // Reading blocks are whole slots, so every slot is looked at in one piece.
    m_blockSlots = std::max<int64_t>(int64_t(blockBytes / 2) / g.slotValues, 1);
    ReservePrefaulted(m_block, size_t(m_blockSlots * g.slotValues));
    m_block.resize(m_block.capacity());
    m_outValue = g.FirstValue();
  }

  const Geometry& geometry() const { return m_g; }
  int32_t autoVolLevel() const { return m_p; }

  /// Takes in slots [0, available) of a file that is still being written.
  void Grow(std::FILE* f, const std::string& path, int64_t available) {
    if (available <= m_scanned) return;
    Scan(f, path, available, nullptr, 0, /*split=*/false);
    if (m_p == 0) return;
    const int64_t span = 14 - 2 * int64_t(m_p);
    const int64_t wholeBlocks = m_scanned / SLOTS_PER_BLOCK;
    // Blocks before this one are final whatever the length of the sound turns out to be.
    const int64_t settledBlocks = wholeBlocks - 34 - 2 * span - 2;
    const int64_t settledSlots = (settledBlocks - 1) * SLOTS_PER_BLOCK;
    if (settledSlots > int64_t(m_gains.size())) {
      const std::vector<int32_t> levels = WsBlockLevels(
          std::span<const int32_t>(m_peaks.data(), size_t(wholeBlocks * 2 * SLOTS_PER_BLOCK)), 0,
          m_p);
      InstallGains(levels, settledSlots);
    }
    const int64_t protectTo = int64_t(m_gains.size()) - DIP_AFTER;
    if (protectTo > m_protected) {
      Protect(f, path, protectTo, std::numeric_limits<int64_t>::max(), nullptr, 0);
    }
    const int64_t writeTo = m_protected - DIP_BEFORE;
    if (writeTo > 0) {
      const int64_t toValue = m_g.FirstValue() + writeTo * m_g.slotValues;
      if (toValue > m_outValue) Write(f, path, toValue, toValue, nullptr, 0);
    }
  }

  /// Whether what was settled while the file grew holds for the finished file.
  bool Fits(const Geometry& g, const Extent& x, int32_t autoVolLevel) const {
    if (!(g == m_g) || std::clamp(autoVolLevel, 0, 5) != m_p || m_scanned > x.slotCount) {
      return false;
    }
    if (m_protected == 0) return true;
    return m_protected <= x.lastAdjusted + 1 &&
           m_g.FirstValue() + m_protected * m_g.slotValues <= x.adjustEnd &&
           m_outValue <= x.adjustEnd;
  }

  /// Completes the build on the finished file: the rest of the scan, the side files, and with
  /// the level control on the rest of the adjusted copy, which then replaces the WAV file.
  void Finish(EditorState& st, File wav, const std::string& path, const Extent& x,
              Progress& progress) {
    const int64_t n = x.slotCount;
    const auto padded = static_cast<size_t>(x.padded);
    ReservePrefaulted(m_peaks, 2 * padded);
    if (m_p > 0) ReservePrefaulted(m_loudest, padded);
    st.AutoVolLevel = m_p;
    progress.Show(LABEL_SCAN);
    progress.Raise(66);
    // The last slot is never scanned and stays silent.
    Scan(wav.get(), path, std::max<int64_t>(n - 1, 0), &progress, n, /*split=*/true);
    m_peaks.resize(2 * padded, 0);
    std::fill(m_peaks.begin() + 2 * std::max<int64_t>(n - 1, 0), m_peaks.end(), 0);

    progress.Show(LABEL_LEVELS);
    const std::vector<int32_t> levels = WsBlockLevels(m_peaks, n, m_p);
    std::vector<float> gains = WsSlotGains(levels);
    std::string ws;
    ReservePrefaulted(ws, 2 * size_t(n));
    ws.resize(2 * size_t(n));
    for (size_t i = 0; i < size_t(n); ++i) {
      const auto level = [&](size_t k) {
        return static_cast<char>(std::min<int64_t>(Scaled(m_peaks[k], gains[i]) / 410, 63));
      };
      ws[2 * i] = level(2 * i);
      const char second = level(2 * i + 1);
      ws[2 * i + 1] = static_cast<char>(second == 0 ? -1 : -second);
    }
    progress.Raise(69);

    // The speech scores are worked out on a helper thread meanwhile.
    std::string ai;
    std::exception_ptr speechError;
    auto speechScores = [&ai, &speechError, n, p = m_p, series = std::move(m_peaks)]() mutable {
      try {
        ai = WsSpeechScores(std::move(series), n, p);
      } catch (...) {
        speechError = std::current_exception();
      }
    };
    std::jthread speech;  // declared after what it uses, so joined before that goes
    try {
      speech = std::jthread(std::ref(speechScores));
    } catch (const std::system_error&) {
      speechScores();  // no thread to be had
    }
    const auto speechDone = [&] {
      if (speech.joinable()) speech.join();
      if (speechError) std::rethrow_exception(speechError);
      progress.Raise(70);
      progress.Raise(71);
    };
    ReservePrefaulted(st.WavSel, padded);
    st.WavSel.assign(padded, TWavSelect{});

    // With the level control on, the side files are written last: once they are there, the
    // WAV file counts as finished.
    if (m_p == 0) {
      WriteFileThroughTemp(st.WsFileName, st.WsFileName + ".tmp", ws);
      KillPoint("ws-written");
      speechDone();
      WriteFileThroughTemp(st.AiFileName, st.AiFileName + ".tmp", ai);
      return;
    }

    // Level control. The gains are settled by a read-only pass before any sample is rewritten.
    progress.Raise(70);
    progress.Raise(71);
    progress.Show(LABEL_CLIP);
    if (m_gains.empty()) {
      m_gains = std::move(gains);
    } else {
      m_gains.insert(m_gains.end(), gains.begin() + ptrdiff_t(m_gains.size()), gains.end());
    }
    Protect(wav.get(), path, x.lastAdjusted + 1, x.adjustEnd, &progress, x.lastAdjusted);
    progress.Show(LABEL_ADJUST);
    // Nothing to scale when the sound is too short: the file then stays as it is.
    const bool adjust = x.lastAdjusted >= 0 && x.adjustEnd > m_g.FirstValue();
    if (adjust) {
      Write(wav.get(), path, x.adjustEnd, std::numeric_limits<int64_t>::max(), &progress,
            x.padded - 1);
    }
    progress.Show(LABEL_SAVE);
    progress.Raise(99);
    KillPoint("adjusted");
    if (adjust) CloseAndReplace(std::move(wav), path);
    KillPoint("wav-swapped");
    speechDone();
    WriteFileThroughTemp(st.WsFileName, st.WsFileName + ".tmp", ws);
    KillPoint("ws-written");
    WriteFileThroughTemp(st.AiFileName, st.AiFileName + ".tmp", ai);
    progress.Raise(100);
  }

 private:
  /// Scans slots [m_scanned, to): the loudest non-negative sample of the first and second
  /// channel in every eighth frame, and the loudest sample of all by size. With `split`, a
  /// helper thread scans the second half of a long stretch.
  void Scan(std::FILE* f, const std::string& path, int64_t to, Progress* progress, int64_t n,
            bool split) {
    const int64_t from = m_scanned;
    if (to <= from) return;
    m_peaks.resize(size_t(2 * to));
    if (m_p > 0) m_loudest.resize(size_t(to));
    int64_t mid = split && to - from >= SPLIT_SCAN_SLOTS ? from + (to - from) / 2 : to;
    std::exception_ptr helperError;
    std::jthread helper;  // joined however this function is left
    if (mid < to) {
      try {
        helper = std::jthread([this, &path, &helperError, mid, to] {
          try {
            File own = OpenFile(path, "rb");
            if (!own) throw FileError(path, "无法打开文件：" + Reason(errno));
            std::vector<int16_t> block;
            ReservePrefaulted(block, m_block.size());
            block.resize(m_block.size());
            ScanRange(own.get(), path, mid, to, block.data(), [](int64_t) {});
          } catch (...) {
            helperError = std::current_exception();
          }
        });
      } catch (const std::system_error&) {
        mid = to;  // no thread to be had: all on this one
      }
    }
    // The bar moves as if this thread did the whole stretch.
    const int64_t pace = mid < to ? 2 : 1;
    const auto report = [&](int64_t done) {
      if (progress) progress->Raise(66 + (2 * std::min(from + pace * (done - from), to)) / n);
    };
    ScanRange(f, path, from, mid, m_block.data(), report);
    if (helper.joinable()) helper.join();
    if (helperError) std::rethrow_exception(helperError);
    m_scanned = to;
  }

  /// Scans slots [from, to) through `block`, calling `done` with the slots scanned so far.
  template <typename Done>
  void ScanRange(std::FILE* f, const std::string& path, int64_t from, int64_t to,
                 int16_t* block, const Done& done) {
    const int64_t values = m_g.slotValues;
    const int64_t stride = PEAK_FRAME_STEP * m_g.channels;
    const bool stereo = m_g.channels == 2;
    for (int64_t at = from; at < to;) {
      const int64_t slots = std::min(to - at, m_blockSlots);
      ReadValues(f, path, m_g.FirstValue() + at * values, size_t(slots * values), block);
      for (int64_t s = 0; s < slots; ++s) {
        const int16_t* p = block + s * values;
        int32_t first = 0;
        int32_t second = 0;
        if (stereo) {
          for (int64_t k = 0; k < values; k += stride) {
            first = std::max<int32_t>(first, p[k]);
            second = std::max<int32_t>(second, p[k + 1]);
          }
        } else {
          for (int64_t k = 0; k < values; k += stride) first = std::max<int32_t>(first, p[k]);
          second = first;
        }
        m_peaks[size_t(2 * (at + s))] = first;
        m_peaks[size_t(2 * (at + s) + 1)] = second;
        if (m_p > 0) m_loudest[size_t(at + s)] = LoudestOf(p, size_t(values));
      }
      at += slots;
      done(at);
    }
  }

  /// Appends the gains of slots up to `to` from final block levels.
  void InstallGains(const std::vector<int32_t>& levels, int64_t to) {
    for (int64_t f = int64_t(m_gains.size()); f < to; ++f) {
      const size_t m = size_t(f / SLOTS_PER_BLOCK);
      m_gains.push_back(WsSlotGain(levels[m], levels[std::min(m + 1, levels.size() - 1)],
                                   int32_t(f % SLOTS_PER_BLOCK)));
    }
  }

  /// Clipping protection of slots [m_protected, to): each slot's samples but its last, the
  /// values never reaching `adjustEnd`. Slots whose loudest sample passes are not read again.
  void Protect(std::FILE* f, const std::string& path, int64_t to, int64_t adjustEnd,
               Progress* progress, int64_t lastAdjusted) {
    for (int64_t h = m_protected; h < to; ++h) {
      const int64_t begin = m_g.FirstValue() + h * m_g.slotValues;
      const int64_t count = std::clamp<int64_t>(adjustEnd - begin, 0, m_g.slotValues);
      if (count > 1 && Scaled(m_loudest[h], m_gains[h]) / 100 >= CLIP_HUNDREDS) {
        ReadValues(f, path, begin, size_t(count), m_block.data());
        ProtectPiece(m_block.data(), size_t(count - 1), m_gains, h);
      }
      if (progress) progress->Raise(lastAdjusted > 0 ? 71 + (15 * h) / lastAdjusted : 71);
    }
    m_protected = std::max(m_protected, to);
  }

  /// Appends the file's values [m_outValue, to) to the adjusted copy, those before
  /// `adjustEnd` scaled by their slot's gain and limited to -32767..32767. With `to` past the
  /// end, copies the rest of the file as it is.
  void Write(std::FILE* f, const std::string& path, int64_t adjustEnd, int64_t to,
             Progress* progress, int64_t lastSlot) {
    if (!m_out) {
      m_out = OpenFile(m_tmpPath, "wb");
      if (!m_out) throw FileError(m_tmpPath, "无法创建临时文件：" + Reason(errno));
      // The header goes in last: the converter writes its sizes when it finishes.
      const std::vector<char> header(size_t(m_g.headerBytes), '\0');
      Put(header.data(), header.size(), path);
    }
    const int64_t first = m_g.FirstValue();
    if (!SeekTo(f, m_outValue * 2)) throw FileError(path, "读取文件出错：" + Reason(errno));
    while (m_outValue < to) {
      const size_t want = size_t(std::min<int64_t>(to - m_outValue, int64_t(m_block.size())));
      const size_t bytes = ReadSome(f, m_block.data(), want * 2, path);
      if (bytes == 0) break;
      const int64_t end = m_outValue + int64_t(bytes / 2);
      int64_t from = m_outValue;
      const int64_t scaleTo = std::min(end, adjustEnd);
      if (from < scaleTo) {
        int16_t* values = m_block.data();
        SwapToNative(values, size_t(scaleTo - from));
        while (from < scaleTo) {
          const int64_t h = (from - first) / m_g.slotValues;
          const int64_t slotEnd = first + (h + 1) * m_g.slotValues;
          const int64_t pieceEnd = std::min(slotEnd, scaleTo);
          ScalePiece(values + (from - m_outValue), size_t(pieceEnd - from), m_gains[size_t(h)]);
          if (progress && (pieceEnd == slotEnd || pieceEnd == adjustEnd)) {
            progress->Raise(86 + (13 * h) / lastSlot);
          }
          from = pieceEnd;
        }
        SwapToNative(values, size_t(scaleTo - m_outValue));
      }
      Put(m_block.data(), bytes, path);
      m_outValue = end;
      if (bytes % 2 != 0) break;  // an odd last byte: the end of the file
    }
  }

  /// Writes to the adjusted copy.
  void Put(const void* data, size_t bytes, const std::string& path) {
    if (std::fwrite(data, 1, bytes, m_out.get()) != bytes) {
      throw FileError(path, "写入文件失败：" + Reason(errno));
    }
  }

  /// Puts the finished file's header in front of the adjusted copy and renames it over the WAV
  /// file. The copy is not forced to the disk first: the file can always be made again from the
  /// video, and waiting for the disk would cost more than the whole adjustment.
  void CloseAndReplace(File wav, const std::string& path) {
    std::vector<char> header(size_t(m_g.headerBytes));
    if (!SeekTo(wav.get(), 0) || ReadSome(wav.get(), header.data(), header.size(), path) <
                                     header.size()) {
      throw FileError(path, "读取文件出错：" + Reason(errno));
    }
    if (!SeekTo(m_out.get(), 0)) throw FileError(path, "写入文件失败：" + Reason(errno));
    Put(header.data(), header.size(), path);
    bool ok = std::fflush(m_out.get()) == 0;
    const int err = errno;
    ok = std::fclose(m_out.release()) == 0 && ok;
    if (!ok) throw FileError(path, "写入文件失败：" + Reason(err ? err : errno));
    wav.reset();  // the original must be closed before it can be replaced everywhere

    std::error_code ec;
    const auto perms = std::filesystem::status(ToPath(path), ec).permissions();
    if (!ec) std::filesystem::permissions(ToPath(m_tmpPath), perms, ec);
#if defined(__linux__)
    // The names are swapped and the old file removed under the temporary name. Renaming over
    // the old file would make ext4 write the whole new file to the disk first (it guards
    // programs that replace files without flushing them), which takes longer than the
    // adjustment itself and delays every later flush of the user's files.
    if (renameat2(AT_FDCWD, m_tmpPath.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
      return;  // m_cleanup removes the old file
    }
#endif
    std::filesystem::rename(ToPath(m_tmpPath), ToPath(path), ec);
    if (ec) throw FileError(path, "无法替换文件：" + ec.message());
    m_cleanup.Release();
  }

  Geometry m_g;
  int32_t m_p;
  std::string m_tmpPath;
  RemoveOnExit m_cleanup;
  int64_t m_blockSlots = 1;
  std::vector<int16_t> m_block;
  std::vector<int32_t> m_peaks;    ///< two per scanned slot
  std::vector<int32_t> m_loudest;  ///< per scanned slot
  std::vector<float> m_gains;      ///< per slot whose block levels are final
  int64_t m_scanned = 0;           ///< slots scanned
  int64_t m_protected = 0;         ///< slots through clipping protection
  int64_t m_outValue = 0;          ///< value index up to which the adjusted copy is written
  File m_out;
};

namespace {

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

/// Whether the converter is writing a layout that can be followed, and where its slots lie.
bool FollowableHeader(const unsigned char* h, Geometry& g) {
  const uint32_t fmtSize = Le32(h + 16);
  const uint32_t rate = Le32(h + 24);
  g.headerBytes = fmtSize == 18 ? 46 : 44;
  g.channels = Le16(h + 22);
  g.slotSamples = rate / 100;
  g.slotValues = g.slotSamples * g.channels;
  return std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0 &&
         std::memcmp(h + 12, "fmt ", 4) == 0 && (fmtSize == 16 || fmtSize == 18) &&
         Le16(h + 20) == 1 && Le16(h + 34) == 16 && rate % 100 == 0 && rate >= 100 &&
         g.channels > 0 && std::memcmp(h + g.headerBytes - 8, "data", 4) == 0;
}

bool Build(EditorState& st, Progress& progress, size_t blockBytes, WsFollower* followed) {
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
  Extent x;
  x.slotCount = data / (g.slotValues * 2);
  x.padded = (x.slotCount + SLOT_MARGIN) / 100 * 100;
  x.lastAdjusted = (data / 2 - 8) / g.slotSamples / g.channels - 10;
  // Slots never reach into the last 16 values of the file (as far as the RIFF size says).
  const int64_t valueCount = std::min(st.WavFileSize, fileSize) / 2;
  x.adjustEnd = std::min(g.FirstValue() + (x.lastAdjusted + 1) * g.slotValues, valueCount - 16);

  const int32_t p = std::clamp(st.Ctrl.TrackBarAutoVolCtrlSpeed, 0, 5);
  std::unique_ptr<WsSampleWork> work = followed ? followed->TakeWork() : nullptr;
  if (work && !work->Fits(g, x, p)) work.reset();  // started over on the finished file
  if (!work) work = std::make_unique<WsSampleWork>(g, p, path + ".tmp", blockBytes);
  work->Finish(st, std::move(wav), path, x, progress);
  return true;
}

}  // namespace

std::string WsSpeechScores(std::vector<int32_t> series, int64_t slotCount, int32_t autoVolLevel) {
  // The begin scores come from the peaks smoothed once; the end scores from them smoothed twice.
  WsSmoothSeries(series);
  const std::vector<uint8_t> begins = WsEdgeScores(series, /*falling=*/false, autoVolLevel);
  WsSmoothSeries(series);
  const std::vector<uint8_t> ends = WsEdgeScores(series, /*falling=*/true, autoVolLevel);
  std::string ai;
  ReservePrefaulted(ai, 2 * size_t(slotCount));
  ai.resize(2 * size_t(slotCount));
  for (size_t i = 0; i < size_t(slotCount); ++i) {
    ai[2 * i] = static_cast<char>(begins[2 * i]);
    ai[2 * i + 1] = static_cast<char>(ends[2 * i + 1]);
  }
  return ai;
}

std::vector<int32_t> WsBlockLevels(std::span<const int32_t> peaks, int64_t slotCount,
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
  std::vector<float> gains;
  ReservePrefaulted(gains, levels.size() * SLOTS_PER_BLOCK);
  gains.resize(levels.size() * SLOTS_PER_BLOCK);
  for (size_t m = 0; m < levels.size(); ++m) {
    // The last block has no successor; it lies far past the sound, so its own level serves.
    const int32_t next = levels[std::min(m + 1, levels.size() - 1)];
    for (int32_t g = 0; g < SLOTS_PER_BLOCK; ++g) {
      gains[m * SLOTS_PER_BLOCK + size_t(g)] = WsSlotGain(levels[m], next, g);
    }
  }
  return gains;
}

void WsSmoothSeries(std::vector<int32_t>& series) {
  // Two three-point passes over entries 1..last-4 (the first running on its own results), then
  // two five-point passes over entries 2..last-2, each running on its own results. The four go
  // through the series together, each two entries behind the one before: an entry is read by a
  // pass only once the passes before it are done with it and before the pass after it writes
  // it, so the result is that of four passes one after the other, in a quarter of the time.
  int32_t* v = series.data();
  const int64_t last = int64_t(series.size()) - 1;
  for (int64_t a = 1; a <= last + 4; ++a) {
    if (a <= last - 4) v[a] = (v[a - 1] + v[a] + v[a + 1]) / 3;
    const int64_t b = a - 2;
    if (b >= 1 && b <= last - 4) v[b] = (v[b] + v[b + 1] + v[b + 2]) / 3;
    const int64_t c = a - 4;
    if (c >= 2 && c <= last - 2) {
      v[c] = (v[c - 2] + v[c - 1] + v[c] + 2 * v[c + 1] + v[c + 2]) / 6;
    }
    const int64_t d = a - 6;
    if (d >= 2 && d <= last - 2) {
      v[d] = (v[d - 2] + v[d - 1] + v[d] + 2 * v[d + 1] + v[d + 2]) / 6;
    }
  }
}

namespace {

/// How often `step` (4 or more) is halved until it is 4 or less: the edge score of a step.
uint8_t Halvings(int32_t step) {
  if (step <= 4) return 0;
  // The top three bits of the step tell it: 100 takes one halving fewer than 101..111.
  const int w = std::bit_width(static_cast<uint32_t>(step));
  return static_cast<uint8_t>(w - 3 + ((step >> (w - 3)) > 4 ? 1 : 0));
}

/// Raw edge scores: how far each entry rises above (or falls below) the running average.
template <bool Falling>
void RawEdgeScores(const int32_t* v, int64_t count, int32_t avg, uint8_t* score) {
  for (int64_t i = 0; i < count; ++i) {
    const int32_t step = Falling ? avg - v[i] : v[i] - avg;
    avg = (3 * avg + v[i]) / 4;
    score[i] = step < 4 ? 0 : Halvings(step);
  }
}

}  // namespace

std::vector<uint8_t> WsEdgeScores(const std::vector<int32_t>& v, bool falling,
                                  int32_t autoVolLevel) {
  const int64_t last = int64_t(v.size()) - 1;
  std::vector<uint8_t> score;
  ReservePrefaulted(score, v.size());
  score.resize(v.size());
  const auto at = [&](int64_t i) { return i <= last ? v[i] : 0; };
  const int32_t avg = (at(0) + at(1) + at(2) + at(3)) / 4;
  if (falling) {
    RawEdgeScores<true>(v.data(), last + 1, avg, score.data());
  } else {
    RawEdgeScores<false>(v.data(), last + 1, avg, score.data());
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

WsFollower::WsFollower(const EditorState& st, size_t blockBytes)
    : m_tmpPath(st.WavFileName + ".tmp"),
      m_autoVolLevel(st.Ctrl.TrackBarAutoVolCtrlSpeed),
      m_blockBytes(blockBytes) {}

WsFollower::~WsFollower() = default;

void WsFollower::Follow(const std::string& growingPath) {
  if (m_stopped) return;
  try {
    File f = OpenFile(growingPath, "rb");
    if (!f) return;  // not there yet
    if (!m_work) {
      unsigned char head[46] = {};
      if (ReadSome(f.get(), head, sizeof head, growingPath) < sizeof head) return;
      Geometry g;
      if (!FollowableHeader(head, g)) {
        m_stopped = true;
        return;
      }
      m_work = std::make_unique<WsSampleWork>(g, m_autoVolLevel, m_tmpPath, m_blockBytes);
    }
    if (!SeekTo(f.get(), 0, SEEK_END)) throw FileError(growingPath, Reason(errno));
    const Geometry& g = m_work->geometry();
    const int64_t size = TellPos(f.get());
    m_work->Grow(f.get(), growingPath, std::max<int64_t>(size - g.headerBytes, 0) / 2 / g.slotValues);
  } catch (const std::exception&) {
    // The builder then works through the finished file from its start.
    m_stopped = true;
    m_work.reset();
  }
}

std::unique_ptr<WsSampleWork> WsFollower::TakeWork() { return std::move(m_work); }

bool TransformWs(EditorState& st, const ProgressFn& progress, size_t blockBytes,
                 WsFollower* followed) {
  Progress bar(progress);
  try {
    return Build(st, bar, blockBytes, followed);
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
