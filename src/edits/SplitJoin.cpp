#include "SplitJoin.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CoverageEdits.h"
#include "EdgeTracking.h"
#include "FileIo.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TextCodec.h"
#include "TimeText.h"

namespace tamsel {

namespace {

/// The longest part a split keeps, in UTF-16 characters.
constexpr size_t MAX_PART_UNITS = 2048;
/// Two entries further apart than this (cs) are not joined.
constexpr int64_t JOIN_MAX_GAP = 300;
/// Two entries whose texts together are longer than this (UTF-8 bytes) are not joined.
constexpr size_t JOIN_MAX_BYTES = 1024;
/// The gap a split leaves between its two parts, cs.
constexpr int32_t SPLIT_GAP = 4;
/// A split needs this much more than the minimum length, cs.
constexpr int64_t SPLIT_MARGIN = 10;
/// Length of a placeholder entry made by move-here, cs.
constexpr int32_t PLACEHOLDER_LENGTH = 200;
/// Style, name, margins and effect of an event line made by move-here.
constexpr const char* NEW_EVENT_FIELDS = "Default,,0000,0000,0000,,";

/// The punctuation marks a split may cut after, ideographic space last.
constexpr char16_t PUNCTUATION[] = {u',',      u'.',      u'?',      u'!',      u'>',     u' ',
                                    u'\uFF0C', u'\u3002', u'\uFF1F', u'\uFF01', u'\u3000'};

/// A UTF-8 text seen as UTF-16 characters, the unit the text cut counts in. Bytes that are not
/// UTF-8 count as one character each and are never taken apart.
class Utf16Units {
 public:
  explicit Utf16Units(std::string_view utf8) : m_size(utf8.size()) {
    for (size_t i = 0; i < utf8.size();) {
      const size_t start = i;
      const char32_t c = Decode(utf8, i);
      if (c >= 0x10000) {
        m_units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        m_units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        m_offsets.push_back(start);
        m_offsets.push_back(start);
      } else {
        m_units.push_back(static_cast<char16_t>(c));
        m_offsets.push_back(start);
      }
    }
  }

  size_t size() const { return m_units.size(); }
  char16_t operator[](size_t i) const { return m_units[i]; }

  /// 1-based position of the first occurrence of `what`, 0 when there is none.
  size_t Find(std::u16string_view what) const {
    const size_t at = std::u16string_view(m_units).find(what);
    return at == std::u16string_view::npos ? 0 : at + 1;
  }

  /// A cut before character `i` would take a surrogate pair apart.
  bool InsidePair(size_t i) const {
    return i > 0 && i < m_units.size() && m_units[i] >= 0xDC00 && m_units[i] <= 0xDFFF;
  }

  /// Byte offset in the UTF-8 text of character `i` (the text's length for i = size()).
  size_t ByteOffset(size_t i) const { return i < m_offsets.size() ? m_offsets[i] : m_size; }

 private:
  /// Reads the character at `i` and steps past it; a byte that does not start a well-formed
  /// sequence reads as U+FFFD and is stepped over alone.
  static char32_t Decode(std::string_view s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t c = 0;
    if (b < 0x80) {
      ++i;
      return b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
      c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      c = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      c = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    bool ok = len > 0 && i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) {
      const unsigned char t = byte(i + k);
      ok = k == 1 ? (t >= lo && t <= hi) : (t >= 0x80 && t <= 0xBF);
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok) {
      ++i;
      return 0xFFFD;
    }
    i += len;
    return c;
  }

  std::u16string m_units;
  std::vector<size_t> m_offsets;
  size_t m_size;
};

/// Where a split divides a text, as byte offsets: the first part is [0, FirstEnd), the second
/// [SecondBegin, SecondEnd); a separator between them is dropped.
struct TextCut {
  size_t FirstEnd;
  size_t SecondBegin;
  size_t SecondEnd;
};

TextCut FindTextCut(std::string_view text) {
  const Utf16Units u(text);
  // Character positions are 1-based, as the rule is stated; the cut is a 0-based index.
  size_t firstEnd = 0;
  size_t secondBegin = 0;
  const size_t separator = std::max(u.Find(u"||"), u.Find(u"\\N"));
  if (separator > 0) {
    firstEnd = separator - 1;
    secondBegin = separator + 1;
  } else {
    size_t mark = 0;
    for (char16_t m : PUNCTUATION) mark = std::max(mark, u.Find(std::u16string_view(&m, 1)));
    if (mark > 0) {
      // Just after the mark, so that it closes the first part.
      firstEnd = secondBegin = mark;
    } else {
      size_t half = u.size() / 2;
      if (u.InsidePair(half)) --half;
      firstEnd = secondBegin = half;
    }
  }
  size_t secondEnd = std::min(u.size(), secondBegin + MAX_PART_UNITS);
  if (u.InsidePair(secondEnd)) --secondEnd;
  return {u.ByteOffset(firstEnd), u.ByteOffset(secondBegin), u.ByteOffset(secondEnd)};
}

/// `part`, or the placeholder after it when nothing of it is shown.
std::string OrPlaceholder(std::string part, bool shownEmpty) {
  if (shownEmpty) part += PLACEHOLDER_TEXT;
  return part;
}

/// The split of an event's own text, whose override blocks the entry's text leaves out. The cut
/// falls where it falls in the entry's text; every block stays in the part it stands in, a block
/// right at the cut going with the text after it, so no formatting is lost. When the entry's text
/// is not the event's text without its blocks, the entry's text is split instead.
std::pair<std::string, std::string> SplitEventText(const std::string& raw,
                                                   const std::string& shown) {
  // The byte of `raw` behind each byte of the shown text, blocks removed as the loader does.
  std::vector<size_t> at;
  at.reserve(raw.size());
  std::string visible;
  for (size_t pos = 0; pos < raw.size();) {
    const size_t open = raw.find("{\\", pos);
    const size_t close = open == std::string::npos ? open : raw.find('}', open);
    const size_t keepEnd = close == std::string::npos ? raw.size() : open;
    for (; pos < keepEnd; ++pos) {
      at.push_back(pos);
      visible += raw[pos];
    }
    if (close == std::string::npos) break;
    pos = close + 1;
  }
  if (visible != shown) return SplitText(shown);

  const TextCut cut = FindTextCut(shown);
  const auto after = [&](size_t v) { return v == 0 ? size_t{0} : at[v - 1] + 1; };
  const size_t secondBegin = after(cut.SecondBegin);
  // A dropped separator takes only itself: blocks before it stay with the first part.
  const size_t firstEnd = cut.SecondBegin > cut.FirstEnd ? at[cut.FirstEnd] : secondBegin;
  const size_t secondEnd = cut.SecondEnd == shown.size() ? raw.size() : after(cut.SecondEnd);
  return {OrPlaceholder(raw.substr(0, firstEnd), cut.FirstEnd == 0),
          OrPlaceholder(raw.substr(secondBegin, secondEnd - secondBegin),
                        cut.SecondEnd == cut.SecondBegin)};
}

/// An SRT entry's text as a split finds it: without a leading "||", then without leading
/// spaces, then without leading ideographic spaces; every removal keeps at most MAX_PART_UNITS
/// characters.
std::string CleanSrtText(const std::string& text) {
  const Utf16Units u(text);
  size_t begin = 0;
  size_t end = u.size();
  const auto remove = [&](size_t count) {
    begin += count;
    end = std::min(end, begin + MAX_PART_UNITS);
    if (u.InsidePair(end)) --end;
  };
  if (end >= 2 && u[0] == u'|' && u[1] == u'|') remove(2);
  while (begin < end && u[begin] == u' ') remove(1);
  while (begin < end && u[begin] == u'\u3000') remove(1);
  const size_t from = u.ByteOffset(begin);
  return text.substr(from, u.ByteOffset(end) - from);
}

bool IsEntry(const EditorState& st, int32_t i) {
  return i >= 0 && static_cast<size_t>(i) < st.Subs.size();
}

/// The play position lies inside some entry.
bool PlayInsideSub(const EditorState& st) { return SlotCovered(st, st.PlayPos / 10); }

/// The file image of an ASS/SSA document holds together: one event range per entry, each inside
/// AssEvents, and every event naming a line of AssLines. Edits that index through it refuse a
/// document where it does not.
bool EventRangesSound(const SubtitleDocument& doc) {
  if (doc.SubsBase.size() != doc.Subs.size()) return false;
  const auto events = static_cast<int64_t>(doc.AssEvents.size());
  for (const TSub& b : doc.SubsBase) {
    if (b.IndexBegin < 0 || b.IndexEnd < b.IndexBegin || b.IndexEnd >= events) return false;
  }
  for (const TAssSort& e : doc.AssEvents) {
    if (e.index < 0 || static_cast<size_t>(e.index) >= doc.AssLines.size()) return false;
  }
  return true;
}

/// How many entries a load of these lines makes of the edited layer; -1 when they do not load.
int64_t EntriesOnLoad(const std::vector<std::string>& lines, const EditorState& st) {
  SubtitleDocument parsed;
  try {
    if (!ParseAss(lines, MinGapOf(st), 0, LayerBoxValue(st.Ctrl), parsed)) return -1;
  } catch (const std::exception&) {
    return -1;
  }
  return static_cast<int64_t>(parsed.Subs.size());
}

/// Whether a load reads `text` back as the text of an event line whose fields before it are
/// `fields`: a line short of fields (fewer than six commas) takes the commas of its text for
/// field ends.
bool TextStaysText(const std::string& fields, const std::string& text) {
  return std::count(fields.begin(), fields.end(), ',') == 6 || text.find(',') == std::string::npos;
}

/// The style an event line names (its first field after the times), without spaces around it.
std::string_view StyleOf(const TAssOriginal& line) {
  std::string_view style = std::string_view(line.DoNotCare).substr(0, line.DoNotCare.find(','));
  while (!style.empty() && style.front() == ' ') style.remove_prefix(1);
  while (!style.empty() && style.back() == ' ') style.remove_suffix(1);
  return style;
}

/// What a join of entry `cur` onto entry `prev` puts between the last event of the one and the
/// first event of the other when it makes them one event: nothing where the texts simply follow
/// each other, else a reset to the second event's style, so that overrides of the first text, or
/// a style of its own, do not run on into the second. Either way the text shown is the two
/// texts one after the other. Where a load would not read the joined text back as it is (an
/// unclosed "{\" that would strip text across the junction, or a first line short of fields
/// that would take the second text's commas for field ends), the join is not made (no value).
std::optional<std::string> JoinJunction(const EditorState& st, size_t prev, size_t cur) {
  const TSub& bp = st.SubsBase[prev];
  const TSub& bc = st.SubsBase[cur];
  const TAssOriginal& last = st.AssLines[size_t(st.AssEvents[size_t(bp.IndexEnd)].index)];
  const TAssOriginal& first = st.AssLines[size_t(st.AssEvents[size_t(bc.IndexBegin)].index)];
  const std::string shown = StripOverrides(bp.Dialogue) + StripOverrides(bc.Dialogue);
  std::vector<std::string> candidates;
  if (StyleOf(last) != StyleOf(first)) {
    candidates.push_back("{\\r" + std::string(StyleOf(first)) + "}");
  } else if (last.Dialogue.find("{\\") != std::string::npos) {
    candidates.push_back("{\\r}");
  }
  candidates.emplace_back();
  for (const std::string& junction : candidates) {
    if (StripOverrides(bp.Dialogue + junction + bc.Dialogue) == shown &&
        TextStaysText(last.DoNotCare, last.Dialogue + junction + first.Dialogue)) {
      return junction;
    }
  }
  return std::nullopt;
}

/// Makes event `from` part of event `into`: its text follows `into`'s text after `junction`,
/// and `into` lasts until the later of the two ends. Event `from` and its line leave the file
/// image; later lines, events and event ranges move down by one.
void MergeEventInto(SubtitleDocument& doc, int32_t into, int32_t from,
                    const std::string& junction) {
  const TAssSort gone = doc.AssEvents[size_t(from)];
  TAssSort& kept = doc.AssEvents[size_t(into)];
  TAssOriginal& line = doc.AssLines[size_t(kept.index)];
  line.TimeOut = std::max(line.TimeOut, doc.AssLines[size_t(gone.index)].TimeOut);
  line.Dialogue += junction + doc.AssLines[size_t(gone.index)].Dialogue;
  line.Original = RebuildEventLine(line);
  kept.TimeOut = line.TimeOut;
  kept.Dialogue = line.Dialogue;

  doc.AssLines.erase(doc.AssLines.begin() + gone.index);
  for (size_t i = size_t(gone.index); i < doc.AssLines.size(); ++i) {
    doc.AssLines[i].index = static_cast<int32_t>(i);
  }
  doc.AssEvents.erase(doc.AssEvents.begin() + from);
  for (TAssSort& e : doc.AssEvents) {
    if (e.index > gone.index) --e.index;
  }
  for (std::vector<TSub>* subs : {&doc.SubsBase, &doc.Subs}) {
    for (TSub& s : *subs) {
      if (s.IndexBegin > from) --s.IndexBegin;
      if (s.IndexEnd >= from) --s.IndexEnd;
    }
  }
}

/// SRT entries carry their 1-based number.
void RenumberSrt(std::vector<TSub>& subs) {
  for (size_t i = 0; i < subs.size(); ++i) {
    subs[i].IndexBegin = subs[i].IndexEnd = static_cast<int32_t>(i) + 1;
  }
}

/// The steps every structural edit ends with.
void FinishEdit(EditorState& st) {
  RecountSubsInVideo(st);
  st.SubDirty = true;
  RefreshEdge(st);
  st.ViewMarker = -99.0;
}

void SetEventTimes(SubtitleDocument& doc, int32_t k, int64_t timeIn, int64_t timeOut) {
  TAssSort& e = doc.AssEvents[static_cast<size_t>(k)];
  e.TimeIn = static_cast<int32_t>(timeIn);
  e.TimeOut = static_cast<int32_t>(timeOut);
  TAssOriginal& line = doc.AssLines[static_cast<size_t>(e.index)];
  line.TimeIn = e.TimeIn;
  line.TimeOut = e.TimeOut;
}

void ShearSrt(EditorState& st, size_t cur, int32_t mid) {
  TSub& sub = st.Subs[cur];
  sub.Dialogue = CleanSrtText(sub.Dialogue);
  auto [first, second] = SplitText(sub.Dialogue);
  TSub tail = sub;
  tail.TimeIn = mid + SPLIT_GAP;
  tail.Dialogue = std::move(second);
  sub.TimeOut = mid;
  sub.Dialogue = std::move(first);
  st.Subs.insert(st.Subs.begin() + static_cast<std::ptrdiff_t>(cur) + 1, std::move(tail));
  RenumberSrt(st.Subs);
  if (st.SubCurr > static_cast<int32_t>(cur)) ++st.SubCurr;
  CreatSelAndInd(st.WavSel, st.Subs);
}

/// Changes made to a document's file image in place, and what it held before, so that they can
/// be taken back: a split changes the image only for good once the file holds it.
class ImageUndo {
 public:
  explicit ImageUndo(SubtitleDocument& doc) : m_doc(doc), m_lineCount(doc.AssLines.size()) {}

  /// Keeps what entry `i`, its events and their lines hold, before the autosave's work on them.
  void KeepEntry(size_t i) {
    m_changed.push_back(i);
    m_bases.emplace_back(i, m_doc.SubsBase[i]);
    for (int32_t k = m_doc.SubsBase[i].IndexBegin; k <= m_doc.SubsBase[i].IndexEnd; ++k) {
      KeepEvent(static_cast<size_t>(k));
    }
  }
  /// Keeps event `k` and its line.
  void KeepEvent(size_t k) {
    m_events.emplace_back(k, m_doc.AssEvents[k]);
    KeepLine(static_cast<size_t>(m_doc.AssEvents[k].index));
  }
  void KeepLine(size_t j) { m_lines.emplace_back(j, m_doc.AssLines[j]); }

  /// Puts back everything kept, the earliest copy last, and drops lines added since.
  void Restore() {
    m_doc.AssLines.resize(m_lineCount);
    for (auto it = m_lines.rbegin(); it != m_lines.rend(); ++it)
      m_doc.AssLines[it->first] = it->second;
    for (auto it = m_events.rbegin(); it != m_events.rend(); ++it)
      m_doc.AssEvents[it->first] = it->second;
    for (auto it = m_bases.rbegin(); it != m_bases.rend(); ++it)
      m_doc.SubsBase[it->first] = it->second;
    for (size_t i : m_changed) m_doc.Subs[i].Changed = true;
  }

 private:
  SubtitleDocument& m_doc;
  size_t m_lineCount;
  std::vector<size_t> m_changed;
  std::vector<std::pair<size_t, TSub>> m_bases;
  std::vector<std::pair<size_t, TAssSort>> m_events;
  std::vector<std::pair<size_t, TAssOriginal>> m_lines;
};

/// An event of the edited layer as a load reads it: its times, the end at least the minimum
/// length after the start, and its line.
struct EventKey {
  int32_t TimeIn;
  int32_t TimeOut;
  int32_t line;
};

/// The later of two times, never past the latest time a file may hold (as a load reads an end).
int32_t LaterTime(int32_t t, int64_t atLeast) {
  return static_cast<int32_t>(std::max<int64_t>(t, std::min<int64_t>(atLeast, MAX_TIME)));
}

EventKey KeyOf(const TAssOriginal& line, int32_t minGap) {
  return {line.TimeIn, LaterTime(line.TimeOut, int64_t(line.TimeIn) + minGap), line.index};
}

/// Puts events in the order of a load: by start, of equal starts the later line first. Events
/// taken in the order of the last load are mostly in place already, but for one added at the
/// end.
void SortAsLoaded(std::vector<EventKey>& keys) {
  const auto before = [](const EventKey& a, const EventKey& b) {
    return a.TimeIn != b.TimeIn ? a.TimeIn < b.TimeIn : a.line > b.line;
  };
  if (keys.empty() || std::is_sorted(keys.begin(), keys.end(), before)) return;
  const auto last = keys.end() - 1;
  if (std::is_sorted(keys.begin(), last, before)) {
    std::rotate(std::upper_bound(keys.begin(), last, *last, before), last, keys.end());
  } else {
    std::sort(keys.begin(), keys.end(), before);
  }
}

/// How many entries a load makes of events in load order: an event that starts before the end
/// of the entry open so far belongs to it.
int64_t EntriesOf(const std::vector<EventKey>& sorted) {
  int64_t entries = 0;
  int32_t openOut = 0;
  for (size_t k = 0; k < sorted.size(); ++k) {
    if (k == 0 || sorted[k].TimeIn >= openOut) {
      ++entries;
      openOut = sorted[k].TimeOut;
    } else {
      openOut = std::max(openOut, sorted[k].TimeOut);
    }
  }
  return entries;
}

/// Whether a load of the written lines gives back what the document holds, so that the
/// document after a split can be worked out from the image instead of read from the file: the
/// layer a load would pick is the edited one, AssEvents names exactly its lines, once each, the
/// lines were read with the minimum length of now, a load would open this same file, and the
/// waveform file sizes the coverage map. `layerLine` gets, per line, whether it is an event of
/// the edited layer. (Each event line must also come back from its rebuilt text: see
/// ReadsBackAsIs.)
bool ImageReloadsAsIs(const EditorState& st, std::vector<char>& layerLine) {
  if (LayerBoxValue(st.Ctrl) != st.SubLayer || st.LoadMinGap != MinGapOf(st)) return false;
  layerLine.assign(st.AssLines.size(), 0);
  for (const TAssSort& e : st.AssEvents) {
    char& seen = layerLine[static_cast<size_t>(e.index)];
    if (seen) return false;
    seen = 1;
  }
  for (size_t j = 0; j < st.AssLines.size(); ++j) {
    const TAssOriginal& line = st.AssLines[j];
    if (line.index != static_cast<int32_t>(j)) return false;
    if ((line.Layer == st.SubLayer) != bool(layerLine[j])) return false;
  }
  const std::string& base = st.BaseFileName;
  const bool sameFile = st.SubFormat == FORMAT_ASS
                            ? st.SubFileName == base + ".ass"
                            : st.SubFileName == base + ".ssa" && !FileExists(base + ".ass");
  return sameFile && (st.SizeMapFromSubs || FileSizeOf(st.WsFileName).has_value());
}

/// Whether an event line written from its fields reads back with those fields: times a file
/// can hold, and a text the six commas that end the fields before it cannot reach into.
bool ReadsBackAsIs(const TAssOriginal& line) {
  if (line.TimeIn < 0 || line.TimeIn > MAX_TIME || line.TimeOut < 0 || line.TimeOut > MAX_TIME) {
    return false;
  }
  return TextStaysText(line.DoNotCare, line.Dialogue);
}

/// The document a load of the written lines makes, worked out from the image: the edited
/// layer's lines as written and read, its events in load order (`sorted`), the entries merged
/// from them, the coverage map; the file's encoding as written. The lines of other layers and
/// the other lines come back from the file as they are.
void TakeImageAsLoaded(EditorState& st, const std::vector<EventKey>& sorted,
                       const std::vector<char>& layerLine, const std::string& text,
                       const std::vector<std::pair<size_t, size_t>>& written) {
  for (size_t j = 0; j < st.AssLines.size(); ++j) {
    if (!layerLine[j]) continue;
    TAssOriginal& line = st.AssLines[j];
    line.Original.assign(text, written[j].first, written[j].second);
    line.TimeOut = KeyOf(line, st.LoadMinGap).TimeOut;
  }
  st.AssEvents.resize(sorted.size());
  for (size_t k = 0; k < sorted.size(); ++k) {
    const TAssOriginal& line = st.AssLines[static_cast<size_t>(sorted[k].line)];
    st.AssEvents[k].index = line.index;
    st.AssEvents[k].TimeIn = line.TimeIn;
    st.AssEvents[k].TimeOut = line.TimeOut;
    st.AssEvents[k].Dialogue.assign(line.Dialogue);
  }
  // Overlapping events make one entry; its text is theirs joined by "||". The entries are
  // written over the old ones, whose texts' memory is used again.
  size_t count = 0;
  for (size_t k = 0; k < st.AssEvents.size(); ++count) {
    if (count == st.SubsBase.size()) st.SubsBase.emplace_back();
    TSub& entry = st.SubsBase[count];
    const TAssSort& e = st.AssEvents[k];
    entry.IndexBegin = entry.IndexEnd = static_cast<int32_t>(k);
    entry.TimeIn = e.TimeIn;
    entry.TimeOut = e.TimeOut;
    entry.Dialogue.assign(e.Dialogue);
    entry.Changed = false;
    for (++k; k < st.AssEvents.size() && st.AssEvents[k].TimeIn < entry.TimeOut; ++k) {
      const TAssSort& next = st.AssEvents[k];
      entry.TimeIn = std::min(entry.TimeIn, next.TimeIn);
      entry.TimeOut = std::max(entry.TimeOut, next.TimeOut);
      entry.Dialogue += "||";
      entry.Dialogue += next.Dialogue;
      entry.IndexEnd = static_cast<int32_t>(k);
    }
  }
  st.SubsBase.resize(count);
  st.Subs.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const TSub& b = st.SubsBase[i];
    TSub& sub = st.Subs[i];
    sub.IndexBegin = b.IndexBegin;
    sub.IndexEnd = b.IndexEnd;
    sub.TimeIn = b.TimeIn;
    sub.TimeOut = b.TimeOut;
    if (b.Dialogue.find("{\\") == std::string::npos) {
      sub.Dialogue.assign(b.Dialogue);
    } else {
      sub.Dialogue = StripOverrides(b.Dialogue);
    }
    sub.Changed = false;
  }

  MakeCoverageMap(st.WavSel, MapSlots(st, st.Subs).value_or(0), st.Subs);

  st.SubUtf8Bom = true;
  st.SubCodePage = CodePage::Utf8;
  st.SubDirty = false;
  st.SaveFailureReported = false;
  st.TmpFileName = st.BaseFileName + ".tmp";
  st.Caption = st.SubFileName + "　—　" + PROGRAM_TITLE;
}

/// Makes the cut of a split in the file image: the events of a merged entry are pressed into
/// its first half and the last one takes the second half; a single event keeps the first part
/// of its text and its time up to the middle, and a new line after the last one holds the
/// second part. What it changes is kept in `undo` first.
void CutInImage(EditorState& st, size_t cur, int32_t mid, ImageUndo& undo) {
  const TSub& entry = st.Subs[cur];
  const TSub& base = st.SubsBase[cur];
  const int64_t ti = entry.TimeIn;
  const int64_t to = entry.TimeOut;
  if (base.IndexEnd != base.IndexBegin) {
    for (int32_t k = base.IndexBegin; k <= base.IndexEnd; ++k) {
      undo.KeepEvent(static_cast<size_t>(k));
      const TAssSort& e = st.AssEvents[static_cast<size_t>(k)];
      SetEventTimes(st, k, ti + (e.TimeIn - ti) / 2, ti + (e.TimeOut - ti) / 2);
    }
    SetEventTimes(st, base.IndexEnd, mid + SPLIT_GAP, to);
    return;
  }
  const auto at = static_cast<size_t>(st.AssEvents[size_t(base.IndexBegin)].index);
  undo.KeepLine(at);
  TAssOriginal& line = st.AssLines[at];
  auto [first, second] = SplitEventText(line.Dialogue, entry.Dialogue);
  TAssOriginal added;
  added.index = static_cast<int32_t>(st.AssLines.size());
  added.TimeIn = mid + SPLIT_GAP;
  added.TimeOut = static_cast<int32_t>(to);
  added.Dialogue = std::move(second);
  added.DoNotCare = line.DoNotCare;
  // A load reads its layer from its first field, which it takes from the line it was split from.
  added.Layer = line.Layer;
  added.Original = EventLineHead(line);
  line.TimeOut = mid;
  line.Dialogue = std::move(first);
  st.AssLines.push_back(std::move(added));
}

/// Puts the subtitle file together in `text` (UTF-8 with the byte-order mark, CR LF line ends):
/// the lines marked in `layerLine` are written from their fields, every other line as read.
/// `written` gets where each line's text stands in `text`.
void ComposeAssFile(const std::vector<TAssOriginal>& lines, const std::vector<char>& layerLine,
                    std::string& text, std::vector<std::pair<size_t, size_t>>& written) {
  text.assign(UTF8_BOM);
  size_t most = text.size();
  for (size_t j = 0; j < lines.size(); ++j) {
    const TAssOriginal& line = lines[j];
    most += 2 + (layerLine[j] ? line.Original.size() + 2 * TIME_TEXT_MAX + line.Dialogue.size() +
                                    line.DoNotCare.size() + 2
                              : line.Original.size());
  }
  text.reserve(most);
  written.resize(lines.size());
  for (size_t j = 0; j < lines.size(); ++j) {
    const TAssOriginal& line = lines[j];
    const size_t from = text.size();
    if (layerLine[j]) {
      AppendEventLineHead(text, line);
      AppendTimeAssStr(text, line.TimeIn);
      text += ',';
      AppendTimeAssStr(text, line.TimeOut);
      text += ',';
      text += line.DoNotCare;
      text += line.Dialogue;
    } else {
      text += line.Original;
    }
    written[j] = {from, text.size() - from};
    text += "\r\n";
  }
}

/// Splits an ASS/SSA entry in the file: the edited layer's event lines are written from their
/// fields, the split's parts among them, and the document becomes what a load of the file gives.
/// Returns false when nothing was changed.
///
/// Where a load would give back the image as it is (the usual case), the document is worked out
/// from the image; otherwise the file is read again.
bool ShearAss(EditorState& st, size_t cur, int32_t mid) {
  if (!EventRangesSound(st)) return false;
  std::vector<char> layerLine;
  bool asIs = ImageReloadsAsIs(st, layerLine);
  const int32_t minGap = MinGapOf(st);

  // The image changes in place; until the file holds the split, everything can be taken back.
  ImageUndo undo(st);
  // Timing edits the autosave has not written yet go into the lines first; the reload would
  // otherwise undo them.
  for (size_t i = 0; i < st.Subs.size(); ++i) {
    if (st.Subs[i].Changed) undo.KeepEntry(i);
  }
  ApplyChangedEntries(st);
  std::vector<EventKey> keys;
  int64_t entriesBefore = -1;
  if (asIs) {
    keys.reserve(st.AssEvents.size() + 1);
    for (const TAssSort& e : st.AssEvents)
      keys.push_back(KeyOf(st.AssLines[size_t(e.index)], minGap));
    SortAsLoaded(keys);
    entriesBefore = EntriesOf(keys);
  }

  const size_t linesBefore = st.AssLines.size();
  CutInImage(st, cur, mid, undo);
  // The edited layer's event lines are written from their fields; other layers, comments and
  // the header go back exactly as read.
  layerLine.resize(st.AssLines.size(), 1);
  if (asIs) {
    keys.clear();
    const auto take = [&](const TAssOriginal& line) {
      asIs = asIs && ReadsBackAsIs(line);
      keys.push_back(KeyOf(line, minGap));
    };
    for (const TAssSort& e : st.AssEvents) take(st.AssLines[size_t(e.index)]);
    if (st.AssLines.size() > linesBefore) take(st.AssLines.back());
  }
  if (!asIs) {
    layerLine.assign(st.AssLines.size(), 0);
    for (const TAssSort& e : st.AssEvents) layerLine[size_t(e.index)] = 1;
    if (st.AssLines.size() > linesBefore) layerLine.back() = 1;
    // The split changed no line's text yet: these are the lines as they were before it.
    std::vector<std::string> lines;
    lines.reserve(linesBefore);
    for (size_t j = 0; j < linesBefore; ++j) lines.push_back(st.AssLines[j].Original);
    entriesBefore = EntriesOnLoad(lines, st);
  }

  // Put together in the save's buffer, whose memory is kept from write to write.
  std::string& text = st.SaveBuffer;
  std::vector<std::pair<size_t, size_t>> written;
  ComposeAssFile(st.AssLines, layerLine, text, written);

  // The load lengthens every event to the minimum length and merges events that overlap. A part
  // that would grow into the other part or into the next entry would come back merged with it
  // (a short entry split in two would even come back longer than it was): such a split is not
  // made.
  int64_t entriesAfter = -1;
  if (asIs) {
    SortAsLoaded(keys);
    entriesAfter = EntriesOf(keys);
  } else {
    std::vector<std::string> lines;
    lines.reserve(written.size());
    for (const auto& [from, size] : written) lines.push_back(text.substr(from, size));
    entriesAfter = EntriesOnLoad(lines, st);
  }
  if (entriesBefore < 0 || entriesAfter != entriesBefore + 1) {
    undo.Restore();
    return false;
  }

  const std::string tmp = st.TmpFileName.empty() ? st.BaseFileName + ".tmp" : st.TmpFileName;
  try {
    WriteFileThroughTemp(st.SubFileName, tmp, text);
  } catch (const std::exception& e) {
    undo.Restore();
    st.Tell(st.SubFileName + "\r" + e.what() + "\r" + "字幕没有拆分，仍是原样。");
    return false;
  }

  // The reload makes a new timeline: keep the current and the active entry where they were.
  const int32_t subCurr = st.SubCurr > static_cast<int32_t>(cur) ? st.SubCurr + 1 : st.SubCurr;
  const int32_t active = st.ActiveSub;
  if (asIs) {
    TakeImageAsLoaded(st, keys, layerLine, text, written);
  } else {
    // A load that fails leaves the document as it was before the split.
    undo.Restore();
    st.SubDirty = true;
    SubtitleLoad(st, LayerBoxValue(st.Ctrl));
  }
  AppendSavedSign(st.Caption, 3);
  const int32_t last = static_cast<int32_t>(st.Subs.size()) - 1;
  st.SubCurr = last < 0 ? -1 : std::clamp(subCurr, 0, last);
  st.ActiveSub = std::min(active, last);
  return true;
}

}  // namespace

void RecountSubsInVideo(EditorState& st) {
  const int32_t count = static_cast<int32_t>(st.Subs.size());
  // Until the player knows the length there is no end of the video to measure against.
  if (st.MediaLength > 0) {
    for (int32_t j = count - 1; j >= 0; --j) {
      TSub& sub = st.Subs[static_cast<size_t>(j)];
      if (int64_t(sub.TimeIn) >= int64_t(st.MediaLength) - 100) continue;
      st.SubsInVideo = j + 1;
      if (sub.TimeOut > st.MediaLength) {
        // The cells past the new out point no longer belong to the entry.
        const int64_t lastCell = std::min<int64_t>(sub.TimeOut, int64_t(st.WavSel.size()) - 1);
        for (int64_t s = int64_t(st.MediaLength) + 1; s <= lastCell; ++s) {
          TWavSelect& cell = st.WavSel[static_cast<size_t>(s)];
          if (cell.SubIndex == j) cell = TWavSelect{false, -1};
        }
        sub.TimeOut = st.MediaLength;
        sub.Changed = true;
      }
      return;
    }
  }
  // No entry begins inside the video: the count stays, but never names more entries than exist.
  st.SubsInVideo = std::clamp(st.SubsInVideo, 0, count);
}

std::pair<std::string, std::string> SplitText(const std::string& text) {
  const TextCut cut = FindTextCut(text);
  return {OrPlaceholder(text.substr(0, cut.FirstEnd), cut.FirstEnd == 0),
          OrPlaceholder(text.substr(cut.SecondBegin, cut.SecondEnd - cut.SecondBegin),
                        cut.SecondEnd == cut.SecondBegin)};
}

void Shear(EditorState& st) {
  if (!PlayInsideSub(st) || !IsEntry(st, st.ActiveSub)) return;
  const size_t cur = static_cast<size_t>(st.ActiveSub);
  const TSub& sub = st.Subs[cur];
  if (sub.Dialogue.size() < 2) return;
  if (int64_t(sub.TimeOut) - sub.TimeIn < int64_t(MinGapOf(st)) + SPLIT_MARGIN) return;
  const auto mid = static_cast<int32_t>((int64_t(sub.TimeIn) + sub.TimeOut) / 2);
  if (st.SubFormat == FORMAT_SRT) {
    ShearSrt(st, cur, mid);
  } else if (!ShearAss(st, cur, mid)) {
    return;
  }
  FinishEdit(st);
}

void Joint(EditorState& st) {
  if (!PlayInsideSub(st) || !IsEntry(st, st.ActiveSub) || st.ActiveSub < 1) return;
  const auto cur = static_cast<size_t>(st.ActiveSub);
  const size_t prev = cur - 1;
  if (int64_t(st.Subs[cur].TimeIn) - st.Subs[prev].TimeOut > JOIN_MAX_GAP) return;
  if (st.Subs[prev].Dialogue.size() + st.Subs[cur].Dialogue.size() > JOIN_MAX_BYTES) return;
  const bool ass = st.SubFormat != FORMAT_SRT;
  std::string junction;  // what goes between the two events a join makes one
  if (ass) {
    if (!EventRangesSound(st)) return;
    const auto junctionOf = JoinJunction(st, prev, cur);
    if (!junctionOf) return;
    junction = *junctionOf;
    // Unsaved timing edits go into the events first: the join measures the events against the
    // entry's times as last written, which would otherwise undo them.
    ApplyChangedEntries(st);
  }

  TSub& p = st.Subs[prev];
  const TSub& c = st.Subs[cur];
  p.IndexEnd = c.IndexEnd;
  // Cuts can leave an entry ending before the one it follows; the joined entry covers both.
  p.TimeOut = std::max(p.TimeOut, c.TimeOut);
  p.Dialogue += c.Dialogue;
  p.Changed = true;

  if (ass) {
    TSub& bp = st.SubsBase[prev];
    const TSub& bc = st.SubsBase[cur];
    const int32_t prevLast = bp.IndexEnd;
    const int32_t curFirst = bc.IndexBegin;
    bp.IndexEnd = p.IndexEnd;
    bp.TimeOut = p.TimeOut;
    bp.Dialogue += junction + bc.Dialogue;
    bp.Changed = true;
    st.SubsBase.erase(st.SubsBase.begin() + static_cast<std::ptrdiff_t>(cur));
    st.Subs.erase(st.Subs.begin() + static_cast<std::ptrdiff_t>(cur));
    // Where the two entries meet, the two events become one: events that only touched would
    // load as two entries again.
    MergeEventInto(st, prevLast, curFirst, junction);
  } else {
    st.Subs.erase(st.Subs.begin() + static_cast<std::ptrdiff_t>(cur));
    RenumberSrt(st.Subs);
  }

  // The joined entry stays active; later indices move down by one.
  st.ActiveSub = static_cast<int32_t>(prev);
  if (st.SubCurr >= static_cast<int32_t>(cur)) --st.SubCurr;

  RecountSubsInVideo(st);
  CreatSelAndInd(st.WavSel, st.Subs);
  st.SubDirty = true;
  RefreshEdge(st);
  st.ViewMarker = -99.0;
}

void MoveToHere(EditorState& st, int32_t here) {
  if (PlayInsideSub(st)) return;
  if (here < 0 || here > MAX_TIME - PLACEHOLDER_LENGTH) return;
  const bool ass = st.SubFormat != FORMAT_SRT;
  if (ass && !EventRangesSound(st)) return;

  auto& subs = st.Subs;
  const auto next =
      std::find_if(subs.begin(), subs.end(), [&](const TSub& s) { return s.TimeIn > here; });
  const auto a = static_cast<int32_t>(next - subs.begin());
  // `here` must lie in the gap before entry a, also where the coverage map does not reach.
  if (a > 0 && subs[static_cast<size_t>(a) - 1].TimeOut >= here) return;

  if (next != subs.end()) {
    TSub& sub = *next;
    // Only the entry's own cells: a neighbour touching it keeps the cell they share.
    const int64_t lastCell = std::min<int64_t>(sub.TimeOut, int64_t(st.WavSel.size()) - 1);
    for (int64_t s = std::max(sub.TimeIn, 0); s <= lastCell; ++s) {
      TWavSelect& cell = st.WavSel[static_cast<size_t>(s)];
      if (cell.SubIndex == a) cell = TWavSelect{false, -1};
    }
    sub.TimeOut = static_cast<int32_t>(int64_t(here) + sub.TimeOut - sub.TimeIn);
    sub.TimeIn = here;
  } else {
    TSub sub;
    sub.TimeIn = here;
    sub.TimeOut = here + PLACEHOLDER_LENGTH;
    sub.Dialogue = PLACEHOLDER_TEXT;
    sub.Changed = true;
    if (ass) {
      const auto ne = static_cast<int32_t>(st.AssEvents.size());
      const auto nl = static_cast<int32_t>(st.AssLines.size());
      sub.IndexBegin = sub.IndexEnd = ne;
      st.SubsBase.push_back(sub);
      st.AssEvents.push_back({nl, sub.TimeIn, sub.TimeOut, PLACEHOLDER_TEXT});
      TAssOriginal line;
      line.index = nl;
      line.TimeIn = sub.TimeIn;
      line.TimeOut = sub.TimeOut;
      line.Dialogue = PLACEHOLDER_TEXT;
      line.DoNotCare = NEW_EVENT_FIELDS;
      line.Layer = LayerBoxValue(st.Ctrl);
      // A complete event line from the start, so that whatever writes the lines before the
      // next save (a split, an export) writes a line that loads.
      line.Original = RebuildEventLine(line);
      st.AssLines.push_back(std::move(line));
    } else {
      sub.IndexBegin = sub.IndexEnd = a + 1;
    }
    subs.push_back(std::move(sub));
    if (st.SubCurr < 0) st.SubCurr = 0;
  }
  const TSub& moved = subs[static_cast<size_t>(a)];
  MarkSlots(st, moved.TimeIn, moved.TimeOut, a);

  RecountSubsInVideo(st);
  const auto last = static_cast<int32_t>(subs.size()) - 1;
  for (int32_t i = std::max(a - 1, 0); i <= std::min(a + 1, last); ++i) {
    subs[static_cast<size_t>(i)].Changed = true;
  }
  st.SubDirty = true;
  RefreshEdge(st);
  st.ViewMarker = -99.0;
}

}  // namespace tamsel
