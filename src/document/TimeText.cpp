#include "TimeText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "TextCodec.h"

namespace tamsel {

namespace {

/// Writes a time as hours, minutes, seconds and centiseconds (or milliseconds) at `p` and
/// returns the end; negative times read as zero, times past MAX_TIME as MAX_TIME. Hours wider
/// than `hourWidth` keep every digit. Writes at most TIME_TEXT_MAX bytes.
char* WriteTime(char* p, int32_t t, int hourWidth, char fraction, bool millis) {
  t = std::clamp(t, 0, MAX_TIME);  // nothing is written that could not be read back
  const int32_t h = t / 360000, m = (t % 360000) / 6000, s = (t % 6000) / 100, c = t % 100;
  char digits[12];
  char* end = std::to_chars(digits, digits + sizeof digits, h).ptr;
  for (int pad = hourWidth - static_cast<int>(end - digits); pad > 0; --pad) *p++ = '0';
  p = std::copy(digits, end, p);
  const auto two = [&p](int32_t v) {
    *p++ = static_cast<char>('0' + v / 10);
    *p++ = static_cast<char>('0' + v % 10);
  };
  *p++ = ':';
  two(m);
  *p++ = ':';
  two(s);
  *p++ = fraction;
  two(c);
  if (millis) *p++ = '0';
  return p;
}

void AppendTime(std::string& out, int32_t t, int hourWidth, char fraction, bool millis) {
  char buf[TIME_TEXT_MAX];
  out.append(buf, static_cast<size_t>(WriteTime(buf, t, hourWidth, fraction, millis) - buf));
}

/// A whole number as the RTL reads it: leading spaces, an optional sign, decimal digits or "$"/
/// "0x" hexadecimal digits, nothing after. Throws TimeTextError(`whole`) otherwise.
int64_t StrToInt(std::string_view f, std::string_view whole) {
  size_t i = 0;
  while (i < f.size() && f[i] == ' ') ++i;
  bool neg = false;
  if (i < f.size() && (f[i] == '+' || f[i] == '-')) neg = f[i++] == '-';
  int base = 10;
  if (i < f.size() && f[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < f.size() && f[i] == '0' && (f[i + 1] == 'x' || f[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= f.size()) throw TimeTextError(std::string(whole));
  int64_t n = 0;
  for (; i < f.size(); ++i) {
    char c = f[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else throw TimeTextError(std::string(whole));
    n = n * base + d;
    if (n > 0x7FFFFFFF) throw TimeTextError(std::string(whole));
  }
  return neg ? -n : n;
}

int32_t Checked(int64_t t, std::string_view whole) {
  if (t > MAX_TIME || t < -MAX_TIME) throw TimeTextError(std::string(whole));
  return static_cast<int32_t>(t);
}

size_t LeadingDigits(std::string_view s) {
  size_t k = 0;
  while (k < s.size() && s[k] >= '0' && s[k] <= '9') ++k;
  return k;
}

}  // namespace

void AppendTimeStr(std::string& out, int32_t t) {
  AppendTime(out, t, /*hourWidth=*/2, ',', /*millis=*/true);
}

char* WriteTimeStr(char* p, int32_t t) {
  return WriteTime(p, t, /*hourWidth=*/2, ',', /*millis=*/true);
}

void AppendTimeAssStr(std::string& out, int32_t t) {
  AppendTime(out, t, /*hourWidth=*/1, '.', /*millis=*/false);
}

std::string IntToTimeStr(int32_t t) {
  std::string s;
  AppendTimeStr(s, t);
  return s;
}

std::string IntToTimeAssStr(int32_t t) {
  std::string s;
  AppendTimeAssStr(s, t);
  return s;
}

int32_t StrToPercentS(std::string_view S) {
  const int64_t hours = StrToInt(Utf8Copy(S, 1, 2), S);
  const int64_t minutes = StrToInt(Utf8Copy(S, 4, 2), S);
  const int64_t seconds = StrToInt(Utf8Copy(S, 7, 2), S);
  const int64_t millis = StrToInt(Utf8Copy(S, 10, 3), S);
  const int64_t cs = static_cast<int64_t>(std::nearbyint(static_cast<double>(millis) / 10.0));
  return Checked(((hours * 60 + minutes) * 60 + seconds) * 100 + cs, S);
}

int32_t ReadAssTime(std::string_view s, size_t& consumedBytes) {
  const size_t k = LeadingDigits(s);
  if (k >= 2) {
    // "10:00:00.00" and zero-padded "00:00:01.00": the hours are taken whole, the rest at the
    // usual fixed positions.
    std::string_view rest = s.substr(k);
    const size_t restBytes = Utf8PrefixBytes(rest, 9);
    const int64_t hours = StrToInt(s.substr(0, k), s.substr(0, k + restBytes));
    const int64_t part = StrToPercentS("00" + std::string(rest.substr(0, restBytes)) + "0");
    consumedBytes = k + Utf8PrefixBytes(rest, 10);
    return Checked(hours * 360000 + part, s.substr(0, k + restBytes));
  }
  const size_t tenBytes = Utf8PrefixBytes(s, 10);
  const std::string text = "0" + std::string(s.substr(0, tenBytes)) + "0";
  int32_t t;
  try {
    t = StrToPercentS(text);
  } catch (const TimeTextError&) {
    throw TimeTextError(std::string(s.substr(0, tenBytes)));
  }
  consumedBytes = Utf8PrefixBytes(s, 11);
  return t;
}

size_t ReadSrtTimeLine(std::string_view line, int32_t& timeIn, int32_t& timeOut) {
  auto readOne = [](std::string_view s, size_t& used) -> int32_t {
    const size_t k = LeadingDigits(s);
    if (k >= 3) {
      std::string_view rest = s.substr(k);
      const size_t restBytes = Utf8PrefixBytes(rest, 10);
      const int64_t hours = StrToInt(s.substr(0, k), s.substr(0, k + restBytes));
      const int64_t part = StrToPercentS("00" + std::string(rest.substr(0, restBytes)));
      used = k + restBytes;
      return Checked(hours * 360000 + part, s.substr(0, k + restBytes));
    }
    used = Utf8PrefixBytes(s, 12);
    return StrToPercentS(s.substr(0, used));
  };
  size_t used = 0;
  timeIn = readOne(line, used);
  // The end time stands 5 characters (" --> ") after the start time: columns 18-29.
  std::string_view rest = line.substr(used);
  const size_t arrow = Utf8PrefixBytes(rest, 5);
  rest = rest.substr(arrow);
  size_t used2 = 0;
  timeOut = readOne(rest, used2);
  return std::min(used + arrow + used2, line.size());
}

}  // namespace tamsel
