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
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ChildProcess.h"
#include "FileIo.h"
#include "Prefault.h"
#include "SideData.h"


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

constexpr const char* NOT_REGULAR = "不是普通文件，无法读取。";
constexpr const char* REPLACED_MEANWHILE =
    "在处理期间被换掉了（或者不是普通文件），没有替换它。";

int FileNo(std::FILE* f) {
#ifdef _WIN32
  return _fileno(f);
#else
  return fileno(f);
#endif
}

/// Opens a file for reading; nothing (with errno set) when it cannot be opened. Never waits on
/// a pipe or a device put in the file's place. Throws FileError when it is not a regular file.
File OpenForReading(const std::string& path) {
#ifdef _WIN32
  File f(_wfopen(ToPath(path).c_str(), L"rb"));
  if (!f) return f;
  struct _stat64 st;
  if (_fstat64(_fileno(f.get()), &st) != 0 || !(st.st_mode & _S_IFREG)) {
    throw FileError(path, NOT_REGULAR);
  }
  return f;
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw FileError(path, NOT_REGULAR);
  }
  File f(::fdopen(fd, "rb"));
  if (!f) ::close(fd);
  return f;
#endif
}

/// A stream for writing the file made by CreateNewFile or CreateUnnamedFile; the descriptor it was
/// made with stays open in `created.fd`, to tell later that a name still holds this very file.
File OpenNewFile(NewFile& created) {
#ifdef _WIN32
  const int writeFd = _dup(created.fd);
  File f(writeFd >= 0 ? _fdopen(writeFd, "wb") : nullptr);
  if (!f && writeFd >= 0) _close(writeFd);
#else
  const int writeFd = ::fcntl(created.fd, F_DUPFD_CLOEXEC, 0);
  File f(writeFd >= 0 ? ::fdopen(writeFd, "wb") : nullptr);
  if (!f && writeFd >= 0) ::close(writeFd);
#endif
  return f;
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
  int64_t dataBytes = 0;     ///< sample bytes in the file, as far as the data chunk goes
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

void CloseFd(int fd) {
#ifdef _WIN32
  _close(fd);
#else
  ::close(fd);
#endif
}

/// A temporary file this process made (CreateNewFile, or CreateUnnamedFile with no name yet),
/// removed on scope exit unless released, and only while its name still holds that very file:
/// whatever has taken the name since is left alone.
class OwnTempFile {
 public:
  OwnTempFile() = default;
  OwnTempFile(const OwnTempFile&) = delete;
  OwnTempFile& operator=(const OwnTempFile&) = delete;
  ~OwnTempFile() { Remove(); }
  void Take(const NewFile& created) {
    Remove();
    m_file = created;
  }
  const std::string& path() const { return m_file.path; }
  int fd() const { return m_file.fd; }
  /// The file made without a name has been given the name `path`.
  void Named(const std::string& path) { m_file.path = path; }
  bool IsStillThere() const {
    return m_file.fd >= 0 && (m_file.path.empty() || IsSameFile(m_file.fd, m_file.path));
  }
  /// Removes the file now, if it is still ours.
  void Remove() {
    if (m_file.fd < 0) return;
    const bool ours = !m_file.path.empty() && IsStillThere();
    CloseFd(m_file.fd);  // first: a file open here cannot be removed on Windows
    if (ours) {
      std::error_code ec;
      std::filesystem::remove(ToPath(m_file.path), ec);
    }
    m_file = {};
  }
  /// Keeps the file: it has been given its proper name.
  void Release() {
    if (m_file.fd >= 0) CloseFd(m_file.fd);
    m_file = {};
  }

 private:
  NewFile m_file;
};

/// The builder's own chunk at the end of a WAV file whose level it has adjusted. It holds the
/// .ws and .ai data made from the sound as extracted, so that a later preparation never
/// adjusts the file twice and can put back side files lost in between (a kill after the WAV
/// file was replaced): layout "tmsl", body size, the .ws bytes, the .ai bytes, the slot count
/// (u64), the volume setting (u32), the layout's version (u32) and LEVEL_MARK_MAGIC, so that it
/// is found from the end of the file. Readers of the sound never reach it: it lies behind the
/// data chunk.
constexpr char LEVEL_MARK_ID[4] = {'t', 'm', 's', 'l'};
constexpr char LEVEL_MARK_MAGIC[8] = {'T', 'a', 'm', 's', 'e', 'l', 'W', 'S'};
constexpr uint32_t LEVEL_MARK_VERSION = 1;
constexpr int64_t LEVEL_MARK_TRAILER = 24;

struct LevelMark {
  int32_t level = 0;
  std::string ws, ai;
};

std::string LeBytes(uint64_t v, int width) {
  std::string s;
  for (int i = 0; i < width; ++i) s += char(v >> (8 * i));
  return s;
}

uint64_t Le64(const unsigned char* p) {
  return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}

/// The mark at the end of a WAV file of `fileSize` bytes, if it carries one.
std::optional<LevelMark> ReadLevelMark(std::FILE* f, const std::string& path, int64_t fileSize) {
  unsigned char trailer[LEVEL_MARK_TRAILER];
  if (fileSize < 44 + 8 + LEVEL_MARK_TRAILER || !SeekTo(f, fileSize - LEVEL_MARK_TRAILER) ||
      ReadSome(f, trailer, sizeof trailer, path) != sizeof trailer ||
      std::memcmp(trailer + 16, LEVEL_MARK_MAGIC, 8) != 0 ||
      Le32(trailer + 12) != LEVEL_MARK_VERSION) {
    return std::nullopt;
  }
  const uint64_t slots = Le64(trailer);
  const int64_t body = 4 * int64_t(std::min<uint64_t>(slots, uint64_t(fileSize))) +
                       LEVEL_MARK_TRAILER;
  const int64_t start = fileSize - body - 8;
  unsigned char head[8];
  if (start < 12 || !SeekTo(f, start) || ReadSome(f, head, 8, path) != 8 ||
      std::memcmp(head, LEVEL_MARK_ID, 4) != 0 || Le32(head + 4) != uint64_t(body)) {
    return std::nullopt;
  }
  LevelMark mark;
  mark.level = static_cast<int32_t>(Le32(trailer + 8));
  mark.ws.resize(size_t(2 * slots));
  mark.ai.resize(size_t(2 * slots));
  if (ReadSome(f, mark.ws.data(), mark.ws.size(), path) != mark.ws.size() ||
      ReadSome(f, mark.ai.data(), mark.ai.size(), path) != mark.ai.size()) {
    return std::nullopt;
  }
  return mark;
}

/// Size of a regular file (never through a link); nothing for anything else.
std::optional<uint64_t> RegularFileSize(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(ToPath(path), ec);
  if (ec || !std::filesystem::is_regular_file(status)) return std::nullopt;
  const auto size = std::filesystem::file_size(ToPath(path), ec);
  if (ec) return std::nullopt;
  return size;
}

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

/// `buffer` with room for `values` values, grown when a read needs more: buffers are sized by
/// the reads, which never reach past what the file holds.
int16_t* Room(std::vector<int16_t>& buffer, int64_t values) {
  if (int64_t(buffer.size()) < values) {
    ReservePrefaulted(buffer, size_t(values));
    buffer.resize(size_t(values));
  }
  return buffer.data();
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
        m_tmpPath(std::move(tmpPath)) {
    // Reading blocks are whole slots, so every slot is looked at in one piece. The buffer
    // grows as reads need it (Room), so that it follows what the file holds.
    m_blockSlots = std::max<int64_t>(int64_t(blockBytes / 2) / g.slotValues, 1);
    m_blockValues = m_blockSlots * g.slotValues;
    m_outValue = g.FirstValue();
  }

  const Geometry& geometry() const { return m_g; }
  int64_t AdjustedBytes() const { return m_out ? m_outValue * 2 : 0; }
  int32_t autoVolLevel() const { return m_p; }
  /// The flag the work looks at between blocks; it throws Cancelled once it is set.
  void SetCancel(const CancelFlag* cancel) { m_cancel = cancel; }

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
      ThrowIfCancelled(m_cancel);  // the last look: the two side files are written together
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
    speechDone();
    // The last look: from here the adjusted WAV and its side files are put in place together.
    ThrowIfCancelled(m_cancel);
    // The adjusted file carries the side files made from the sound as extracted and replaces
    // the WAV file before they are written: a preparation that finds it without them (killed
    // in between) puts them back from it rather than adjusting the adjusted sound again.
    if (adjust) {
      AppendLevelMark(ws, ai, path, n);
      KillPoint("adjusted");
      CloseAndReplace(std::move(wav), path, x);
      KillPoint("wav-swapped");
    }
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
            File own = OpenForReading(path);
            if (!own) throw FileError(path, "无法打开文件：" + Reason(errno));
            std::vector<int16_t> block;
            ScanRange(own.get(), path, mid, to, block, [](int64_t) {});
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
    ScanRange(f, path, from, mid, m_block, report);
    if (helper.joinable()) helper.join();
    if (helperError) std::rethrow_exception(helperError);
    m_scanned = to;
  }

  /// Scans slots [from, to) through `buffer`, calling `done` with the slots scanned so far.
  template <typename Done>
  void ScanRange(std::FILE* f, const std::string& path, int64_t from, int64_t to,
                 std::vector<int16_t>& buffer, const Done& done) {
    const int64_t values = m_g.slotValues;
    const int64_t stride = PEAK_FRAME_STEP * m_g.channels;
    const bool stereo = m_g.channels == 2;
    for (int64_t at = from; at < to;) {
      const int64_t slots = std::min(to - at, m_blockSlots);
      int16_t* block = Room(buffer, slots * values);
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
      ThrowIfCancelled(m_cancel);
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
      if (h % 1024 == 0) ThrowIfCancelled(m_cancel);
      const int64_t begin = m_g.FirstValue() + h * m_g.slotValues;
      const int64_t count = std::clamp<int64_t>(adjustEnd - begin, 0, m_g.slotValues);
      if (count > 1 && Scaled(m_loudest[h], m_gains[h]) / 100 >= CLIP_HUNDREDS) {
        int16_t* values = Room(m_block, count);
        ReadValues(f, path, begin, size_t(count), values);
        ProtectPiece(values, size_t(count - 1), m_gains, h);
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
      // Made anew, never through a link or over a file that has the name already; where the
      // system allows, without a name until it is complete, so that a kill leaves nothing.
      NewFile created{CreateUnnamedFile(FromPath(ToPath(m_tmpPath).parent_path())), ""};
      if (created.fd < 0) created = CreateNewFile(m_tmpPath);
      m_copy.Take(created);
      m_out = OpenNewFile(created);
      if (!m_out) throw FileError(m_copy.path(), "无法创建临时文件：" + Reason(errno));
      // The header goes in last: the converter writes its sizes when it finishes.
      const std::vector<char> header(size_t(m_g.headerBytes), '\0');
      Put(header.data(), header.size(), path);
    }
    const int64_t first = m_g.FirstValue();
    if (!SeekTo(f, m_outValue * 2)) throw FileError(path, "读取文件出错：" + Reason(errno));
    while (m_outValue < to) {
      ThrowIfCancelled(m_cancel);
      const int64_t want = std::min(to - m_outValue, m_blockValues);
      int16_t* block = Room(m_block, want);
      const size_t bytes = ReadSome(f, block, size_t(want) * 2, path);
      if (bytes == 0) break;
      const int64_t end = m_outValue + int64_t(bytes / 2);
      int64_t from = m_outValue;
      const int64_t scaleTo = std::min(end, adjustEnd);
      if (from < scaleTo) {
        int16_t* values = block;
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
      Put(block, bytes, path);
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

  /// Appends the level mark (LEVEL_MARK_ID) to the adjusted copy.
  void AppendLevelMark(const std::string& ws, const std::string& ai, const std::string& path,
                       int64_t slots) {
    const int64_t at = TellPos(m_out.get());
    if (at < 0) throw FileError(path, "写入文件失败：" + Reason(errno));
    const uint64_t body = 4 * uint64_t(slots) + LEVEL_MARK_TRAILER;
    if (body > UINT32_MAX) throw FileError(path, "声音太长（采样率太低），无法调整音量。");
    if (at % 2 != 0) Put("", 1, path);  // chunks start at even offsets
    Put(LEVEL_MARK_ID, 4, path);
    Put(LeBytes(body, 4).data(), 4, path);
    Put(ws.data(), ws.size(), path);
    Put(ai.data(), ai.size(), path);
    const std::string trailer = LeBytes(uint64_t(slots), 8) + LeBytes(uint64_t(m_p), 4) +
                                LeBytes(LEVEL_MARK_VERSION, 4) + std::string(LEVEL_MARK_MAGIC, 8);
    Put(trailer.data(), trailer.size(), path);
  }

  /// Puts the finished file's header in front of the adjusted copy and gives the copy the WAV
  /// file's name, but only while that name still holds the file that was read (never a link or
  /// a file put there meanwhile), and only while the copy's name still holds the copy. The
  /// header's RIFF size takes in the level mark, and a data size that promised more than the
  /// file held is cut to what there was. The copy is not forced to the disk first: the file can
  /// always be made again from the video, and waiting for the disk would cost more than the
  /// whole adjustment.
  void CloseAndReplace(File wav, const std::string& path, const Extent& x) {
    std::vector<char> header(size_t(m_g.headerBytes));
    if (!SeekTo(wav.get(), 0) || ReadSome(wav.get(), header.data(), header.size(), path) <
                                     header.size()) {
      throw FileError(path, "读取文件出错：" + Reason(errno));
    }
    const int64_t total = TellPos(m_out.get());
    if (total < 0) throw FileError(path, "写入文件失败：" + Reason(errno));
    const std::string riffSize = LeBytes(uint64_t(std::min<int64_t>(total - 8, UINT32_MAX)), 4);
    std::copy(riffSize.begin(), riffSize.end(), header.begin() + 4);
    const size_t dataField = size_t(m_g.headerBytes) - 4;
    if (Le32(reinterpret_cast<const unsigned char*>(header.data()) + dataField) > x.dataBytes) {
      const std::string dataSize = LeBytes(uint64_t(x.dataBytes), 4);
      std::copy(dataSize.begin(), dataSize.end(), header.begin() + ptrdiff_t(dataField));
    }
    if (!SeekTo(m_out.get(), 0)) throw FileError(path, "写入文件失败：" + Reason(errno));
    Put(header.data(), header.size(), path);
    bool ok = std::fflush(m_out.get()) == 0;
    const int err = errno;
    ok = std::fclose(m_out.release()) == 0 && ok;
    if (!ok) throw FileError(path, "写入文件失败：" + Reason(err ? err : errno));
    if (m_copy.path().empty()) m_copy.Named(NameNewFile(m_copy.fd(), m_tmpPath));
    const std::string& copy = m_copy.path();
    if (!m_copy.IsStillThere()) {
      throw FileError(copy, "临时文件被换掉了，没有用它替换" + path + "。");
    }
    if (!IsSameFile(FileNo(wav.get()), path)) throw FileError(path, REPLACED_MEANWHILE);
    std::error_code ec;
    const auto perms = std::filesystem::status(ToPath(path), ec).permissions();
    if (!ec) std::filesystem::permissions(ToPath(copy), perms, ec);
#if defined(__linux__)
    // The names are swapped and the old file removed under the temporary name. Renaming over
    // the old file would make ext4 write the whole new file to the disk first (it guards
    // programs that replace files without flushing them), which takes longer than the
    // adjustment itself and delays every later flush of the user's files.
    if (renameat2(AT_FDCWD, copy.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
      // Both names must hold what they held a moment ago; otherwise the swap is undone.
      if (IsSameFile(FileNo(wav.get()), copy) && IsSameFile(m_copy.fd(), path)) {
        wav.reset();
        std::filesystem::remove(ToPath(copy), ec);
        m_copy.Release();
        return;
      }
      renameat2(AT_FDCWD, copy.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
      throw FileError(path, REPLACED_MEANWHILE);
    }
#endif
    wav.reset();  // the original must be closed before it can be replaced everywhere
    std::filesystem::rename(ToPath(copy), ToPath(path), ec);
    if (ec) throw FileError(path, "无法替换文件：" + ec.message());
    m_copy.Release();
  }

  Geometry m_g;
  int32_t m_p;
  std::string m_tmpPath;  ///< the name the adjusted copy would like
  OwnTempFile m_copy;      ///< the adjusted copy, once made
  int64_t m_blockSlots = 1;
  int64_t m_blockValues = 1;       ///< the most values a read takes in at once
  std::vector<int16_t> m_block;    ///< as large as the largest read so far
  std::vector<int32_t> m_peaks;    ///< two per scanned slot
  std::vector<int32_t> m_loudest;  ///< per scanned slot
  std::vector<float> m_gains;      ///< per slot whose block levels are final
  int64_t m_scanned = 0;           ///< slots scanned
  int64_t m_protected = 0;         ///< slots through clipping protection
  int64_t m_outValue = 0;          ///< value index up to which the adjusted copy is written
  File m_out;
  const CancelFlag* m_cancel = nullptr;
};

namespace {

/// The format record of a header in the canonical layout (the fmt body at byte 20).
WAVEFORMATEX HeaderFormat(const unsigned char* h) {
  WAVEFORMATEX f;
  f.wFormatTag = Le16(h + 20);
  f.nChannels = Le16(h + 22);
  f.nSamplesPerSec = Le32(h + 24);
  f.nAvgBytesPerSec = Le32(h + 28);
  f.nBlockAlign = Le16(h + 32);
  f.wBitsPerSample = Le16(h + 34);
  return f;
}

/// Where the slots of a header in the canonical layout lie.
Geometry HeaderGeometry(const unsigned char* h) {
  Geometry g;
  g.headerBytes = Le32(h + 16) == 18 ? 46 : 44;
  g.channels = Le16(h + 22);
  g.slotSamples = Le32(h + 24) / 100;
  g.slotValues = g.slotSamples * g.channels;
  return g;
}

/// Whether CheckHeader accepts the header, without a word.
bool AcceptedHeader(const unsigned char* h) {
  const uint32_t fmtSize = Le32(h + 16);
  return std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0 &&
         std::memcmp(h + 12, "fmt ", 4) == 0 && (fmtSize == 16 || fmtSize == 18) &&
         Le32(h + 24) % 100 == 0 && PlayableWaveFormat(HeaderFormat(h));
}

/// Finds the sound data of the file whose header is `head`: right behind the header in the
/// canonical layout, else by walking the chunks (a LIST chunk stands before the samples, as many
/// converters write it), as the player reads it. Sets where it starts (g.headerBytes) and the
/// data chunk's size; false when there is none.
bool LocateData(std::FILE* f, const std::string& path, const unsigned char* head, Geometry& g,
                int64_t& dataSize) {
  dataSize = Le32(head + g.headerBytes - 4);
  if (std::memcmp(head + g.headerBytes - 8, "data", 4) == 0) return true;
  unsigned char chunk[8];
  for (int64_t pos = 12;;) {
    if (!SeekTo(f, pos) || ReadSome(f, chunk, 8, path) != 8) return false;
    const int64_t size = Le32(chunk + 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      g.headerBytes = pos + 8;
      dataSize = size;
      return true;
    }
    pos += 8 + size + (size & 1);
  }
}

/// The size of the open file.
int64_t FileEnd(std::FILE* f, const std::string& path) {
  if (!SeekTo(f, 0, SEEK_END)) throw FileError(path, "读取文件出错：" + Reason(errno));
  const int64_t size = TellPos(f);
  if (size < 0) throw FileError(path, "读取文件出错：" + Reason(errno));
  return size;
}

/// Bytes of sound a file of `fileSize` bytes holds of the `dataSize` its data chunk promises.
int64_t HeldBytes(const Geometry& g, int64_t dataSize, int64_t fileSize) {
  return std::min(dataSize, std::max<int64_t>(fileSize - g.headerBytes, 0));
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
  // Sound that no output can play is refused before anything is sized from the header: a few
  // bytes can claim thousands of channels at gigahertz rates, a slot of which runs to terabytes.
  const WAVEFORMATEX format = HeaderFormat(h);
  if (!PlayableWaveFormat(format)) {
    st.Tell(UnknownWaveFormatMessage(path, format));
    return false;
  }
  return true;
}

/// Whether the converter is writing a layout that can be followed, and where its slots lie.
bool FollowableHeader(const unsigned char* h, Geometry& g) {
  g = HeaderGeometry(h);
  return AcceptedHeader(h) && std::memcmp(h + g.headerBytes - 8, "data", 4) == 0;
}

bool Build(EditorState& st, Progress& progress, size_t blockBytes, WsFollower* followed,
           const CancelFlag* cancel) {
  ThrowIfCancelled(cancel);
  const std::string& path = st.WavFileName;
  File wav = OpenForReading(path);
  if (!wav) throw FileError(path, "无法打开文件：" + Reason(errno));

  // The canonical layout is taken at fixed offsets; the chunks are not walked. Bytes a short
  // file lacks read as zero.
  unsigned char head[46] = {};
  ReadSome(wav.get(), head, sizeof head, path);
  if (!CheckHeader(st, head)) return false;
  st.WavFileSize = int64_t(Le32(head + 4)) + 8;
  st.SamplesPerSlot = static_cast<int32_t>(Le32(head + 24) / 100);

  if (SideFilesReady(st)) return true;
  if (!SideFileNamesUsable(st)) return false;

  Geometry g = HeaderGeometry(head);
  int64_t dataSize = 0;
  if (!LocateData(wav.get(), path, head, g, dataSize)) {
    st.Tell(path + "\r" + "找不到声音数据（data块），请重新转换。");
    return false;
  }
  st.WavDataSize = dataSize;
  const int64_t fileSize = FileEnd(wav.get(), path);
  // A file that ends early is taken as far as it goes.
  const int64_t data = HeldBytes(g, dataSize, fileSize);
  Extent x;
  x.dataBytes = data;
  x.slotCount = data / (g.slotValues * 2);
  x.padded = (x.slotCount + SLOT_MARGIN) / 100 * 100;
  x.lastAdjusted = (data / 2 - 8) / g.slotSamples / g.channels - 10;
  // Slots never reach into the last 16 values of the file (as far as the RIFF size says).
  const int64_t valueCount = std::min(st.WavFileSize, fileSize) / 2;
  x.adjustEnd = std::min(g.FirstValue() + (x.lastAdjusted + 1) * g.slotValues, valueCount - 16);

  if (std::optional<LevelMark> mark = ReadLevelMark(wav.get(), path, fileSize)) {
    // The level control has adjusted this file already, and the side files made from the sound
    // as extracted are in its mark: they are put back, never made from the adjusted sound.
    st.AutoVolLevel = mark->level;
    ReservePrefaulted(st.WavSel, size_t(x.padded));
    st.WavSel.assign(size_t(x.padded), TWavSelect{});
    WriteFileThroughTemp(st.WsFileName, st.WsFileName + ".tmp", mark->ws);
    WriteFileThroughTemp(st.AiFileName, st.AiFileName + ".tmp", mark->ai);
    return true;
  }

  const int32_t p = std::clamp(st.Ctrl.TrackBarAutoVolCtrlSpeed, 0, 5);
  // The adjusted file will take the WAV file's name: that must be the file itself, not a link.
  if (p > 0 && !IsSameFile(FileNo(wav.get()), path)) {
    st.Tell(path + "\r" + "不是普通文件（也许是符号链接），无法在原处调整它的音量。");
    return false;
  }
  std::unique_ptr<WsSampleWork> work = followed ? followed->TakeWork() : nullptr;
  if (work && !work->Fits(g, x, p)) work.reset();  // started over on the finished file
  if (!work) work = std::make_unique<WsSampleWork>(g, p, path + ".tmp", blockBytes);
  work->SetCancel(cancel);
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

WsFollower::WsFollower(const EditorState& st, size_t blockBytes, const CancelFlag* cancel)
    : m_tmpPath(st.WavFileName + ".tmp"),
      m_autoVolLevel(st.Ctrl.TrackBarAutoVolCtrlSpeed),
      m_blockBytes(blockBytes),
      m_cancel(cancel) {}

WsFollower::~WsFollower() = default;

void WsFollower::Follow(const std::string& growingPath) {
  if (m_stopped) return;
  try {
    ThrowIfCancelled(m_cancel);
    File f = OpenForReading(growingPath);
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
      m_work->SetCancel(m_cancel);
    }
    if (!SeekTo(f.get(), 0, SEEK_END)) throw FileError(growingPath, Reason(errno));
    const Geometry& g = m_work->geometry();
    const int64_t size = TellPos(f.get());
    m_work->Grow(f.get(), growingPath, std::max<int64_t>(size - g.headerBytes, 0) / 2 / g.slotValues);
  } catch (const std::exception&) {
    // The builder then works through the finished file from its start (a cancel, Cancelled,
    // drops the work as well).
    m_stopped = true;
    m_work.reset();
  }
}

std::unique_ptr<WsSampleWork> WsFollower::TakeWork() { return std::move(m_work); }

int64_t WsFollower::AdjustedBytes() const { return m_work ? m_work->AdjustedBytes() : 0; }

std::optional<WavExtent> ReadWavExtent(const std::string& path) {
  try {
    File wav = OpenForReading(path);
    if (!wav) return std::nullopt;
    unsigned char head[46] = {};
    ReadSome(wav.get(), head, sizeof head, path);
    if (!AcceptedHeader(head)) return std::nullopt;
    Geometry g = HeaderGeometry(head);
    WavExtent x;
    if (!LocateData(wav.get(), path, head, g, x.promisedBytes)) return std::nullopt;
    x.heldBytes = HeldBytes(g, x.promisedBytes, FileEnd(wav.get(), path));
    x.slots = x.heldBytes / (g.slotValues * 2);
    return x;
  } catch (const FileError&) {
    return std::nullopt;
  }
}

bool SideFilesReady(const EditorState& st) {
  const auto ws = RegularFileSize(st.WsFileName);
  const auto ai = RegularFileSize(st.AiFileName);
  if (!ws || !ai || *ws != *ai || *ws % 2 != 0) return false;
  // Made from another sound: the WAV file was cut or replaced since.
  const std::optional<WavExtent> sound = ReadWavExtent(st.WavFileName);
  if (sound && uint64_t(2 * sound->slots) != *ws) return false;
  try {
    File wav = OpenForReading(st.WavFileName);
    if (!wav || !SeekTo(wav.get(), 0, SEEK_END)) return true;  // nothing that says otherwise
    const std::optional<LevelMark> mark = ReadLevelMark(wav.get(), st.WavFileName,
                                                        TellPos(wav.get()));
    return !mark || (ReadFileBytes(st.WsFileName) == mark->ws &&
                     ReadFileBytes(st.AiFileName) == mark->ai);
  } catch (const FileError&) {
    return true;  // the WAV file cannot tell; whoever reads it will say why
  }
}

bool SideFileNamesUsable(EditorState& st) {
  for (const std::string* name : {&st.WavFileName, &st.WsFileName, &st.AiFileName}) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(ToPath(*name), ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) {
      continue;
    }
    st.Tell(*name + "\r" +
            (std::filesystem::is_symlink(status)
                 ? "是符号链接。不会通过链接读写，也不会替换它；请把它换成普通文件或删掉，再重新打"
                   "开视频。"
                 : "不是普通文件，无法使用；请删掉或改名后再重新打开视频。"));
    return false;
  }
  return true;
}

bool TransformWs(EditorState& st, const ProgressFn& progress, size_t blockBytes,
                 WsFollower* followed, const CancelFlag* cancel) {
  Progress bar(progress);
  try {
    return Build(st, bar, blockBytes, followed, cancel);
  } catch (const Cancelled&) {
    return false;  // what was made is removed on the way out; nothing to tell
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
