#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tamsel {
namespace {

/// Splits a command line as the Windows C runtime does (CommandLineToArgvW, arguments after
/// the first): 2n backslashes before a quote give n and the quote opens or closes quoting,
/// 2n + 1 give n and a literal quote; other backslashes stand for themselves.
std::vector<std::string> SplitAsWindows(const std::string& line) {
  std::vector<std::string> args;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) return args;
    std::string arg;
    bool quoted = false;
    while (i < line.size()) {
      if (line[i] == '\\') {
        size_t n = 0;
        for (; i < line.size() && line[i] == '\\'; ++i) ++n;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg.push_back('"');
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
      } else if (line[i] == '"') {
        quoted = !quoted;
        ++i;
      } else if (!quoted && (line[i] == ' ' || line[i] == '\t')) {
        break;
      } else {
        arg.push_back(line[i++]);
      }
    }
    args.push_back(arg);
  }
}

std::string Join(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& a : args) line += (line.empty() ? "" : " ") + QuoteWindowsArgument(a);
  return line;
}

TEST(QuoteWindowsArgument, ArgumentsComeBackUnchanged) {
  const std::vector<std::string> args = {
      "-i",
      "file:C:\\视频\\第 1 集.mkv",
      "",
      "a b",
      "say \"hi\"",
      "ends\\",
      "ends with two\\\\",
      "dir with space\\",
      "\\\"",
      "\\\\\"x",
      "tab\there",
      "-leading dash",
      "plain\\path\\no\\quote",
  };
  EXPECT_EQ(SplitAsWindows(Join(args)), args);
  // Plain words stay as they are; the rest is quoted.
  EXPECT_EQ(QuoteWindowsArgument("-ac"), "-ac");
  EXPECT_EQ(QuoteWindowsArgument("C:\\a\\b.wav"), "C:\\a\\b.wav");
  EXPECT_EQ(QuoteWindowsArgument(""), "\"\"");
  EXPECT_EQ(QuoteWindowsArgument("a b\\"), "\"a b\\\\\"");
  EXPECT_EQ(QuoteWindowsArgument("a\"b"), "\"a\\\"b\"");
}

TEST(QuoteWindowsArgument, RandomArgumentsComeBackUnchanged) {
  std::mt19937 rng(11);
  const std::string alphabet = "ab \\\"\t-:";
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::string> args(1 + rng() % 4);
    for (auto& a : args) {
      const size_t size = rng() % 9;
      for (size_t k = 0; k < size; ++k) a.push_back(alphabet[rng() % alphabet.size()]);
    }
    ASSERT_EQ(SplitAsWindows(Join(args)), args) << Join(args);
  }
}

}  // namespace
}  // namespace tamsel
