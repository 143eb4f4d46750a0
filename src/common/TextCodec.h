#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {

/// How a text file without a byte-order mark is written: the encoding it was read in.
enum class CodePage { Utf8, Gb18030 };

/// The bytes of a text file could not be turned into text. line() is 1-based.
class TextDecodeError : public std::runtime_error {
 public:
  TextDecodeError(int line, const std::string& what) : std::runtime_error(what), m_line(line) {}
  int line() const { return m_line; }

 private:
  int m_line;
};

/// A text file turned into UTF-8 lines, with what is needed to write it back alike.
struct DecodedText {
  std::vector<std::string> Lines;
  bool Utf8Bom = false;  ///< began with EF BB BF
  bool Utf16 = false;    ///< began with a UTF-16 byte-order mark
  bool Utf32 = false;    ///< began with a UTF-32 byte-order mark
  /// Read from UTF-16 or UTF-32: such a file is written back as UTF-8.
  bool Wide() const { return Utf16 || Utf32; }
  CodePage Plain = CodePage::Utf8;  ///< without a mark: UTF-8 when valid, else GB18030
};

/// Decodes a whole text file: UTF-8 with mark, UTF-32 or UTF-16 with mark, otherwise UTF-8 when
/// the bytes are valid UTF-8, else GB18030. Lines end at CR LF, LF or a lone CR; a line ending
/// at the end of the file does not start another line. Throws TextDecodeError, also for a file
/// that looks like UTF-16 without its mark (which would otherwise read as text full of NULs).
DecodedText DecodeTextFile(std::string_view bytes);

/// Whether bytes without a byte-order mark look like UTF-16 (NUL bytes beside the characters, all
/// at even or all at odd offsets): DecodeTextFile refuses such bytes rather than read NULs.
bool LooksLikeUtf16(std::string_view bytes);

/// The UTF-8 byte-order mark.
inline constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

/// The bytes of a text file from its text composed in UTF-8 (every line already ending in
/// CR LF): with the UTF-8 mark in front when `utf8Bom`, else in `plain`.
std::string EncodeText(std::string text, bool utf8Bom, CodePage plain);
/// The same, turning `text` itself into the bytes.
void EncodeTextInPlace(std::string& text, bool utf8Bom, CodePage plain);

/// The bytes of a text file: every line followed by CR LF, with the UTF-8 mark when `utf8Bom`,
/// else in `plain`.
std::string EncodeTextFile(const std::vector<std::string>& lines, bool utf8Bom, CodePage plain);

/// A short, printable excerpt of `text` for a message: at most `maxChars` characters (then
/// "…"), control characters and bytes that are not UTF-8 shown as \xNN.
std::string Excerpt(std::string_view text, size_t maxChars = 60);

/// True when `s` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view s);

/// Splits UTF-8 text into lines at CR LF, LF and lone CR.
std::vector<std::string> SplitLines(std::string_view text);

/// Byte length of the first `chars` characters of UTF-8 text `s` (all of it when shorter).
size_t Utf8PrefixBytes(std::string_view s, size_t chars);
/// Number of characters in UTF-8 text.
size_t Utf8Length(std::string_view s);
/// Characters `first` (1-based) .. `first` + `count` - 1 of UTF-8 text, as far as they exist.
std::string Utf8Copy(std::string_view s, size_t first, size_t count);

}  // namespace tamsel
