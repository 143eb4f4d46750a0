#include "DemoVideo.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string_view>
#include <system_error>

#include "ChildProcess.h"
#include "FileIo.h"
#include "TextCodec.h"
#include "VideoPreparation.h"

namespace tamsel {

namespace {

/// The name of the demo's files before any number.
constexpr std::string_view DEMO_NAME = "示例";

/// Thrown from a child process's poll when the user cancels; RunProcess then ends the child.
struct DemoCancelled {};

/// The last lines of a program's error output, for a message (lines joined with CR).
std::string Tail(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  size_t from = text.size();
  for (int lines = 0; lines < 6 && from > 0; ++lines) {
    const size_t nl = text.rfind('\n', from - 1);
    if (nl == std::string::npos) {
      from = 0;
      break;
    }
    from = nl;
  }
  std::string tail = text.substr(from == 0 ? 0 : from + 1);
  for (char& c : tail) {
    if (c == '\n') c = '\r';
  }
  return tail;
}

/// Reads one code point of valid UTF-8 at `i` and moves `i` past it.
uint32_t NextCodePoint(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i++]);
  const int more = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
  uint32_t cp = more == 0 ? b : b & (0x3F >> more);
  for (int k = 0; k < more && i < s.size(); ++k) {
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return cp;
}

/// The speech as SSML for espeak-ng: the sentences with a break after each. Every character
/// past ASCII is written as a character reference, so that the argument is plain ASCII and
/// reaches the program unharmed whatever the system's code page.
std::string SpeechMarkup() {
  std::string ssml = "<speak>";
  const auto& sentences = DemoSentences();
  for (size_t k = 0; k < sentences.size(); ++k) {
    const std::string_view s = sentences[k];
    for (size_t i = 0; i < s.size();) {
      const uint32_t cp = NextCodePoint(s, i);
      if (cp < 0x80 && cp != '<' && cp != '&' && cp != '>') {
        ssml += static_cast<char>(cp);
      } else {
        ssml += "&#" + std::to_string(cp) + ";";
      }
    }
    ssml += "<break time=\"" + std::to_string(DemoPausesMs()[k]) + "ms\"/>";
  }
  return ssml + "</speak>";
}

/// Reads a little-endian number of `n` bytes at `at`.
uint32_t LittleEndian(std::string_view b, size_t at, int n) {
  uint32_t v = 0;
  for (int k = n - 1; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(b[at + k]);
  return v;
}

/// Writes a little-endian 32-bit number at `at`.
void PutLittleEndian(std::string& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
}

/// The length in milliseconds of the canonical 16-bit PCM WAV that espeak-ng writes to its
/// output, whose sizes it leaves open (it cannot seek back on a pipe); they are filled in here.
/// Nothing when the bytes are no such WAV.
std::optional<int64_t> CloseSpeechWav(std::string& wav) {
  constexpr size_t HEADER = 44;
  if (wav.size() <= HEADER || wav.compare(0, 4, "RIFF") != 0 ||
      wav.compare(8, 8, "WAVEfmt ") != 0 || wav.compare(36, 4, "data") != 0 ||
      LittleEndian(wav, 20, 2) != 1 || LittleEndian(wav, 34, 2) != 16) {
    return std::nullopt;
  }
  const uint32_t channels = LittleEndian(wav, 22, 2);
  const uint32_t rate = LittleEndian(wav, 24, 4);
  if (channels == 0 || rate == 0) return std::nullopt;
  const uint64_t data = (wav.size() - HEADER) / (2 * channels) * (2 * channels);
  if (data + HEADER > UINT32_MAX) return std::nullopt;
  wav.resize(HEADER + data);
  PutLittleEndian(wav, 4, static_cast<uint32_t>(wav.size() - 8));
  PutLittleEndian(wav, 40, static_cast<uint32_t>(data));
  return static_cast<int64_t>(data / (2 * channels) * 1000 / rate);
}

/// Seconds with three decimals, as ffmpeg takes a duration.
std::string Seconds(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return text;
}

/// The moving picture: a soft gradient of blue, teal and green drifting slowly, computed small
/// and scaled up so that it costs little.
constexpr const char* PICTURE =
    "nullsrc=s=64x36:r=25,format=gbrp,"
    "geq=r=40+70*Y/H+30*sin(T*0.2+3*X/W)"
    ":g=75+75*Y/H+25*sin(T*0.15+2*X/W+1)"
    ":b=125+45*(1-Y/H)+30*cos(T*0.1+2*X/W),"
    "format=yuv444p,scale=640:360:flags=bicubic";

/// The converter's arguments that make the video `out` from the picture and the speech `wav`
/// of `speechMs`, with the video encoder's options `encoder`.
std::vector<std::string> EncodeArguments(const std::string& wav, int64_t speechMs,
                                         const std::vector<std::string>& encoder,
                                         const std::string& out) {
  std::vector<std::string> args = {"-nostdin", "-hide_banner", "-loglevel", "error", "-n"};
  const auto add = [&args](std::initializer_list<std::string> more) {
    args.insert(args.end(), more);
  };
  add({"-f", "lavfi", "-i", PICTURE});
  add({"-i", "file:" + wav});
  add({"-map", "0:v", "-map", "1:a"});
  // The speech begins after a short silence; apad makes the sound as long as the picture.
  add({"-filter:a", "adelay=" + std::to_string(DEMO_LEAD_MS) + ":all=1,apad"});
  add({"-t", Seconds(DEMO_LEAD_MS + speechMs)});
  args.insert(args.end(), encoder.begin(), encoder.end());
  add({"-pix_fmt", "yuv420p"});
  add({"-c:a", "aac", "-b:a", "96k", "-ar", "44100"});
  add({"-movflags", "+faststart", "-f", "mp4", "file:" + out});
  return args;
}

/// The folder a demo is made in, removed with everything in it when the call ends.
class WorkFolder {
 public:
  explicit WorkFolder(const std::string& base) : m_path(CreateNewFolder(base + ".part-")) {}
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  ~WorkFolder() {
    std::error_code ec;
    std::filesystem::remove_all(ToPath(m_path), ec);
  }
  std::string File(const char* name) const { return FromPath(ToPath(m_path) / name); }

 private:
  std::string m_path;
};

/// Writes `bytes` into the new file `path` of the work folder. Throws FileError.
void WriteNew(const std::string& path, const std::string& bytes) {
  std::ofstream out(ToPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw FileError(path, "无法写入文件：" + std::generic_category().message(errno));
}

/// Gives the finished video and script their names NAME.mp4 and NAME.txt, the script first,
/// so that the video never stands without it. Neither replaces anything: when a name was taken
/// meanwhile, the next free NAME is tried. Returns the video's path, or throws FileError.
std::string PlaceDemo(const std::string& folder, std::string name, const std::string& video,
                      const std::string& script) {
  const auto reason = [](int err) { return std::generic_category().message(err); };
  for (int attempt = 0; attempt < 100; ++attempt, name = FreeDemoBase(folder)) {
    const std::string txt = name + ".txt", mp4 = name + ".mp4";
    if (const int err = RenameWithoutReplacing(script, txt)) {
      if (err == EEXIST) continue;
      throw FileError(txt, "无法写入文件：" + reason(err));
    }
    if (const int err = RenameWithoutReplacing(video, mp4)) {
      RenameWithoutReplacing(txt, script);  // only ours, and only when nothing took its name
      if (err == EEXIST) continue;
      throw FileError(mp4, "无法写入文件：" + reason(err));
    }
    return mp4;
  }
  throw FileError(folder, "找不到一个空闲的文件名。");
}

}  // namespace

const std::vector<std::string>& DemoSentences() {
  // Short sentences without commas: each is spoken in one breath, so each is one clear block
  // of sound on the waveform.
  static const std::vector<std::string> sentences = {
      "今天早上的天气很好。",   "我们一起去公园散步吧。", "路边的花都开了。",
      "湖上有几只白色的小船。", "中午我们在树下吃饭。",   "下午可能会下一点雨。",
      "记得带上一把雨伞。",     "晚上早点回家休息。",
  };
  return sentences;
}

const std::vector<int>& DemoPausesMs() {
  static const std::vector<int> pauses = {1200, 2000, 1000, 1600, 2600, 1400, 1800, 1500};
  return pauses;
}

std::string DefaultDemoFolder() {
  std::filesystem::path home;
#ifdef _WIN32
  if (const wchar_t* profile = _wgetenv(L"USERPROFILE"); profile && *profile) home = profile;
#else
  if (const char* h = std::getenv("HOME"); h && *h) home = ToPath(h);
#endif
  if (home.empty()) {
    std::error_code ec;
    home = std::filesystem::temp_directory_path(ec);
  }
  return FromPath(home / ToPath("Tamsel示例"));
}

std::string FreeDemoBase(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(ToPath(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    names.push_back(FromPath(it->path().filename()));
  }
  for (int n = 1;; ++n) {
    const std::string name = std::string(DEMO_NAME) + (n == 1 ? "" : std::to_string(n));
    const std::string prefix = name + ".";
    bool taken = false;
    for (const auto& entry : names) {
      if (entry.compare(0, prefix.size(), prefix) == 0) taken = true;
    }
    if (!taken) return FromPath(ToPath(folder) / ToPath(name));
  }
}

std::optional<std::string> MakeDemoVideo(const std::string& folder, std::string& error,
                                         const std::atomic<bool>* cancel) {
  error.clear();
  const std::string speaker = FindProgram("espeak-ng");
  if (speaker.empty()) {
    error = "没有找到espeak-ng，无法生成示例视频。";
    return std::nullopt;
  }
  const std::string converter = FindProgram("ffmpeg");
  if (converter.empty()) {
    error = "没有找到" + ConverterName() + "，无法生成示例视频。";
    return std::nullopt;
  }
  const auto poll = [cancel] {
    if (cancel && cancel->load()) throw DemoCancelled{};
  };

  try {
    poll();
    std::error_code ec;
    const bool created = std::filesystem::create_directories(ToPath(folder), ec);
    if (ec || !std::filesystem::is_directory(ToPath(folder))) {
      error = folder + "\r" + "无法创建这个文件夹，无法生成示例视频。" +
              (ec ? "\r" + ec.message() : "");
      return std::nullopt;
    }
    // A folder made for a demo that failed goes again (when still empty), after the work folder.
    struct RemoveWhenFailed {
      std::filesystem::path path;
      bool armed;
      ~RemoveWhenFailed() {
        std::error_code ignored;
        if (armed) std::filesystem::remove(path, ignored);
      }
    } madeFolder{ToPath(folder), created};
    const std::string base = FreeDemoBase(folder);
    std::optional<WorkFolder> work;
    try {
      work.emplace(base);
    } catch (const FileError& e) {
      error = folder + "\r" + "无法在这个文件夹中写入，无法生成示例视频。\r" + e.what();
      return std::nullopt;
    }

    // The speech, as one WAV with the pauses already in it.
    const ProcessResult spoken =
        RunProcess(speaker, {"-v", "cmn", "-m", "--stdout", SpeechMarkup()}, poll);
    std::string wav = spoken.output;
    const auto speechMs = CloseSpeechWav(wav);
    if (!spoken.started || spoken.exitCode != 0 || !speechMs) {
      error = spoken.started ? "espeak-ng无法生成示例语音。" +
                                   (spoken.errors.empty() ? "" : "\r" + Tail(spoken.errors))
                             : "无法启动" + speaker + "：" + spoken.errors;
      return std::nullopt;
    }
    poll();
    const std::string speech = work->File("speech.wav");
    const std::string video = work->File("video.mp4");
    const std::string script = work->File("script.txt");
    WriteNew(speech, wav);
    WriteNew(script, EncodeTextFile(DemoSentences(), /*utf8Bom=*/true, CodePage::Utf8));

    // H.264 where the converter has it, else MPEG-4 part 2, which every ffmpeg has.
    const std::vector<std::vector<std::string>> encoders = {
        {"-c:v", "libx264", "-preset", "veryfast", "-crf", "20"},
        {"-c:v", "mpeg4", "-q:v", "3"},
    };
    ProcessResult encoded;
    for (const auto& encoder : encoders) {
      std::filesystem::remove(ToPath(video), ec);
      encoded = RunProcess(converter, EncodeArguments(speech, *speechMs, encoder, video), [&] {
        poll();
        if (FileSizeOf(video).value_or(0) > 0) KillPoint("demo-encoding");
      });
      if (!encoded.started || (encoded.exitCode == 0 && FileSizeOf(video).value_or(0) > 0)) {
        break;
      }
    }
    if (!encoded.started || encoded.exitCode != 0 || FileSizeOf(video).value_or(0) == 0) {
      error = encoded.started ? ConverterName() + "无法生成示例视频。" +
                                    (encoded.errors.empty() ? "" : "\r" + Tail(encoded.errors))
                              : "无法启动" + converter + "：" + encoded.errors;
      return std::nullopt;
    }
    poll();
    std::string placed = PlaceDemo(folder, base, video, script);
    madeFolder.armed = false;
    return placed;
  } catch (const DemoCancelled&) {
    error = "示例视频的生成已取消。";
  } catch (const FileError& e) {
    error = e.path() + "\r" + e.what();
  } catch (const std::exception& e) {
    error = std::string("无法生成示例视频：") + e.what();
  }
  return std::nullopt;
}

}  // namespace tamsel
