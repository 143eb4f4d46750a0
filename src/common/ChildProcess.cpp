#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "FileIo.h"

#ifdef _WIN32
#include <windows.h>

#include <system_error>
#include <thread>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
extern char** environ;
#endif

namespace tamsel {

std::string FindProgram(const std::string& name) {
#ifdef _WIN32
  const std::string file = name + ".exe";
  const char sep = ';';
#else
  const std::string& file = name;
  const char sep = ':';
#endif
  const auto usable = [](const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
  };
  if (std::string dir = ExecutableDir(); !dir.empty() && usable(ToPath(dir) / file)) {
    return FromPath(ToPath(dir) / file);
  }
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "";
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(sep, start);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(start, end - start);
    if (!dir.empty() && usable(ToPath(dir) / file)) return FromPath(ToPath(dir) / file);
    start = end + 1;
  }
  return "";
}

void KillPoint(const char* name) {
  static const char* const wanted = std::getenv("TAMSEL_KILL_AT");
  if (!wanted || std::string_view(wanted) != name) return;
#ifdef _WIN32
  TerminateProcess(GetCurrentProcess(), 137);
#else
  raise(SIGKILL);
#endif
}

std::string QuoteWindowsArgument(std::string_view arg) {
  // Only spaces, tabs, quotes and backslashes matter, and no byte of a multi-byte UTF-8
  // character is one of them, so the UTF-8 text is quoted as it stands.
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(arg);
  }
  std::string quoted = "\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    for (; i < arg.size() && arg[i] == '\\'; ++i) ++backslashes;
    if (i == arg.size()) {
      quoted.append(backslashes * 2, '\\');  // so that the closing quote stays a quote
      break;
    }
    // Backslashes count only before a quote, which itself needs one more.
    quoted.append(arg[i] == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    quoted.push_back(arg[i]);
  }
  quoted.push_back('"');
  return quoted;
}

namespace {

/// How often a running child's caller looks at the cancel flag, in milliseconds.
constexpr int CANCEL_CHECK_MS = 10;
/// How often `poll` is called while the child runs.
constexpr auto POLL_EVERY = std::chrono::milliseconds(100);

}  // namespace

#ifndef _WIN32

namespace {

/// How long a cancelled child has to end on SIGTERM before it is killed, in milliseconds.
constexpr int TERM_GRACE_MS = 100;

/// Closes a descriptor once.
void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

/// Sleeps for `ms` milliseconds (a short pause between looks at a child or a cancel flag).
void PauseMs(int ms) { ::poll(nullptr, 0, ms); }

/// The running child and our ends of its pipes. Left by an exception (from `poll`), it kills
/// the child and waits for it, so that no converter goes on writing unwatched.
struct Child {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    CloseFd(out);
    CloseFd(err);
    if (pid > 0) {
      Signal(SIGKILL);
      Reap(/*wait=*/true);
    }
  }

  /// Sends `sig` to the child's process group and to the child itself (which may have left
  /// the group, or never got one).
  void Signal(int sig) const {
    if (pid <= 0) return;  // never -1 or 0: those would name every process or our own group
    kill(-pid, sig);
    kill(pid, sig);
  }

  /// Reaps the child, waiting for it to end or not; true once it is reaped (pid is then -1).
  bool Reap(bool wait, int* status = nullptr) {
    if (pid <= 0) return true;
    pid_t got;
    while ((got = waitpid(pid, status, wait ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got == 0) return false;
    pid = -1;  // reaped, or not ours to wait for (ECHILD)
    return true;
  }

  /// Waits for the child to end; ends it (End) when `cancel` is set meanwhile. True when it
  /// ended by itself, with its status in `status`.
  bool Wait(const CancelFlag* cancel, int& status) {
    if (!cancel) return Reap(/*wait=*/true, &status);
    while (!Reap(/*wait=*/false, &status)) {
      if (CancelRequested(cancel)) {
        End();
        return false;
      }
      PauseMs(CANCEL_CHECK_MS);
    }
    return true;
  }

  /// Whether the child has ended, leaving it unreaped.
  bool Ended() const {
    siginfo_t info{};
    return waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
  }

  /// Ends the child and reaps it: SIGTERM to its group, which lets a converter stop cleanly,
  /// then SIGKILL after TERM_GRACE_MS, also to what it started that still runs. Till the child
  /// is reaped its id stays its own and names its group, so no other process gets the signals.
  void End() {
    Signal(SIGTERM);
    for (int waited = 0; waited < TERM_GRACE_MS && !Ended(); waited += CANCEL_CHECK_MS / 2) {
      PauseMs(CANCEL_CHECK_MS / 2);
    }
    Signal(SIGKILL);
    Reap(/*wait=*/true);
  }
};

#if defined(__linux__)

/// Makes `from` the child's descriptor `to`, open across exec. Async-signal-safe.
bool MoveFd(int from, int to) {
  if (from == to) return fcntl(to, F_SETFD, 0) == 0;
  return dup2(from, to) == to;
}

/// Starts the child with a parent-death signal, so that it is killed when we die, whatever
/// kills us. Returns its id, or -1 with the reason in `error`. The signal comes when the thread
/// that started the child ends; RunProcess waits for the child, so that thread outlives it.
pid_t StartChild(const std::string& program, char* const* argv, int outWrite, int errWrite,
                 const std::vector<int>& passFds, int& error) {
  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0) {
    error = errno;
    return -1;
  }
  const pid_t parent = getpid();
  // Between fork and exec the child makes only async-signal-safe calls: everything it needs is
  // made before.
  const pid_t pid = fork();
  if (pid == 0) {
    int why = 0;
    // A group of its own, so that a cancel ends whatever it starts as well.
    setpgid(0, 0);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) why = errno;
    if (!why && getppid() != parent) _exit(127);  // we died before the signal was set
    const int nul = why ? -1 : open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (!why && (nul < 0 || !MoveFd(nul, 0) || !MoveFd(outWrite, 1) || !MoveFd(errWrite, 2))) {
      why = errno;
    }
    for (size_t i = 0; !why && i < passFds.size(); ++i) {
      if (!MoveFd(passFds[i], passFds[i])) why = errno;
    }
    if (!why) {
      execve(program.c_str(), argv, environ);
      why = errno;
    }
    while (write(status[1], &why, sizeof why) < 0 && errno == EINTR) {
    }
    _exit(127);
  }
  close(status[1]);
  if (pid < 0) {
    error = errno;
    close(status[0]);
    return -1;
  }
  // The status pipe closes without a word when the exec succeeds.
  int why = 0;
  ssize_t got;
  while ((got = read(status[0], &why, sizeof why)) < 0 && errno == EINTR) {
  }
  close(status[0]);
  if (got == sizeof why) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    error = why;
    return -1;
  }
  return pid;
}

#else

// Debt: without a parent-death signal (macOS, the BSDs) a child outlives a killed parent.
pid_t StartChild(const std::string& program, char* const* argv, int outWrite, int errWrite,
                 const std::vector<int>& /*passFds: only Linux has files to pass*/, int& error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite, 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite, 2);
  // A group of its own, so that a cancel ends whatever it starts as well.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

#endif

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void()>& poll, const std::vector<int>& passFds,
                         const CancelFlag* cancel) {
  ProcessResult result;
  if (CancelRequested(cancel)) {
    result.cancelled = true;
    return result;
  }
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  Child child;
  child.out = out[0];
  child.err = err[0];
  int startError = 0;
  child.pid = StartChild(program, argv.data(), out[1], err[1], passFds, startError);
  close(out[1]);
  close(err[1]);
  if (child.pid < 0) {
    result.errors = std::error_code(startError, std::generic_category()).message();
    return result;
  }
  result.started = true;

  // Drain both pipes until the child closes them, calling `poll` between waits and looking at
  // the cancel flag more often.
  pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
  std::string* sinks[2] = {&result.output, &result.errors};
  int open = 2;
  char buf[65536];
  const int waitMs = cancel ? CANCEL_CHECK_MS : int(POLL_EVERY.count());
  auto nextPoll = std::chrono::steady_clock::now() + POLL_EVERY;
  while (open > 0) {
    if (CancelRequested(cancel)) {
      child.End();
      result.cancelled = true;
      return result;
    }
    int n = ::poll(fds, 2, waitMs);
    if (poll && std::chrono::steady_clock::now() >= nextPoll) {
      poll();
      nextPoll = std::chrono::steady_clock::now() + POLL_EVERY;
    }
    if (n <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        CloseFd(i == 0 ? child.out : child.err);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  if (!child.Wait(cancel, status)) {
    result.cancelled = true;
    return result;
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

#else

namespace {

std::string WindowsReason(DWORD code) {
  return std::error_code(static_cast<int>(code), std::system_category()).message();
}

/// The running child. Left by an exception (from `poll`), it ends the child, so that no
/// converter goes on writing unwatched; closing the job does the same when we die.
struct Child {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (process) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, INFINITE);
      CloseHandle(process);
    }
    if (job) CloseHandle(job);
  }
};

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void()>& poll, const std::vector<int>&,
                         const CancelFlag* cancel) {
  ProcessResult result;
  if (CancelRequested(cancel)) {
    result.cancelled = true;
    return result;
  }
  std::string line = QuoteWindowsArgument(program);
  for (const auto& a : args) line += " " + QuoteWindowsArgument(a);
  std::wstring commandLine = ToPath(line).native();

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
    result.errors = WindowsReason(GetLastError());
    return result;
  }
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    result.errors = WindowsReason(GetLastError());
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return result;
  }
  // Only the child's ends are inherited.
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);

  // The child inherits these three handles and no others: another thread's inheritable handles
  // of the moment (the pipe ends of a converter that a second preparation starts at the same
  // time) would otherwise keep that converter's pipes open till this child ends.
  HANDLE inherited[3] = {outWrite, errWrite, nul};
  const DWORD inheritedCount = nul != INVALID_HANDLE_VALUE ? 3 : 2;
  SIZE_T listBytes = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
  std::vector<char> listStorage(listBytes);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listStorage.data());
  const bool listMade =
      listBytes > 0 && InitializeProcThreadAttributeList(list, 1, 0, &listBytes);
  const bool listed =
      listMade && UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                            inheritedCount * sizeof(HANDLE), nullptr, nullptr);

  // The child runs in a job that kills it when the last handle to the job closes, which the
  // system does when we die, whatever kills us.
  Child child;
  child.job = CreateJobObjectW(nullptr, nullptr);
  if (child.job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(child.job, JobObjectExtendedLimitInformation, &limits,
                            sizeof limits);
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = static_cast<DWORD>(listed ? sizeof startup : sizeof startup.StartupInfo);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = nul;
  startup.StartupInfo.hStdOutput = outWrite;
  startup.StartupInfo.hStdError = errWrite;
  startup.lpAttributeList = listed ? list : nullptr;
  PROCESS_INFORMATION started{};
  const BOOL ok = CreateProcessW(
      ToPath(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED |
          (listed ? EXTENDED_STARTUPINFO_PRESENT : 0),
      nullptr, nullptr, &startup.StartupInfo, &started);
  const DWORD startError = GetLastError();
  if (listMade) DeleteProcThreadAttributeList(list);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!ok) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    result.errors = WindowsReason(startError);
    return result;
  }
  child.process = started.hProcess;
  // Debt: where jobs cannot nest (before Windows 8, inside a job that forbids it) the child
  // runs outside the job and outlives a killed parent.
  if (child.job) AssignProcessToJobObject(child.job, child.process);
  ResumeThread(started.hThread);
  CloseHandle(started.hThread);
  result.started = true;

  // Each pipe is drained on its own thread, so that a child filling one never blocks. The
  // threads end when the child's ends close, so they are joined after the child has ended.
  const auto drain = [](HANDLE pipe, std::string& sink) {
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) sink.append(buf, got);
    CloseHandle(pipe);
  };
  std::jthread outReader(drain, outRead, std::ref(result.output));
  std::jthread errReader(drain, errRead, std::ref(result.errors));
  struct EndFirst {  // destroyed before the readers: the child is ended before they are joined
    Child& child;
    ~EndFirst() {
      if (child.process) TerminateProcess(child.process, 1);
    }
  } endFirst{child};
  const DWORD waitMs = cancel ? DWORD(CANCEL_CHECK_MS) : DWORD(POLL_EVERY.count());
  auto nextPoll = std::chrono::steady_clock::now() + POLL_EVERY;
  while (WaitForSingleObject(child.process, waitMs) == WAIT_TIMEOUT) {
    if (CancelRequested(cancel)) {
      // A console program started without a console of its own cannot be asked to stop (it
      // would take a Ctrl+C event): it is ended at once, with whatever it started in its job.
      if (child.job) TerminateJobObject(child.job, 1);
      TerminateProcess(child.process, 1);
      WaitForSingleObject(child.process, INFINITE);
      result.cancelled = true;
      break;
    }
    if (poll && std::chrono::steady_clock::now() >= nextPoll) {
      poll();
      nextPoll = std::chrono::steady_clock::now() + POLL_EVERY;
    }
  }
  if (poll && !result.cancelled) poll();
  outReader.join();
  errReader.join();
  if (result.cancelled) return result;
  DWORD code = 0;
  result.exitCode = GetExitCodeProcess(child.process, &code) ? static_cast<int>(code) : -1;
  return result;
}

#endif

}  // namespace tamsel
