#include "DemoVideo.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "ChildProcess.h"
#include "FileIo.h"
#include "ReadWaveFile.h"

namespace tamsel {

namespace {

/// Seconds of quiet before the first sentence, between two and after the last.
constexpr double LEAD_SECONDS = 1.5;
constexpr double PAUSES[] = {1.6, 2.4, 1.2, 2.0, 1.5, 2.6, 1.3, 2.2};
constexpr double TAIL_SECONDS = 2.0;

/// The extensions the editor reads and writes beside a video.
constexpr const char* SIDE_EXTENSIONS[] = {".mp4", ".txt", ".wav", ".ws", ".ai", ".ass",
                                           ".ssa", ".srt", ".lock", ".tmp"};

/// The first free base name in `folder`: "示例", "示例2", …
std::string FreeBaseName(const std::string& folder) {
  for (int n = 1;; ++n) {
    const std::string base = folder + "/示例" + (n == 1 ? "" : std::to_string(n));
    bool taken = false;
    for (const char* ext : SIDE_EXTENSIONS) {
      std::error_code ec;
      // A dangling link counts as taken too.
      if (std::filesystem::symlink_status(ToPath(base + ext), ec).type() !=
          std::filesystem::file_type::not_found) {
        taken = true;
        break;
      }
    }
    if (!taken) return base;
  }
}

/// The last lines of a program's error output, for a message.
std::string Tail(const std::string& errors) {
  std::string text = errors;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  size_t from = text.size();
  for (int lines = 0; lines < 3 && from != std::string::npos && from > 0; ++lines) {
    from = text.rfind('\n', from - 1);
  }
  return from == std::string::npos ? text : text.substr(from + 1);
}

/// Removes a folder of ours and what is in it when it goes out of scope.
struct ScratchFolder {
  std::string path;
  ~ScratchFolder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(ToPath(path), ec);
  }
};

}  // namespace

const std::vector<std::string>& DemoSentences() {
  static const std::vector<std::string> sentences = {
      "你好，欢迎使用时间轴工具。",
      "今天我们一起给这段视频配上字幕。",
      "每一句话都有自己的开始和结束。",
      "把鼠标移到画面右边，视频就往前播放。",
      "移到左边，视频就倒着播放。",
      "听到一句话开始的时候，按下入点。",
      "这句话说完了，再按下出点。",
      "好了，就是这么简单，祝你工作愉快。",
  };
  return sentences;
}

std::string DefaultDemoFolder() {
#if defined(_WIN32)
  const char* home = std::getenv("USERPROFILE");
#else
  const char* home = std::getenv("HOME");
#endif
  return std::string(home && *home ? home : ".") + "/Tamsel示例";
}

std::optional<std::string> MakeDemoVideo(const std::string& folder, std::string& error,
                                         const CancelFlag* cancel) {
  error.clear();
  const std::string espeak = FindProgram("espeak-ng");
  if (espeak.empty()) {
    error = "没有找到espeak-ng，无法生成示例视频。";
    return std::nullopt;
  }
  const std::string ffmpeg = FindProgram("ffmpeg");
  if (ffmpeg.empty()) {
    error = "没有找到ffmpeg，无法生成示例视频。";
    return std::nullopt;
  }
  std::error_code ec;
  std::filesystem::create_directories(ToPath(folder), ec);
  if (ec) {
    error = folder + "\r无法创建这个文件夹：" + ec.message();
    return std::nullopt;
  }
  ScratchFolder scratch;
  try {
    scratch.path = CreateNewFolder(folder + "/.tamsel-demo-");
  } catch (const FileError& e) {
    error = e.path() + "\r无法在这里写入：" + e.what();
    return std::nullopt;
  }

  // Each sentence spoken into a WAV of its own.
  const auto& sentences = DemoSentences();
  std::vector<std::string> args = {"-nostdin", "-loglevel", "error", "-y"};
  std::string filter;
  double seconds = LEAD_SECONDS;  // the length of the whole: the picture ends with the speech
  for (size_t i = 0; i < sentences.size(); ++i) {
    const std::string wav = scratch.path + "/" + std::to_string(i) + ".wav";
    const ProcessResult spoken =
        RunProcess(espeak, {"-v", "cmn", "-s", "180", "-w", wav, sentences[i]}, {}, {}, cancel);
    if (spoken.cancelled || CancelRequested(cancel)) return std::nullopt;
    if (spoken.exitCode != 0 || !FileExists(wav)) {
      error = "espeak-ng无法朗读示例的句子，无法生成示例视频。\r" + Tail(spoken.errors);
      return std::nullopt;
    }
    TReadWaveFile spokenWav;
    if (!spokenWav.Open(wav) || spokenWav.Format().nAvgBytesPerSec == 0) {
      error = wav + "\respeak-ng写出的声音文件无法读取，无法生成示例视频。";
      return std::nullopt;
    }
    args.insert(args.end(), {"-i", wav});
    // Every sentence at one rate and layout, followed by its pause; the first after a lead.
    const double pause = i + 1 < sentences.size() ? PAUSES[i % std::size(PAUSES)] : TAIL_SECONDS;
    seconds += double(spokenWav.Size()) / spokenWav.Format().nAvgBytesPerSec + pause;
    filter += "[" + std::to_string(i) + ":a]aresample=44100,aformat=channel_layouts=stereo";
    if (i == 0) filter += ",adelay=" + std::to_string(int(LEAD_SECONDS * 1000)) + ":all=1";
    filter += ",apad=pad_dur=" + std::to_string(pause) + "[s" + std::to_string(i) + "];";
  }
  for (size_t i = 0; i < sentences.size(); ++i) filter += "[s" + std::to_string(i) + "]";
  filter += "concat=n=" + std::to_string(sentences.size()) + ":v=0:a=1[speech];";
  // A calm picture that moves: slow colour gradients in the window's colours.
  // (An endless source and -shortest may run on for long after the speech has ended.)
  filter += "gradients=s=640x360:r=25:c0=0x285a78:c1=0x173447:c2=0x3a7a8c:c3=0x1d4a5e:"
            "speed=0.008:nb_colors=4:duration=" + std::to_string(seconds) + "[picture]";

  const std::string base = FreeBaseName(folder);
  const std::string madeVideo = scratch.path + "/video.mp4";
  args.insert(args.end(), {"-filter_complex", filter, "-map", "[picture]", "-map", "[speech]",
                           "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                           "-c:a", "aac", "-b:a", "128k", "-t", std::to_string(seconds), madeVideo});
  const ProcessResult made = RunProcess(ffmpeg, args, {}, {}, cancel);
  if (made.cancelled || CancelRequested(cancel)) return std::nullopt;
  if (made.exitCode != 0 || !FileExists(madeVideo)) {
    error = "ffmpeg无法生成示例视频。\r" + Tail(made.errors);
    return std::nullopt;
  }

  std::string script;
  for (const auto& s : sentences) script += s + "\r\n";
  const std::string madeScript = scratch.path + "/script.txt";
  try {
    WriteFileThroughTemp(madeScript, madeScript + ".tmp", script);
  } catch (const FileError& e) {
    error = e.path() + "\r" + e.what();
    return std::nullopt;
  }
  if (CancelRequested(cancel)) return std::nullopt;
  // The script first: a video that is there always has its script beside it.
  for (const auto& [from, to] : {std::pair{madeScript, base + ".txt"},
                                 std::pair{madeVideo, base + ".mp4"}}) {
    if (const int err = RenameWithoutReplacing(from, to); err != 0) {
      error = to + "\r无法写入示例：" + std::error_code(err, std::generic_category()).message();
      if (to == base + ".mp4") std::filesystem::remove(ToPath(base + ".txt"), ec);
      return std::nullopt;
    }
  }
  return base + ".mp4";
}

}  // namespace tamsel
