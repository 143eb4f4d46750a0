#include "MappedFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "FileIo.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tamsel {
namespace {

using test::TempDir;
using test::WriteBytes;

std::string View(const MappedFile& m) {
  return std::string(reinterpret_cast<const char*>(m.Data()), size_t(m.Size()));
}

/// 20000 bytes that differ from page to page, so that a view off by a page shows.
std::string Content() {
  std::string s;
  for (int i = 0; i < 20000; ++i) s += char('a' + (i / 7 + i / 4096) % 26);
  return s;
}

TEST(MappedFile, MapsTheRangeAskedForCutAtTheEndOfTheFile) {
  TempDir dir;
  const std::string path = dir.Path("声音.wav");
  const std::string content = Content();
  WriteBytes(path, content);
  struct Case {
    uint64_t offset, length, size;
  } cases[] = {
      {0, 20000, 20000},     {44, 1000, 1000}, {4095, 2, 2},  // across a page boundary
      {4096, 8192, 8192},                                     // on one
      {12345, 100000, 7655},                                  // past the end: what is there
      {19999, 5, 1},         {20000, 5, 0},                   // at the end: empty
      {1 << 30, 5, 0},       {100, 0, 0},
  };
  for (const auto& c : cases) {
    const MappedFile m(path, c.offset, c.length);
    ASSERT_EQ(m.Size(), c.size) << c.offset;
    if (c.size == 0) {
      EXPECT_EQ(m.Data(), nullptr);
    } else {
      EXPECT_EQ(View(m), content.substr(size_t(c.offset), size_t(c.size))) << c.offset;
    }
  }
}

TEST(MappedFile, IsAViewOfTheFileNotACopy) {
  TempDir dir;
  const std::string path = dir.Path("a.wav");
  WriteBytes(path, Content());
  MappedFile m(path, 5000, 100);
  {
    // Written through the file after mapping: seen through the view.
    std::fstream f(ToPath(path), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(5010);
    f.write("CHANGED", 7);
  }
  EXPECT_EQ(View(m).substr(10, 7), "CHANGED");

  // The view holds the file itself: replacing the name changes nothing seen.
  const std::string before = View(m);
  WriteBytes(dir.Path("b.wav"), std::string(20000, 'z'));
  std::filesystem::rename(ToPath(dir.Path("b.wav")), ToPath(path));
  EXPECT_EQ(View(m), before);

  // Moved, the view goes with its new owner.
  MappedFile moved = std::move(m);
  EXPECT_EQ(m.Data(), nullptr);
  EXPECT_EQ(m.Size(), 0u);
  EXPECT_EQ(View(moved), before);
  MappedFile other(path, 0, 3);
  other = std::move(moved);
  EXPECT_EQ(View(other), before);
}

#ifndef _WIN32
TEST(MappedFile, AFileCutUnderTheViewReadsAsZerosFromTheCutAndSaysSo) {
  // Another program cuts the file while it is mapped: reading the lost pages would end the
  // program with SIGBUS. They read as zeros instead, on whichever thread reads them.
  TempDir dir;
  const std::string path = dir.Path("cut.wav");
  const std::string content = Content() + Content() + Content();  // 15 pages
  WriteBytes(path, content);
  MappedFile m(path, 100, content.size());
  EXPECT_EQ(m.Path(), path);
  EXPECT_EQ(m.FileSize(), content.size());
  EXPECT_EQ(m.ShrunkTo(), std::nullopt);
  const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
  struct Cut {
    uint64_t to;  ///< the file's new size
    bool grownAgain;
  } cuts[] = {{40000, false}, {3 * page, true}, {10000, false}, {0, false}};
  for (const Cut& c : cuts) {
    SCOPED_TRACE(c.to);
    std::filesystem::resize_file(ToPath(path), c.to);
    EXPECT_EQ(m.ShrunkTo(), std::optional<uint64_t>(c.to));
    std::string seen;
    std::thread reader([&] { seen = View(m); });
    reader.join();
    ASSERT_EQ(seen.size(), content.size() - 100);
    const size_t kept = size_t(c.to > 100 ? c.to - 100 : 0);
    EXPECT_TRUE(seen.compare(0, kept, content, 100, kept) == 0);
    EXPECT_EQ(seen.find_first_not_of('\0', kept), std::string::npos);
    EXPECT_TRUE(View(m) == seen);
    if (c.grownAgain) {
      // The pages lost stay lost, and the view still counts as cut.
      WriteBytes(path, content);
      EXPECT_TRUE(View(m) == seen);
      EXPECT_EQ(m.ShrunkTo(), std::optional<uint64_t>(content.size()));
    }
  }
  // Any other SIGBUS still ends the program, as it would have: a cut file mapped by other
  // code, and one sent rather than raised by a fault.
  EXPECT_EXIT(
      {
        WriteBytes(path, content);
        const int fd = ::open(path.c_str(), O_RDONLY);
        const auto* other = static_cast<const volatile char*>(
            ::mmap(nullptr, content.size(), PROT_READ, MAP_SHARED, fd, 0));
        std::filesystem::resize_file(ToPath(path), 0);
        std::printf("%d", other[content.size() - 1]);
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGBUS), "");
  EXPECT_EXIT(
      {
        std::raise(SIGBUS);
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGBUS), "");
}
#endif

TEST(MappedFile, FailsNamingTheFile) {
  TempDir dir;
  std::filesystem::create_directory(ToPath(dir.Path("folder")));
  for (const std::string& path : {dir.Path("none.wav"), dir.Path("folder")}) {
    try {
      MappedFile m(path, 0, 10);
      ADD_FAILURE() << path;
    } catch (const FileError& e) {
      EXPECT_EQ(e.path(), path);
    }
  }
#ifndef _WIN32
  // A pipe in the file's place fails at once instead of waiting for a writer.
  ASSERT_EQ(mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  EXPECT_THROW(MappedFile(dir.Path("pipe"), 0, 10), FileError);
#endif
}

}  // namespace
}  // namespace tamsel
