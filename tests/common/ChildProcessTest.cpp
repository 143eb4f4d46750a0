#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FileIo.h"
#include "TestSupport.h"

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

/// Whether a process is gone: no such process, or one that has ended and waits to be reaped.
bool Gone(pid_t pid) {
  if (kill(pid, 0) != 0) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

/// Waits up to two seconds for a process to be gone.
bool GoneSoon(pid_t pid) {
  for (int i = 0; i < 200 && !Gone(pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Gone(pid);
}

/// A child that writes its process id into `pidFile` and then sleeps for half a minute.
std::vector<std::string> SleeperArgs(const std::string& pidFile) {
  return {"-c", "echo $$ > '" + pidFile + "'.part && mv '" + pidFile + "'.part '" + pidFile +
                    "' && exec sleep 30"};
}

pid_t PidIn(const std::string& pidFile) {
  std::ifstream in(pidFile);
  pid_t pid = 0;
  in >> pid;
  return pid;
}

TEST(RunProcess, AThrowingPollEndsTheChild) {
  test::TempDir dir;
  const std::string pidFile = dir.Path("pid");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(RunProcess("/bin/sh", SleeperArgs(pidFile),
                          [&] {
                            if (FileExists(pidFile)) throw std::runtime_error("stop");
                          }),
               std::runtime_error);
  const pid_t child = PidIn(pidFile);
  ASSERT_GT(child, 0);
  EXPECT_TRUE(Gone(child));  // killed and reaped before the exception went on
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

#if defined(__linux__)
TEST(RunProcess, TheChildEndsWithItsParent) {
  // A parent that is killed while its child runs: the child must not run on.
  test::TempDir dir;
  const std::string pidFile = dir.Path("pid");
  const pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    RunProcess("/bin/sh", SleeperArgs(pidFile), [&] {
      if (FileExists(pidFile)) raise(SIGKILL);
    });
    _exit(0);
  }
  int status = 0;
  waitpid(parent, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  const pid_t child = PidIn(pidFile);
  ASSERT_GT(child, 0);
  EXPECT_TRUE(GoneSoon(child));
  if (!Gone(child)) kill(child, SIGKILL);
}

TEST(RunProcess, PassesDescriptorsUnderTheirNumbers) {
  test::TempDir dir;
  const int fd = ::open(dir.Path("out").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const ProcessResult passed = RunProcess("/bin/sh", {"-c", "printf hi > " + path}, {}, {fd});
  EXPECT_EQ(passed.exitCode, 0) << passed.errors;
  EXPECT_EQ(test::ReadBytes(dir.Path("out")), "hi");
  // Not passed, it is not there for the child.
  const ProcessResult kept = RunProcess("/bin/sh", {"-c", "printf no > " + path});
  EXPECT_NE(kept.exitCode, 0);
  EXPECT_EQ(test::ReadBytes(dir.Path("out")), "hi");
  ::close(fd);
}
#endif

/// Waits up to ten seconds for a file to be there.
bool AppearsSoon(const std::string& path) {
  for (int i = 0; i < 1000 && !FileExists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return FileExists(path);
}

TEST(RunProcess, ACancelEndsTheChildAndWhatItStarted) {
  // Each child writes its process id (and that of what it starts) once it runs; the cancel
  // comes from another thread then. Every one must be gone, reaped, when RunProcess returns.
  struct Case {
    const char* name;
    std::string script;  // $1: the file for our id, $2: the file for the id of what we start
    bool startsMore;
  } cases[] = {
      {"sleeps", "echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\" && exec sleep 30", false},
      {"ignores SIGTERM",
       "trap '' TERM; echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\" && exec sleep 30", false},
      {"closed its pipes",
       "exec >/dev/null 2>&1; echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\" && exec sleep 30",
       false},
      {"started another that holds its pipes",
       "sleep 30 & echo $! > \"$2\"; echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\"; wait",
       true},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    const std::string pidFile = dir.Path("pid");
    const std::string morePidFile = dir.Path("more");
    CancelFlag cancel{false};
    std::thread canceller([&] {
      AppearsSoon(pidFile);
      cancel = true;
    });
    const auto started = std::chrono::steady_clock::now();
    const ProcessResult r = RunProcess("/bin/sh", {"-c", c.script, "sh", pidFile, morePidFile},
                                       {}, {}, &cancel);
    canceller.join();
    EXPECT_TRUE(r.started) << c.name;
    EXPECT_TRUE(r.cancelled) << c.name;
    // A generous bound: left alone, every child runs for half a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << c.name;
    const pid_t child = PidIn(pidFile);
    ASSERT_GT(child, 0) << c.name;
    EXPECT_NE(kill(child, 0), 0) << c.name << ": the child is not reaped";
    if (c.startsMore) {
      const pid_t more = PidIn(morePidFile);
      ASSERT_GT(more, 0) << c.name;
      EXPECT_TRUE(GoneSoon(more)) << c.name << ": what it started runs on";
      if (!Gone(more)) kill(more, SIGKILL);
    }
    if (kill(child, 0) == 0) kill(child, SIGKILL);
  }
}

TEST(RunProcess, ACancelBeforeTheStartStartsNothing) {
  test::TempDir dir;
  CancelFlag cancel{true};
  const ProcessResult r =
      RunProcess("/bin/sh", {"-c", "touch \"$1\"", "sh", dir.Path("ran")}, {}, {}, &cancel);
  EXPECT_FALSE(r.started);
  EXPECT_TRUE(r.cancelled);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(FileExists(dir.Path("ran")));
}

TEST(RunProcess, AFlagNeverSetChangesNothing) {
  CancelFlag cancel{false};
  std::vector<std::chrono::steady_clock::time_point> polls;
  const ProcessResult r = RunProcess(
      "/bin/sh", {"-c", "sleep 0.5; printf out; printf err >&2; exit 3"},
      [&] { polls.push_back(std::chrono::steady_clock::now()); }, {}, &cancel);
  EXPECT_TRUE(r.started);
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.output, "out");
  EXPECT_EQ(r.errors, "err");
  // `poll` comes about every 100 ms, not at every look at the flag.
  ASSERT_GE(polls.size(), 2u);
  for (size_t i = 1; i < polls.size(); ++i) {
    EXPECT_GE(polls[i] - polls[i - 1], std::chrono::milliseconds(90));
  }
}

TEST(RunProcess, AProgramThatCannotStartIsTold) {
  const ProcessResult r = RunProcess("/nonexistent/ffmpeg", {"-version"});
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(r.errors.empty());
  const ProcessResult ok = RunProcess("/bin/sh", {"-c", "printf out; printf err >&2; exit 3"});
  EXPECT_TRUE(ok.started);
  EXPECT_EQ(ok.exitCode, 3);
  EXPECT_EQ(ok.output, "out");
  EXPECT_EQ(ok.errors, "err");
}

}  // namespace
}  // namespace tamsel
