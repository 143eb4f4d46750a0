#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "CancelFlag.h"

namespace tamsel {

/// What a finished child process left behind.
struct ProcessResult {
  bool started = false;   ///< false when the program could not be started at all
  int exitCode = -1;      ///< its exit status; -1 when it was ended by a signal
  std::string output;     ///< what it wrote to its standard output
  std::string errors;     ///< what it wrote to its standard error
  bool cancelled = false; ///< ended (or never started) because its cancel flag was set
};

/// Runs `program` with `args` as a child process (no shell, so paths reach it unharmed) and
/// waits for it. `poll` is called about every 100 ms while it runs, for progress; when it
/// throws, the child is killed and waited for before the exception goes on. The child never
/// outlives us: on Linux it gets a parent-death signal and on Windows it runs in a job that
/// ends with us, so a killed editor leaves no converter writing behind it. `passFds` are
/// descriptors of ours the child gets under the same numbers (Linux only: for DescriptorPath).
///
/// Once `cancel` is set (from any thread), the child is ended within a few tens of
/// milliseconds: on POSIX systems its process group (it runs in a group of its own, so whatever
/// it started goes too) gets SIGTERM and, when it has not ended 100 ms later, SIGKILL; on
/// Windows its job is ended at once. It is always waited for before RunProcess returns, with
/// `cancelled` set. Safe to call from any thread, several at a time.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void()>& poll = {},
                         const std::vector<int>& passFds = {},
                         const CancelFlag* cancel = nullptr);

/// The full path of a program: beside our executable first, then on the PATH ("" when none).
/// The tests put stand-ins first on the PATH (tests/support/FakePrograms.h); their own folder
/// holds no such program.
std::string FindProgram(const std::string& name);

/// A named point of a long job where the recovery tests kill the process: when the environment
/// variable TAMSEL_KILL_AT holds `name`, the process ends here at once, without any clean-up,
/// as a crash or a kill by the user would leave things. Does nothing otherwise.
void KillPoint(const char* name);

/// One argument of a Windows command line, quoted so that the child's C runtime splits the line
/// back into exactly this argument (the rules of CommandLineToArgvW).
std::string QuoteWindowsArgument(std::string_view arg);

}  // namespace tamsel
