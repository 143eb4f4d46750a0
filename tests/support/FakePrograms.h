#pragma once

// Stand-ins for the converter and the media probe, for tests that catch a preparation midway
// (POSIX only: they are shell scripts).
//
//   slow-ffmpeg/ffmpeg:     the real ffmpeg reading its input at the pace of playback, so that a
//                           conversion lasts as long as the video (same WAV file in the end)
//   stuck-ffprobe/ffprobe:  a probe that never answers
//
// The preparation looks for its programs beside the running executable first, then on the
// PATH; a test program's folder holds neither, so a stand-in put first on the PATH is the one
// it runs:
//
//   test::PathFirst fake(test::FakeProgramDir("slow-ffmpeg"), dir.Path("pids"));
//   ... OpenVideoClick(st, video, progress, &cancel) on a worker thread, cancel meanwhile ...
//   for (pid_t pid : test::FakePids(dir.Path("pids"))) EXPECT_NE(kill(pid, 0), 0);

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tamsel::test {

/// The folder of one set of stand-ins: "slow-ffmpeg" or "stuck-ffprobe".
inline std::string FakeProgramDir(const std::string& name) {
  return std::string(TAMSEL_TEST_SUPPORT_DIR) + "/" + name;
}

/// Puts `dir` first on the PATH for its lifetime, and has the stand-ins append their process
/// ids to `pidFile` (TAMSEL_FAKE_PIDS). It changes the environment: make and drop it only while
/// no other thread of the test runs.
class PathFirst {
 public:
  PathFirst(const std::string& dir, const std::string& pidFile)
      : m_path(Get("PATH")), m_pids(Get("TAMSEL_FAKE_PIDS")) {
    setenv("PATH", (dir + (m_path ? ":" + *m_path : "")).c_str(), 1);
    setenv("TAMSEL_FAKE_PIDS", pidFile.c_str(), 1);
  }
  ~PathFirst() {
    Put("PATH", m_path);
    Put("TAMSEL_FAKE_PIDS", m_pids);
  }
  PathFirst(const PathFirst&) = delete;
  PathFirst& operator=(const PathFirst&) = delete;

 private:
  static std::optional<std::string> Get(const char* name) {
    const char* v = getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  }
  static void Put(const char* name, const std::optional<std::string>& v) {
    if (v) {
      setenv(name, v->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::optional<std::string> m_path, m_pids;
};

/// The process ids the stand-ins wrote to `pidFile`, in the order they started.
inline std::vector<pid_t> FakePids(const std::string& pidFile) {
  std::ifstream in(pidFile);
  std::vector<pid_t> pids;
  for (pid_t pid; in >> pid;) pids.push_back(pid);
  return pids;
}

/// The processes whose parent is this process, zombies included (Linux: read from /proc).
inline std::vector<pid_t> ChildProcesses() {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  const pid_t self = getpid();
  while (const dirent* e = readdir(proc)) {
    const pid_t pid = atoi(e->d_name);
    if (pid <= 0) continue;
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (name) state ppid ...: the name may hold anything, so the fields after it are read
    // from its last closing parenthesis on.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long ppid = 0;
    std::istringstream rest(line.substr(close + 1));
    if (rest >> state >> ppid && ppid == self) children.push_back(pid);
  }
  closedir(proc);
  return children;
}

}  // namespace tamsel::test
