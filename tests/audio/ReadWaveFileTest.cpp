#include "ReadWaveFile.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace tamsel {
namespace {

using test::TempDir;
using test::U16;
using test::U32;
using test::WriteBytes;

std::string Chunk(const std::string& id, const std::string& body) {
  std::string c = id + U32(static_cast<uint32_t>(body.size())) + body;
  if (body.size() & 1) c += '\0';
  return c;
}

/// A fmt body of `size` bytes for 16-bit PCM.
std::string Fmt(uint16_t channels, uint32_t rate, size_t size = 16, uint16_t tag = 1) {
  std::string f = U16(tag) + U16(channels) + U32(rate) + U32(rate * channels * 2) +
                  U16(channels * 2) + U16(16);
  f.resize(size, '\x05');
  return f;
}

std::string Riff(const std::string& form, const std::string& chunks) {
  return "RIFF" + U32(static_cast<uint32_t>(4 + chunks.size())) + form + chunks;
}

TEST(TReadWaveFile, FindsFormatAndDataWhateverStandsBetween) {
  TempDir dir;
  struct Case {
    std::string bytes;
    uint16_t channels;
    uint32_t rate;
    uint16_t cbSize;
  } cases[] = {
      {Riff("WAVE", Chunk("fmt ", Fmt(2, 48000)) + Chunk("data", "abcdef")), 2, 48000, 0},
      {Riff("WAVE", Chunk("fmt ", Fmt(1, 44100, 18)) + Chunk("LIST", "xyz") +
                        Chunk("data", "abcdef")),
       1, 44100, 0x0505},
      // The extensible format's 40-byte fmt chunk: the first 18 bytes are kept.
      {Riff("WAVE", Chunk("fmt ", Fmt(2, 48000, 40)) + Chunk("fact", "1234") +
                        Chunk("data", "abcdef")),
       2, 48000, 0x0505},
  };
  for (const auto& c : cases) {
    WriteBytes(dir.Path("a.wav"), c.bytes);
    TReadWaveFile wav;
    ASSERT_TRUE(wav.Open(dir.Path("a.wav")));
    EXPECT_EQ(wav.Format().wFormatTag, 1);
    EXPECT_EQ(wav.Format().nChannels, c.channels);
    EXPECT_EQ(wav.Format().nSamplesPerSec, c.rate);
    EXPECT_EQ(wav.Format().wBitsPerSample, 16);
    EXPECT_EQ(wav.Format().cbSize, c.cbSize);
    EXPECT_EQ(wav.Size(), 6u);
    EXPECT_EQ(c.bytes.substr(wav.DataOffset(), 6), "abcdef");
    char buf[8] = {};
    EXPECT_TRUE(wav.Read(buf, 4));
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_FALSE(wav.Read(buf, 4));  // two bytes remain
    EXPECT_EQ(std::string(buf, 2), "ef");
  }
}

TEST(TReadWaveFile, OddFilesOpenOrAreRefused) {
  TempDir dir;
  struct Case {
    std::string bytes;
    bool opens;
    uint16_t tag;
    uint32_t size;
  } cases[] = {
      {Riff("AVI ", Chunk("fmt ", Fmt(2, 48000))), false, 0, 0},
      {"RIFX" + U32(4) + "WAVE", false, 0, 0},
      {"RIFF", false, 0, 0},
      {"", false, 0, 0},
      {Riff("WAVE", Chunk("data", "ab") + Chunk("fmt ", Fmt(2, 48000))), true, 1, 0},
      {Riff("WAVE", Chunk("data", "abcd")), true, 0, 0},
      {Riff("WAVE", Chunk("fmt ", Fmt(2, 48000))), true, 1, 0},
      // Truncated after the data chunk's header: the size is the header's.
      {Riff("WAVE", Chunk("fmt ", Fmt(2, 48000)) + Chunk("data", std::string(1000, 'x')))
           .substr(0, 46),
       true, 1, 1000},
      {Riff("WAVE", Chunk("fmt ", Fmt(2, 48000).substr(0, 10))), true, 1, 0},
  };
  for (const auto& c : cases) {
    WriteBytes(dir.Path("a.wav"), c.bytes);
    TReadWaveFile wav;
    EXPECT_EQ(wav.Open(dir.Path("a.wav")), c.opens);
    EXPECT_EQ(wav.Format().wFormatTag, c.tag);
    EXPECT_EQ(wav.Size(), c.size);
  }
  TReadWaveFile missing;
  EXPECT_FALSE(missing.Open(dir.Path("none.wav")));
  char b;
  EXPECT_FALSE(missing.Read(&b, 1));
}

}  // namespace
}  // namespace tamsel
