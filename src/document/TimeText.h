#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tamsel {

/// A time text that does not read as a time; what() names the text.
class TimeTextError : public std::runtime_error {
 public:
  explicit TimeTextError(const std::string& text)
      : std::runtime_error("“" + text + "”不是有效的时间"), m_text(text) {}
  const std::string& text() const { return m_text; }

 private:
  std::string m_text;
};

/// The latest time a subtitle file may hold: 1000 hours, far past any video, and far enough
/// below the 32-bit limit that edits and minimum lengths never overflow.
inline constexpr int32_t MAX_TIME = 1000 * 360000;

/// Appends a time in SRT notation (as IntToTimeStr) to `out`.
void AppendTimeStr(std::string& out, int32_t t);
/// The most bytes a time text takes (MAX_TIME's hours are four digits).
inline constexpr size_t TIME_TEXT_MAX = 20;
/// Writes IntToTimeStr(t) at `p` (at most TIME_TEXT_MAX bytes) and returns its end.
char* WriteTimeStr(char* p, int32_t t);
/// Appends a time in ASS notation (as IntToTimeAssStr) to `out`.
void AppendTimeAssStr(std::string& out, int32_t t);

/// SRT notation HH:MM:SS,mmm of a time in centiseconds; negative times read as zero.
/// Hours past 99 are written in full so that no time wraps around; times past MAX_TIME are
/// written as MAX_TIME.
std::string IntToTimeStr(int32_t t);

/// ASS notation H:MM:SS.cc of a time in centiseconds, also used for every time shown to the
/// user; negative times read as zero. Hours past 9 are written in full so that no time wraps.
std::string IntToTimeAssStr(int32_t t);

/// Reads SRT notation by its fixed character positions (hours 1-2, minutes 4-5, seconds 7-8,
/// milliseconds 10-12; the separators are not looked at). Milliseconds round to centiseconds,
/// halves to even. Throws TimeTextError when a field is not a number.
int32_t StrToPercentS(std::string_view S);

/// Reads the ASS time at the start of `s` ("0:00:01.23," and so on) and gives the number of
/// bytes it and its comma take. One-digit hours read at fixed positions; longer hours are taken
/// whole, up to MAX_TIME. Throws TimeTextError.
int32_t ReadAssTime(std::string_view s, size_t& consumedBytes);

/// Reads an SRT time line "HH:MM:SS,mmm --> HH:MM:SS,mmm" (times at columns 1-12 and 18-29;
/// hours past 99 are taken whole, up to MAX_TIME) and gives the number of bytes the two times
/// take; whatever follows them (position tags) is the caller's. Throws TimeTextError.
size_t ReadSrtTimeLine(std::string_view line, int32_t& timeIn, int32_t& timeOut);

}  // namespace tamsel
