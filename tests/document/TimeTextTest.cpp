#include "TimeText.h"

#include <gtest/gtest.h>

namespace tamsel {
namespace {

TEST(TimeText, WritesBothNotations) {
  struct Case {
    int32_t t;
    const char* srt;
    const char* ass;
  } cases[] = {
      {0, "00:00:00,000", "0:00:00.00"},
      {12345, "00:02:03,450", "0:02:03.45"},
      {2880000, "08:00:00,000", "8:00:00.00"},
      {2880250, "08:00:02,500", "8:00:02.50"},
      {-1, "00:00:00,000", "0:00:00.00"},
      {INT32_MIN, "00:00:00,000", "0:00:00.00"},
      // Hours past the field width are written in full rather than wrapping to the start.
      {3600000, "10:00:00,000", "10:00:00.00"},
      {3672345, "10:12:03,450", "10:12:03.45"},
      {36000000, "100:00:00,000", "100:00:00.00"},
      {MAX_TIME + 1, "1000:00:00,000", "1000:00:00.00"},
      {INT32_MAX, "1000:00:00,000", "1000:00:00.00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IntToTimeStr(c.t), c.srt) << c.t;
    EXPECT_EQ(IntToTimeAssStr(c.t), c.ass) << c.t;
  }
}

TEST(TimeText, ReadsSrtNotationAtFixedPositions) {
  struct Case {
    const char* text;
    int32_t t;
  } cases[] = {
      {"00:00:01,005", 100}, {"00:00:01,015", 102}, {"00:00:01,025", 102},
      {"00:00:01,999", 200}, {"01:02:03,040", 372304}, {"00:00:01,5", 100},
      {"00:00:01.230", 123},  // the separators are not looked at
      {"99:59:59,990", 35999999},
  };
  for (const auto& c : cases) EXPECT_EQ(StrToPercentS(c.text), c.t) << c.text;
  for (const char* bad : {"0:00:01,000", "00:00:01", "00:0a:01,000", "", "00:00:01,"}) {
    EXPECT_THROW(StrToPercentS(bad), TimeTextError) << bad;
  }
}

TEST(TimeText, RoundTripsEveryTimeInBothNotations) {
  for (int32_t t : {0, 1, 99, 100, 5999, 359999, 360000, 2880000, 3599999, 3600000, 3600001,
                    35999999, 36000000, 123456789}) {
    int32_t in = -1, out = -1;
    ReadSrtTimeLine(IntToTimeStr(t) + " --> " + IntToTimeStr(t + 1), in, out);
    EXPECT_EQ(in, t);
    EXPECT_EQ(out, t + 1);
    size_t used = 0;
    const std::string ass = IntToTimeAssStr(t) + ",rest";
    EXPECT_EQ(ReadAssTime(ass, used), t);
    EXPECT_EQ(ass.substr(used), "rest");
  }
}

TEST(TimeText, ReadsAssTimes) {
  size_t used = 0;
  EXPECT_EQ(ReadAssTime("0:00:01.23,", used), 123);
  EXPECT_EQ(used, 11u);
  // Zero-padded hours, as some programs write them.
  EXPECT_EQ(ReadAssTime("00:01:00.50,x", used), 6050);
  EXPECT_EQ(used, 12u);
  // A full-width colon stands where a separator goes and is not looked at.
  EXPECT_EQ(ReadAssTime("0:00\xEF\xBC\x9A" "01.00,", used), 100);
  EXPECT_EQ(used, 13u);
  EXPECT_EQ(ReadAssTime("1000:00:00.00,", used), MAX_TIME);
  for (const char* bad : {"0:0a:01.00,", "x:00:01.00,", "", "0:00", "99999999:00:00.00,",
                          "1000:00:00.01,", "5965:13:56.47,"}) {
    EXPECT_THROW(ReadAssTime(bad, used), TimeTextError) << bad;
  }
}

}  // namespace
}  // namespace tamsel
