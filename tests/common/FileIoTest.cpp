#include "FileIo.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"

namespace tamsel {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(WriteFileThroughTemp, ReplacesTheTargetAndKeepsItsPermissions) {
  TempDir dir;
  const std::string target = dir.Path("字幕 file.ass");
  WriteBytes(target, "old");
  std::filesystem::permissions(ToPath(target), std::filesystem::perms(0640));
  WriteFileThroughTemp(target, dir.Path("v.tmp"), "new content");
  EXPECT_EQ(ReadBytes(target), "new content");
  EXPECT_FALSE(FileExists(dir.Path("v.tmp")));
  EXPECT_EQ(std::filesystem::status(ToPath(target)).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0640));
}

TEST(WriteFileThroughTemp, FailureLeavesTheTargetAndNoTemporaryFile) {
  TempDir dir;
  // The target is a folder: the rename fails after the temporary file was written.
  const std::string target = dir.Path("taken");
  std::filesystem::create_directory(ToPath(target));
  EXPECT_THROW(WriteFileThroughTemp(target, dir.Path("v.tmp"), "x"), FileError);
  EXPECT_FALSE(FileExists(dir.Path("v.tmp")));
  EXPECT_TRUE(std::filesystem::is_directory(ToPath(target)));

  // The temporary file cannot be made at all.
  EXPECT_THROW(WriteFileThroughTemp(dir.Path("a.ass"), dir.Path("missing/v.tmp"), "x"), FileError);
  EXPECT_FALSE(FileExists(dir.Path("a.ass")));
}

TEST(ReadFileBytes, ReadsEverythingOrNamesTheFile) {
  TempDir dir;
  std::string big(300000, 'x');
  big[123456] = '\0';
  WriteBytes(dir.Path("big"), big);
  EXPECT_EQ(ReadFileBytes(dir.Path("big")), big);
  try {
    ReadFileBytes(dir.Path("none"));
    ADD_FAILURE();
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), dir.Path("none"));
  }
}

}  // namespace
}  // namespace tamsel
