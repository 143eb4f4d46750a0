#include "TextCodec.h"

#include <gtest/gtest.h>

namespace tamsel {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitLines, EveryLineEndReadsAlike) {
  struct Case {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
      {"\r\n", {""}},
      {"a\r\n\r\n", {"a", ""}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\r", {"a", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}

TEST(DecodeTextFile, ByteOrderMarksAndPlainBytes) {
  // "你好" in UTF-8, GB18030, UTF-16LE and UTF-16BE.
  const std::string utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD";
  DecodedText bom = DecodeTextFile("\xEF\xBB\xBF" + utf8 + "\r\nx");
  EXPECT_TRUE(bom.Utf8Bom);
  EXPECT_EQ(bom.Lines, (Lines{utf8, "x"}));

  DecodedText plain = DecodeTextFile(utf8 + "\n");
  EXPECT_FALSE(plain.Utf8Bom);
  EXPECT_EQ(plain.Plain, CodePage::Utf8);
  EXPECT_EQ(plain.Lines, Lines{utf8});

  DecodedText gb = DecodeTextFile("\xC4\xE3\xBA\xC3\r\n");
  EXPECT_EQ(gb.Plain, CodePage::Gb18030);
  EXPECT_EQ(gb.Lines, Lines{utf8});

  DecodedText le = DecodeTextFile(std::string("\xFF\xFE\x60\x4F\x7D\x59\r\0\n\0a\0", 12));
  EXPECT_TRUE(le.Utf16);
  EXPECT_FALSE(le.Utf8Bom);
  EXPECT_EQ(le.Lines, (Lines{utf8, "a"}));

  DecodedText be = DecodeTextFile(std::string("\xFE\xFF\x4F\x60\x59\x7D", 6));
  EXPECT_EQ(be.Lines, Lines{utf8});
}

TEST(DecodeTextFile, BadBytesNameTheirLine) {
  struct Case {
    std::string bytes;
    int line;
  } cases[] = {
      {"\xEF\xBB\xBF" "ok\r\nok\r\nbad\xFF\r\n", 3},   // marked UTF-8 with a stray byte
      {"ok\nok\n\x80\n", 3},                           // neither UTF-8 nor GB18030
      {"ok\r\n\xC4", 2},                               // GB18030 cut short
      {std::string("\xFF\xFE" "a\0\n\0\x00\xD8\n\0", 10), 2},  // lone surrogate in UTF-16
      {std::string("\xFF\xFE\0\0" "a\0\0\0\n\0\0\0\0\0\x11\0", 16), 2},  // past U+10FFFF
      // UTF-16 without its mark, either byte order: a message, not text full of NULs.
      {std::string("1\0\r\0\n\0" "0\0" "0\0:\0", 12), 1},
      {std::string("\0" "1\0\r\0\n\0" "0\0" "0\0:", 12), 1},
  };
  for (const auto& c : cases) {
    try {
      DecodeTextFile(c.bytes);
      ADD_FAILURE() << "accepted bad bytes, case line " << c.line;
    } catch (const TextDecodeError& e) {
      EXPECT_EQ(e.line(), c.line);
      EXPECT_NE(std::string(e.what()), "");
    }
  }
}

TEST(DecodeTextFile, StrayNulBytesAreNotTakenForUtf16) {
  // NUL padding after a text (a file cut off by a crash) and Chinese in GB18030 read as before.
  EXPECT_EQ(DecodeTextFile("ab\r\n" + std::string(64, '\0')).Lines.size(), 2u);
  EXPECT_EQ(DecodeTextFile(std::string("\xC4\xE3\xBA\xC3\0\r\n", 7)).Plain, CodePage::Gb18030);
  EXPECT_TRUE(DecodeTextFile(std::string("\0\0\xFE\xFF\0\0\0a", 8)).Utf32);
}

TEST(Excerpt, ShortAndPrintable) {
  struct Case {
    std::string text;
    size_t chars;
    std::string out;
  } cases[] = {
      {"plain", 60, "plain"},
      {std::string("a\0b\tc", 5), 60, "a\\x00b\\x09c"},
      {"你好世界", 2, "你好…"},
      {"ab\xFF\xE4\xBD", 60, "ab\\xFF\\xE4\\xBD"},
      {std::string(100000, 'x'), 40, std::string(40, 'x') + "…"},
  };
  for (const auto& c : cases) EXPECT_EQ(Excerpt(c.text, c.chars), c.out);
}

TEST(EncodeTextFile, WritesBackInTheEncodingRead) {
  const std::string gbBytes = "[Script Info]\r\n\xC4\xE3\xBA\xC3\r\n";
  DecodedText gb = DecodeTextFile(gbBytes);
  EXPECT_EQ(EncodeTextFile(gb.Lines, gb.Utf8Bom, gb.Plain), gbBytes);

  EXPECT_EQ(EncodeTextFile({"a", "", "b"}, /*utf8Bom=*/true, CodePage::Utf8),
            "\xEF\xBB\xBF" "a\r\n\r\nb\r\n");
  EXPECT_EQ(EncodeTextFile({}, /*utf8Bom=*/false, CodePage::Utf8), "");
}

TEST(IsValidUtf8, RejectsMalformedSequences) {
  EXPECT_TRUE(IsValidUtf8("plain ascii that is longer than eight bytes"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));  // U+1F600
  for (std::string bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xBD", "\x80",
                          "\xF8\x88\x80\x80\x80"}) {
    EXPECT_FALSE(IsValidUtf8(bad));
    EXPECT_FALSE(IsValidUtf8("long ascii prefix " + bad));
  }
}

TEST(Utf8Copy, CountsCharactersNotBytes) {
  const std::string s = "0:00\xEF\xBC\x9A" "01.00";  // full-width colon as the fifth character
  EXPECT_EQ(Utf8Copy(s, 5, 1), "\xEF\xBC\x9A");
  EXPECT_EQ(Utf8Copy(s, 6, 2), "01");
  EXPECT_EQ(Utf8Copy(s, 9, 10), "00");
  EXPECT_EQ(Utf8Copy(s, 20, 2), "");
  EXPECT_EQ(Utf8Length(s), 10u);
}

}  // namespace
}  // namespace tamsel
