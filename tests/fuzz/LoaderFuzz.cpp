// Fuzz target for the subtitle loader: the bytes of a subtitle file or a text script go through
// the decoder and the SRT/ASS parsers, the document that comes out is checked, then saved and
// read back the way the editor does it.
//
// The first byte says what the rest is:
//   bits 0-1  0 an SRT file, 1 an ASS/SSA file, 2 a text script for a new ASS file,
//             3 a revised text script to re-import (ScriptItems)
//   bits 2-3  the ASS/SSA layer asked for, 0..3
//   bits 4-6  the minimum-length setting (TrackBarMinTime, taken modulo 6)
//   bit  7    the remembered current entry: 7 when set, else 0
//
// A broken rule prints what broke and aborts, so that libFuzzer and fuzz_replay both stop there.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "Controls.h"
#include "Conversion.h"
#include "EditorState.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TextCodec.h"
#include "TimeText.h"

namespace tamsel {
namespace {

[[noreturn]] void Broken(const char* rule, const char* file, int line,
                         const std::string& detail = {}) {
  std::fprintf(stderr, "%s:%d: broken: %s\n", file, line, rule);
  if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(rule) ((rule) ? void(0) : Broken(#rule, __FILE__, __LINE__))
#define FUZZ_FAIL(rule, detail) Broken(rule, __FILE__, __LINE__, detail)

using Lines = std::vector<std::string>;

constexpr std::string_view BOM = "\xEF\xBB\xBF";
constexpr std::string_view EVENT_PREFIX = "Dialogue:";
/// The arrow of an SRT time line, which no SRT text line may hold.
constexpr std::string_view SRT_ARROW = " --> ";

struct Setup {
  int Mode = 0;
  int32_t Layer = 0;
  int32_t MinGap = 50;
  int32_t SavedSubCurr = 0;
};

Setup SetupFrom(uint8_t b) {
  Controls c;
  c.TrackBarMinTime = ((b >> 4) & 7) % 6;
  Setup s;
  s.Mode = b & 3;
  s.Layer = (b >> 2) & 3;
  s.MinGap = MinGap(c);
  s.SavedSubCurr = (b & 0x80) ? 7 : 0;
  return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool IsAscii(const Lines& lines) {
  for (const auto& l : lines) {
    for (char c : l) {
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
  }
  return true;
}

/// True when a display line holds nothing but white space (ASCII blanks or U+3000): such a line
/// may be taken for the empty line that ends an SRT text.
bool MayReadAsBlank(std::string_view s) {
  while (!s.empty()) {
    if (s.front() == ' ' || s.front() == '\t' || s.front() == '\v' || s.front() == '\f') {
      s.remove_prefix(1);
    } else if (StartsWith(s, "\xE3\x80\x80")) {
      s.remove_prefix(3);
    } else {
      return false;
    }
  }
  return true;
}

/// True when an entry's text comes back unchanged from an SRT file: it is empty, or none of its
/// display lines can read as the empty line that ends a text.
bool SrtKeepsText(const std::string& dialogue) {
  if (dialogue.empty()) return true;
  for (const auto& piece : SplitDisplayLines(dialogue)) {
    if (MayReadAsBlank(piece)) return false;
  }
  return true;
}

std::string Join(const Lines& lines, const std::string& joiner) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += joiner;
    out += lines[i];
  }
  return out;
}

DecodedText MustDecode(std::string_view bytes, const char* what) {
  try {
    return DecodeTextFile(bytes);
  } catch (const TextDecodeError& e) {
    FUZZ_FAIL(what, "line " + std::to_string(e.line()) + ": " + e.what());
  }
}

std::string MustEncode(const Lines& lines, bool utf8Bom, CodePage plain, const char* what) {
  try {
    return EncodeTextFile(lines, utf8Bom, plain);
  } catch (const std::exception& e) {
    FUZZ_FAIL(what, e.what());
  }
}

void CheckSubCurr(const SubtitleDocument& doc) {
  if (doc.Subs.empty()) {
    FUZZ_CHECK(doc.SubCurr == -1);
  } else {
    FUZZ_CHECK(doc.SubCurr >= 0 && static_cast<size_t>(doc.SubCurr) < doc.Subs.size());
  }
}

// ---------------------------------------------------------------------------------------------
// Text codec

void CheckDecoded(const DecodedText& text) {
  FUZZ_CHECK(!(text.Utf8Bom && text.Wide()));
  for (const auto& line : text.Lines) {
    FUZZ_CHECK(IsValidUtf8(line));
    FUZZ_CHECK(!HasLineBreak(line));
  }
}

/// Decoded lines (which hold no CR or LF, see CheckDecoded) written back in every encoding the
/// editor writes come back equal, as far as the bytes cannot be read as another encoding.
void CheckCodecRoundTrip(const DecodedText& text) {
  const Lines& lines = text.Lines;

  const DecodedText marked =
      MustDecode(MustEncode(lines, true, CodePage::Utf8, "UTF-8 with the mark encodes"),
                 "UTF-8 with the mark decodes");
  FUZZ_CHECK(marked.Utf8Bom && !marked.Utf16);
  FUZZ_CHECK(marked.Lines == lines);

  // Text with many NUL characters written without a mark reads as UTF-16 that lost its mark,
  // which the reader refuses, as it does such files from elsewhere.
  const std::string utf8 = MustEncode(lines, false, CodePage::Utf8, "UTF-8 encodes");
  if (!LooksLikeUtf16(utf8)) {
    const DecodedText plain = MustDecode(utf8, "UTF-8 decodes");
    FUZZ_CHECK(!plain.Utf16);
    if (!lines.empty() && StartsWith(lines[0], BOM)) {
      // A first line that starts with U+FEFF reads as the mark once the mark is left out.
      Lines expected = lines;
      expected[0].erase(0, BOM.size());
      FUZZ_CHECK(plain.Utf8Bom);
      FUZZ_CHECK(plain.Lines == expected);
    } else {
      FUZZ_CHECK(!plain.Utf8Bom && plain.Plain == CodePage::Utf8);
      FUZZ_CHECK(plain.Lines == lines);
    }
  }

  // Text read from GB18030 always goes back into it. Other text may hold one of the few private
  // use characters GB18030-2005 moved elsewhere, which iconv refuses to write.
  const bool fromGb = !text.Utf8Bom && !text.Wide() && text.Plain == CodePage::Gb18030;
  std::string gb;
  if (fromGb || IsAscii(lines)) {
    gb = MustEncode(lines, false, CodePage::Gb18030, "GB18030 text encodes");
  } else {
    try {
      gb = EncodeTextFile(lines, false, CodePage::Gb18030);
    } catch (const std::exception&) {
      return;
    }
  }
  // GB18030 bytes that start like the UTF-8 mark, or happen to be valid UTF-8, read otherwise.
  if (StartsWith(gb, BOM) || LooksLikeUtf16(gb)) return;
  const DecodedText back = MustDecode(gb, "GB18030 decodes");
  FUZZ_CHECK(!back.Utf8Bom && !back.Utf16);
  if (back.Plain == CodePage::Gb18030 || IsAscii(lines)) FUZZ_CHECK(back.Lines == lines);
}

/// A file composed as `text` and written as SubtitleSave writes it, in the encoding `source` was
/// read in, then read as SubtitleLoad reads it. The lines come back as composed whenever the
/// bytes read in the encoding they were written in, and are returned; otherwise (GB18030 bytes
/// that happen to be valid UTF-8, or a first line starting with U+FEFF written without the
/// mark) the composed lines are returned.
Lines SaveAndReadBack(const std::string& text, const DecodedText& source, const char* what) {
  FUZZ_CHECK(text.empty() || text.ends_with("\r\n"));
  const Lines composed = SplitLines(text);
  // Only GB18030 files are written in GB18030, and what is saved is made of their text.
  const bool bom = source.Utf8Bom;
  const CodePage plain = source.Wide() ? CodePage::Utf8 : source.Plain;
  std::string bytes;
  try {
    bytes = EncodeText(text, bom, plain);
  } catch (const std::exception& e) {
    FUZZ_FAIL(what, e.what());
  }
  if (!bom && (StartsWith(bytes, BOM) || LooksLikeUtf16(bytes))) return composed;
  const DecodedText back = MustDecode(bytes, what);
  if (back.Utf8Bom != bom || back.Wide() || (!bom && back.Plain != plain)) return composed;
  FUZZ_CHECK(back.Lines == composed);
  return back.Lines;
}

// ---------------------------------------------------------------------------------------------
// SRT

void CheckSrtDocument(const SubtitleDocument& doc, int32_t minGap) {
  const auto& subs = doc.Subs;
  CheckSubCurr(doc);
  for (size_t i = 0; i < subs.size(); ++i) {
    FUZZ_CHECK(subs[i].IndexBegin == static_cast<int32_t>(i) + 1);
    FUZZ_CHECK(subs[i].IndexEnd == subs[i].IndexBegin);
    FUZZ_CHECK(!subs[i].Changed);
    FUZZ_CHECK(!HasLineBreak(subs[i].Dialogue));
    if (i > 0) FUZZ_CHECK(subs[i - 1].TimeIn <= subs[i].TimeIn);
  }
  if (subs.size() >= 2) {
    FUZZ_CHECK(subs[0].TimeIn >= 0);
    // Lengths and gaps hold except where the times ran into the latest time a file may hold.
    for (size_t i = 0; i < subs.size(); ++i) {
      FUZZ_CHECK(subs[i].TimeIn <= MAX_TIME && subs[i].TimeOut <= MAX_TIME);
      if (subs[i].TimeOut == MAX_TIME) continue;
      FUZZ_CHECK(int64_t{subs[i].TimeOut} - subs[i].TimeIn >= minGap);
      if (i > 0) FUZZ_CHECK(int64_t{subs[i].TimeIn} >= int64_t{subs[i - 1].TimeOut} + 2);
    }
  }
}

/// The SRT file written for `subs` (SrtFileText) loads again: the same entries at the same times,
/// and the same texts unless a display line reads as the end of the text.
void CheckSrtReadsBack(const std::vector<TSub>& subs, const Lines& head, const DecodedText& source,
                       const Setup& s, const char* what) {
  const Lines lines = SaveAndReadBack(SrtFileText(subs, head), source, what);
  FUZZ_CHECK(lines == SrtFileLines(subs, head));
  SubtitleDocument again;
  try {
    ParseSrt(lines, s.MinGap, s.SavedSubCurr, again);
  } catch (const LoadError& e) {
    FUZZ_FAIL(what, "line " + std::to_string(e.line()) + ": " + e.what() + "\n  “" +
                        (e.line() >= 1 && static_cast<size_t>(e.line()) <= lines.size()
                             ? lines[e.line() - 1]
                             : std::string()) +
                        "”");
  }
  if (again.Subs.size() != subs.size()) {
    FUZZ_FAIL(
        "a saved SRT file reads back with as many entries",
        std::to_string(subs.size()) + " written, " + std::to_string(again.Subs.size()) + " read");
  }
  for (size_t i = 0; i < subs.size(); ++i) {
    const TSub& was = subs[i];
    const TSub& now = again.Subs[i];
    if (subs.size() >= 2) {
      FUZZ_CHECK(now.TimeIn == was.TimeIn && now.TimeOut == was.TimeOut);
    } else {
      // A lone entry is not normalised; negative times are written as zero.
      FUZZ_CHECK(now.TimeIn == std::max(was.TimeIn, 0));
      FUZZ_CHECK(now.TimeOut == std::max(was.TimeOut, 0));
    }
    if (SrtKeepsText(was.Dialogue)) FUZZ_CHECK(now.Dialogue == was.Dialogue);
    FUZZ_CHECK(now.SrtTimeTail == was.SrtTimeTail);
  }
  if (!subs.empty()) FUZZ_CHECK(again.SrtHead == head);
}

/// "转为ASS格式": the converted file loads with one event per entry, at the same times.
void CheckSrtToAss(const SubtitleDocument& doc, const Setup& s) {
  const Lines lines = SrtToAssLines(doc.Subs);
  SubtitleDocument ass;
  bool ok = false;
  try {
    ok = ParseAss(lines, s.MinGap, s.SavedSubCurr, 0, ass);
  } catch (const LoadError& e) {
    FUZZ_FAIL("an ASS file converted from SRT loads", e.what());
  }
  if (doc.Subs.empty()) return;
  FUZZ_CHECK(ok);
  FUZZ_CHECK(ass.SubLayer == 0);
  FUZZ_CHECK(ass.AssEvents.size() == doc.Subs.size());
  if (doc.Subs.size() >= 2) {
    // Normalised entries neither overlap nor fall short of the minimum.
    FUZZ_CHECK(ass.Subs.size() == doc.Subs.size());
    for (size_t i = 0; i < doc.Subs.size(); ++i) {
      FUZZ_CHECK(ass.Subs[i].TimeIn == doc.Subs[i].TimeIn);
      FUZZ_CHECK(ass.Subs[i].TimeOut == doc.Subs[i].TimeOut);
    }
  }
}

void FuzzSrt(const DecodedText& text, const Setup& s) {
  SubtitleDocument doc;
  doc.SubFormat = FORMAT_SRT;
  try {
    ParseSrt(text.Lines, s.MinGap, s.SavedSubCurr, doc);
  } catch (const LoadError& e) {
    FUZZ_CHECK(e.line() >= 0 && static_cast<size_t>(e.line()) <= text.Lines.size());
    return;
  }
  CheckSrtDocument(doc, s.MinGap);
  CheckSrtReadsBack(doc.Subs, doc.SrtHead, text, s, "a saved SRT file loads again");
  CheckSrtToAss(doc, s);
}

// ---------------------------------------------------------------------------------------------
// ASS / SSA

void CheckAssDocument(const SubtitleDocument& doc, const Lines& lines, int32_t layer,
                      int32_t minGap) {
  FUZZ_CHECK(doc.SubLayer >= 0 && doc.SubLayer <= layer);
  FUZZ_CHECK(doc.AssLines.size() == lines.size());
  size_t inLayer = 0;
  for (size_t j = 0; j < lines.size(); ++j) {
    const TAssOriginal& a = doc.AssLines[j];
    FUZZ_CHECK(a.index == static_cast<int32_t>(j));
    FUZZ_CHECK(a.Original == lines[j]);
    if (StartsWith(lines[j], EVENT_PREFIX)) {
      FUZZ_CHECK(a.Layer >= 0);
      FUZZ_CHECK(a.TimeOut <= MAX_TIME);
      FUZZ_CHECK(a.TimeOut == MAX_TIME || int64_t{a.TimeOut} - a.TimeIn >= minGap);
      // The layer edited is the highest one up to the one asked for that has events.
      FUZZ_CHECK(a.Layer <= doc.SubLayer || a.Layer > layer);
    } else {
      FUZZ_CHECK(a.Layer == -1);
    }
    if (a.Layer == doc.SubLayer) ++inLayer;
  }

  // The edited layer's events, each once, by start time.
  const auto& events = doc.AssEvents;
  FUZZ_CHECK(events.size() == inLayer);
  std::vector<bool> seen(lines.size(), false);
  for (size_t k = 0; k < events.size(); ++k) {
    const TAssSort& e = events[k];
    FUZZ_CHECK(e.index >= 0 && static_cast<size_t>(e.index) < lines.size());
    FUZZ_CHECK(!seen[e.index]);
    seen[e.index] = true;
    const TAssOriginal& a = doc.AssLines[e.index];
    FUZZ_CHECK(a.Layer == doc.SubLayer);
    FUZZ_CHECK(e.TimeIn == a.TimeIn && e.TimeOut == a.TimeOut && e.Dialogue == a.Dialogue);
    if (k > 0) FUZZ_CHECK(events[k - 1].TimeIn <= e.TimeIn);
  }

  // The entries cover the events exactly once and in order; overlapping events share one.
  FUZZ_CHECK(doc.SubsBase.size() == doc.Subs.size());
  FUZZ_CHECK(doc.Subs.empty() == events.empty());
  size_t next = 0;
  for (size_t i = 0; i < doc.SubsBase.size(); ++i) {
    const TSub& b = doc.SubsBase[i];
    FUZZ_CHECK(b.IndexBegin >= 0 && static_cast<size_t>(b.IndexBegin) == next);
    FUZZ_CHECK(b.IndexEnd >= b.IndexBegin && static_cast<size_t>(b.IndexEnd) < events.size());
    int32_t timeOut = events[b.IndexBegin].TimeOut;
    Lines texts;
    for (int32_t k = b.IndexBegin; k <= b.IndexEnd; ++k) {
      if (k > b.IndexBegin) FUZZ_CHECK(events[k].TimeIn < timeOut);
      timeOut = std::max(timeOut, events[k].TimeOut);
      texts.push_back(events[k].Dialogue);
    }
    FUZZ_CHECK(b.TimeIn == events[b.IndexBegin].TimeIn);
    FUZZ_CHECK(b.TimeOut == timeOut);
    FUZZ_CHECK(b.Dialogue == Join(texts, "||"));

    const TSub& sub = doc.Subs[i];
    FUZZ_CHECK(sub.IndexBegin == b.IndexBegin && sub.IndexEnd == b.IndexEnd);
    FUZZ_CHECK(sub.TimeIn == b.TimeIn && sub.TimeOut == b.TimeOut);
    FUZZ_CHECK(sub.Dialogue == StripOverrides(b.Dialogue));
    FUZZ_CHECK(!sub.Changed && !b.Changed);
    if (i > 0) {
      FUZZ_CHECK(doc.Subs[i - 1].TimeIn <= sub.TimeIn);
      FUZZ_CHECK(doc.Subs[i - 1].TimeOut <= sub.TimeIn);
    }
    next = static_cast<size_t>(b.IndexEnd) + 1;
  }
  FUZZ_CHECK(next == events.size());
  CheckSubCurr(doc);
}

Lines OriginalLines(const SubtitleDocument& doc) {
  Lines lines;
  lines.reserve(doc.AssLines.size());
  for (const auto& a : doc.AssLines) lines.push_back(a.Original);
  return lines;
}

/// Rebuilt lines load again: the same layer with as many events.
SubtitleDocument MustReload(const Lines& lines, const Setup& s, int32_t subLayer, size_t eventCount,
                            const char* what) {
  SubtitleDocument again;
  bool ok = false;
  try {
    ok = ParseAss(lines, s.MinGap, s.SavedSubCurr, s.Layer, again);
  } catch (const LoadError& e) {
    FUZZ_FAIL(what, "line " + std::to_string(e.line()) + ": " + e.what());
  }
  if (!ok) FUZZ_FAIL(what, "no layer with events");
  FUZZ_CHECK(again.SubLayer == subLayer);
  FUZZ_CHECK(again.AssEvents.size() == eventCount);
  CheckAssDocument(again, lines, s.Layer, s.MinGap);
  return again;
}

/// Saving with every entry marked changed but left where it was: only the edited layer's event
/// lines are rebuilt, at their own times, and the file reads back the same.
void CheckAssSave(const SubtitleDocument& doc, const DecodedText& text, const Setup& s) {
  SubtitleDocument saved = doc;
  for (auto& sub : saved.Subs) sub.Changed = true;
  ApplyChangedEntries(saved);

  FUZZ_CHECK(saved.AssLines.size() == doc.AssLines.size());
  FUZZ_CHECK(saved.AssEvents.size() == doc.AssEvents.size());
  for (const auto& sub : saved.Subs) FUZZ_CHECK(!sub.Changed);
  for (size_t k = 0; k < doc.AssEvents.size(); ++k) {
    const TAssSort& was = doc.AssEvents[k];
    const TAssSort& now = saved.AssEvents[k];
    FUZZ_CHECK(now.index == was.index && now.TimeIn == was.TimeIn && now.TimeOut == was.TimeOut);
  }
  for (size_t j = 0; j < doc.AssLines.size(); ++j) {
    const TAssOriginal& now = saved.AssLines[j];
    if (doc.AssLines[j].Layer == doc.SubLayer) {
      FUZZ_CHECK(now.Original == RebuildEventLine(now));
    } else {
      FUZZ_CHECK(now.Original == doc.AssLines[j].Original);
    }
  }

  const Lines lines = SaveAndReadBack(AssFileText(saved.AssLines), text, "a saved ASS file");
  FUZZ_CHECK(lines == OriginalLines(saved));
  const SubtitleDocument again =
      MustReload(lines, s, doc.SubLayer, doc.AssEvents.size(), "a saved ASS file loads again");

  // Negative times are written as zero; all others come back exactly.
  const bool negative = std::any_of(doc.AssEvents.begin(), doc.AssEvents.end(),
                                    [](const TAssSort& e) { return e.TimeIn < 0; });
  if (negative) return;
  for (size_t k = 0; k < doc.AssEvents.size(); ++k) {
    const TAssSort& was = doc.AssEvents[k];
    const TAssSort& now = again.AssEvents[k];
    FUZZ_CHECK(now.index == was.index && now.TimeIn == was.TimeIn && now.TimeOut == was.TimeOut);
    FUZZ_CHECK(now.Dialogue == was.Dialogue);
  }
  FUZZ_CHECK(again.Subs.size() == doc.Subs.size());
  for (size_t i = 0; i < doc.Subs.size(); ++i) {
    const TSub& was = doc.Subs[i];
    const TSub& now = again.Subs[i];
    FUZZ_CHECK(now.IndexBegin == was.IndexBegin && now.IndexEnd == was.IndexEnd);
    FUZZ_CHECK(now.TimeIn == was.TimeIn && now.TimeOut == was.TimeOut);
    FUZZ_CHECK(now.Dialogue == was.Dialogue);
  }
}

/// Every entry nudged as in the editor (in point 0.10 s later, out point 0.37 s later): the
/// events move and stretch with their entry, and the file still loads. Entries at the very end
/// of the time range a file may hold are left alone.
void CheckAssEdit(const SubtitleDocument& doc, const Setup& s) {
  SubtitleDocument edited = doc;
  for (auto& sub : edited.Subs) {
    if (sub.TimeOut > MAX_TIME - 1000) return;
    sub.TimeIn += 10;
    sub.TimeOut += 37;
    sub.Changed = true;
  }
  ApplyChangedEntries(edited);

  for (size_t i = 0; i < edited.Subs.size(); ++i) {
    const TSub& sub = edited.Subs[i];
    const TSub& base = edited.SubsBase[i];
    FUZZ_CHECK(!sub.Changed);
    FUZZ_CHECK(base.TimeIn == sub.TimeIn && base.TimeOut == sub.TimeOut);
    // The entry's first event starts with it; none starts before it or ends much after it
    // (each event's start and length are rounded, and the stretch is kept as a float).
    const int64_t span = int64_t{sub.TimeOut} - sub.TimeIn;
    const int64_t slack = 2 + span / (1 << 20);
    FUZZ_CHECK(edited.AssEvents[base.IndexBegin].TimeIn == sub.TimeIn);
    for (int32_t k = base.IndexBegin; k <= base.IndexEnd; ++k) {
      const TAssSort& e = edited.AssEvents[k];
      FUZZ_CHECK(e.TimeIn >= sub.TimeIn);
      FUZZ_CHECK(int64_t{e.TimeOut} <= int64_t{sub.TimeOut} + slack);
      const TAssOriginal& line = edited.AssLines[e.index];
      FUZZ_CHECK(line.TimeIn == e.TimeIn && line.TimeOut == e.TimeOut);
      FUZZ_CHECK(line.Original == RebuildEventLine(line));
    }
  }
  MustReload(SplitLines(AssFileText(edited.AssLines)), s, doc.SubLayer, doc.AssEvents.size(),
             "an edited ASS file loads again");
}

/// "转为SRT格式": the converted file loads, one entry per line from the first event on and the
/// closing entry. (A document with a text holding the SRT arrow is not converted.)
void CheckAssToSrt(const SubtitleDocument& doc, const Setup& s) {
  for (const auto& a : doc.AssLines) {
    if (a.Dialogue.find(SRT_ARROW) != std::string::npos) return;
  }
  const Lines lines = AssToSrtLines(doc.AssLines);
  SubtitleDocument srt;
  try {
    ParseSrt(lines, s.MinGap, s.SavedSubCurr, srt);
  } catch (const LoadError& e) {
    FUZZ_FAIL("an SRT file converted from ASS loads",
              "line " + std::to_string(e.line()) + ": " + e.what());
  }
  CheckSrtDocument(srt, s.MinGap);

  SubtitleDocument closing;
  ParseSrt(SrtClosingLines(), s.MinGap, 0, closing);
  size_t first = 0;
  while (first < doc.AssLines.size() && !StartsWith(doc.AssLines[first].Original, EVENT_PREFIX)) {
    ++first;
  }
  FUZZ_CHECK(srt.Subs.size() == doc.AssLines.size() - first + closing.Subs.size());
}

void FuzzAss(const DecodedText& text, const Setup& s) {
  SubtitleDocument doc;
  bool ok = false;
  try {
    ok = ParseAss(text.Lines, s.MinGap, s.SavedSubCurr, s.Layer, doc);
  } catch (const LoadError& e) {
    FUZZ_CHECK(e.line() >= 1 && static_cast<size_t>(e.line()) <= text.Lines.size());
    return;
  }
  if (!ok) {
    // No layer from the one asked for down to 0 has an event.
    for (const auto& a : doc.AssLines) FUZZ_CHECK(a.Layer < 0 || a.Layer > s.Layer);
    return;
  }
  CheckAssDocument(doc, text.Lines, s.Layer, s.MinGap);
  CheckAssSave(doc, text, s);
  CheckAssEdit(doc, s);
  CheckAssToSrt(doc, s);
}

// ---------------------------------------------------------------------------------------------
// Text scripts

/// A script becomes a new ASS file: the header, then its lines parked from 8 hours on (a
/// paragraph's lines together), or the placeholder when it has no line to park.
void FuzzNewAss(const DecodedText& text, const Setup& s) {
  const Lines& script = text.Lines;
  const Lines lines = NewAssFileLines(&script);

  Lines expected;
  for (const auto& l : script) {
    if (!l.empty()) expected.push_back(l);
  }
  const bool placeholder = expected.empty() && (script.empty() || IsParagraphForm(script));
  if (placeholder) expected = {PLACEHOLDER_TEXT};

  const Lines& head = AssTemplate();
  FUZZ_CHECK(lines.size() >= head.size());
  FUZZ_CHECK(std::equal(head.begin(), head.end(), lines.begin()));
  if (lines.size() == head.size()) {
    FUZZ_FAIL("a new ASS file has an event line (the placeholder when no script line is parked)",
              "script of " + std::to_string(script.size()) + " lines, " +
                  (IsParagraphForm(script) ? "paragraph" : "line") + " form, " +
                  std::to_string(std::count(script.begin(), script.end(), std::string())) +
                  " of them empty");
  }

  // SubtitleLoad writes the new file in UTF-8, with the mark when the script had one.
  const std::string bytes = MustEncode(lines, text.Utf8Bom, CodePage::Utf8, "a new ASS file encodes");
  DecodedText file;  // as read back; text with many NULs reads as UTF-16 without its mark
  file.Utf8Bom = text.Utf8Bom;
  file.Lines = lines;
  if (text.Utf8Bom || !LooksLikeUtf16(bytes)) {
    file = MustDecode(bytes, "a new ASS file decodes");
    FUZZ_CHECK(file.Utf8Bom == text.Utf8Bom);
    FUZZ_CHECK(file.Lines == lines);
  }

  SubtitleDocument doc;
  bool ok = false;
  try {
    ok = ParseAss(lines, s.MinGap, s.SavedSubCurr, s.Layer, doc);
  } catch (const LoadError& e) {
    FUZZ_FAIL("a new ASS file loads", "line " + std::to_string(e.line()) + ": " + e.what());
  }
  if (!ok) FUZZ_FAIL("a new ASS file loads", "no layer with events");
  FUZZ_CHECK(doc.SubLayer == 0);
  CheckAssDocument(doc, lines, s.Layer, s.MinGap);

  Lines texts;
  for (size_t j = head.size(); j < doc.AssLines.size(); ++j) {
    const TAssOriginal& a = doc.AssLines[j];
    FUZZ_CHECK(a.Layer == 0);
    if (!placeholder) FUZZ_CHECK(a.TimeIn >= PARKING_START);
    if (!a.Dialogue.empty()) texts.push_back(a.Dialogue);
  }
  FUZZ_CHECK(texts == expected);
  FUZZ_CHECK(doc.AssEvents.size() == doc.AssLines.size() - head.size());

  CheckAssSave(doc, file, s);
}

/// A revised script re-imported ("重装修订TXT"): its items go into a document as texts, which
/// is then saved and loaded again.
void FuzzScriptItems(const DecodedText& text, const Setup& s) {
  const Lines& script = text.Lines;
  const Lines srtItems = ScriptItems(script, "||");
  const Lines assItems = ScriptItems(script, "\\N");

  std::vector<Lines> groups;
  if (IsParagraphForm(script)) {
    for (size_t i = 0; i < script.size();) {
      while (i < script.size() && script[i].empty()) ++i;
      Lines group;
      while (i < script.size() && !script[i].empty()) group.push_back(script[i++]);
      if (!group.empty()) groups.push_back(std::move(group));
    }
  } else {
    for (const auto& l : script) {
      if (!l.empty()) groups.push_back({l});
    }
  }
  FUZZ_CHECK(srtItems.size() == groups.size() && assItems.size() == groups.size());
  for (size_t i = 0; i < groups.size(); ++i) {
    FUZZ_CHECK(srtItems[i] == Join(groups[i], "||"));
    FUZZ_CHECK(assItems[i] == Join(groups[i], "\\N"));
  }

  // Into an SRT document, parked one after another, unless an item holds the SRT arrow: such a
  // script is not taken into an SRT document.
  const bool arrow = std::any_of(srtItems.begin(), srtItems.end(), [](const std::string& item) {
    return item.find(SRT_ARROW) != std::string::npos;
  });
  std::vector<TSub> subs(arrow ? 0 : srtItems.size());
  for (size_t i = 0; i < subs.size(); ++i) {
    subs[i].IndexBegin = subs[i].IndexEnd = static_cast<int32_t>(i) + 1;
    subs[i].TimeIn = PARKING_START + 300 * static_cast<int32_t>(i);
    subs[i].TimeOut = subs[i].TimeIn + 250;
    subs[i].Dialogue = srtItems[i];
  }
  if (!arrow) {
    CheckSrtReadsBack(subs, {}, text, s, "an SRT file holding re-imported texts loads again");
  }

  // Into ASS event lines, as the re-import rebuilds them.
  Lines lines = AssTemplate();
  for (size_t i = 0; i < assItems.size(); ++i) {
    TAssOriginal line;
    line.Layer = 0;
    line.TimeIn = PARKING_START + 300 * static_cast<int32_t>(i);
    line.TimeOut = line.TimeIn + 250;
    line.DoNotCare = "Default,,0000,0000,0000,,";
    line.Dialogue = assItems[i];
    lines.push_back(RebuildEventLine(line));
  }
  if (assItems.empty()) return;
  const SubtitleDocument doc =
      MustReload(lines, s, 0, assItems.size(), "an ASS file holding re-imported texts loads again");
  for (size_t i = 0; i < assItems.size(); ++i) {
    FUZZ_CHECK(doc.AssLines[AssTemplate().size() + i].Dialogue == assItems[i]);
  }
}

}  // namespace
}  // namespace tamsel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tamsel;
  if (size == 0) return 0;
  const Setup s = SetupFrom(data[0]);
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  DecodedText text;
  try {
    text = DecodeTextFile(bytes);
  } catch (const TextDecodeError& e) {
    FUZZ_CHECK(e.line() >= 1);
    return 0;
  }
  CheckDecoded(text);
  CheckCodecRoundTrip(text);

  switch (s.Mode) {
    case 0:
      FuzzSrt(text, s);
      break;
    case 1:
      FuzzAss(text, s);
      break;
    case 2:
      FuzzNewAss(text, s);
      break;
    default:
      FuzzScriptItems(text, s);
      break;
  }
  return 0;
}
