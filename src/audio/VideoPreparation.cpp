#include "VideoPreparation.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "ChildProcess.h"
#include "FileIo.h"
#include "FileLock.h"
#include "SubtitleLoad.h"
#include "TransformWs.h"

namespace tamsel {

namespace {

/// Ways of referring to a file that ffmpeg never takes for an option or a protocol.
std::string FileUrl(const std::string& path) { return "file:" + path; }

/// The last lines of a program's error output, for a message.
std::string Tail(const std::string& text) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ')) t.pop_back();
  size_t from = t.size();
  for (int lines = 0; lines < 6 && from > 0; ++lines) {
    size_t nl = t.rfind('\n', from - 1);
    from = nl == std::string::npos ? 0 : nl;
    if (nl == std::string::npos) break;
  }
  if (from > 0) ++from;
  std::string tail = t.substr(from);
  for (char& c : tail) {
    if (c == '\n') c = '\r';
  }
  return tail;
}

void NotReadyPictures(EditorState& st) {
  st.Pictures.ImageVideoNon = true;
  st.Pictures.ImageVideoYes = false;
  st.Pictures.ImageNotReady = true;
  st.Pictures.ImageReadyGo = false;
}

/// Where the converter writes: a file with no name yet (Linux), which vanishes if we are killed,
/// or else a file in a new folder beside the video that only we may write. Either way no name
/// the converter opens can be a link or someone else's file, and the finished file takes its
/// name only when nothing has it. What is left unnamed is removed on scope exit.
class ConverterOutput {
 public:
  explicit ConverterOutput(const std::string& wav) {
    m_fd = CreateUnnamedFile(FromPath(ToPath(wav).parent_path()));
    if (m_fd >= 0) {
      m_path = DescriptorPath(m_fd);
      return;
    }
    m_folder = CreateTemporaryFolder(wav + ".part");
    m_path = FromPath(ToPath(m_folder) / "sound.wav");
  }
  ConverterOutput(const ConverterOutput&) = delete;
  ConverterOutput& operator=(const ConverterOutput&) = delete;
  ~ConverterOutput() {
#ifdef _WIN32
    if (m_fd >= 0) _close(m_fd);
#else
    if (m_fd >= 0) ::close(m_fd);
#endif
    if (m_folder.empty()) return;
    std::error_code ec;
    std::filesystem::remove(ToPath(m_path), ec);
    std::filesystem::remove(ToPath(m_folder), ec);  // only when empty
  }
  /// The path the converter writes to and the follower reads.
  const std::string& Path() const { return m_path; }
  /// Descriptors the converter must be given.
  std::vector<int> PassFds() const {
    return m_fd >= 0 ? std::vector<int>{m_fd} : std::vector<int>{};
  }
  /// Gives the finished file the name `wav`, only when nothing has it. 0 or an errno value.
  int Name(const std::string& wav) {
    return m_fd >= 0 ? NameNewFileExactly(m_fd, wav) : RenameWithoutReplacing(m_path, wav);
  }

 private:
  int m_fd = -1;
  std::string m_folder;
  std::string m_path;
};

/// The names the temporary files of a preparation and of the subtitle saves stand for, beside
/// the video: what a killed run may have left under them (RemoveLeftoverTemporaries).
std::vector<std::string> TemporaryNamesBeside(const EditorState& st) {
  return {st.BaseFileName + ".tmp", st.WavFileName + ".part", st.WavFileName + ".tmp",
          st.WsFileName + ".tmp", st.AiFileName + ".tmp"};
}

/// Runs the converter and gives its WAV file the name WavFileName only when it finished well
/// (ConverterOutput) and `cancel` is not set; a cancel returns false without a message. The side
/// files are built behind the converter, on the part already written, when `follower` is given.
bool ExtractSound(EditorState& st, int64_t seconds, const ProgressFn& progress,
                  WsFollower* follower, const CancelFlag* cancel) {
  const std::string converter = FindProgram("ffmpeg");
  const ConverterVariant& variant =
      ConverterVariants()[ChooseVariant(seconds, SizeLimitMegabytes(st.Ctrl.RadioGroupWavSize))];
  std::optional<ConverterOutput> output;
  try {
    output.emplace(st.WavFileName);
  } catch (const FileError& e) {
    st.Tell(st.WavFileName + "无法生成，请手工转换。\r" + e.path() + "：" + e.what());
    return false;
  }
  const std::string& partial = output->Path();
  const double expected = static_cast<double>(seconds) * variant.Channels * variant.Rate * 2;
  progress("等待WAV生成……", 3);
  int shown = 3;
  const ProcessResult run = RunProcess(
      converter, ConverterArguments(st.VideoFileName, partial, variant),
      [&] {
        const auto size = FileSizeOf(partial);
        if (!size || expected <= 0) return;
        const int position = std::min(66, 4 + static_cast<int>(62.0 * *size / expected));
        if (position > shown) progress("等待WAV生成……", shown = position);
        if (follower) follower->Follow(partial);
        if (*size > 100000) KillPoint("extracting");
      },
      output->PassFds(), cancel);
  // Cancelled: the converter has been ended, and its file goes with `output`.
  if (run.cancelled || CancelRequested(cancel)) return false;
  if (!run.started || run.exitCode != 0 || !FileExists(partial) || FileSizeOf(partial) == 0u) {
    std::string why = run.started ? Tail(run.errors) : "无法启动" + converter + "：" + run.errors;
    st.Tell(st.WavFileName + "无法生成，请手工转换。" + (why.empty() ? "" : "\r" + why));
    return false;
  }
  KillPoint("extracted");
  if (const int err = output->Name(st.WavFileName)) {
    st.Tell(st.WavFileName + "无法生成，请手工转换。\r" +
            (err == EEXIST ? "转换期间出现了同名的文件，没有替换它。"
                           : std::error_code(err, std::generic_category()).message()));
    return false;
  }
  KillPoint("wav-placed");
  progress("等待WAV生成……", 66);
  return true;
}

/// What to tell once the side files are made anew from a WAV file cut shorter than its header
/// says, which they no longer fitted: they were made from sound it no longer holds (another
/// program cut it, perhaps while it was being played). "" for any other WAV file.
std::string CutSoundNotice(const EditorState& st) {
  const auto ws = FileSizeOf(st.WsFileName);
  const std::optional<WavExtent> sound = ReadWavExtent(st.WavFileName);
  if (!ws || !sound || sound->heldBytes >= sound->promisedBytes ||
      uint64_t(2 * sound->slots) == *ws) {
    return "";
  }
  return st.WavFileName + "\r" + "声音文件比它的文件头所说的短（应有" +
         std::to_string(sound->promisedBytes) + "字节声音，只有" +
         std::to_string(sound->heldBytes) +
         "字节），也许在使用中被截短了。波形和语音数据已按剩下的声音重新生成。\r"
         "要找回完整的声音，请删掉这个文件，再重新打开视频。";
}

}  // namespace

const std::array<ConverterVariant, 18>& ConverterVariants() {
  static const std::array<ConverterVariant, 18> variants = {{
      {2, 48000}, {2, 44100}, {2, 38000}, {2, 32000}, {2, 24000}, {2, 20000},
      {2, 16000}, {1, 24000}, {1, 20000}, {1, 16000}, {1, 13000}, {1, 10000},
      {1, 8000},  {1, 6000},  {1, 4000},  {1, 3000},  {1, 2000},  {1, 2000},
  }};
  return variants;
}

int SizeLimitMegabytes(int wavSizeItem) {
  switch (wavSizeItem) {
    case 0: return 67;
    case 1: return 268;
    default: return 33;
  }
}

int ChooseVariant(int64_t seconds, int limitMegabytes) {
  const auto& v = ConverterVariants();
  int i = 0;
  for (;; ++i) {
    const int64_t bytes = seconds * v[i].Channels * v[i].Rate * 2;
    if (bytes < int64_t{limitMegabytes} * 1000000 || i >= 17) break;
  }
  return i;
}

std::string ConverterName() {
#ifdef _WIN32
  return "ffmpeg.exe";
#else
  return "ffmpeg";
#endif
}

std::vector<std::string> ConverterArguments(const std::string& video, const std::string& wav,
                                            const ConverterVariant& variant) {
  // Only the sound, as plain 16-bit PCM with the canonical 44-byte header (no metadata chunk).
  return {"-nostdin", "-hide_banner", "-loglevel", "error", "-y",
          "-i", FileUrl(video),
          "-vn", "-sn", "-dn", "-map_metadata", "-1", "-fflags", "+bitexact",
          "-c:a", "pcm_s16le", "-f", "wav",
          "-ac", std::to_string(variant.Channels), "-ar", std::to_string(variant.Rate),
          FileUrl(wav)};
}

std::optional<double> ProbeDuration(const std::string& video, std::string& error,
                                    const CancelFlag* cancel) {
  const std::string probe = FindProgram("ffprobe");
  if (probe.empty()) {
    error = "没找到ffprobe";
    return std::nullopt;
  }
  const ProcessResult r = RunProcess(probe, {"-v", "error", "-show_entries", "format=duration",
                                             "-of", "default=noprint_wrappers=1:nokey=1",
                                             FileUrl(video)},
                                     {}, {}, cancel);
  if (r.cancelled) {
    error.clear();
    return std::nullopt;
  }
  // The probe writes a point before the decimals whatever the process locale says (the window
  // sets the user's), and from_chars reads it so, without looking at the locale.
  const char* begin = r.output.data();
  const char* const end = begin + r.output.size();
  while (begin < end && (*begin == ' ' || *begin == '\t' || *begin == '\r' || *begin == '\n')) {
    ++begin;
  }
  double d = 0;
  const auto parsed = std::from_chars(begin, end, d);
  if (!r.started || r.exitCode != 0 || parsed.ec != std::errc() || !std::isfinite(d)) {
    error = Tail(r.errors);
    return std::nullopt;
  }
  return d;
}

bool OpenVideoClick(EditorState& st, const std::string& chosenVideo, const ProgressFn& progress,
                    const CancelFlag* cancel) {
  st.Caption = PROGRAM_TITLE;
  NotReadyPictures(st);
  st.Ctrl.ButtonSaveAsTxt = false;
  st.VideoFileName = st.SubFileName = st.WavFileName = st.AiFileName = st.BaseFileName = "";
  st.PlayPos = 0;

  st.VideoFileName = chosenVideo;
  if (!FileExists(chosenVideo)) return false;
  // A pipe or a device would hold the probe up for ever.
  if (const std::string why = NotRegularFileReason(chosenVideo); !why.empty()) {
    st.Tell(chosenVideo + "\r" + why);
    return false;
  }
  st.BaseFileName = BaseNameOf(chosenVideo);
  st.WavFileName = st.BaseFileName + ".wav";
  st.WsFileName = st.BaseFileName + ".ws";
  st.AiFileName = st.BaseFileName + ".ai";

  // A cancel ends the preparation at the next step, without a word: the user asked for it.
  const auto cancelled = [&] {
    if (!CancelRequested(cancel)) return false;
    NotReadyPictures(st);
    return true;
  };
  if (cancelled()) return false;

  // One preparation at a time writes a video's side files.
  FileLock lock;
  try {
    if (!lock.TryLock(st.BaseFileName + ".lock")) {
      st.Tell(chosenVideo + "\r" + "另一个程序正在准备这个视频，请等它完成后再试。");
      return false;
    }
  } catch (const FileError& e) {
    st.Tell(e.path() + "\r" + e.what());
    return false;
  }
  // What killed runs left beside the video goes; the lock file such a run left goes with this
  // lock when it is let go.
  RemoveLeftoverTemporaries(TemporaryNamesBeside(st));
  if (!SideFileNamesUsable(st)) return false;

  std::optional<WsFollower> follower;
  if (!FileExists(st.WavFileName)) {
    progress("", 2);
    if (FindProgram("ffmpeg").empty()) {
      st.Tell("没找到＂" + ConverterName() +
              "＂文件，无法进行自动转换，请将它放入本程序的目录中。\r\r或者请手工生成WAV文件。");
      return false;
    }
    progress("检查视频文件……", 2);
    std::string why;
    const auto duration = ProbeDuration(chosenVideo, why, cancel);
    if (cancelled()) return false;
    if (!duration) {
      st.Tell("视频文件无法识别，请升级解码器。" + (why.empty() ? "" : "\r" + why));
      return false;
    }
    const int64_t seconds = static_cast<int64_t>(*duration) + 1;
    if (seconds < 3 || seconds > 16777) {
      st.Tell("视频长度为:" + std::to_string(seconds) + "秒？\r" +
              "无法识别视频文件，请升级或者安装视频解码器。");
      return false;
    }
    st.Pictures.ImageVideoYes = true;
    st.Pictures.ImageVideoNon = false;
    if (!SideFilesReady(st)) follower.emplace(st, TRANSFORM_WS_BLOCK_BYTES, cancel);
    if (!ExtractSound(st, seconds, progress, follower ? &*follower : nullptr, cancel)) {
      NotReadyPictures(st);
      return false;
    }
  }

  if (!SideFilesReady(st)) {
    const std::string cut = CutSoundNotice(st);
    progress("WAV转WS……", 66);
    if (!TransformWs(st, progress, TRANSFORM_WS_BLOCK_BYTES, follower ? &*follower : nullptr,
                     cancel)) {
      if (cancelled()) return false;
      CheckFileReady(st);
      return false;
    }
    if (!cut.empty()) st.Tell(cut);
  }
  KillPoint("ai-written");
  if (cancelled()) return false;
  SubtitleLoad(st, LayerBoxValue(st.Ctrl));
  progress("", 0);
  CheckFileReady(st);
  return st.Pictures.ImageReadyGo;
}

std::string CheckEditingFiles(EditorState& st) {
  for (const std::string* name :
       {&st.VideoFileName, &st.WavFileName, &st.WsFileName, &st.AiFileName, &st.SubFileName}) {
    if (name->empty() || FileExists(*name)) continue;
    CheckFileReady(st);
    return *name + "\r" +
           (name == &st.VideoFileName
                ? "视频文件不见了（被删除、改名或移走了），无法进入编辑。请重新选择电影。"
                : "文件不见了（被删除、改名或移走了），无法进入编辑。请重新选择电影，让程序重新准备"
                  "。");
  }
  return "";
}

void CheckFileReady(EditorState& st) {
  const bool ready = FileExists(st.VideoFileName) && FileExists(st.WavFileName) &&
                     SideFilesReady(st) && FileExists(st.SubFileName);
  st.Pictures.ImageVideoNon = !ready;
  st.Pictures.ImageVideoYes = ready;
  st.Pictures.ImageNotReady = !ready;
  st.Pictures.ImageReadyGo = ready;
  st.Ctrl.ButtonAutoAdjBegin = ready;
  if (ready) {
    if (st.DialogueOnly && !st.Subs.empty()) InitializeSubCurr(st.WavSel, st.Subs, 0, st.SubCurr);
    st.Caption = st.SubFileName + "　—　" + PROGRAM_TITLE;
  } else {
    st.Caption = PROGRAM_TITLE;
  }
  st.Ctrl.ButtonSaveAsTxt = FileExists(st.SubFileName) && !FileExists(st.BaseFileName + ".txt");
}

}  // namespace tamsel
