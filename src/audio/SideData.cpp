#include "SideData.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "FileIo.h"

namespace tamsel {

namespace {

/// The pair every WsData slot past the sound holds: nothing above, one pixel below.
constexpr int8_t WS_EMPTY_TOP = 0;
constexpr int8_t WS_EMPTY_BOTTOM = -1;
/// The envelope of the speech scores never reaches beyond the strip's half height.
constexpr int SCORE_ENVELOPE_MAX = 63;

const char* const OUT_OF_MEMORY = "内存不足，无法载入语音数据。";

/// Sizes `v` to `n` entries of `fill`; false when the memory cannot be had.
template <typename T>
bool Allocate(std::vector<T>& v, uint64_t n, T fill) {
  try {
    v.assign(static_cast<size_t>(n), fill);
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return false;
}

/// Sets the WsData pairs from slot `first` (at least 0) to the end to the empty pair.
void FillEmptyPairs(std::vector<int8_t>& ws, int64_t first) {
  for (size_t k = static_cast<size_t>(std::max<int64_t>(first, 0)); 2 * k + 1 < ws.size(); ++k) {
    ws[2 * k] = WS_EMPTY_TOP;
    ws[2 * k + 1] = WS_EMPTY_BOTTOM;
  }
}

/// Reads the first `bytes` bytes of the file into `dest`; false (with a message naming the
/// file) when it cannot be read or has become shorter.
bool ReadInto(EditorState& st, const std::string& path, char* dest, uint64_t bytes) {
  uint64_t got = 0;
  try {
    ReadFileChunks(path, [&](std::string_view piece) {
      const uint64_t n = std::min<uint64_t>(piece.size(), bytes - std::min(got, bytes));
      std::memcpy(dest + got, piece.data(), static_cast<size_t>(n));
      got += n;
    });
  } catch (const FileError& e) {
    st.Tell(e.path() + "\r" + e.what());
    return false;
  }
  if (got < bytes) {
    st.Tell(path + "\r" + "文件比开始读时短了（" + std::to_string(got) + "字节，应有" +
            std::to_string(bytes) + "字节），请重新准备视频。");
    return false;
  }
  return true;
}

}  // namespace

int32_t OutDelaySlots(const Controls& c) { return 10 * (std::clamp(c.TrackBarOutDelay, 0, 5) + 1); }

bool ReadSpeechScores(EditorState& st, std::vector<uint8_t>& begin, std::vector<uint8_t>* end,
                      size_t endDelay, const std::string& consequence) {
  const auto wsSize = FileSizeOf(st.WsFileName);
  if (!wsSize) {
    std::error_code ec;
    const bool present = std::filesystem::exists(ToPath(st.WsFileName), ec);
    st.Tell(st.WsFileName + "\r" + (present ? "无法读取这个文件。" : "找不到这个文件。") +
            consequence);
    return false;
  }
  const uint64_t slots = *wsSize / 2;
  std::vector<uint8_t> b;
  std::vector<uint8_t> e;
  if (!Allocate(b, slots + SCORE_MARGIN, uint8_t{0}) ||
      (end && !Allocate(e, slots + SCORE_MARGIN, uint8_t{0}))) {
    st.Tell(st.WsFileName + "\r" + OUT_OF_MEMORY + consequence);
    return false;
  }
  // Straight from the file's pieces into the arrays, the end scores already in their delayed
  // places: no copy of the whole file is held.
  const uint64_t limit = std::min<uint64_t>(*wsSize, 2 * slots);
  const size_t delay = std::min<size_t>(endDelay, SCORE_MARGIN);
  uint64_t offset = 0;
  try {
    ReadFileChunks(st.AiFileName, [&](std::string_view piece) {
      const auto* p = reinterpret_cast<const uint8_t*>(piece.data());
      uint64_t from = offset;
      const uint64_t to = std::min<uint64_t>(offset + piece.size(), limit);
      offset += piece.size();
      if (from >= to) return;
      if (from % 2 != 0) {  // the end score of a slot whose begin score came in the last piece
        if (end) e[from / 2 + delay] = p[0];
        ++from;
      }
      const uint8_t* q = p + (from - (offset - piece.size()));
      const uint64_t pairs = (to - from) / 2;
      uint8_t* bk = b.data() + from / 2;
      if (end) {
        uint8_t* ek = e.data() + from / 2 + delay;
        for (uint64_t k = 0; k < pairs; ++k) {
          bk[k] = q[2 * k];
          ek[k] = q[2 * k + 1];
        }
      } else {
        for (uint64_t k = 0; k < pairs; ++k) bk[k] = q[2 * k];
      }
      if ((to - from) % 2 != 0) b[(to - 1) / 2] = q[2 * pairs];
    });
  } catch (const FileError& err) {
    st.Tell(err.path() + "\r" + err.what() + consequence);
    return false;
  }
  if (*wsSize % 2 != 0) {
    st.Tell(st.WsFileName + "\r" + "波形文件的长度（" + std::to_string(*wsSize) +
            "字节）不是偶数，文件不完整，请重新准备视频。" + consequence);
    return false;
  }
  if (offset != *wsSize) {
    st.Tell(st.AiFileName + "\r" + "语音数据文件的长度（" + std::to_string(offset) +
            "字节）与波形文件" + st.WsFileName + "（" + std::to_string(*wsSize) +
            "字节）不符，文件不完整或不配套，请重新准备视频。" + consequence);
    return false;
  }
  begin = std::move(b);
  if (end) *end = std::move(e);
  return true;
}

bool LoadSideData(EditorState& st) {
  std::vector<uint8_t> begin;
  std::vector<uint8_t> end;
  // The end scores stand the out-point delay after the speech end the builder found, as the
  // out-point edits do; the first slots have none.
  if (!ReadSpeechScores(st, begin, &end, static_cast<size_t>(OutDelaySlots(st.Ctrl)), "")) {
    return false;
  }
  const uint64_t slots = begin.size() - SCORE_MARGIN;
  std::vector<int8_t> ws;
  if (!Allocate(ws, 2 * (slots + WS_MARGIN), int8_t{0})) {
    st.Tell(st.WsFileName + "\r" + OUT_OF_MEMORY);
    return false;
  }
  if (st.Ctrl.CheckBoxShowAI) {
    // The strip shows the speech scores instead of the sound: begin scores upward, the moved
    // end scores downward, at least one pixel down.
    FillEmptyPairs(ws, static_cast<int64_t>(slots) - 1);
    for (size_t k = 0; k < begin.size(); ++k) {
      ws[2 * k] = static_cast<int8_t>(std::min<int>(begin[k], SCORE_ENVELOPE_MAX));
      ws[2 * k + 1] =
          static_cast<int8_t>(std::max(std::min(-int{end[k]}, -1), -SCORE_ENVELOPE_MAX));
    }
  } else {
    FillEmptyPairs(ws, static_cast<int64_t>(slots));
    if (!ReadInto(st, st.WsFileName, reinterpret_cast<char*>(ws.data()), 2 * slots)) return false;
  }
  st.WsData = std::move(ws);
  st.AiBegin = std::move(begin);
  st.AiEnd = std::move(end);
  return true;
}

bool PlayableWaveFormat(const WAVEFORMATEX& format) {
  return format.wFormatTag == 1 && format.wBitsPerSample == 16 && format.nChannels >= 1 &&
         format.nChannels <= MAX_WAVE_CHANNELS && format.nSamplesPerSec >= MIN_WAVE_RATE &&
         format.nSamplesPerSec <= MAX_WAVE_RATE;
}

std::string UnknownWaveFormatMessage(const std::string& wavFileName, const WAVEFORMATEX& format) {
  std::string text = wavFileName + "\r" + "WAV文件格式不认识。\r\r只接受PCM格式的WAV文件";
  if (format.wFormatTag == 1) {
    // PCM, but not what the sound output plays: say what the file has.
    text += "（16位采样，1至" + std::to_string(MAX_WAVE_CHANNELS) + "个声道，" +
            std::to_string(MIN_WAVE_RATE) + "至" + std::to_string(MAX_WAVE_RATE) +
            "Hz；这个文件是" + std::to_string(format.wBitsPerSample) + "位、" +
            std::to_string(format.nChannels) + "声道、" + std::to_string(format.nSamplesPerSec) +
            "Hz）";
  }
  return text;
}

}  // namespace tamsel
