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

/// An SRT entry's number: digits alone, spaces around them allowed.
bool IsIndexLine(std::string_view line) {
  const size_t from = line.find_first_not_of(" \t");
  if (from == std::string_view::npos) return false;
  const size_t to = line.find_last_not_of(" \t");
  return line.substr(from, to - from + 1).find_first_not_of("0123456789") == std::string_view::npos;
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
  // Removing a block can bring a "{" before it and a backslash after it together into a new
  // block, which goes too. The text kept so far never holds a block's start, so the first one
  // left is always where the kept text meets the next character: one pass, however many blocks.
  if (text.find("{\\") == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\\' && !out.empty() && out.back() == '{') {
      const size_t close = text.find('}', i + 1);
      if (close == std::string::npos) break;  // an unclosed block stays as it is, and the rest
      out.pop_back();
      i = close + 1;
      continue;
    }
    out += c;
    ++i;
  }
  out.append(text, i, std::string::npos);
  return out;
}

void ParseSrt(const std::vector<std::string>& lines, int32_t minGap, int32_t savedSubCurr,
              SubtitleDocument& doc) {
  const auto hasArrow = [](const std::string& l) { return l.find(ARROW) != std::string::npos; };
  // Every line with the arrow is a time line; an entry's number stands on the line before it.
  std::vector<size_t> timeLines;
  for (size_t k = 0; k < lines.size(); ++k) {
    if (hasArrow(lines[k])) timeLines.push_back(k);
  }
  const size_t n = timeLines.size();
  doc.Subs.assign(n, TSub{});
  doc.SrtHead.clear();
  doc.SubCurr = ClampSubCurr(savedSubCurr, n);
  if (n == 0) return;

  // The line just before a time line is the entry's number when it is one; every other line that
  // is not blank belongs to the text before it, also after a blank line inside a text (files
  // from the web often have those), so that a save never drops a line of text.
  const auto textEnd = [&](size_t j) {
    if (j + 1 >= n) return lines.size();
    const size_t next = timeLines[j + 1];
    return IsIndexLine(lines[next - 1]) && next - 1 > timeLines[j] ? next - 1 : next;
  };
  const size_t firstText = timeLines[0] > 0 && IsIndexLine(lines[timeLines[0] - 1])
                               ? timeLines[0] - 1
                               : timeLines[0];
  for (size_t k = 0; k < firstText; ++k) {
    if (!IsBlank(lines[k])) doc.SrtHead.push_back(lines[k]);
  }
  for (size_t j = 0; j < n; ++j) {
    TSub& sub = doc.Subs[j];
    const size_t k = timeLines[j];
    size_t used = 0;
    try {
      used = ReadSrtTimeLine(lines[k], sub.TimeIn, sub.TimeOut);
    } catch (const TimeTextError&) {
      throw LoadError(static_cast<int>(k) + 1, "时间行“" + Excerpt(lines[k]) +
                                                   "”看不懂，应为“00:00:01,000 --> 00:00:02,000”的样式");
    }
    sub.SrtTimeTail = lines[k].substr(used);
    sub.IndexBegin = sub.IndexEnd = static_cast<int32_t>(j) + 1;
    bool first = true;
    for (size_t t = k + 1, end = textEnd(j); t < end; ++t) {
      // A text's first line may be empty (spaces alone count as empty, as many files have them
      // there): the entry then has an empty text.
      if (IsBlank(lines[t])) continue;
      if (!first) sub.Dialogue += "||";
      sub.Dialogue += lines[t];
      first = false;
    }
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
  std::vector<std::string> copy = lines;
  return ParseAss(std::move(copy), minGap, savedSubCurr, layer, doc);
}

bool ParseAss(std::vector<std::string>&& lines, int32_t minGap, int32_t savedSubCurr,
              int32_t layer, SubtitleDocument& doc) {
  const bool anyEvent = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find(EVENT_PREFIX) != std::string::npos;
  });
  doc.AssLines.assign(lines.size(), TAssOriginal{});
  doc.LoadMinGap = minGap;
  for (size_t j = 0; j < lines.size(); ++j) {
    TAssOriginal& a = doc.AssLines[j];
    a.index = static_cast<int32_t>(j);
    if (!IsEventLine(lines[j])) {
      a.Original = std::move(lines[j]);
      continue;
    }

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
                      "时间“" + Excerpt(e.text()) + "”看不懂，应为“0:00:01.00”的样式");
    }
    a.TimeOut = Later(a.TimeOut, a.TimeIn + minGap);
    std::string_view t = s;
    for (int f = 0; f < 6; ++f) {
      if (size_t comma = t.find(','); comma != std::string_view::npos) t.remove_prefix(comma + 1);
    }
    a.Dialogue = std::string(t);
    a.DoNotCare = std::string(s.substr(0, s.size() - t.size()));
    // The line itself is taken, not copied: a long file's text is not held twice.
    a.Original = std::move(lines[j]);
  }
  std::vector<std::string>().swap(lines);

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

std::optional<size_t> MapSlots(const EditorState& st, const std::vector<TSub>& subs) {
  if (st.SizeMapFromSubs) {
    // Up to the latest out time, but no more than a day: entries past the map are still
    // covered up to its last cell.
    size_t slots = 0;
    for (const auto& s : subs) slots = std::max<size_t>(slots, std::max(s.TimeOut, 0) + 1);
    return std::min<size_t>(slots, 24 * 360000);
  }
  const auto wsSize = FileSizeOf(st.WsFileName);
  if (!wsSize) return std::nullopt;
  return static_cast<size_t>(*wsSize / 2);
}

void MakeCoverageMap(CoverageMap& map, size_t slots, const std::vector<TSub>& subs) {
  // A fresh map is blank (false, 0); with entries, every cell not theirs is (false, -1).
  map.assign(slots + 1000, TWavSelect{false, 0});
  if (!subs.empty()) map.Rebuild(TWavSelect{false, -1}, subs);
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
  doc.SubCodePage = text.Wide() ? CodePage::Utf8 : text.Plain;

  const int32_t minGap = MinGap(st.Ctrl);
  const int32_t savedSubCurr = st.Ini.ReadInteger("setup", "SubCurr", 0);
  try {
    if (doc.SubFormat == FORMAT_SRT) {
      ParseSrt(text.Lines, minGap, savedSubCurr, doc);
      // A file with text but no entry the editor can read is not an empty document: loading it
      // as one would let the next save write nothing over it.
      if (doc.Subs.empty() && !std::all_of(text.Lines.begin(), text.Lines.end(),
                                           [](const std::string& l) { return IsBlank(l); })) {
        return notReady(doc.SubFileName + "\r" +
                        "没有找到一条能读懂的字幕：时间行应为“00:00:01,000 --> 00:00:02,000”的样式"
                        "（箭头两边各有一个空格）。文件没有载入，也不会被改动。");
      }
    } else {
      if (!ParseAss(std::move(text.Lines), minGap, savedSubCurr, Layer, doc)) {
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

  const auto slots = MapSlots(st, doc.Subs);
  if (!slots) return notReady(st.WsFileName + "\r" + "波形文件无法读取，请重新打开视频。");
  MakeCoverageMap(doc.WavSel, *slots, doc.Subs);

  static_cast<SubtitleDocument&>(st) = std::move(doc);
  st.Ctrl.LabeledEditLayer = layerBox;
  st.Caption = st.SubFileName + "　—　" + PROGRAM_TITLE;
  return true;
}

}  // namespace tamsel
