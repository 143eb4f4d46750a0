// fuzz_replay: feeds every file of the folders (or the files) named on the command line to the
// fuzz target once, without libFuzzer, so that the kept corpus and the saved crashes are checked
// by every test run. A folder that does not exist is skipped; no input at all is an error.

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

/// The input being replayed, named when it brings the program down.
const char* volatile g_current = "";

extern "C" void OnFatalSignal(int sig) {
  std::fprintf(stderr, "fuzz_replay: %s brought the target down (signal %d)\n", g_current, sig);
  std::fflush(stderr);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

/// Files whose name starts with "." (such as .gitkeep) are not inputs.
bool IsInput(const fs::directory_entry& entry) {
  std::error_code ec;
  return entry.is_regular_file(ec) && entry.path().filename().string().rfind('.', 0) != 0;
}

bool ReadWhole(const fs::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  for (int sig : {SIGABRT, SIGSEGV, SIGILL, SIGFPE}) std::signal(sig, OnFatalSignal);

  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      for (const auto& entry : fs::directory_iterator(path, ec)) {
        if (IsInput(entry)) inputs.push_back(entry.path());
      }
    } else if (fs::is_regular_file(path, ec)) {
      inputs.push_back(path);
    } else {
      std::fprintf(stderr, "fuzz_replay: %s does not exist, skipped\n", argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "fuzz_replay: no input to replay\n");
    return 1;
  }

  for (const auto& path : inputs) {
    const std::string name = path.string();
    std::string bytes;
    if (!ReadWhole(path, bytes)) {
      std::fprintf(stderr, "fuzz_replay: cannot read %s\n", name.c_str());
      return 1;
    }
    g_current = name.c_str();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  g_current = "";
  std::printf("fuzz_replay: %zu inputs replayed\n", inputs.size());
  return 0;
}
