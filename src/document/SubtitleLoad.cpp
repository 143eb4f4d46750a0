#include "SubtitleLoad.h"

#include <algorithm>
#include <numeric>

#include "FileIo.h"
#include "TextCodec.h"
#include "TimeText.h"

namespace tamsel {

namespace {

constexpr std::string_view ARROW = " --> ";
constexpr std::string_view EVENT_PREFIX = "Dialogue:";

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::string LineNo(int line) { return "第" + std::to_string(line) + "行："; }

/// The later of two times, never past the latest time a file may hold, so that whatever a load
/// makes of a file can be written and read again.
int32_t Later(int32_t t, int32_t atLeast) { return std::max(t, std::min(atLeast, MAX_TIME)); }

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

int32_t ClampSubCurr(int32_t saved, size_t count) {
  if (count == 0) return -1;
  return std::clamp<int32_t>(saved, 0, static_cast<int32_t>(count) - 1);
}

/// The layer of an event line: the number between "Dialogue:" and the first comma; 0 when that
/// field is not a number (an SSA line's "Marked=0").
int32_t EventLayer(std::string_view line) {
  std::string_view field = line.substr(EVENT_PREFIX.size());
  field = field.substr(0, field.find(','));
  while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
  while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
  if (field.empty() || field.size() > 9) return 0;
  int32_t n = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

bool IsEventLine(std::string_view line) { return StartsWith(line, EVENT_PREFIX); }

const std::vector<std::string>& AssTemplate() {
  static const std::vector<std::string> lines = {
      "[Script Info]",
      ";Creater:《Tamsel时间轴》",
      std::string(";") + MAKER_LINE,
      "Title:",
      "Original Script:",
      "Timing:",
      "Synch Point:0",
      "ScriptType:v4.00+",
      "Collisions:Normal",
      "PlayResX:1280",
      "PlayResY:720",
      "Timer:100.0000",
      "",
      "[V4+ Styles]",
      "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
      "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
      "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding",
      "Style: Logo,黑体,70,&H00000060,&HF0000000,&H00FFFFFF,&H002F2F2F,-1,0,0,0,100,100,0,0.00,"
      "1,4,0,1,440,40,80,1",
      "Style: Default,黑体,45,&H00000060,&HF0000000,&H00FFFFFF,&HF0000000,-1,0,0,0,100,100,0,"
      "0.00,1,2,0,2,0,0,0,134",
      "",
      "[Events]",
      "Format: Layer, Start, End, Style, Actor, MarginL, MarginR, MarginV, Effect, Text",
  };
  return lines;
}

std::string ComposeEventLine(int32_t timeIn, int32_t timeOut, const std::string& text) {
  return "Dialogue: 0," + IntToTimeAssStr(timeIn) + "," + IntToTimeAssStr(timeOut) +
         ",Default,,0000,0000,0000,," + text;
}

bool IsParagraphForm(const std::vector<std::string>& lines) {
  const auto blank = std::count_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.empty(); });
  return static_cast<size_t>(blank) > lines.size() / 4;
}

std::vector<std::string> NewAssFileLines(const std::vector<std::string>* script) {
  std::vector<std::string> out = AssTemplate();
  if (script && IsParagraphForm(*script)) {
    int64_t n = 1;
    for (const auto& line : *script) {
      if (line.empty()) {
        ++n;
        continue;
      }
      const int32_t t = static_cast<int32_t>(
          std::min<int64_t>(PARKING_START + 300 * static_cast<int64_t>(n), MAX_TIME - 250));
      out.push_back(ComposeEventLine(t, t + 250, line));
    }
  } else if (script) {
    for (size_t i = 0; i < script->size(); ++i) {
      const int32_t t = static_cast<int32_t>(
          std::min<int64_t>(PARKING_START + 300 * static_cast<int64_t>(i), MAX_TIME - 250));
      out.push_back(ComposeEventLine(t, t + 250, (*script)[i]));
    }
  }
  // A script with no line to park (or none at all) gives the placeholder, so that the new
  // file always has an event to edit.
  if (out.size() == AssTemplate().size()) {
    out.push_back(ComposeEventLine(100, 500, PLACEHOLDER_TEXT));
  }
  return out;
}

std::string StripOverrides(std::string text) {
  size_t from = 0;
  for (;;) {
    const size_t open = text.find("{\\", from);
    if (open == std::string::npos) break;
    const size_t close = text.find('}', open);
    if (close == std::string::npos) break;  // an unclosed block stays as it is
    text.erase(open, close - open + 1);
    from = open;
  }
  return text;
}

void ParseSrt(const std::vector<std::string>& lines, int32_t minGap, int32_t savedSubCurr,
              SubtitleDocument& doc) {
  const auto hasArrow = [](const std::string& l) { return l.find(ARROW) != std::string::npos; };
  const size_t n = static_cast<size_t>(std::count_if(lines.begin(), lines.end(), hasArrow));
  doc.Subs.assign(n, TSub{});
  doc.SubCurr = ClampSubCurr(savedSubCurr, n);

  // The first line is the first entry's number, unless the file starts with a time line.
  size_t k = (!lines.empty() && hasArrow(lines[0])) ? 0 : 1;
  for (size_t j = 0; j < n; ++j) {
    TSub& sub = doc.Subs[j];
    while (k < lines.size() && !hasArrow(lines[k])) ++k;
    if (k >= lines.size()) {
      throw LoadError(static_cast<int>(lines.size()),
                      "找不到第" + std::to_string(j + 1) + "条字幕的时间行");
    }
    try {
      ReadSrtTimeLine(lines[k], sub.TimeIn, sub.TimeOut);
    } catch (const TimeTextError&) {
      throw LoadError(static_cast<int>(k) + 1,
                      "时间行“" + lines[k] + "”看不懂，应为“00:00:01,000 --> 00:00:02,000”的样式");
    }
    sub.IndexBegin = sub.IndexEnd = static_cast<int32_t>(j) + 1;
    if (++k >= lines.size()) break;
    // The text runs to the first empty line (spaces alone count as empty, as many files have
    // them there); an empty first line means an empty text.
    for (bool first = true; k < lines.size() && !IsBlank(lines[k]); ++k, first = false) {
      if (hasArrow(lines[k])) {
        throw LoadError(static_cast<int>(k) + 1,
                        "字幕文本里出现了“ --> ”，分不清哪一行是时间行（是否少了一个空行？）");
      }
      if (!first) sub.Dialogue += "||";
      sub.Dialogue += lines[k];
    }
    ++k;  // past the empty line
  }

  if (n >= 2) {
    auto& subs = doc.Subs;
    subs[0].TimeIn = std::max(subs[0].TimeIn, 0);
    subs[0].TimeOut = Later(subs[0].TimeOut, subs[0].TimeIn + minGap);
    for (size_t i = 1; i < n; ++i) {
      subs[i].TimeIn = Later(subs[i].TimeIn, subs[i - 1].TimeOut + 2);
      subs[i].TimeOut = Later(subs[i].TimeOut, subs[i].TimeIn + minGap);
    }
  }
}

bool ParseAss(const std::vector<std::string>& lines, int32_t minGap, int32_t savedSubCurr,
              int32_t layer, SubtitleDocument& doc) {
  const bool anyEvent = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find(EVENT_PREFIX) != std::string::npos;
  });
  doc.AssLines.assign(lines.size(), TAssOriginal{});
  for (size_t j = 0; j < lines.size(); ++j) {
    TAssOriginal& a = doc.AssLines[j];
    a.index = static_cast<int32_t>(j);
    a.Original = lines[j];
    if (!IsEventLine(lines[j])) continue;

    a.Layer = EventLayer(lines[j]);
    std::string_view s = lines[j];
    if (size_t comma = s.find(','); comma != std::string_view::npos) s.remove_prefix(comma + 1);
    size_t used = 0;
    try {
      a.TimeIn = ReadAssTime(s, used);
      s.remove_prefix(used);
      a.TimeOut = ReadAssTime(s, used);
      s.remove_prefix(used);
    } catch (const TimeTextError& e) {
      throw LoadError(static_cast<int>(j) + 1,
                      "时间“" + e.text() + "”看不懂，应为“0:00:01.00”的样式");
    }
    a.TimeOut = Later(a.TimeOut, a.TimeIn + minGap);
    std::string_view t = s;
    for (int f = 0; f < 6; ++f) {
      if (size_t comma = t.find(','); comma != std::string_view::npos) t.remove_prefix(comma + 1);
    }
    a.Dialogue = std::string(t);
    a.DoNotCare = std::string(s.substr(0, s.size() - t.size()));
  }

  // The layer to edit: the one asked for, or the next lower one that has events.
  std::vector<int32_t> events;
  int32_t L = layer;
  for (; L >= 0; --L) {
    for (const auto& a : doc.AssLines) {
      if (a.Layer == L) events.push_back(a.index);
    }
    if (!events.empty()) break;
  }
  if (events.empty()) return false;
  doc.SubLayer = L;

  // By start time; of equal starts the later line first.
  std::sort(events.begin(), events.end(), [&](int32_t x, int32_t y) {
    const auto& a = doc.AssLines[x];
    const auto& b = doc.AssLines[y];
    return a.TimeIn != b.TimeIn ? a.TimeIn < b.TimeIn : x > y;
  });
  doc.AssEvents.resize(events.size());
  for (size_t k = 0; k < events.size(); ++k) {
    const auto& a = doc.AssLines[events[k]];
    doc.AssEvents[k] = {a.index, a.TimeIn, a.TimeOut, a.Dialogue};
  }

  // Overlapping events make one entry.
  doc.SubsBase.clear();
  for (size_t k = 0; k < doc.AssEvents.size();) {
    const auto& e = doc.AssEvents[k];
    TSub entry{static_cast<int32_t>(k), static_cast<int32_t>(k), e.TimeIn, e.TimeOut, e.Dialogue,
               false};
    for (++k; k < doc.AssEvents.size() && doc.AssEvents[k].TimeIn < entry.TimeOut; ++k) {
      const auto& next = doc.AssEvents[k];
      entry.TimeIn = std::min(entry.TimeIn, next.TimeIn);
      entry.TimeOut = std::max(entry.TimeOut, next.TimeOut);
      entry.Dialogue += "||" + next.Dialogue;
      entry.IndexEnd = static_cast<int32_t>(k);
    }
    doc.SubsBase.push_back(std::move(entry));
  }

  doc.Subs.assign(doc.SubsBase.size(), TSub{});
  for (size_t i = 0; i < doc.SubsBase.size(); ++i) {
    const TSub& b = doc.SubsBase[i];
    doc.Subs[i] = {b.IndexBegin, b.IndexEnd, b.TimeIn, b.TimeOut, StripOverrides(b.Dialogue), false};
  }
  doc.SubCurr = ClampSubCurr(anyEvent ? savedSubCurr : -1, doc.Subs.size());
  return true;
}

bool SubtitleLoad(EditorState& st, int32_t Layer) {
  SubtitleDocument doc;
  doc.TmpFileName = st.BaseFileName + ".tmp";
  doc.SubUtf8Bom = st.SubUtf8Bom;
  std::string layerBox = st.Ctrl.LabeledEditLayer;

  auto notReady = [&](const std::string& message) {
    st.Tell(message);
    st.Pictures.ImageReadyGo = false;
    st.Pictures.ImageVideoYes = false;
    st.Pictures.ImageNotReady = true;
    st.Pictures.ImageVideoNon = true;
    return false;
  };

  // Which file: ASS before SSA before SRT; none makes a new ASS file.
  const std::string base = st.BaseFileName;
  bool create = false;
  if (FileExists(base + ".ass")) {
    doc.SubFormat = FORMAT_ASS;
    doc.SubFileName = base + ".ass";
  } else if (FileExists(base + ".ssa")) {
    doc.SubFormat = FORMAT_SSA;
    doc.SubFileName = base + ".ssa";
  } else if (FileExists(base + ".srt")) {
    doc.SubFormat = FORMAT_SRT;
    doc.SubFileName = base + ".srt";
  } else {
    doc.SubFormat = FORMAT_ASS;
    doc.SubFileName = base + ".ass";
    create = true;
  }

  if (create) {
    const std::string txtName = base + ".txt";
    std::vector<std::string> lines;
    CodePage codePage = CodePage::Utf8;
    try {
      if (FileExists(txtName)) {
        DecodedText script;
        try {
          script = DecodeTextFile(ReadFileBytes(txtName));
        } catch (const TextDecodeError& e) {
          return notReady(txtName + "\r" + LineNo(e.line()) + e.what());
        }
        doc.SubUtf8Bom = script.Utf8Bom;
        lines = NewAssFileLines(&script.Lines);
      } else {
        lines = NewAssFileLines(nullptr);
      }
      WriteFileThroughTemp(doc.SubFileName, doc.TmpFileName,
                           EncodeTextFile(lines, doc.SubUtf8Bom, codePage));
    } catch (const FileError& e) {
      return notReady(e.path() + "\r" + "无法新建字幕文件：" + e.what());
    }
    doc.SubDirty = true;
    layerBox = "0";
  }

  // Read the file.
  DecodedText text;
  try {
    const auto size = FileSizeOf(doc.SubFileName);
    if (size && *size < 3) return notReady(doc.SubFileName + "\r" + "看起来字节数不对，请检查。");
    text = DecodeTextFile(ReadFileBytes(doc.SubFileName));
  } catch (const FileError& e) {
    return notReady(doc.SubFileName + "\r" + e.what());
  } catch (const TextDecodeError& e) {
    return notReady(doc.SubFileName + "\r" + LineNo(e.line()) + e.what());
  }
  doc.SubUtf8Bom = text.Utf8Bom;
  doc.SubCodePage = text.Utf16 ? CodePage::Utf8 : text.Plain;

  const int32_t minGap = MinGap(st.Ctrl);
  const int32_t savedSubCurr = st.Ini.ReadInteger("setup", "SubCurr", 0);
  try {
    if (doc.SubFormat == FORMAT_SRT) {
      ParseSrt(text.Lines, minGap, savedSubCurr, doc);
    } else {
      if (!ParseAss(text.Lines, minGap, savedSubCurr, Layer, doc)) {
        const std::string layerText = std::to_string(Layer);
        return notReady(doc.SubFileName + "中的" + layerText.substr(layerText.size() - 1) +
                        "层没有可用的对白，请复核。" + "\r" +
                        "或者请删除对应的字幕文件，让程序自动新建。");
      }
      if (doc.SubLayer < Layer) {
        const std::string layerText = std::to_string(doc.SubLayer);
        layerBox = layerText.substr(layerText.size() - 1);
      }
    }
  } catch (const LoadError& e) {
    return notReady(doc.SubFileName + "\r" + LineNo(e.line()) + e.what());
  }

  // The coverage map: one cell per slot of the sound, plus 10 s to spare.
  size_t slots = 0;
  if (st.SizeMapFromSubs) {
    // Up to the latest out time, but no more than a day: entries past the map are still
    // covered up to its last cell.
    for (const auto& s : doc.Subs) slots = std::max<size_t>(slots, std::max(s.TimeOut, 0) + 1);
    slots = std::min<size_t>(slots, 24 * 360000);
  } else {
    const auto wsSize = FileSizeOf(st.WsFileName);
    if (!wsSize) return notReady(st.WsFileName + "\r" + "波形文件无法读取，请重新打开视频。");
    slots = static_cast<size_t>(*wsSize / 2);
  }
  // A fresh map is blank (false, 0); with entries, every cell not theirs is (false, -1).
  doc.WavSel.assign(slots + 1000, TWavSelect{false, 0});
  if (!doc.Subs.empty()) doc.WavSel.Rebuild(TWavSelect{false, -1}, doc.Subs);

  static_cast<SubtitleDocument&>(st) = std::move(doc);
  st.Ctrl.LabeledEditLayer = layerBox;
  st.Caption = st.SubFileName + "　—　" + PROGRAM_TITLE;
  return true;
}

}  // namespace tamsel
