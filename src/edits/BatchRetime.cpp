#include "BatchRetime.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "FileIo.h"
#include "SideData.h"
#include "SubtitleSave.h"
#include "TimeText.h"
#include "Timeline.h"

namespace tamsel {

namespace {

/// The alignment leaves at least this gap between consecutive entries, cs.
constexpr int64_t ALIGN_GAP = 5;
/// An aligned in point lies this far after the last silent slot before the speech, cs.
constexpr int64_t ALIGN_LEAD = 5;
/// What EditConvert holds at start and after every conversion.
constexpr const char* CONVERT_RESET_TEXT = "1.000000";

/// A time after retiming, held within the times a subtitle file can carry.
int32_t LimitTime(int64_t t) { return static_cast<int32_t>(std::clamp<int64_t>(t, 0, MAX_TIME)); }

/// trunc(t * factor), limited like every retimed time; a factor far out of range cannot
/// overflow the 32-bit times.
int32_t ScaleTime(int32_t t, double factor) {
  const double scaled = std::trunc(static_cast<double>(t) * factor);
  return static_cast<int32_t>(std::clamp(scaled, 0.0, static_cast<double>(MAX_TIME)));
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

int32_t AiSeachMax(const EditorState& st, int32_t point, int32_t range) {
  const std::vector<uint8_t>& ai = st.AiBegin;
  const int64_t size = static_cast<int64_t>(ai.size());
  const int64_t p = point;
  // Equal scores replace the earlier choice while the distance shrinks: the nearest of the
  // strongest wins, and of two at the same distance the earlier one (tested second). A slot
  // without a speech start only ever wins when the whole window is silent, and then the point
  // itself, tested last, is the choice; so silent slots can be passed over. Slots outside the
  // loaded scores hold no speech start and are not read: only the distances that reach into
  // the scores are searched.
  int64_t best = p;
  int score = 0;
  const int64_t nearest = std::max({int64_t{0}, -p, p - (size - 1)});
  const int64_t farthest = std::min<int64_t>(range, std::max(p, size - 1 - p));
  for (int64_t d = farthest; d >= nearest; --d) {
    for (const int64_t k : {p + d, p - d}) {
      if (k < 0 || k >= size) continue;
      const int s = ai[static_cast<size_t>(k)];
      if (s > 0 && s >= score) {
        score = s;
        best = k;
      }
    }
  }
  // Back to the last silent slot before the speech run.
  while (best > 0 && best < size && ai[static_cast<size_t>(best)] > 0) --best;
  return static_cast<int32_t>(std::min<int64_t>(best + ALIGN_LEAD, INT32_MAX));
}

bool ButtonAutoAdjBeginClick(EditorState& st) {
  // The button stays hidden while the handler runs; as nothing else runs meanwhile, the core
  // has nothing to show or hide.
  std::vector<uint8_t> begin;
  if (!ReadSpeechScores(st, begin, nullptr, 0, std::string("\r") + "没有对齐，字幕时间未改动。")) {
    return false;
  }
  st.AiBegin = std::move(begin);

  const int32_t range = (std::clamp(st.Ctrl.TrackBarAutoAdj, 0, 4) + 1) * 10;
  const int64_t minGap = MinGap(st.Ctrl);
  std::vector<TSub>& subs = st.Subs;

  // 64-bit working times: the repair passes may push entries past the 32-bit range.
  std::vector<int64_t> in(subs.size());
  std::vector<int64_t> out(subs.size());
  for (size_t j = 0; j < subs.size(); ++j) {
    const int64_t t = AiSeachMax(st, subs[j].TimeIn, range);
    in[j] = t;
    out[j] = int64_t{subs[j].TimeOut} + (t - subs[j].TimeIn);
  }
  if (!subs.empty()) {
    const size_t last = subs.size() - 1;
    for (size_t j = 0; j < last; ++j) out[j] = std::min(out[j], in[j + 1] - ALIGN_GAP);
    // An entry pushed later by its predecessor is lengthened, if need be, at its own turn.
    for (size_t j = 0; j < last; ++j) {
      out[j] = std::max(out[j], in[j] + minGap);
      in[j + 1] = std::max(in[j + 1], out[j] + ALIGN_GAP);
    }
    out[last] = std::max(out[last], in[last] + minGap);
  }
  for (size_t j = 0; j < subs.size(); ++j) {
    subs[j].TimeIn = LimitTime(in[j]);
    subs[j].TimeOut = LimitTime(out[j]);
  }

  CreatSelAndInd(st.WavSel, st.Subs);
  st.SubDirty = true;
  return SubtitleSave(st);
}

std::optional<double> ParseConvertFactor(const std::string& text) {
  std::string_view s = text;
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  if (s.starts_with('+')) {
    s.remove_prefix(1);
    if (s.starts_with('+') || s.starts_with('-')) return std::nullopt;
  }
  // Either "." or "," separates the decimals, whatever the system's settings; a text with more
  // than one separator is ambiguous and not a number.
  std::string number(s);
  if (std::count(number.begin(), number.end(), '.') +
          std::count(number.begin(), number.end(), ',') >
      1) {
    return std::nullopt;
  }
  std::replace(number.begin(), number.end(), ',', '.');
  double x = 0;
  const char* first = number.data();
  const char* last = first + number.size();
  const auto [ptr, ec] = std::from_chars(first, last, x, std::chars_format::general);
  if (ec != std::errc() || ptr != last || !std::isfinite(x)) return std::nullopt;
  return x;
}

bool ButtonConvertClick(EditorState& st) {
  const auto factor = ParseConvertFactor(st.Ctrl.EditConvert);
  if (!factor) {
    st.Tell("转换倍率“" + st.Ctrl.EditConvert + "”不是有效的数字，没有转换。");
    return false;
  }
  // Times are scaled about time 0, without neighbour or length checks.
  for (TSub& sub : st.Subs) {
    sub.TimeIn = ScaleTime(sub.TimeIn, *factor);
    sub.TimeOut = ScaleTime(sub.TimeOut, *factor);
  }
  st.Ctrl.EditConvert = CONVERT_RESET_TEXT;
  EditConvertChange(st);
  CreatSelAndInd(st.WavSel, st.Subs);
  st.SubDirty = true;
  return SubtitleSave(st);
}

void EditConvertChange(EditorState& st) {
  st.Ctrl.ButtonConvert = false;
  // Only on the start screen with a ready video: once editing has begun, times are retimed
  // by the elastic drag instead.
  if (!st.Pictures.ImageReadyGo || st.ReadyState == 2) return;
  const auto x = ParseConvertFactor(st.Ctrl.EditConvert);
  if (!x) return;
  // The bounds are the exact decimals 0.717 and 1.414. The doubles nearest to them both lie
  // just below them, so "above 0.717" is "> 0.717" and "below 1.414" is "<= 1.414" in doubles.
  st.Ctrl.ButtonConvert = *x > 0.717 && *x <= 1.414 && *x != 1.0;
}

}  // namespace tamsel
