#include "MappedFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "FileIo.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
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
