#include "ChildProcess.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>

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

#ifndef _WIN32

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void()>& poll) {
  ProcessResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(out[0]);
    close(err[0]);
    result.errors = std::error_code(rc, std::generic_category()).message();
    return result;
  }
  result.started = true;

  // Drain both pipes until the child closes them, calling `poll` between waits.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.output, &result.errors};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    int n = ::poll(fds, 2, 100);
    if (poll) poll();
    if (n <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

#else

namespace {

std::string WindowsReason(DWORD code) {
  return std::error_code(static_cast<int>(code), std::system_category()).message();
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void()>& poll) {
  ProcessResult result;
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

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION child{};
  const BOOL started =
      CreateProcessW(ToPath(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup,
                     &child);
  const DWORD startError = GetLastError();
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!started) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    result.errors = WindowsReason(startError);
    return result;
  }
  result.started = true;
  CloseHandle(child.hThread);

  // Each pipe is drained on its own thread, so that a child filling one never blocks.
  const auto drain = [](HANDLE pipe, std::string& sink) {
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) sink.append(buf, got);
  };
  std::thread outReader(drain, outRead, std::ref(result.output));
  std::thread errReader(drain, errRead, std::ref(result.errors));
  while (WaitForSingleObject(child.hProcess, 100) == WAIT_TIMEOUT) {
    if (poll) poll();
  }
  if (poll) poll();
  outReader.join();
  errReader.join();
  CloseHandle(outRead);
  CloseHandle(errRead);
  DWORD code = 0;
  result.exitCode = GetExitCodeProcess(child.hProcess, &code) ? static_cast<int>(code) : -1;
  CloseHandle(child.hProcess);
  return result;
}

#endif

}  // namespace tamsel
