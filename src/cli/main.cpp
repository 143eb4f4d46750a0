// tamsel-cli: the editor's file-level work for batch use.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <cstring>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "BatchRetime.h"
#include "Conversion.h"
#include "EditScript.h"
#include "EditorState.h"
#include "FileIo.h"
#include "Settings.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TimeText.h"
#include "VideoPreparation.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

using namespace tamsel;

namespace {

const char* USAGE =
    "usage: tamsel-cli [options] COMMAND VIDEO [ARGS]\n"
    "\n"
    "Works on the subtitle file beside VIDEO (same name, .ass, .ssa or .srt; a new .ass is\n"
    "made when there is none), as the editor does.\n"
    "\n"
    "commands:\n"
    "  show VIDEO            print the timeline: index, in, out, text (tab-separated)\n"
    "  convert VIDEO         write the SRT document as .ass, or the ASS/SSA document as .srt\n"
    "  export-txt VIDEO      write the texts to VIDEO's .txt (never over an existing one)\n"
    "  import-txt VIDEO TXT  put the items of a revised script into the document and save\n"
    "  prepare VIDEO...      extract the sound (ffmpeg), build the waveform and speech files and\n"
    "                        load or create the subtitles, for each video in turn\n"
    "  edit VIDEO SCRIPT     replay the edit commands of SCRIPT (keys, wheel, cuts, drags) on\n"
    "                        the prepared video's subtitles and save them\n"
    "  align VIDEO           move every subtitle onto the speech start near its in point\n"
    "                        (\"瞬间对齐\") and save\n"
    "  fps VIDEO FACTOR      multiply every time by FACTOR (between 0.717 and 1.414, not 1)\n"
    "                        and save\n"
    "\n"
    "options:\n"
    "  --layer N             the ASS layer to edit (0-9; default 0)\n"
    "  --settings FILE       the settings file to read (default: the editor's own)\n"
    "  --json                show: print JSON instead of text\n"
    "  -h, --help            this text\n";

/// A message on stderr, whole (a NUL in a quoted text does not end it), its CR line breaks made
/// LF.
void Print(const std::string& text) {
  std::string s = "tamsel-cli: " + text + "\n";
  for (char& c : s) {
    if (c == '\r') c = '\n';
  }
  std::fwrite(s.data(), 1, s.size(), stderr);
}

/// Messages go to stderr with their line breaks; the script to import comes from the command.
class CliPrompts : public UserPrompts {
 public:
  std::string txtFile;
  void ShowMessage(const std::string& text) override { Print(text); }
  std::string ChooseTxtFile() override { return txtFile; }
};

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

/// How much printed text is put together before it is written.
constexpr size_t OUTPUT_PIECE = 64 * 1024;

const char* FormatName(int32_t f) { return f == FORMAT_SRT ? "srt" : f == FORMAT_SSA ? "ssa" : "ass"; }

const char* EncodingName(const SubtitleDocument& d) {
  if (d.SubUtf8Bom) return "utf-8-bom";
  return d.SubCodePage == CodePage::Gb18030 ? "gb18030" : "utf-8";
}

/// Prints the timeline. The text is written as it is put together, a piece at a time, so that
/// a long timeline's text is never held whole beside the document.
void PrintTimeline(const EditorState& st, bool json) {
  std::string out;
  const auto flush = [&out](size_t atLeast) {
    if (out.size() < atLeast) return;
    std::fwrite(out.data(), 1, out.size(), stdout);
    out.clear();
  };
  if (json) {
    out = "{\"file\":" + JsonString(st.SubFileName) + ",\"format\":\"" +
          FormatName(st.SubFormat) + "\",\"layer\":" + std::to_string(st.SubLayer) +
          ",\"encoding\":\"" + EncodingName(st) + "\",\"current\":" +
          std::to_string(st.SubCurr) + ",\"entries\":[";
    for (size_t i = 0; i < st.Subs.size(); ++i) {
      const TSub& s = st.Subs[i];
      if (i) out += ",";
      out += "{\"index\":" + std::to_string(i) + ",\"in\":" + std::to_string(s.TimeIn) +
             ",\"out\":" + std::to_string(s.TimeOut) + ",\"in_text\":\"" +
             IntToTimeAssStr(s.TimeIn) + "\",\"out_text\":\"" + IntToTimeAssStr(s.TimeOut) +
             "\",\"text\":" + JsonString(s.Dialogue) + "}";
      flush(OUTPUT_PIECE);
    }
    out += "]}\n";
    flush(0);
    return;
  }
  for (size_t i = 0; i < st.Subs.size(); ++i) {
    const TSub& s = st.Subs[i];
    out += std::to_string(i) + "\t" + IntToTimeAssStr(s.TimeIn) + "\t" +
           IntToTimeAssStr(s.TimeOut) + "\t" + s.Dialogue + "\n";
    flush(OUTPUT_PIECE);
  }
  flush(0);
}

/// A progress bar on a terminal; nothing otherwise.
class ProgressBar {
 public:
  explicit ProgressBar(std::string name) : m_name(std::move(name)), m_tty(isatty(2)) {}
  ~ProgressBar() {
    if (m_drawn) std::fputs("\n", stderr);
  }
  void operator()(const std::string& label, int position) {
    if (!label.empty()) m_label = label;
    if (!m_tty || position == m_position) return;
    m_position = position;
    const int filled = std::clamp(position, 0, 100) * 30 / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%% %s\033[K", m_name.c_str(),
                 std::string(filled, '#').c_str(), std::string(30 - filled, ' ').c_str(), position,
                 m_label.c_str());
    m_drawn = true;
  }

 private:
  std::string m_name, m_label;
  bool m_tty;
  bool m_drawn = false;
  int m_position = -1;
};

int Fail(const std::string& message) {
  Print(message);
  return 1;
}

/// Set when Ctrl-C (or SIGTERM, SIGHUP) comes during a preparation, which it cancels: the
/// converter is ended and what the preparation made is removed (its lock file too) before the
/// tool ends by that signal.
CancelFlag g_interrupted{false};
volatile std::sig_atomic_t g_signal = 0;

extern "C" void CancelOnSignal(int sig) {
  std::signal(sig, SIG_DFL);  // a second one ends the tool at once
  g_signal = sig;
  g_interrupted.store(true, std::memory_order_relaxed);
}

/// The signals that cancel the preparations while it lives. A signal we were started to ignore
/// (SIGHUP under nohup, SIGINT in a background job) stays ignored.
class SignalsCancel {
 public:
  SignalsCancel() {
    for (size_t i = 0; i < std::size(SIGNALS); ++i) {
      m_ignored[i] = std::signal(SIGNALS[i], CancelOnSignal) == SIG_IGN;
      if (m_ignored[i]) std::signal(SIGNALS[i], SIG_IGN);
    }
  }
  ~SignalsCancel() {
    for (size_t i = 0; i < std::size(SIGNALS); ++i) {
      std::signal(SIGNALS[i], m_ignored[i] ? SIG_IGN : SIG_DFL);
    }
  }
  SignalsCancel(const SignalsCancel&) = delete;
  SignalsCancel& operator=(const SignalsCancel&) = delete;
  /// Ends the tool by the signal that came, if one did.
  static void EndIfInterrupted() {
    if (g_signal != 0) std::raise(g_signal);
  }

 private:
#ifdef SIGHUP
  static constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
#else
  static constexpr int SIGNALS[] = {SIGINT, SIGTERM};
#endif
  bool m_ignored[std::size(SIGNALS)] = {};
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  std::optional<int> layer;
  std::string settings;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(USAGE, stdout);
      return 0;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--layer" || a == "--settings") {
      if (i + 1 >= argc) return Fail(a + " needs a value\n" + USAGE);
      std::string v = argv[++i];
      if (a == "--settings") {
        settings = v;
        continue;
      }
      if (v.empty() || v.size() > 2 || v.find_first_not_of("0123456789") != std::string::npos) {
        return Fail("--layer takes a layer number 0-9, not \"" + v + "\"");
      }
      layer = std::stoi(v);
    } else if (a == "--") {
      for (++i; i < argc; ++i) args.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-' && args.empty()) {
      return Fail("unknown option " + a + "\n" + USAGE);
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return Fail(std::string("no command given\n") + USAGE);
  const std::string command = args[0];
  const bool known = command == "show" || command == "convert" || command == "export-txt" ||
                     command == "import-txt" || command == "prepare" || command == "edit" ||
                     command == "align" || command == "fps";
  if (!known) return Fail("unknown command \"" + command + "\"\n" + USAGE);
  const bool twoArgs = command == "import-txt" || command == "edit" || command == "fps";
  if (command == "prepare" ? args.size() < 2 : args.size() != (twoArgs ? 3u : 2u)) {
    return Fail(command + (command == "import-txt" ? " takes a video and a text file"
                           : command == "edit"     ? " takes a video and a script file"
                           : command == "fps"      ? " takes a video and a factor"
                           : command == "prepare"  ? " takes one or more videos"
                                                   : " takes one video"));
  }

  CliPrompts prompts;
  auto newState = [&](EditorState& st) {
    st.Prompts = &prompts;
    st.SaveRetries = false;  // the process ends after its one command
    st.Ini = IniFile(settings.empty() ? SettingsFilePath(ExecutableDir()) : settings);
    IniLoad(st.Ini, st.Ctrl);
    if (layer) st.Ctrl.LabeledEditLayer = std::to_string(*layer);
  };

  if (command == "prepare") {
    int rc = 0;
    SignalsCancel signalsCancel;
    for (size_t i = 1; i < args.size(); ++i) {
      EditorState st;
      newState(st);
      if (!FileExists(args[i])) {
        rc = Fail(args[i] + ": no such video file");
        continue;
      }
      bool ready;
      {
        ProgressBar bar(args[i]);
        ready = OpenVideoClick(st, args[i], std::ref(bar), &g_interrupted);
      }
      SignalsCancel::EndIfInterrupted();
      if (st.SubDirty && !SubtitleSave(st)) ready = false;
      if (ready) {
        std::fprintf(stderr, "tamsel-cli: ready: %s (%zu subtitles in %s)\n", args[i].c_str(),
                     st.Subs.size(), st.SubFileName.c_str());
      } else {
        std::fprintf(stderr, "tamsel-cli: not ready: %s\n", args[i].c_str());
        rc = 1;
      }
    }
    SignalsCancel::EndIfInterrupted();
    return rc;
  }

  const std::string video = args[1];
  // Everything the command is given is checked before the document is touched.
  std::optional<EditScript> script;
  if (command == "edit") {
    try {
      script = ReadEditScript(args[2]);
    } catch (const EditScriptError& e) {
      return Fail(e.what());
    }
  }
  if (command == "fps") {
    // The tool's own rule for when its button can be pressed.
    EditorState check;
    check.Pictures.ImageReadyGo = true;
    check.Ctrl.EditConvert = args[2];
    EditConvertChange(check);
    if (!ParseConvertFactor(args[2])) return Fail("\"" + args[2] + "\" is not a number");
    if (!check.Ctrl.ButtonConvert) {
      return Fail("the factor must lie between 0.717 and 1.414 and not be 1, not " + args[2]);
    }
  }
  if (!FileExists(video)) return Fail(video + ": no such video file");
  EditorState st;
  newState(st);
  st.VideoFileName = video;
  st.BaseFileName = BaseNameOf(video);
  st.WavFileName = st.BaseFileName + ".wav";
  st.WsFileName = st.BaseFileName + ".ws";
  st.AiFileName = st.BaseFileName + ".ai";
  st.SizeMapFromSubs = !FileExists(st.WsFileName);
  if (command == "align") {  // edit checks its own, the WAV too
    for (const std::string& side : {st.WsFileName, st.AiFileName}) {
      if (!FileExists(side)) {
        return Fail(side + ": missing; prepare the video first (tamsel-cli prepare VIDEO)");
      }
    }
  }
  if (command == "edit") {
    if (!RunEditSession(st, *script, FfprobeMediaProbe())) return 1;
    std::fprintf(stderr, "tamsel-cli: ran %zu commands of %s; %zu subtitles in %s\n",
                 script->commands.size(), args[2].c_str(), st.Subs.size(), st.SubFileName.c_str());
    return 0;
  }

  if (!SubtitleLoad(st, LayerBoxValue(st.Ctrl))) return 1;
  st.Pictures = {/*ImageReadyGo=*/true, /*ImageNotReady=*/false, /*ImageVideoYes=*/true,
                 /*ImageVideoNon=*/false};
  int rc = 0;
  if (command == "show") {
    PrintTimeline(st, json);
  } else if (command == "convert") {
    const std::string target = st.BaseFileName + (st.SubFormat == FORMAT_SRT ? ".ass" : ".srt");
    if (!ButtonSaveAsClick(st)) return 1;
    std::fprintf(stderr, "tamsel-cli: wrote %s\n", target.c_str());
  } else if (command == "export-txt") {
    const std::string target = st.BaseFileName + ".txt";
    if (FileExists(target)) return Fail(target + ": already exists; nothing was written");
    if (!ButtonSaveAsTxtClick(st)) return 1;
    std::fprintf(stderr, "tamsel-cli: wrote %s\n", target.c_str());
  } else if (command == "import-txt") {
    prompts.txtFile = args[2];
    if (!FileExists(args[2])) return Fail(args[2] + ": no such text file");
    if (!ButtonReLoadTxtClick(st)) return 1;
    std::fprintf(stderr, "tamsel-cli: %s now holds the texts of %s\n", st.SubFileName.c_str(),
                 args[2].c_str());
  } else if (command == "align") {
    if (!ButtonAutoAdjBeginClick(st)) return 1;
    std::fprintf(stderr, "tamsel-cli: aligned %zu subtitles in %s\n", st.Subs.size(),
                 st.SubFileName.c_str());
  } else if (command == "fps") {
    st.Ctrl.EditConvert = args[2];
    EditConvertChange(st);
    if (!ButtonConvertClick(st)) return 1;
    std::fprintf(stderr, "tamsel-cli: rescaled %zu subtitles in %s by %s\n", st.Subs.size(),
                 st.SubFileName.c_str(), args[2].c_str());
  }
  // Whatever is still pending (a newly made file) is written as the editor would on closing.
  if (st.SubDirty && !SubtitleSave(st)) rc = 1;
  return rc;
}
