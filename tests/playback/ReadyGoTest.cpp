#include "ReadyGo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "RecordingDevices.h"
#include "SubtitleLoad.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

using test::AiFile;
using test::CallLog;
using test::Fixture;
using test::Only;
using test::RecordingPlayer;
using test::RecordingSound;
using test::Seeks;
using test::WriteBytes;
using test::WriteWav;
using Log = std::vector<std::string>;

/// Makes recording devices on one log and notes what it was asked for.
class RecordingFactory : public MediaFactory {
 public:
  RecordingFactory(CallLog& log, const Clock& clock) : m_log(log), m_clock(clock) {}
  std::unique_ptr<VideoPlayer> CreateVideoPlayer(const std::string& path) override {
    m_log.push_back("create video " + path);
    if (failVideo) throw MediaError("无法打开视频");
    return std::make_unique<RecordingPlayer>(m_log, m_clock, 60.0, 25, 550);
  }
  std::unique_ptr<SoundOutput> CreateSoundOutput(const std::string& path,
                                                 TReadWaveFile& wave) override {
    m_log.push_back("create sound " + path + " " + std::to_string(wave.Format().nChannels) + "x" +
                    std::to_string(wave.Format().nSamplesPerSec) + " from " +
                    std::to_string(wave.DataOffset()));
    return std::make_unique<RecordingSound>(m_log, m_clock, HeldSoundBytes(path, wave),
                                            wave.Format().nChannels, wave.Format().nSamplesPerSec);
  }
  bool failVideo = false;

 private:
  CallLog& m_log;
  const Clock& m_clock;
};

/// A prepared video of 60 s: stereo 48 kHz WAV, side files, and an SRT file of two entries
/// at 1 s and 20 s, loaded.
struct Prepared : Fixture {
  CallLog log;
  ManualClock clock;
  RecordingFactory factory{log, clock};
  EditingMedia media;
  Log steps;
  ReadyGoWindow window{[this] { steps.push_back("start screen off"); },
                       [this] { steps.push_back("lay out"); },
                       [this] { steps.push_back("editing shown"); }};

  Prepared() : Fixture(6000) {
    st.AiFileName = File(".ai");
    st.WavFileName = File(".wav");
    WriteBytes(st.AiFileName, AiFile(6000, {{100, 9}}, {{100, 7}}));
    WriteWav(st.WavFileName, 1, 2, 48000, 16, 60 * 192000, 60 * 192000);
    WriteBytes(st.VideoFileName, "");
    WriteBytes(File(".srt"),
               "1\r\n00:00:01,000 --> 00:00:02,000\r\nOne\r\n\r\n"
               "2\r\n00:00:20,000 --> 00:00:21,000\r\nTwo\r\n\r\n");
    EXPECT_TRUE(SubtitleLoad(st, 0));
    st.SubCurr = 0;
  }
  bool Go() {
    const bool ok = ReadyGo(st, media, factory, window);
    return ok;
  }
};

TEST(ReadyGo, LoadsMakesTheDevicesAndSeeksToTheCurrentSubtitle) {
  Prepared f;
  f.st.FrameStep = 56;  // the last video's
  f.st.MediaLength = 1234;
  f.st.FrameRate = 30;
  f.st.SaveCountdown = 0;
  f.st.ScrollBarPlayPost.Enabled = true;
  f.st.ScrollBarPlayPost.Max = 1234;
  ASSERT_TRUE(f.Go());
  EXPECT_EQ(f.st.ReadyState, 2);
  EXPECT_EQ(f.st.SamplesPerSlot, 480);
  EXPECT_EQ(f.st.WavChannels, 2);
  EXPECT_EQ(f.st.WavDataSize, 60 * 192000);
  // A stereo 48 kHz WAV: 1000 ms is byte 192000; both seeked twice (the position is past 0).
  EXPECT_EQ(f.st.PlayPos, 1000);
  EXPECT_EQ(f.log, (Log{"create video " + f.st.VideoFileName, "video play",
                        "create sound " + f.st.WavFileName + " 2x48000 from 44", "sound once",
                        "video seek 1.000", "sound seek 192000", "video seek 1.000",
                        "sound seek 192000"}));
  EXPECT_EQ(f.steps, (Log{"start screen off", "lay out", "editing shown"}));
  EXPECT_EQ(f.st.CurBegin, 1000);
  EXPECT_EQ(f.st.CurEnd, 2000);
  EXPECT_EQ(f.st.NextBegin, 20000);
  EXPECT_EQ(f.st.ViewMarker, -100.0);
  EXPECT_TRUE(f.st.WaveRedraw);
  // What the playback loop learns anew; what it keeps until then.
  EXPECT_EQ(f.st.MediaLength, 0);
  EXPECT_EQ(f.st.FrameRate, 0);
  EXPECT_EQ(f.st.FrameStep, 56);
  EXPECT_EQ(f.st.MediaWaitTicks, 0);
  EXPECT_FALSE(f.st.Timer4ShowWavEnabled);
  EXPECT_TRUE(f.st.ScrollBarPlayPost.Visible);
  EXPECT_FALSE(f.st.ScrollBarPlayPost.Enabled);
  EXPECT_EQ(f.st.ScrollBarPlayPost.Max, 65536);
  EXPECT_EQ(f.st.SaveCountdown, 3);
  // The side files are loaded, the end scores 40 slots later.
  EXPECT_EQ(f.st.WsData.size(), 2u * 6000 + 2000);
  EXPECT_EQ(f.st.AiBegin[100], 9);
  EXPECT_EQ(f.st.AiEnd[140], 7);
  ASSERT_TRUE(f.media.WaveFile && f.media.MediaPlayer && f.media.SoundBuffer);
  EXPECT_EQ(f.media.SoundBuffer->Cursor(), 192000);
  EXPECT_NEAR(f.media.MediaPlayer->Position(), 1.0, 1e-9);
  EXPECT_TRUE(f.prompts.messages.empty());
}

TEST(ReadyGo, TheSecondSeekOnlyForAPositionPastTheStart) {
  {
    Prepared f;
    f.st.Subs[0].TimeIn = 0;
    ASSERT_TRUE(f.Go());
    EXPECT_EQ(f.st.PlayPos, 0);
    EXPECT_EQ(Seeks(f.log), (Log{"video seek 0.000", "sound seek 0"}));
  }
  {
    // A play mode moves the start: backward in loop mode, a segment's start goes to its end.
    Prepared f;
    f.st.Subs[0].TimeIn = 0;
    f.st.PlayRate = -1.0;
    f.st.DialogueOnly = f.st.LoopMode = true;
    ASSERT_TRUE(f.Go());
    EXPECT_EQ(f.st.PlayPos, 2000);
    EXPECT_EQ(Seeks(f.log),
              (Log{"video seek 0.000", "sound seek 0", "video seek 2.000", "sound seek 384000"}));
  }
}

TEST(ReadyGo, AnEmptyTimelineStartsAtTheStart) {
  Prepared f;
  f.st.Subs.clear();
  f.st.SubCurr = -1;
  f.st.PlayPos = 5000;
  ASSERT_TRUE(f.Go());
  EXPECT_EQ(f.st.ReadyState, 2);
  EXPECT_EQ(f.st.PlayPos, 0);
  EXPECT_EQ(Seeks(f.log), (Log{"video seek 0.000", "sound seek 0"}));
}

TEST(ReadyGo, AMissingFileDoesNothing) {
  for (const char* ext : {".mp4", ".wav", ".ws", ".ai", ".srt"}) {
    SCOPED_TRACE(ext);
    Prepared f;
    std::filesystem::remove(ToPath(f.File(ext)));
    f.st.WsData = {5};
    f.st.MediaLength = 1234;
    EXPECT_FALSE(f.Go());
    EXPECT_EQ(f.st.ReadyState, 1);
    EXPECT_TRUE(f.log.empty());
    EXPECT_TRUE(f.steps.empty());
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_EQ(f.st.WsData, std::vector<int8_t>{5});
    EXPECT_EQ(f.st.MediaLength, 1234);
  }
}

TEST(ReadyGo, AWavTheSoundCannotPlayIsRefusedWithItsMessage) {
  const struct {
    const char* name;
    uint16_t tag, bits;
    bool wave;  ///< a RIFF WAVE file at all
    bool detail;
  } cases[] = {
      {"float", 3, 32, true, false},
      {"8-bit PCM", 1, 8, true, true},
      {"not a WAV file", 1, 16, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Prepared f;
    if (c.wave) {
      WriteWav(f.st.WavFileName, c.tag, 2, 48000, c.bits, 1000, 1000);
    } else {
      WriteBytes(f.st.WavFileName, "ID3\x03 not a wave file");
    }
    EXPECT_FALSE(f.Go());
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    const std::string expected =
        f.st.WavFileName + "\r" + "WAV文件格式不认识。\r\r只接受PCM格式的WAV文件";
    if (c.detail) {
      EXPECT_TRUE(f.prompts.messages[0].starts_with(expected + "（16位采样"))
          << f.prompts.messages[0];
    } else {
      EXPECT_EQ(f.prompts.messages[0], expected);
    }
    EXPECT_EQ(f.st.ReadyState, 1);
    EXPECT_TRUE(f.log.empty());
    EXPECT_TRUE(f.steps.empty());
    EXPECT_FALSE(f.media.WaveFile);
    EXPECT_EQ(f.st.WsData.size(), 2u * 6000 + 2000);  // the arrays stay loaded
  }
}

TEST(ReadyGo, SideFilesThatDisagreeAreRefusedBeforeAnyDevice) {
  Prepared f;
  WriteBytes(f.st.AiFileName, std::string(100, '\0'));
  EXPECT_FALSE(f.Go());
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_TRUE(f.prompts.messages[0].starts_with(f.st.AiFileName + "\r"));
  EXPECT_TRUE(f.log.empty());
  EXPECT_EQ(f.st.ReadyState, 1);
}

TEST(ReadyGo, TheSoundIsWhatTheWavHolds) {
  Prepared f;
  // A header that promises 60 s of which the file holds 10 (a cut copy), prepared as it is.
  WriteWav(f.st.WavFileName, 1, 2, 48000, 16, 60 * 192000, 10 * 192000 + 3);
  WriteBytes(f.st.WsFileName, std::string(1000 * 2, '\0'));
  WriteBytes(f.st.AiFileName, AiFile(1000, {}, {}));
  ASSERT_TRUE(f.Go());
  EXPECT_EQ(f.st.WavDataSize, 10 * 192000 + 3);
  f.media.SoundBuffer->SetCursor(1 << 30);
  EXPECT_EQ(f.media.SoundBuffer->Cursor(), 10 * 192000);  // the last whole frame
}

TEST(ReadyGo, AWavThatNoLongerFitsTheWaveformIsRefusedAndNotReady) {
  // The waveform was made from 60 s of sound; the WAV has been cut or replaced since.
  const struct {
    const char* name;
    uint32_t held;
    const char* lengths;
  } cases[] = {
      {"cut", 10 * 192000 + 3, "（声音长0:00:10.00，波形长0:01:00.00）"},
      {"cut by less than a slot", 60 * 192000 - 1, "（声音长0:00:59.99，波形长0:01:00.00）"},
      {"longer", 61 * 192000, "（声音长0:01:01.00，波形长0:01:00.00）"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Prepared f;
    f.st.Pictures = {/*ImageReadyGo=*/true, /*ImageNotReady=*/false, /*ImageVideoYes=*/true,
                     /*ImageVideoNon=*/false};
    WriteWav(f.st.WavFileName, 1, 2, 48000, 16, std::max(c.held, 60u * 192000), c.held);
    EXPECT_FALSE(f.Go());
    EXPECT_EQ(f.prompts.messages,
              Log{f.st.WavFileName + "\r声音文件与波形文件" + f.st.WsFileName + "不符" + c.lengths +
                  "，也许声音文件在准备之后被改动或截短了。\r请重新打开视频，重新准备。"});
    EXPECT_TRUE(f.log.empty());
    EXPECT_TRUE(f.steps.empty());
    EXPECT_EQ(f.st.ReadyState, 1);
    EXPECT_FALSE(f.media.WaveFile);
    EXPECT_FALSE(f.st.Pictures.ImageReadyGo);
    EXPECT_TRUE(f.st.Pictures.ImageNotReady);
  }
}

TEST(ReadyGo, APlayerThatCannotBeMadeLeavesTheStartScreen) {
  Prepared f;
  f.factory.failVideo = true;
  EXPECT_THROW(f.Go(), MediaError);
  EXPECT_EQ(f.st.ReadyState, 1);
  EXPECT_EQ(f.steps, Log{"start screen off"});
}

TEST(ReadyGo, EnteringAgainForgetsTheLastVideosFacts) {
  Prepared f;
  ASSERT_TRUE(f.Go());
  f.st.MediaLength = 6000;
  f.st.MediaLengthGuessed = true;
  f.st.FrameRate = 25;
  f.st.MediaWaitTicks = 7;
  f.st.Timer4ShowWavEnabled = true;
  f.st.ScrollBarPlayPost.Enabled = true;
  f.st.ReadyState = 1;  // back to the start screen
  f.log.clear();
  ASSERT_TRUE(f.Go());
  EXPECT_EQ(f.st.MediaLength, 0);
  EXPECT_FALSE(f.st.MediaLengthGuessed);
  EXPECT_EQ(f.st.FrameRate, 0);
  EXPECT_EQ(f.st.MediaWaitTicks, 0);
  EXPECT_FALSE(f.st.Timer4ShowWavEnabled);
  EXPECT_FALSE(f.st.ScrollBarPlayPost.Enabled);
  EXPECT_EQ(Only(f.log, {"create"}).size(), 2u);
}

}  // namespace
}  // namespace tamsel
