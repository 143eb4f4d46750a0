#include "SideData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace tamsel {
namespace {

using test::AiFile;
using test::Fixture;
using test::WriteBytes;

/// A prepared video whose .ws file holds `ws` and whose .ai file holds `ai`.
struct SideFiles : Fixture {
  SideFiles(const std::string& ws, const std::string& ai) : Fixture(0) {
    WriteBytes(st.WsFileName, ws);
    st.AiFileName = File(".ai");
    WriteBytes(st.AiFileName, ai);
  }
};

/// WsData pair k.
std::pair<int, int> Pair(const EditorState& st, size_t k) {
  return {st.WsData[2 * k], st.WsData[2 * k + 1]};
}

TEST(LoadSideData, FillsBothArraysAndDelaysTheEndScores) {
  const size_t slots = 300;
  const std::string ai = AiFile(slots, {{0, 7}, {10, 3}, {299, 13}}, {{0, 9}, {5, 4}, {299, 2}});
  for (int position = 0; position <= 5; ++position) {
    SCOPED_TRACE(position);
    SideFiles f(std::string(2 * slots, '\0'), ai);
    f.st.Ctrl.TrackBarOutDelay = position;
    ASSERT_TRUE(LoadSideData(f.st));
    const size_t delay = 10 * (position + 1);
    EXPECT_EQ(OutDelaySlots(f.st.Ctrl), int32_t(delay));
    ASSERT_EQ(f.st.AiBegin.size(), slots + 500);
    ASSERT_EQ(f.st.AiEnd.size(), slots + 500);
    EXPECT_EQ(f.st.AiBegin[0], 7);
    EXPECT_EQ(f.st.AiBegin[10], 3);
    EXPECT_EQ(f.st.AiBegin[299], 13);
    EXPECT_EQ(std::count(f.st.AiBegin.begin(), f.st.AiBegin.end(), 0), long(slots + 500 - 3));
    for (size_t k = 0; k < delay; ++k) EXPECT_EQ(f.st.AiEnd[k], 0) << k;
    EXPECT_EQ(f.st.AiEnd[delay], 9);
    EXPECT_EQ(f.st.AiEnd[delay + 5], 4);
    EXPECT_EQ(f.st.AiEnd[delay + 299], 2);
    EXPECT_EQ(std::count(f.st.AiEnd.begin(), f.st.AiEnd.end(), 0), long(slots + 500 - 3));
    EXPECT_TRUE(f.prompts.messages.empty());
  }
}

TEST(LoadSideData, WsDataIsTheWaveformFileThenTheEmptyMargin) {
  const size_t slots = 70000;  // more than one piece of the file
  std::string ws(2 * slots, '\0');
  for (size_t i = 0; i < ws.size(); ++i) ws[i] = static_cast<char>(i % 251 - 125);
  SideFiles f(ws, AiFile(slots, {{69999, 4}}, {{32767, 5}, {69999, 6}}));
  ASSERT_TRUE(LoadSideData(f.st));
  ASSERT_EQ(f.st.WsData.size(), 2 * slots + 2000);
  EXPECT_TRUE(std::equal(ws.begin(), ws.end(), f.st.WsData.begin(),
                         [](char a, int8_t b) { return static_cast<int8_t>(a) == b; }));
  for (size_t k = slots; k < slots + 1000; ++k)
    ASSERT_EQ(Pair(f.st, k), std::make_pair(0, -1)) << k;
  // The scores read across the pieces of the .ai file.
  EXPECT_EQ(f.st.AiBegin[69999], 4);
  EXPECT_EQ(f.st.AiEnd[32767 + 40], 5);
  EXPECT_EQ(f.st.AiEnd[69999 + 40], 6);
}

TEST(LoadSideData, ShowAIDrawsTheScoresAsTheEnvelope) {
  // Default out-point delay 40 slots: the end score of slot 3 is drawn at slot 43.
  SideFiles f(std::string(200, '\x11'),
              AiFile(100, {{0, 5}, {1, 63}, {2, 64}, {99, 200}}, {{3, 7}, {4, 100}, {80, 9}}));
  f.st.Ctrl.CheckBoxShowAI = true;
  ASSERT_TRUE(LoadSideData(f.st));
  ASSERT_EQ(f.st.WsData.size(), 2200u);
  EXPECT_EQ(Pair(f.st, 0), std::make_pair(5, -1));  // at least one pixel down
  EXPECT_EQ(Pair(f.st, 1), std::make_pair(63, -1));
  EXPECT_EQ(Pair(f.st, 2), std::make_pair(63, -1));  // never above 63
  EXPECT_EQ(Pair(f.st, 43), std::make_pair(0, -7));
  EXPECT_EQ(Pair(f.st, 44), std::make_pair(0, -63));  // never below -63
  EXPECT_EQ(Pair(f.st, 99), std::make_pair(63, -1));
  EXPECT_EQ(Pair(f.st, 120), std::make_pair(0, -9));   // moved past the end of the sound
  EXPECT_EQ(Pair(f.st, 599), std::make_pair(0, -1));   // the score arrays end here ...
  EXPECT_EQ(Pair(f.st, 1099), std::make_pair(0, -1));  // ... the margin here
  // The sound itself is not drawn.
  for (size_t k = 0; k < 100; ++k) EXPECT_NE(Pair(f.st, k).first, 0x11) << k;
}

TEST(LoadSideData, AnEmptyWsFileGivesOnlyTheMargin) {
  for (bool showAI : {false, true}) {
    SideFiles f("", "");
    f.st.Ctrl.CheckBoxShowAI = showAI;
    ASSERT_TRUE(LoadSideData(f.st));
    EXPECT_EQ(f.st.AiBegin, std::vector<uint8_t>(500, 0));
    EXPECT_EQ(f.st.AiEnd, std::vector<uint8_t>(500, 0));
    ASSERT_EQ(f.st.WsData.size(), 2000u);
    for (size_t k = 0; k < 1000; ++k) ASSERT_EQ(Pair(f.st, k), std::make_pair(0, -1)) << k;
  }
}

TEST(ReadSpeechScores, BeginScoresAloneForTheAlignment) {
  SideFiles f(std::string(20, '\0'), AiFile(10, {{9, 8}}, {{0, 5}}));
  std::vector<uint8_t> begin;
  ASSERT_TRUE(ReadSpeechScores(f.st, begin, nullptr, 0, ""));
  ASSERT_EQ(begin.size(), 510u);
  EXPECT_EQ(begin[9], 8);
  EXPECT_EQ(std::count(begin.begin(), begin.end(), 0), 509);
}

TEST(PlayableWaveFormat, SixteenBitPcmOfAtMostEightChannelsAnd384kHz) {
  const struct {
    WAVEFORMATEX format;
    bool playable;
    bool detail;  ///< the message says what the file has
  } cases[] = {
      {{1, 2, 48000, 192000, 4, 16, 0}, true, true},
      {{1, 1, 100, 200, 2, 16, 0}, true, true},
      {{3, 2, 48000, 384000, 8, 32, 0}, false, false},  // float: not PCM
      {{0, 0, 0, 0, 0, 0, 0}, false, false},            // what a file that cannot be opened gives
      {{1, 2, 48000, 96000, 2, 8, 0}, false, true},
      {{1, 0, 48000, 0, 0, 16, 0}, false, true},
      {{1, 1, 99, 198, 2, 16, 0}, false, true},
      // What the sound output takes at most: 8 channels, 384 kHz.
      {{1, 8, 48000, 768000, 16, 16, 0}, true, true},
      {{1, 9, 48000, 864000, 18, 16, 0}, false, true},
      {{1, 1, 384000, 768000, 2, 16, 0}, true, true},
      {{1, 1, 384100, 768200, 2, 16, 0}, false, true},
      {{1, 26626, 3355491200u, 0, 0, 16, 0}, false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlayableWaveFormat(c.format), c.playable) << c.format.wFormatTag;
    const std::string m = UnknownWaveFormatMessage("/v.wav", c.format);
    EXPECT_TRUE(m.starts_with("/v.wav\rWAV文件格式不认识。\r\r只接受PCM格式的WAV文件")) << m;
    EXPECT_EQ(m.find("（16位采样") != std::string::npos, c.detail) << m;
  }
}

}  // namespace
}  // namespace tamsel
