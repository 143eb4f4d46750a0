#include "FileIo.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

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

// Whatever already has the temporary file's name (a link to another file, a dangling link, a
// leftover or someone else's file) is left alone: the write goes through a file of its own.
TEST(WriteFileThroughTemp, NeverWritesThroughOrReusesWhatHasTheTemporaryName) {
  enum Kind { LINK_TO_FILE, DANGLING_LINK, LEFTOVER };
  for (Kind kind : {LINK_TO_FILE, DANGLING_LINK, LEFTOVER}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string target = dir.Path("v.ass");
    const std::string tmp = dir.Path("v.tmp");
    const std::string other = dir.Path("other.txt");
    WriteBytes(target, "old");
    if (kind == LINK_TO_FILE) {
      WriteBytes(other, "not ours");
      std::filesystem::create_symlink(ToPath(other), ToPath(tmp));
    } else if (kind == DANGLING_LINK) {
      std::filesystem::create_symlink(ToPath(other), ToPath(tmp));
    } else {
      WriteBytes(tmp, "leftover");
    }
    WriteFileThroughTemp(target, tmp, "new");
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_FALSE(std::filesystem::is_symlink(ToPath(target)));
    if (kind == LINK_TO_FILE) {
      EXPECT_EQ(ReadBytes(other), "not ours");
    } else if (kind == DANGLING_LINK) {
      EXPECT_FALSE(std::filesystem::exists(ToPath(other)));
    } else {
      EXPECT_EQ(ReadBytes(tmp), "leftover");
    }
    EXPECT_TRUE(std::filesystem::is_symlink(ToPath(tmp)) || kind == LEFTOVER);
    // Nothing else is left beside the target.
    size_t files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(ToPath(dir.Path()))) ++files;
    EXPECT_EQ(files, kind == LINK_TO_FILE ? 3u : 2u);
  }
}

TEST(WriteFileThroughTemp, RefusesAReadOnlyTarget) {
  TempDir dir;
  const std::string target = dir.Path("v.srt");
  WriteBytes(target, "mine");
  std::filesystem::permissions(ToPath(target), std::filesystem::perms(0444));
  try {
    WriteFileThroughTemp(target, dir.Path("v.tmp"), "new");
    ADD_FAILURE() << "a read-only file was replaced";
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), target);
    EXPECT_NE(std::string(e.what()).find("只读"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(target), "mine");
  EXPECT_FALSE(FileExists(dir.Path("v.tmp")));
  EXPECT_TRUE(IsWriteProtected(target));
  std::filesystem::permissions(ToPath(target), std::filesystem::perms(0644));
  EXPECT_FALSE(IsWriteProtected(target));
}

TEST(CreateNewFile, TakesTheNameOrAFreshOneBesideIt) {
  TempDir dir;
  const std::string name = dir.Path("v.wav.part");
  NewFile first = CreateNewFile(name);
  EXPECT_EQ(first.path, name);
  NewFile second = CreateNewFile(name);
  EXPECT_NE(second.path, name);
  EXPECT_EQ(second.path.rfind(name + ".", 0), 0u);
  EXPECT_TRUE(IsSameFile(first.fd, first.path));
  EXPECT_FALSE(IsSameFile(first.fd, second.path));
  ::close(first.fd);
  ::close(second.fd);
  EXPECT_THROW(CreateNewFile(dir.Path("missing/v.tmp")), FileError);
}

TEST(CreateNewFolder, MakesAFreshFolderOnlyForUs) {
  TempDir dir;
  const std::string prefix = dir.Path("v.wav.part-");
  // A folder, a file and a link that already have names of the pattern are passed over.
  std::filesystem::create_directory(ToPath(prefix + "aaaaaa"));
  const std::string a = CreateNewFolder(prefix);
  const std::string b = CreateNewFolder(prefix);
  EXPECT_NE(a, b);
  for (const std::string& f : {a, b}) {
    EXPECT_EQ(f.rfind(prefix, 0), 0u);
    EXPECT_EQ(f.size(), prefix.size() + 6);
    const auto st = std::filesystem::symlink_status(ToPath(f));
    EXPECT_TRUE(std::filesystem::is_directory(st));
    EXPECT_EQ(st.permissions() & std::filesystem::perms::all, std::filesystem::perms(0700));
    EXPECT_TRUE(std::filesystem::is_empty(ToPath(f)));
  }
  EXPECT_THROW(CreateNewFolder(dir.Path("missing/x-")), FileError);
}

// Whatever has the name already (a file, a link, a dangling link, a folder) keeps it, and the
// file to be moved stays where it was.
TEST(RenameWithoutReplacing, TakesOnlyAFreeName) {
  enum Kind { NOTHING, FILE, LINK, DANGLING, FOLDER };
  for (Kind kind : {NOTHING, FILE, LINK, DANGLING, FOLDER}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string from = dir.Path("sound.wav");
    const std::string to = dir.Path("v.wav");
    const std::string other = dir.Path("other");
    WriteBytes(from, "ours");
    switch (kind) {
      case NOTHING: break;
      case FILE: WriteBytes(to, "theirs"); break;
      case LINK: WriteBytes(other, "theirs"); [[fallthrough]];
      case DANGLING: std::filesystem::create_symlink(ToPath(other), ToPath(to)); break;
      case FOLDER: std::filesystem::create_directory(ToPath(to)); break;
    }
    const int err = RenameWithoutReplacing(from, to);
    if (kind == NOTHING) {
      EXPECT_EQ(err, 0);
      EXPECT_EQ(ReadBytes(to), "ours");
      EXPECT_FALSE(FileExists(from));
      continue;
    }
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(ReadBytes(from), "ours");
    if (kind == FILE) {
      EXPECT_EQ(ReadBytes(to), "theirs");
    }
    if (kind == LINK || kind == DANGLING) {
      EXPECT_EQ(std::filesystem::read_symlink(ToPath(to)), ToPath(other));
    }
    if (kind == LINK) {
      EXPECT_EQ(ReadBytes(other), "theirs");
    }
    if (kind == DANGLING) {
      EXPECT_FALSE(std::filesystem::exists(ToPath(other)));
    }
    if (kind == FOLDER) {
      EXPECT_TRUE(std::filesystem::is_directory(ToPath(to)));
    }
  }
}

TEST(CreateUnnamedFile, LeavesNothingUnlessNamedAndNeverReplaces) {
  TempDir dir;
  const int fd = CreateUnnamedFile(dir.Path());
  if (fd < 0) GTEST_SKIP() << "no files without a name here";
  ASSERT_EQ(::write(fd, "abc", 3), 3);
  EXPECT_TRUE(std::filesystem::is_empty(ToPath(dir.Path())));
  EXPECT_EQ(ReadBytes(DescriptorPath(fd)), "abc");

  // A taken name (here a link) is left alone; a fresh one is found beside it.
  const std::string taken = dir.Path("v.wav.tmp");
  std::filesystem::create_symlink(ToPath(dir.Path("elsewhere")), ToPath(taken));
  EXPECT_EQ(NameNewFileExactly(fd, taken), EEXIST);
  const std::string named = NameNewFile(fd, taken);
  EXPECT_EQ(named.rfind(taken + ".", 0), 0u);
  EXPECT_EQ(ReadBytes(named), "abc");
  EXPECT_TRUE(IsSameFile(fd, named));
  EXPECT_TRUE(std::filesystem::is_symlink(ToPath(taken)));
  EXPECT_FALSE(std::filesystem::exists(ToPath(dir.Path("elsewhere"))));
  ::close(fd);

  // One that is closed without a name leaves nothing.
  const int gone = CreateUnnamedFile(dir.Path());
  ASSERT_GE(gone, 0);
  ASSERT_EQ(::write(gone, "xyz", 3), 3);
  ::close(gone);
  size_t count = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(ToPath(dir.Path()))) {
    ++count;
  }
  EXPECT_EQ(count, 2u);
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

TEST(ReadFileChunks, HandsOverTheFileInOrderInPiecesOfAtMost64KiB) {
  TempDir dir;
  std::string big(200001, 'y');
  big[70000] = '\0';
  big[200000] = 'z';
  WriteBytes(dir.Path("big"), big);
  std::string joined;
  size_t pieces = 0;
  ReadFileChunks(dir.Path("big"), [&](std::string_view piece) {
    EXPECT_FALSE(piece.empty());
    EXPECT_LE(piece.size(), 65536u);
    joined.append(piece);
    ++pieces;
  });
  EXPECT_EQ(joined, big);
  EXPECT_EQ(pieces, 4u);
  WriteBytes(dir.Path("empty"), "");
  ReadFileChunks(dir.Path("empty"), [](std::string_view) { ADD_FAILURE(); });
  EXPECT_THROW(ReadFileChunks(dir.Path("none"), [](std::string_view) {}), FileError);
}

}  // namespace
}  // namespace tamsel
