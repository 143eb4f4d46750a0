#include "EditScript.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>

#include "BatchRetime.h"
#include "ChildProcess.h"
#include "DragGestures.h"
#include "EdgeTracking.h"
#include "FileIo.h"
#include "InputActions.h"
#include "MagnetCut.h"
#include "SideData.h"
#include "SplitJoin.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TextCodec.h"
#include "TimeText.h"
#include "VideoPreparation.h"
#include "WaveStrip.h"

namespace tamsel {

namespace {

/// The longest time a script may name: 100 hours, well inside a millisecond count.
constexpr int64_t MAX_SCRIPT_MS = int64_t{100} * 3600 * 1000;
constexpr int32_t MAX_TICKS = 1000000;
constexpr int32_t MAX_REPEAT = 10000;
constexpr int32_t MIN_STRIP_WIDTH = 100;
constexpr int32_t MAX_STRIP_WIDTH = 4096;
constexpr double MAX_RATE = 10.0;

// The window the command line stands for: a 1280 x 800 client area (wider for a wider strip)
// with the video on top and the 128-pixel strip near the bottom, centred.
constexpr int32_t CLIENT_WIDTH = 1280;
/// The margins the window keeps beside the waveform panel, pixels together.
constexpr int32_t PANEL1_MARGINS = 140;
constexpr int32_t PANEL1_TOP = 580;
constexpr int32_t PLAYER_HEIGHT = 550;
/// Rows of the strip the script's pointer uses: below the cut band, and inside it.
constexpr int32_t STRIP_ROW = 100;
constexpr int32_t BAND_ROW = 60;

/// A length in hundredths of a second as the seconds a player tells: the nearest double from
/// which the loop's Trunc(seconds * 100) gives back the same hundredths.
double SecondsOfCs(int32_t cs) {
  double seconds = cs / 100.0;
  while (static_cast<int64_t>(seconds * 100) < cs) seconds = std::nextafter(seconds, 1e300);
  return seconds;
}

int32_t ClampPosition(int64_t ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int32_t>::max()));
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

/// A word of the script as a message quotes it: in double quotes, cut short when long.
std::string Quoted(std::string_view word) { return "\"" + Excerpt(word, 40) + "\""; }

/// A whole token read as an unsigned decimal integer.
std::optional<int64_t> ParseInteger(std::string_view text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::optional<double> ParseReal(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

/// A position p ms as a slot, rounded to the nearest with halves to even, as a click on the
/// video turns the play position into a cut point.
int32_t SlotOfPosition(int64_t ms) {
  int64_t q = ms / 10;
  const int64_t r = ms % 10;
  if (r > 5 || (r == 5 && q % 2 != 0)) ++q;
  return static_cast<int32_t>(q);
}

std::optional<Key> KeyFromName(std::string_view name) {
  static const struct {
    const char* name;
    Key key;
  } KEYS[] = {
      {"s", Key::S},         {"f", Key::F},      {"e", Key::E},         {"d", Key::D},
      {"r", Key::R},         {"w", Key::W},      {"x", Key::X},         {"c", Key::C},
      {"v", Key::V},         {"a", Key::A},      {"space", Key::Space}, {"left", Key::Left},
      {"right", Key::Right}, {"up", Key::Up},    {"down", Key::Down},   {"1", Key::Digit1},
      {"2", Key::Digit2},    {"3", Key::Digit3}, {"4", Key::Digit4},    {"5", Key::Digit5},
      {"6", Key::Digit6},
  };
  const std::string lower = Lower(name);
  for (const auto& k : KEYS) {
    if (lower == k.name) return k.key;
  }
  return std::nullopt;
}

std::optional<PointerPlace> PlaceFromName(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "video") return PointerPlace::Video;
  if (lower == "below") return PointerPlace::Below;
  if (lower == "strip") return PointerPlace::Strip;
  if (lower == "band") return PointerPlace::Band;
  return std::nullopt;
}

std::optional<int> DirectionFromName(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "-1" || lower == "earlier") return -1;
  if (lower == "0") return 0;
  if (lower == "1" || lower == "+1" || lower == "later") return 1;
  return std::nullopt;
}

std::optional<bool> BoolFromName(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "1" || lower == "on" || lower == "true" || lower == "yes") return true;
  if (lower == "0" || lower == "off" || lower == "false" || lower == "no") return false;
  return std::nullopt;
}

/// The words of a line up to its comment.
std::vector<std::string_view> Words(std::string_view line) {
  const size_t hash = line.find('#');
  if (hash != std::string_view::npos) line = line.substr(0, hash);
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

/// Reads one line's command; `stripWidth` follows the script's strip lines so that columns are
/// checked against the strip they will be used on.
class LineParser {
 public:
  LineParser(const std::string& script, int line, std::vector<std::string_view> words,
             int32_t& stripWidth)
      : m_script(script), m_line(line), m_words(std::move(words)), m_stripWidth(stripWidth) {}

  EditAction Parse() {
    const std::string name = Lower(m_words[0]);
    if (name == "set") return ParseSet();
    if (name == "media") {
      Count(1, 1, "media LENGTH (ms or h:mm:ss.cc)");
      return edit::Media{static_cast<int32_t>(Time(1, "the media length") / 10)};
    }
    if (name == "framerate") {
      Count(1, 1, "framerate FPS (1-1000)");
      return edit::FrameRate{Integer(1, 1, 1000, "the frame rate")};
    }
    if (name == "strip") {
      Count(1, 1,
            "strip COLUMNS (" + std::to_string(MIN_STRIP_WIDTH) + "-" +
                std::to_string(MAX_STRIP_WIDTH) + ")");
      m_stripWidth = Integer(1, MIN_STRIP_WIDTH, MAX_STRIP_WIDTH, "the strip width");
      return edit::StripWidth{m_stripWidth};
    }
    if (name == "seek") {
      Count(1, 1, "seek TIME (ms or h:mm:ss.cc)");
      return edit::Seek{static_cast<int32_t>(Time(1, "the play position"))};
    }
    if (name == "tick") {
      Count(0, 1, "tick [COUNT]");
      return edit::Tick{m_words.size() > 1 ? Integer(1, 1, MAX_TICKS, "the tick count") : 1};
    }
    if (name == "rate") {
      Count(1, 1, "rate RATE (-10 to 10; negative plays backward)");
      const auto r = ParseReal(m_words[1]);
      if (!r || std::fabs(*r) > MAX_RATE) {
        Fail("the rate must be a number from -10 to 10, not " + Quoted(m_words[1]));
      }
      return edit::Rate{*r};
    }
    if (name == "modes") return ParseModes();
    if (name == "pointer") {
      Count(1, 2, "pointer video|below|strip|band [COLUMN]");
      edit::Pointer p{Place(1), std::nullopt};
      if (m_words.size() > 2) p.column = Column(2);
      return p;
    }
    if (name == "active") {
      Count(1, 1, "active INDEX|none|strip");
      const std::string what = Lower(m_words[1]);
      if (what == "strip") return edit::Active{std::nullopt};
      if (what == "none") return edit::Active{-1};
      return edit::Active{Integer(1, 0, std::numeric_limits<int32_t>::max(), "the subtitle index")};
    }
    if (name == "key") {
      if (m_words.size() < 2)
        Usage("key KEY... (S F E D R W X C V A Space Left Right Up Down 1-6)");
      edit::Keys keys;
      for (size_t i = 1; i < m_words.size(); ++i) {
        const auto key = KeyFromName(m_words[i]);
        if (!key) Fail(Quoted(m_words[i]) + " is not a key of the key map");
        keys.keys.push_back(*key);
      }
      return keys;
    }
    if (name == "wheel") {
      Count(2, 3, "wheel video|below|strip|band -1|0|+1 [COUNT]");
      const PointerPlace place = Place(1);
      const auto direction = DirectionFromName(m_words[2]);
      if (!direction) {
        Fail("the wheel turns -1 (earlier), 0 or +1 (later), not " + Quoted(m_words[2]));
      }
      const int32_t count = m_words.size() > 3 ? Integer(3, 1, MAX_REPEAT, "the notch count") : 1;
      return edit::Wheel{place, *direction, count};
    }
    if (name == "cut") {
      Count(1, 2, "cut in|out [TIME]");
      const std::string which = Lower(m_words[1]);
      if (which != "in" && which != "out") Fail("cut sets the \"in\" or the \"out\" point");
      edit::Cut cut{which == "out", std::nullopt};
      if (m_words.size() > 2) cut.slot = SlotOfPosition(Time(2, "the cut time"));
      return cut;
    }
    if (name == "drag") {
      Count(3, 4, "drag plain|queue|elastic FROM TO [STEPS]");
      const std::string mode = Lower(m_words[1]);
      int m = -1;
      if (mode == "plain") m = 0;
      if (mode == "queue") m = 1;
      if (mode == "elastic") m = 2;
      if (m < 0) Fail("a drag is \"plain\", \"queue\" or \"elastic\", not " + Quoted(mode));
      const int32_t from = Column(2);
      const int32_t to = Column(3);
      const int32_t steps = m_words.size() > 4 ? Integer(4, 1, MAX_REPEAT, "the step count") : 1;
      return edit::Drag{m, from, to, steps};
    }
    Fail("unknown command " + Quoted(m_words[0]));
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    throw EditScriptError(m_script, m_line, message);
  }

  [[noreturn]] void Usage(const std::string& usage) const { Fail("usage: " + usage); }

  void Count(size_t least, size_t most, const std::string& usage) const {
    const size_t n = m_words.size() - 1;
    if (n < least || n > most) Usage(usage);
  }

  int32_t Integer(size_t i, int64_t least, int64_t most, const std::string& what) const {
    const auto v = ParseInteger(m_words[i]);
    if (!v || *v < least || *v > most) {
      Fail(what + " must be a whole number from " + std::to_string(least) + " to " +
           std::to_string(most) + ", not " + Quoted(m_words[i]));
    }
    return static_cast<int32_t>(*v);
  }

  int64_t Time(size_t i, const std::string& what) const {
    const auto t = ParseScriptTime(m_words[i]);
    if (!t) {
      Fail(what + " must be milliseconds or h:mm:ss.cc (at most 100 hours), not " + Quoted(m_words[i]));
    }
    return *t;
  }

  int32_t Column(size_t i) const { return Integer(i, 0, m_stripWidth - 1, "a strip column"); }

  PointerPlace Place(size_t i) const {
    const auto place = PlaceFromName(m_words[i]);
    if (!place) {
      Fail(
          "the pointer is over the \"video\", \"below\" it, on the \"strip\" or in its "
          "\"band\", not " + Quoted(m_words[i]));
    }
    return *place;
  }

  EditAction ParseSet() const {
    Count(2, 2, "set NAME VALUE");
    const ScriptSetting* s = FindScriptSetting(m_words[1]);
    if (!s) Fail("unknown setting " + Quoted(m_words[1]));
    if (s->checked) {
      const auto on = BoolFromName(m_words[2]);
      if (!on) {
        Fail(std::string(s->key) + " is on or off (1/0), not " + Quoted(m_words[2]));
      }
      return edit::Set{s, *on ? 1 : 0};
    }
    return edit::Set{s, Integer(2, 0, s->max, s->key)};
  }

  EditAction ParseModes() const {
    if (m_words.size() < 2) Usage("modes none | modes [dialogue] [headtail] [loop]");
    edit::Modes modes{false, false, false};
    if (m_words.size() == 2 && EqualsNoCase(m_words[1], "none")) return modes;
    for (size_t i = 1; i < m_words.size(); ++i) {
      const std::string w = Lower(m_words[i]);
      if (w == "dialogue") {
        modes.dialogueOnly = true;
      } else if (w == "headtail") {
        modes.headTailOnly = true;
      } else if (w == "loop") {
        modes.loopMode = true;
      } else {
        Fail("the play modes are \"dialogue\", \"headtail\" and \"loop\" (or \"none\"), not " + Quoted(m_words[i]));
      }
    }
    // The head/tail and loop modes only ever act together with the dialogue mode.
    if (modes.headTailOnly || modes.loopMode) modes.dialogueOnly = true;
    return modes;
  }

  const std::string& m_script;
  int m_line;
  std::vector<std::string_view> m_words;
  int32_t& m_stripWidth;
};

bool IsSetupAction(const EditAction& a) {
  return std::holds_alternative<edit::Set>(a) || std::holds_alternative<edit::Media>(a) ||
         std::holds_alternative<edit::FrameRate>(a) || std::holds_alternative<edit::StripWidth>(a);
}

void ApplySetting(EditorState& st, const edit::Set& set) {
  if (set.setting->checked) {
    st.Ctrl.*(set.setting->checked) = set.value != 0;
  } else {
    st.Ctrl.*(set.setting->position) = set.value;
  }
}

int32_t StripWidthOf(const EditorState& st) { return std::max(st.Panel1Width, 1); }

/// The frame rate of a video's first picture stream as ffprobe reports it ("num/den").
std::optional<int> ProbeFrameRate(const std::string& video) {
  const std::string probe = FindProgram("ffprobe");
  if (probe.empty()) return std::nullopt;
  const ProcessResult r =
      RunProcess(probe, {"-v", "error", "-select_streams", "v:0", "-show_entries",
                         "stream=avg_frame_rate,r_frame_rate", "-of",
                         "default=noprint_wrappers=1:nokey=1", "file:" + video});
  if (!r.started || r.exitCode != 0) return std::nullopt;
  size_t from = 0;
  while (from < r.output.size()) {
    size_t end = r.output.find('\n', from);
    if (end == std::string::npos) end = r.output.size();
    std::string_view line(r.output.data() + from, end - from);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    from = end + 1;
    const size_t slash = line.find('/');
    const auto num = ParseReal(line.substr(0, slash));
    const auto den = slash == std::string_view::npos ? std::optional<double>(1.0)
                                                     : ParseReal(line.substr(slash + 1));
    if (!num || !den || *den <= 0 || *num <= 0) continue;
    const double fps = *num / *den;
    if (fps >= 0.5 && fps <= 1000) return static_cast<int>(std::lround(fps));
  }
  return std::nullopt;
}

std::string StripProbeError(std::string why) {
  for (char& c : why) {
    if (c == '\r') c = ' ';
  }
  return why;
}

}  // namespace

const std::vector<ScriptSetting>& ScriptSettings() {
  static const std::vector<ScriptSetting> SETTINGS = {
      {"InductorStretch", "CheckBoxInductorStretch", 1, nullptr,
       &Controls::CheckBoxInductorStretch},
      {"PlayAtCenter", "CheckBoxPlayAtCenter", 1, nullptr, &Controls::CheckBoxPlayAtCenter},
      {"SoundPlayStyle", "CheckBoxSoundStyle", 1, nullptr, &Controls::CheckBoxSoundStyle},
      {"TimeEdge", "TrackBarLoopTime", 5, &Controls::TrackBarLoopTime, nullptr},
      {"AIenable", "chkBoxAIenable", 1, nullptr, &Controls::chkBoxAIenable},
      {"ShowSub", "CheckBoxShowSub", 1, nullptr, &Controls::CheckBoxShowSub},
      {"PCPower", "RadioGroupPower", 2, &Controls::RadioGroupPower, nullptr},
      {"WavOptimize", "RadioGroupWavSize", 1, &Controls::RadioGroupWavSize, nullptr},
      {"NoiseStyle", "TrackBarAutoVolCtrlSpeed", 5, &Controls::TrackBarAutoVolCtrlSpeed, nullptr},
      {"ShowAI", "CheckBoxShowAI", 1, nullptr, &Controls::CheckBoxShowAI},
      {"KeyStep", "TrackBarKeyStep", 9, &Controls::TrackBarKeyStep, nullptr},
      {"MouseStep", "TrackBarMouseStep", 9, &Controls::TrackBarMouseStep, nullptr},
      {"CrashStyle", "RadioGroupCrashStyle", 3, &Controls::RadioGroupCrashStyle, nullptr},
      {"MinTime", "TrackBarMinTime", 5, &Controls::TrackBarMinTime, nullptr},
      {"ReadDelay", "TrackBarOutDelay", 5, &Controls::TrackBarOutDelay, nullptr},
      {"AutoAdj", "TrackBarAutoAdj", 4, &Controls::TrackBarAutoAdj, nullptr},
  };
  return SETTINGS;
}

const ScriptSetting* FindScriptSetting(std::string_view name) {
  for (const ScriptSetting& s : ScriptSettings()) {
    if (EqualsNoCase(name, s.key) || EqualsNoCase(name, s.control)) return &s;
  }
  return nullptr;
}

std::optional<int64_t> ParseScriptTime(std::string_view text) {
  if (text.find(':') == std::string_view::npos) {
    const auto ms = ParseInteger(text);
    if (!ms || *ms > MAX_SCRIPT_MS) return std::nullopt;
    return ms;
  }
  // h:mm:ss with an optional .cc
  const size_t c1 = text.find(':');
  const size_t c2 = text.find(':', c1 + 1);
  if (c2 == std::string_view::npos) return std::nullopt;
  const std::string_view hours = text.substr(0, c1);
  const std::string_view minutes = text.substr(c1 + 1, c2 - c1 - 1);
  std::string_view seconds = text.substr(c2 + 1);
  std::string_view hundredths = "00";
  if (const size_t dot = seconds.find('.'); dot != std::string_view::npos) {
    hundredths = seconds.substr(dot + 1);
    seconds = seconds.substr(0, dot);
  }
  if (hours.empty() || hours.size() > 3 || minutes.size() != 2 || seconds.size() != 2 ||
      hundredths.size() != 2) {
    return std::nullopt;
  }
  const auto h = ParseInteger(hours);
  const auto m = ParseInteger(minutes);
  const auto s = ParseInteger(seconds);
  const auto cs = ParseInteger(hundredths);
  if (!h || !m || !s || !cs || *m > 59 || *s > 59) return std::nullopt;
  const int64_t ms = ((*h * 60 + *m) * 60 + *s) * 1000 + *cs * 10;
  if (ms > MAX_SCRIPT_MS) return std::nullopt;
  return ms;
}

EditScriptReader::EditScriptReader(std::string name) { m_script.name = std::move(name); }

void EditScriptReader::AddLine(std::string_view lineText) {
  const int line = ++m_line;
  if (line == 1 && lineText.substr(0, 3) == "\xEF\xBB\xBF") lineText.remove_prefix(3);
  if (!lineText.empty() && lineText.back() == '\r') lineText.remove_suffix(1);
  if (lineText.size() > MAX_SCRIPT_LINE) {
    throw EditScriptError(m_script.name, line,
                          "the line is longer than " + std::to_string(MAX_SCRIPT_LINE) +
                              " bytes; is this an edit script? It begins " + Quoted(lineText));
  }
  if (lineText.find('\0') != std::string_view::npos || !IsValidUtf8(lineText)) {
    throw EditScriptError(m_script.name, line,
                          "not text (a NUL byte or bytes that are not UTF-8); is this an edit "
                          "script? The line begins " + Quoted(lineText));
  }
  std::vector<std::string_view> words = Words(lineText);
  if (words.empty()) return;
  EditCommand command{line, LineParser(m_script.name, line, std::move(words), m_stripWidth).Parse()};
  m_inSetup = m_inSetup && IsSetupAction(command.action);
  if (m_inSetup) ++m_script.setupCount;
  m_script.commands.push_back(std::move(command));
}

EditScript EditScriptReader::Finish() { return std::move(m_script); }

EditScript ParseEditScript(std::string_view text, const std::string& name) {
  EditScriptReader reader(name);
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    reader.AddLine(text.substr(from, end - from));
    from = end + 1;
  }
  return reader.Finish();
}

EditScript ReadEditScript(const std::string& path) {
  std::ifstream in(ToPath(path), std::ios::binary);
  if (!in) throw EditScriptError(path, 0, "cannot be opened");
  EditScriptReader reader(path);
  // Line by line, never more than one line of at most MAX_SCRIPT_LINE bytes in memory, so that
  // a script that is not one (a device, a video) is refused at once.
  std::string line;
  char buf[1 << 16];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    std::string_view chunk(buf, static_cast<size_t>(in.gcount()));
    while (!chunk.empty()) {
      const size_t nl = chunk.find('\n');
      line.append(chunk.substr(0, nl));
      if (line.size() > MAX_SCRIPT_LINE + 1) {
        reader.AddLine(line);  // refuses it
      }
      if (nl == std::string_view::npos) break;
      reader.AddLine(line);
      line.clear();
      chunk.remove_prefix(nl + 1);
    }
  }
  if (in.bad()) throw EditScriptError(path, 0, "cannot be read");
  if (!line.empty()) reader.AddLine(line);
  return reader.Finish();
}

MediaProbe FfprobeMediaProbe() {
  MediaProbe probe;
  probe.duration = [](const std::string& video, std::string& error) {
    return ProbeDuration(video, error);
  };
  probe.frameRate = ProbeFrameRate;
  return probe;
}

int32_t ScriptClientWidth(int32_t stripWidth) {
  return std::max(CLIENT_WIDTH, stripWidth + PANEL1_MARGINS);
}

void SetWindowGeometry(EditorState& st, int32_t stripWidth) {
  const int32_t column = st.MouseX - st.Panel1Left;
  st.Panel1Width = std::max(stripWidth, 1);
  st.Panel1Left = std::max((ScriptClientWidth(st.Panel1Width) - st.Panel1Width) / 2, 0);
  st.Panel1Top = PANEL1_TOP;
  st.PlayerHeight = PLAYER_HEIGHT;
  st.MouseX = st.Panel1Left + std::clamp(column, 0, st.Panel1Width - 1);
}

PlaybackDevices ScriptSession::Devices() {
  return PlaybackDevices{*media.MediaPlayer, *media.SoundBuffer, clock, sampleRate, {}};
}

WindowFacts ScriptSession::Window() const {
  const int32_t width = ScriptClientWidth(st.Panel1Width);
  return WindowFacts{/*active=*/true,
                     0,
                     0,
                     width,
                     SCRIPT_CLIENT_HEIGHT,
                     width,
                     SCRIPT_CLIENT_HEIGHT,
                     st.MouseX,
                     st.MouseY,
                     st.Panel1Width};
}

SeekBothFn ScriptSession::SeekBoth() {
  return [this](const EditorState& state) {
    PlaybackDevices dev = Devices();
    tamsel::SeekBoth(state, dev);
  };
}

void FirstLook(ScriptSession& s) {
  PlaybackDevices dev = s.Devices();
  Timer2GetMouseXYTimer(s.st, dev, s.Window());
  StripTick(s.st);
}

void LoopTick(ScriptSession& s) {
  s.clock.AdvanceMs(s.st.Timer2GetMouseXYInterval);
  PlaybackDevices dev = s.Devices();
  Timer2GetMouseXYTimer(s.st, dev, s.Window());
}

void StripTick(EditorState& st) { StripChoices(st, StripWidthOf(st)); }

void MovePointer(EditorState& st, PointerPlace place, int32_t column) {
  column = std::clamp(column, 0, StripWidthOf(st) - 1);
  st.MouseX = st.Panel1Left + column;
  const bool onStrip = place == PointerPlace::Strip || place == PointerPlace::Band;
  // Entering the strip stops playback and hands the speed to the pointer.
  if (onStrip && !st.OverWave) {
    PaintWavMouseEnter(st);
  } else if (!onStrip && st.OverWave) {
    PaintWavMouseLeave(st);
  }
  switch (place) {
    case PointerPlace::Video:
      st.MouseY = st.PlayerHeight / 2;
      break;
    case PointerPlace::Below:
      st.MouseY = st.Panel1Top + STRIP_HEIGHT + 20;
      break;
    case PointerPlace::Strip:
      st.MouseY = st.Panel1Top + STRIP_ROW;
      break;
    case PointerPlace::Band:
      st.MouseY = st.Panel1Top + BAND_ROW;
      break;
  }
  if (onStrip) PaintWavMouseMove(st, Modifiers{}, column, st.MouseY - st.Panel1Top);
  st.StripIBeam = place == PointerPlace::Band;
}

void ApplyEditCommand(ScriptSession& s, const EditScript& script, const EditCommand& command) {
  EditorState& st = s.st;
  const int32_t column = st.MouseX - st.Panel1Left;
  std::visit(
      [&](const auto& a) {
        using T = std::decay_t<decltype(a)>;
        if constexpr (std::is_same_v<T, edit::Set>) {
          ApplySetting(st, a);
        } else if constexpr (std::is_same_v<T, edit::Media>) {
          // The player tells another length from now on: the loop takes it and sets the
          // position bar up again, counting the subtitles inside the video anew.
          PlaybackDevices dev = s.Devices();
          if (s.factory.Player()) s.factory.Player()->SetDuration(SecondsOfCs(a.length));
          st.ScrollBarPlayPost.Enabled = false;
          if (LearnMediaLength(st, dev.player)) SetUpPositionBar(st, dev);
        } else if constexpr (std::is_same_v<T, edit::FrameRate>) {
          // Another frame rate from now on: learnt at once, as on the first tick that knows it.
          if (s.factory.Player()) s.factory.Player()->SetFrameRate(a.fps);
          st.FrameRate = 0;
          LearnFrameRate(st, *s.media.MediaPlayer);
        } else if constexpr (std::is_same_v<T, edit::StripWidth>) {
          SetWindowGeometry(st, a.columns);
        } else if constexpr (std::is_same_v<T, edit::Seek>) {
          // As the position bar: no further than the end of the coverage map; the sound
          // plays on from there.
          const int64_t end = 10 * std::max<int64_t>(static_cast<int64_t>(st.WavSel.size()) - 1, 0);
          st.PlayPos = ClampPosition(std::min<int64_t>(a.position, end));
          st.ScrollBarPlayPost.Hint = IntToTimeAssStr(st.PlayPos / 10);
          SeekVideo(st, *s.media.MediaPlayer, st.PlayPos);
          SeekSoundAndPlay(st, *s.media.SoundBuffer, st.PlayPos);
          RefreshEdge(st);
        } else if constexpr (std::is_same_v<T, edit::Tick>) {
          for (int32_t i = 0; i < a.count; ++i) LoopTick(s);
        } else if constexpr (std::is_same_v<T, edit::Rate>) {
          // Set as a key sets it; the pointer takes the speed back once it steers again.
          st.PlayRate = a.rate;
          st.ReplayState = 0;
        } else if constexpr (std::is_same_v<T, edit::Modes>) {
          st.DialogueOnly = a.dialogueOnly;
          st.HeadTailOnly = a.headTailOnly;
          st.LoopMode = a.loopMode;
          RefreshEdge(st);
        } else if constexpr (std::is_same_v<T, edit::Pointer>) {
          MovePointer(st, a.place, a.column.value_or(column));
        } else if constexpr (std::is_same_v<T, edit::Active>) {
          if (!a.index) {
            StripTick(st);
          } else if (*a.index < 0) {
            st.ActiveSub = -1;
          } else if (static_cast<size_t>(*a.index) >= st.Subs.size()) {
            throw EditScriptError(script.name, command.line,
                                  "there is no subtitle " + std::to_string(*a.index) +
                                      " (the timeline has " + std::to_string(st.Subs.size()) + ")");
          } else {
            st.ActiveSub = *a.index;
          }
        } else if constexpr (std::is_same_v<T, edit::Keys>) {
          for (Key k : a.keys) PressKey(st, k, s.SeekBoth());
        } else if constexpr (std::is_same_v<T, edit::Wheel>) {
          MovePointer(st, a.place, column);
          for (int32_t i = 0; i < a.count; ++i) {
            WheelNotch(st, a.direction, WheelPlaceOf(st), s.SeekBoth());
          }
        } else if constexpr (std::is_same_v<T, edit::Cut>) {
          // A click on the video: the cut point is a slot, not a strip column.
          MovePointer(st, PointerPlace::Video, column);
          const int32_t slot = a.slot ? *a.slot : SlotOfPosition(st.PlayPos);
          if (a.outPoint) {
            CutOutAt(st, slot);
          } else {
            CutInAt(st, slot);
          }
        } else if constexpr (std::is_same_v<T, edit::Drag>) {
          MovePointer(st, PointerPlace::Strip, a.from);
          const Modifiers keys{/*shift=*/a.mode == 1, /*ctrl=*/a.mode == 2};
          PaintWavMouseDown(st, MouseButton::Left, keys, a.from);
          for (int32_t k = 1; k <= a.steps; ++k) {
            const int32_t x = a.from + static_cast<int32_t>(int64_t{a.to - a.from} * k / a.steps);
            st.MouseX = st.Panel1Left + x;
            PaintWavMouseMove(st, keys, x, STRIP_ROW);
          }
          PaintWavMouseUp(st);
        }
      },
      command.action);
}

bool RunEditSession(EditorState& st, const EditScript& script, const MediaProbe& probe) {
  // The set-up: the editor as the video is opened.
  std::optional<int32_t> mediaLength;
  std::optional<int> frameRate;
  SetWindowGeometry(st, SCRIPT_STRIP_WIDTH);
  st.MouseX = st.Panel1Left + st.Panel1Width / 2;
  for (size_t i = 0; i < script.setupCount; ++i) {
    const EditAction& a = script.commands[i].action;
    if (const auto* set = std::get_if<edit::Set>(&a)) ApplySetting(st, *set);
    if (const auto* media = std::get_if<edit::Media>(&a)) mediaLength = media->length;
    if (const auto* fps = std::get_if<edit::FrameRate>(&a)) frameRate = fps->fps;
    if (const auto* strip = std::get_if<edit::StripWidth>(&a)) {
      SetWindowGeometry(st, strip->columns);
      st.MouseX = st.Panel1Left + st.Panel1Width / 2;
    }
  }

  for (const std::string* side : {&st.WavFileName, &st.WsFileName, &st.AiFileName}) {
    if (!FileExists(*side)) {
      st.Tell(*side + ": missing; prepare the video first (tamsel-cli prepare VIDEO)");
      return false;
    }
  }
  if (!SubtitleLoad(st, LayerBoxValue(st.Ctrl))) return false;
  if (!mediaLength) {
    std::string why;
    const auto seconds = probe.duration ? probe.duration(st.VideoFileName, why) : std::nullopt;
    if (!seconds || !(*seconds > 0)) {
      st.Tell(st.VideoFileName + ": the video's length cannot be told" +
              (why.empty() ? "" : " (" + StripProbeError(why) + ")") +
              "; give it with \"media\" at the top of the script");
      return false;
    }
    mediaLength = static_cast<int32_t>(std::min<double>(*seconds * 100, MAX_TIME));
  }
  if (!frameRate && probe.frameRate) frameRate = probe.frameRate(st.VideoFileName);

  // Entering editing as the ready picture does, on simulated devices: the player tells the
  // length and the frame rate (0: none), the sound is the WAV's.
  ScriptSession s(st);
  s.factory.duration = SecondsOfCs(*mediaLength);
  s.factory.frameRate = frameRate.value_or(0);
  s.factory.height = st.PlayerHeight;
  st.MouseY = st.PlayerHeight / 2;  // the pointer rests over the video
  if (!ReadyGo(st, s.media, s.factory)) return false;
  s.sampleRate = s.media.WaveFile->Format().nSamplesPerSec;
  FirstLook(s);

  try {
    for (size_t i = script.setupCount; i < script.commands.size(); ++i) {
      ApplyEditCommand(s, script, script.commands[i]);
    }
  } catch (const EditScriptError& e) {
    st.Tell(e.what());
    return false;
  }
  // What the autosave would still write.
  if (st.SubDirty && !SubtitleSave(st)) return false;
  return true;
}

}  // namespace tamsel
