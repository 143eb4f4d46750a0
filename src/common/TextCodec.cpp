#include "TextCodec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>

namespace tamsel {

namespace {

/// Converts with iconv; on bad input reports the byte offset where conversion stopped.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out,
             size_t* badOffset) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  out.clear();
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  size_t done = 0;
  bool ok = true;
  while (srcLeft > 0) {
    char* dst = out.data() + done;
    size_t dstLeft = out.size() - done;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    done = out.size() - dstLeft;
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      ok = false;  // EILSEQ or EINVAL (cut short at the end)
      if (badOffset) *badOffset = in.size() - srcLeft;
      break;
    }
  }
  if (ok) {
    // Flush any shift state.
    char* dst = out.data() + done;
    size_t dstLeft = out.size() - done;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    done = out.size() - dstLeft;
  }
  iconv_close(cd);
  out.resize(done);
  return ok;
}

/// 1-based line number of byte `offset` in text whose line breaks are single bytes.
int LineOfByte(std::string_view bytes, size_t offset) {
  int line = 1;
  for (size_t i = 0; i < offset && i < bytes.size(); ++i) {
    if (bytes[i] == '\n') ++line;
    else if (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n')) ++line;
  }
  return line;
}

/// The same for UTF-16 or UTF-32 code units (`width` 2 or 4 bytes).
int LineOfUnit(std::string_view bytes, size_t offset, bool bigEndian, size_t width) {
  const auto unit = [&](size_t i) -> uint32_t {
    if (i + width > bytes.size()) return 0;
    uint32_t u = 0;
    for (size_t k = 0; k < width; ++k) {
      u = u << 8 | uint8_t(bytes[bigEndian ? i + k : i + width - 1 - k]);
    }
    return u;
  };
  int line = 1;
  for (size_t i = 0; i + width <= bytes.size() && i < offset; i += width) {
    const uint32_t u = unit(i);
    if (u == '\n' || (u == '\r' && unit(i + width) != '\n')) ++line;
  }
  return line;
}


}  // namespace

std::string Excerpt(std::string_view text, size_t maxChars) {
  std::string out;
  size_t chars = 0;
  size_t i = 0;
  while (i < text.size() && chars < maxChars) {
    const auto c = static_cast<uint8_t>(text[i]);
    size_t len = 1;
    if (c >= 0x80) {
      len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (len == 1 || i + len > text.size() || !IsValidUtf8(text.substr(i, len))) len = 0;
    }
    if (len == 0 || c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
    ++chars;
  }
  if (i < text.size()) out += "…";
  return out;
}

bool LooksLikeUtf16(std::string_view bytes) {
  const size_t n = std::min<size_t>(bytes.size(), 1 << 16) & ~size_t(1);
  if (n < 4) return false;
  size_t zeros[2] = {0, 0};
  for (size_t i = 0; i < n; ++i) zeros[i & 1] += bytes[i] == '\0';
  const size_t units = n / 2;
  const auto one = [&](size_t many, size_t few) { return many >= 2 && many * 4 >= units && few * 16 < units; };
  return one(zeros[0], zeros[1]) || one(zeros[1], zeros[0]);
}

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    // Fast path over ASCII, eight bytes at a time.
    while (end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if (w & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p >= end) break;
    uint8_t c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= n) return false;
    for (int k = 1; k <= n; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[k] & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    p += n + 1;
  }
  return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  const size_t n = text.size();
  while (start < n) {
    size_t i = start;
    while (i < n && text[i] != '\n' && text[i] != '\r') ++i;
    lines.emplace_back(text.substr(start, i - start));
    if (i >= n) break;
    start = (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ? i + 2 : i + 1;
  }
  return lines;
}

DecodedText DecodeTextFile(std::string_view bytes) {
  DecodedText out;
  std::string utf8;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == UTF8_BOM) {
    out.Utf8Bom = true;
    std::string_view body = bytes.substr(3);
    if (!IsValidUtf8(body)) {
      // Find the first bad line to name it.
      auto lines = SplitLines(body);
      for (size_t i = 0; i < lines.size(); ++i) {
        if (!IsValidUtf8(lines[i])) {
          throw TextDecodeError(static_cast<int>(i) + 1, "文件标明为UTF-8，但这一行含有无效的UTF-8字节");
        }
      }
    }
    out.Lines = SplitLines(body);
    return out;
  }
  // A UTF-32 mark begins like a UTF-16 one: it is looked for first.
  const bool utf32 = bytes.size() >= 4 && (bytes.substr(0, 4) == std::string_view("\xFF\xFE\0\0", 4) ||
                                           bytes.substr(0, 4) == std::string_view("\0\0\xFE\xFF", 4));
  const bool utf16 = !utf32 && bytes.size() >= 2 &&
                     (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF");
  if (utf32 || utf16) {
    const size_t width = utf32 ? 4 : 2;
    const bool be = bytes[0] != '\xFF';
    (utf32 ? out.Utf32 : out.Utf16) = true;
    const std::string_view body = bytes.substr(width);
    const std::string name = utf32 ? "UTF-32" : "UTF-16";
    size_t bad = 0;
    if (!Convert("UTF-8", (name + (be ? "BE" : "LE")).c_str(), body, utf8, &bad)) {
      throw TextDecodeError(LineOfUnit(body, bad, be, width),
                            "文件标明为" + name + "，但这一行含有无效的" + name + "数据");
    }
    out.Lines = SplitLines(utf8);
    return out;
  }
  if (LooksLikeUtf16(bytes)) {
    throw TextDecodeError(1, "这个文件看起来是没有字节顺序标记（BOM）的UTF-16编码，无法可靠地读取；"
                             "请用文本编辑器另存为UTF-8（或带BOM的UTF-16）后再打开");
  }
  if (IsValidUtf8(bytes)) {
    out.Lines = SplitLines(bytes);
    return out;
  }
  out.Plain = CodePage::Gb18030;
  size_t bad = 0;
  if (!Convert("UTF-8", "GB18030", bytes, utf8, &bad)) {
    throw TextDecodeError(LineOfByte(bytes, bad), "这一行的字节既不是UTF-8也不是GB18030编码的文字");
  }
  out.Lines = SplitLines(utf8);
  return out;
}

void EncodeTextInPlace(std::string& text, bool utf8Bom, CodePage plain) {
  if (utf8Bom) {
    text.insert(0, UTF8_BOM);
    return;
  }
  if (plain == CodePage::Utf8) return;
  std::string out;
  size_t bad = 0;
  if (!Convert("GB18030", "UTF-8", text, out, &bad)) {
    throw std::runtime_error("text cannot be written in GB18030");
  }
  text = std::move(out);
}

std::string EncodeText(std::string text, bool utf8Bom, CodePage plain) {
  EncodeTextInPlace(text, utf8Bom, plain);
  return text;
}

std::string EncodeTextFile(const std::vector<std::string>& lines, bool utf8Bom, CodePage plain) {
  size_t total = 3;
  for (const auto& l : lines) total += l.size() + 2;
  std::string text;
  text.reserve(total);
  for (const auto& l : lines) text.append(l).append("\r\n");
  return EncodeText(std::move(text), utf8Bom, plain);
}

size_t Utf8PrefixBytes(std::string_view s, size_t chars) {
  size_t i = 0;
  while (chars > 0 && i < s.size()) {
    ++i;
    while (i < s.size() && (static_cast<uint8_t>(s[i]) & 0xC0) == 0x80) ++i;
    --chars;
  }
  return i;
}

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  return n;
}

std::string Utf8Copy(std::string_view s, size_t first, size_t count) {
  if (first < 1) first = 1;
  size_t b = Utf8PrefixBytes(s, first - 1);
  std::string_view rest = s.substr(b);
  return std::string(rest.substr(0, Utf8PrefixBytes(rest, count)));
}

}  // namespace tamsel
