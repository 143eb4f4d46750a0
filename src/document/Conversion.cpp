#include "Conversion.h"

#include <algorithm>
#include <tuple>

#include "FileIo.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TextCodec.h"
#include "TimeText.h"

namespace tamsel {

namespace {

constexpr int32_t PARK_AFTER = 2880100;  // 8:00:01.00, where appended entries start at the earliest

/// The first event line of an ASS/SSA file (0 when there is none).
size_t FirstEventLine(const std::vector<TAssOriginal>& lines) {
  for (size_t j = 0; j < lines.size(); ++j) {
    if (IsEventLine(lines[j].Original)) return j;
  }
  return 0;
}

/// How long a new entry with `text` stays, by the speaking-speed setting.
int64_t LengthEstimate(const std::string& text, int speed) {
  return static_cast<int64_t>(text.size() * 20 / static_cast<size_t>(speed + 1));
}

/// Parking times for appended entries: from `t` on, each as long as its text needs and 1 s
/// apart, never past the latest time a file may hold.
class Parking {
 public:
  explicit Parking(int64_t start) : m_t(start) {}
  std::pair<int32_t, int32_t> Next(const std::string& text, int speed) {
    const int64_t in = std::min<int64_t>(m_t, MAX_TIME);
    const int64_t out = std::min<int64_t>(in + LengthEstimate(text, speed), MAX_TIME);
    m_t = out + 100;
    return {static_cast<int32_t>(in), static_cast<int32_t>(out)};
  }

 private:
  int64_t m_t;
};

/// An SRT file cannot hold a text line with the arrow of its time lines.
constexpr std::string_view SRT_ARROW = " --> ";

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) {
    s.replace(p, from.size(), to);
  }
}

}  // namespace

const std::vector<std::string>& SrtClosingLines() {
  static const std::vector<std::string> lines = {"28800", "08:00:00,000 --> 08:00:08,000",
                                                 "Creater:《Tamsel时间轴》", MAKER_LINE};
  return lines;
}

std::vector<std::string> SrtToAssLines(const std::vector<TSub>& subs) {
  std::vector<std::string> lines = AssTemplate();
  for (const auto& sub : subs) {
    std::string text = sub.Dialogue;
    ReplaceAll(text, "||", "\\N");
    lines.push_back(ComposeEventLine(sub.TimeIn, sub.TimeOut, text));
  }
  return lines;
}

std::vector<std::string> AssToSrtLines(const std::vector<TAssOriginal>& assLines) {
  std::vector<std::string> lines;
  const size_t j = FirstEventLine(assLines);
  for (size_t k = j; k < assLines.size(); ++k) {
    lines.push_back(std::to_string(k - j + 1));
    lines.push_back(IntToTimeStr(assLines[k].TimeIn) + " --> " + IntToTimeStr(assLines[k].TimeOut));
    lines.push_back(assLines[k].Dialogue);
    lines.emplace_back();
  }
  const auto& closing = SrtClosingLines();
  lines.insert(lines.end(), closing.begin(), closing.end());
  return lines;
}

std::vector<std::string> ScriptItems(const std::vector<std::string>& lines,
                                     const std::string& joiner) {
  std::vector<std::string> items;
  if (IsParagraphForm(lines)) {
    for (size_t i = 0; i < lines.size();) {
      while (i < lines.size() && lines[i].empty()) ++i;
      std::string item;
      for (bool first = true; i < lines.size() && !lines[i].empty(); ++i, first = false) {
        if (!first) item += joiner;
        item += lines[i];
      }
      if (!item.empty()) items.push_back(std::move(item));
    }
  } else {
    for (const auto& l : lines) {
      if (!l.empty()) items.push_back(l);
    }
  }
  return items;
}

void TabSheet23Show(EditorState& st) {
  Controls& c = st.Ctrl;
  const bool srt = st.SubFormat == FORMAT_SRT;
  if (st.Pictures.ImageReadyGo) {
    if (!FileExists(st.BaseFileName + ".txt")) c.ButtonSaveAsTxt = true;
    c.ButtonReLoadTxt = true;
    if (!FileExists(st.BaseFileName + (srt ? ".ass" : ".srt"))) c.ButtonSaveAs = true;
  } else {
    c.ButtonSaveAs = c.ButtonSaveAsTxt = c.ButtonReLoadTxt = false;
  }
  c.ButtonSaveAsCaption = srt ? "转为ASS格式" : "转为SRT格式";
}

bool ButtonSaveAsClick(EditorState& st) {
  st.Ctrl.ButtonSaveAs = false;
  const bool srt = st.SubFormat == FORMAT_SRT;
  const std::string target = st.BaseFileName + (srt ? ".ass" : ".srt");
  if (FileExists(target)) {
    st.Tell(target + "\r" + "这个文件已经存在，转换不会覆盖它。");
    return false;
  }
  if (!srt) {
    for (const auto& line : st.AssLines) {
      if (line.Dialogue.find(SRT_ARROW) != std::string::npos) {
        st.Tell(st.SubFileName + "\r" + "第" + std::to_string(line.index + 1) +
                "行的文字含有“ --> ”，SRT字幕里不能有这样的文字，请先改掉再转换。");
        return false;
      }
    }
  }
  const std::vector<std::string> lines = srt ? SrtToAssLines(st.Subs) : AssToSrtLines(st.AssLines);
  try {
    WriteFileThroughTemp(target, st.TmpFileName,
                         EncodeTextFile(lines, /*utf8Bom=*/true, CodePage::Utf8));
  } catch (const FileError& e) {
    st.Tell(target + "\r" + "转换后的文件写不进去：" + e.what());
    return false;
  }
  st.SubDirty = true;
  AppendSavedSign(st.Caption, 3);
  SubtitleLoad(st, LayerBoxValue(st.Ctrl));
  return true;
}

bool ButtonSaveAsTxtClick(EditorState& st) {
  st.Ctrl.ButtonSaveAsTxt = false;
  const std::string target = st.BaseFileName + ".txt";
  bool written = false;
  if (!FileExists(target)) {
    std::vector<std::string> lines;
    if (st.SubFormat == FORMAT_SRT) {
      for (const auto& sub : st.Subs) {
        for (auto& text : SplitDisplayLines(sub.Dialogue)) lines.push_back(std::move(text));
        lines.emplace_back();
      }
    } else {
      for (const auto& line : st.AssLines) {
        lines.push_back(line.Original);
        lines.emplace_back();
      }
    }
    try {
      WriteFileThroughTemp(target, st.TmpFileName,
                           EncodeTextFile(lines, st.SubUtf8Bom, st.SubCodePage));
      written = true;
    } catch (const std::exception& e) {
      st.Tell(target + "\r" + "文本写不进去：" + e.what());
    }
  }
  st.Ctrl.ButtonSaveAsTxt = true;
  return written;
}

bool ButtonReLoadTxtClick(EditorState& st) {
  const std::string path = st.Prompts ? st.Prompts->ChooseTxtFile() : std::string();
  if (path.empty() || !FileExists(path)) return false;

  DecodedText script;
  try {
    script = DecodeTextFile(ReadFileBytes(path));
  } catch (const FileError& e) {
    st.Tell(path + "\r" + e.what());
    return false;
  } catch (const TextDecodeError& e) {
    st.Tell(path + "\r" + "第" + std::to_string(e.line()) + "行：" + e.what());
    return false;
  }
  const bool srt = st.SubFormat == FORMAT_SRT;
  std::vector<std::string> items = ScriptItems(script.Lines, srt ? "||" : "\\N");
  if (items.empty()) {
    st.Tell(path + "\r" + "这个文本里没有一句台词，没有导入。");
    return false;
  }
  if (srt) {
    for (size_t k = 0; k < items.size(); ++k) {
      if (items[k].find(SRT_ARROW) != std::string::npos) {
        st.Tell(path + "\r" + "第" + std::to_string(k + 1) +
                "句台词含有“ --> ”，SRT字幕里不能有这样的文字，没有导入。");
        return false;
      }
    }
  }
  st.SubUtf8Bom = script.Utf8Bom;
  st.SubCodePage = script.Wide() ? CodePage::Utf8 : script.Plain;
  const int speed = st.Ctrl.TrackBarAutoVolCtrlSpeed;

  if (srt) {
    auto& subs = st.Subs;
    if (items.size() > subs.size()) {
      Parking parking(subs.empty() ? PARK_AFTER
                                   : std::max<int64_t>(subs.back().TimeOut + 100LL, PARK_AFTER));
      for (size_t k = subs.size(); k < items.size(); ++k) {
        TSub sub;
        sub.IndexBegin = sub.IndexEnd = static_cast<int32_t>(k) + 1;
        std::tie(sub.TimeIn, sub.TimeOut) = parking.Next(items[k], speed);
        subs.push_back(std::move(sub));
      }
    }
    for (size_t k = 0; k < subs.size(); ++k) {
      subs[k].Dialogue = k < items.size() ? items[k] : PLACEHOLDER_TEXT;
    }
  } else {
    // Items go to the event lines from the first one on, in file order; comment and blank
    // lines between them keep their place and their text.
    auto& lines = st.AssLines;
    std::vector<size_t> region;
    for (size_t j = FirstEventLine(lines); j < lines.size(); ++j) {
      if (IsEventLine(lines[j].Original)) region.push_back(j);
    }
    if (items.size() > region.size()) {
      Parking parking(region.empty()
                          ? PARK_AFTER
                          : std::max<int64_t>(lines[region.back()].TimeOut + 100LL, PARK_AFTER));
      for (size_t k = region.size(); k < items.size(); ++k) {
        TAssOriginal line;
        line.index = static_cast<int32_t>(lines.size());
        line.Layer = 0;
        std::tie(line.TimeIn, line.TimeOut) = parking.Next(items[k], speed);
        line.DoNotCare = "Default,,0000,0000,0000,,";
        region.push_back(lines.size());
        lines.push_back(std::move(line));
      }
    }
    for (size_t k = 0; k < region.size(); ++k) {
      TAssOriginal& line = lines[region[k]];
      line.Dialogue = k < items.size() ? items[k] : PLACEHOLDER_TEXT;
      line.Original = RebuildEventLine(line);
    }
  }
  st.SubDirty = true;
  // The reload reads the file back; when the save failed it would throw the imported texts
  // away, so they stay in memory for the autosave to write instead.
  if (!SubtitleSave(st)) return false;
  SubtitleLoad(st, LayerBoxValue(st.Ctrl));
  return true;
}

}  // namespace tamsel
