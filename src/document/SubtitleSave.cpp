#include "SubtitleSave.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "FileIo.h"
#include "TextCodec.h"
#include "TimeText.h"

namespace tamsel {

namespace {

/// Round to the nearest integer, halves to even, kept within 32 bits.
int32_t RoundHalfEven(double v) {
  const double r = std::nearbyint(v);
  if (r >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (r <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int32_t>(r);
}

int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

void SetEventTimes(SubtitleDocument& doc, TAssSort& e, int32_t timeIn, int32_t timeOut) {
  e.TimeIn = timeIn;
  e.TimeOut = timeOut;
  TAssOriginal& line = doc.AssLines[e.index];
  line.TimeIn = timeIn;
  line.TimeOut = timeOut;
  line.Original = RebuildEventLine(line);
}

constexpr std::string_view CRLF = "\r\n";

}  // namespace

void AppendSavedSign(std::string& caption, int count) {
  // A sign still fading from the last write is replaced, not lengthened.
  const std::string sign = SAVED_SIGN;
  while (caption.ends_with(sign)) caption.erase(caption.size() - sign.size());
  for (int i = 0; i < count; ++i) caption += sign;
}

void AppendEventLineHead(std::string& out, const TAssOriginal& line) {
  if (line.Original.starts_with("Dialogue:")) {
    const size_t comma = line.Original.find(',');
    if (comma != std::string::npos) {
      out.append(line.Original, 0, comma + 1);
      return;
    }
  }
  out += "Dialogue: " + std::to_string(std::max(line.Layer, 0)) + ",";
}

std::string EventLineHead(const TAssOriginal& line) {
  std::string head;
  AppendEventLineHead(head, line);
  return head;
}

std::string RebuildEventLine(const TAssOriginal& line) {
  return EventLineHead(line) + IntToTimeAssStr(line.TimeIn) + "," + IntToTimeAssStr(line.TimeOut) +
         "," + line.DoNotCare + line.Dialogue;
}

std::vector<std::string> SplitDisplayLines(const std::string& d) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t bar; (bar = d.find("||", from)) != std::string::npos; from = bar + 2) {
    out.push_back(d.substr(from, bar - from));
  }
  out.push_back(d.substr(from));
  return out;
}

std::string SrtFileText(const std::vector<TSub>& subs, const std::vector<std::string>& head) {
  std::string out;
  AppendSrtFileText(out, subs, head);
  return out;
}

void AppendSrtFileText(std::string& out, const std::vector<TSub>& subs,
                       const std::vector<std::string>& head) {
  for (const auto& line : head) out.append(line).append(CRLF);
  if (!head.empty()) out.append(CRLF);
  // Each entry takes its text (every "||" becoming a line break of the same length) plus its
  // number, two times and the fixed marks: written straight into room of that size.
  constexpr size_t FIXED = 20 + 2 * TIME_TEXT_MAX + 5 + 4 * 2;
  size_t most = 0;
  for (const auto& sub : subs) most += sub.Dialogue.size() + sub.SrtTimeTail.size() + FIXED;
  const size_t start = out.size();
  out.resize(start + most);
  char* p = out.data() + start;
  const auto put = [&p](std::string_view text) { p = std::copy(text.begin(), text.end(), p); };
  for (size_t i = 0; i < subs.size(); ++i) {
    p = std::to_chars(p, p + 20, i + 1).ptr;
    put(CRLF);
    p = WriteTimeStr(p, subs[i].TimeIn);
    put(" --> ");
    p = WriteTimeStr(p, subs[i].TimeOut);
    put(subs[i].SrtTimeTail);
    put(CRLF);
    // Each "||" of the text starts another line.
    const std::string_view d = subs[i].Dialogue;
    size_t from = 0;
    for (size_t bar; (bar = d.find("||", from)) != std::string_view::npos; from = bar + 2) {
      put(d.substr(from, bar - from));
      put(CRLF);
    }
    put(d.substr(from));
    put(CRLF);
    put(CRLF);
  }
  out.resize(static_cast<size_t>(p - out.data()));
}

std::vector<std::string> SrtFileLines(const std::vector<TSub>& subs,
                                      const std::vector<std::string>& head) {
  return SplitLines(SrtFileText(subs, head));
}

std::string AssFileText(const std::vector<TAssOriginal>& lines) {
  std::string out;
  AppendAssFileText(out, lines);
  return out;
}

void AppendAssFileText(std::string& out, const std::vector<TAssOriginal>& lines) {
  size_t total = out.size();
  for (const auto& line : lines) total += line.Original.size() + 2;
  out.reserve(total);
  for (const auto& line : lines) out.append(line.Original).append(CRLF);
}

void ApplyChangedEntries(SubtitleDocument& doc) {
  for (size_t i = 0; i < doc.Subs.size() && i < doc.SubsBase.size(); ++i) {
    TSub& sub = doc.Subs[i];
    if (!sub.Changed) continue;
    TSub& base = doc.SubsBase[i];
    if (base.IndexBegin == base.IndexEnd) {
      SetEventTimes(doc, doc.AssEvents[base.IndexBegin], sub.TimeIn, sub.TimeOut);
    } else {
      // The merged events move and stretch with the entry. An entry last written with no span
      // has nothing to stretch: its events only move.
      const int64_t baseSpan = static_cast<int64_t>(base.TimeOut) - base.TimeIn;
      const float scale =
          baseSpan == 0 ? 1.0f
                        : static_cast<float>(static_cast<double>(int64_t(sub.TimeOut) - sub.TimeIn) /
                                             static_cast<double>(baseSpan));
      for (int32_t k = base.IndexBegin; k <= base.IndexEnd; ++k) {
        TAssSort& e = doc.AssEvents[k];
        const int64_t s = e.TimeIn;
        const int64_t d = static_cast<int64_t>(e.TimeOut) - s;
        const int32_t start = Saturate(
            int64_t(sub.TimeIn) + RoundHalfEven(static_cast<double>(s - base.TimeIn) * scale));
        const int32_t end =
            Saturate(int64_t(start) + RoundHalfEven(static_cast<double>(d) * scale));
        SetEventTimes(doc, e, start, end);
      }
    }
    base.TimeIn = sub.TimeIn;
    base.TimeOut = sub.TimeOut;
    sub.Changed = false;
  }
}

namespace {

/// Whether the file at `path` holds anything but white space (false when it cannot be read).
bool HoldsText(const std::string& path) {
  try {
    const std::string bytes = ReadFileBytes(path);
    return bytes.find_first_not_of(std::string_view(" \t\r\n\xEF\xBB\xBF\xFF\xFE\0", 10)) !=
           std::string::npos;
  } catch (const FileError&) {
    return false;
  }
}

}  // namespace

bool SubtitleSave(EditorState& st) {
  if (st.SubFormat != FORMAT_SRT) ApplyChangedEntries(st);
  try {
    // A document without a single entry is never written over a file that holds text.
    if (st.SubFormat == FORMAT_SRT && st.Subs.empty() && HoldsText(st.SubFileName)) {
      throw FileError(st.SubFileName, "文档里一条字幕也没有，不会用空文件覆盖原有的内容");
    }
    // The text is put together in the state's buffer, whose memory is kept from save to save.
    std::string& text = st.SaveBuffer;
    text.clear();
    if (st.SubFormat == FORMAT_SRT) {
      AppendSrtFileText(text, st.Subs, st.SrtHead);
    } else {
      AppendAssFileText(text, st.AssLines);
    }
    EncodeTextInPlace(text, st.SubUtf8Bom, st.SubCodePage);
    // Once per document: what saves that were killed left beside the file is removed.
    if (!st.LeftoversRemoved) {
      RemoveLeftoverTemporaries({TemporaryPathFor(st.SubFileName, st.TmpFileName)});
      st.LeftoversRemoved = true;
    }
    WriteFileThroughTemp(st.SubFileName, st.TmpFileName, text);
  } catch (const std::exception& e) {
    if (!st.SaveFailureReported) {
      st.SaveFailureReported = true;
      st.Tell(st.SubFileName + "\r" + "字幕保存失败：" + e.what() + "\r" +
              (st.SaveRetries ? "修改仍保留在程序中，会继续尝试保存。" : "修改没有保存。"));
    }
    return false;
  }
  st.SubDirty = false;
  st.SaveFailureReported = false;
  AppendSavedSign(st.Caption, st.SubFormat == FORMAT_SRT ? 1 : 3);
  return true;
}

void Timer4SaveFileTimer(EditorState& st) {
  if (st.SubDirty) {
    if (--st.SaveCountdown < 0) {
      SubtitleSave(st);
      st.SaveCountdown = st.Ctrl.RadioGroupPower;
    }
    return;
  }
  if (st.Caption.ends_with(SAVED_SIGN)) {
    st.Caption.erase(st.Caption.size() - std::string_view(SAVED_SIGN).size());
  }
}

void KeepSubCurr(EditorState& st) {
  st.Ini.WriteInteger("setup", "SubCurr", st.SubCurr);
  try {
    st.Ini.UpdateFile();
  } catch (const FileError&) {
    // Losing the remembered subtitle index is not worth holding up the user for.
  }
}

void CloseDocument(EditorState& st) {
  if ((st.Pictures.ImageReadyGo || st.ReadyState == 2) && st.SubDirty) SubtitleSave(st);
  KeepSubCurr(st);
}

}  // namespace tamsel
