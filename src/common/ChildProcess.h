#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {

/// What a finished child process left behind.
struct ProcessResult {
  bool started = false;   ///< false when the program could not be started at all
  int exitCode = -1;      ///< its exit status; -1 when it was ended by a signal
  std::string output;     ///< what it wrote to its standard output
  std::string errors;     ///< what it wrote to its standard error
};

/// Runs `program` with `args` as a child process (no shell, so paths reach it unharmed) and
/// waits for it. `poll` is called about every 100 ms while it runs, for progress; when it
/// throws, the child is killed and waited for before the exception goes on. The child never
/// outlives us: on Linux it gets a parent-death signal and on Windows it runs in a job that
/// ends with us, so a killed editor leaves no converter writing behind it. `passFds` are
/// descriptors of ours the child gets under the same numbers (Linux only: for DescriptorPath).
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void()>& poll = {},
                         const std::vector<int>& passFds = {});

/// The full path of a program: beside our executable first, then on the PATH ("" when none).
std::string FindProgram(const std::string& name);

/// A named point of a long job where the recovery tests kill the process: when the environment
/// variable TAMSEL_KILL_AT holds `name`, the process ends here at once, without any clean-up,
/// as a crash or a kill by the user would leave things. Does nothing otherwise.
void KillPoint(const char* name);

/// One argument of a Windows command line, quoted so that the child's C runtime splits the line
/// back into exactly this argument (the rules of CommandLineToArgvW).
std::string QuoteWindowsArgument(std::string_view arg);

}  // namespace tamsel
