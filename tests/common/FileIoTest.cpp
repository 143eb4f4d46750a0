#include "FileIo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
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
  // The target is a folder: it is not replaced.
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

// A target that is a link is written through it, as editors do: the file it names gets the
// new content through a temporary file beside that file, keeps its permissions, and the link
// stays a link; nothing is left in either folder.
TEST(WriteFileThroughTemp, WritesThroughALinkAndKeepsIt) {
  enum Kind { RELATIVE, ABSOLUTE, LINK_TO_LINK, DANGLING };
  for (Kind kind : {RELATIVE, ABSOLUTE, LINK_TO_LINK, DANGLING}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    std::filesystem::create_directory(ToPath(dir.Path("video")));
    std::filesystem::create_directory(ToPath(dir.Path("subs")));
    const std::string target = dir.Path("video/v.srt");
    const std::string real = dir.Path("subs/real 字幕.srt");
    if (kind != DANGLING) {
      WriteBytes(real, "old");
      std::filesystem::permissions(ToPath(real), std::filesystem::perms(0640));
    }
    switch (kind) {
      case RELATIVE:
      case DANGLING:
        std::filesystem::create_symlink("../subs/real 字幕.srt", ToPath(target));
        break;
      case ABSOLUTE:
        std::filesystem::create_symlink(ToPath(real), ToPath(target));
        break;
      case LINK_TO_LINK:
        std::filesystem::create_symlink("real 字幕.srt", ToPath(dir.Path("subs/middle")));
        std::filesystem::create_symlink(ToPath(dir.Path("subs/middle")), ToPath(target));
        break;
    }
    EXPECT_EQ(LinkedFile(target), kind == ABSOLUTE ? real
                                  : kind == LINK_TO_LINK
                                      ? dir.Path("subs/real 字幕.srt")
                                      : dir.Path("video") + "/../subs/real 字幕.srt");
    EXPECT_EQ(TemporaryPathFor(target, dir.Path("video/v.tmp")), LinkedFile(target) + ".tmp");
    WriteFileThroughTemp(target, dir.Path("video/v.tmp"), "new");
    EXPECT_TRUE(std::filesystem::is_symlink(ToPath(target)));
    EXPECT_EQ(ReadBytes(real), "new");
    EXPECT_EQ(ReadBytes(target), "new");
    if (kind != DANGLING) {
      EXPECT_EQ(std::filesystem::status(ToPath(real)).permissions() & std::filesystem::perms::all,
                std::filesystem::perms(0640));
    }
    EXPECT_EQ(test::NamesIn(dir.Path("video")), std::vector<std::string>{"v.srt"});
    const std::vector<std::string> subs = kind == LINK_TO_LINK
                                              ? std::vector<std::string>{"middle", "real 字幕.srt"}
                                              : std::vector<std::string>{"real 字幕.srt"};
    EXPECT_EQ(test::NamesIn(dir.Path("subs")), subs);
  }
  // A target that is not a file, and links that go round in a circle, are refused and left.
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.Path("v.srt").c_str(), 0600), 0);
  try {
    WriteFileThroughTemp(dir.Path("v.srt"), dir.Path("v.tmp"), "new");
    ADD_FAILURE() << "a pipe was replaced";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("命名管道"), std::string::npos) << e.what();
  }
  EXPECT_EQ(std::filesystem::status(ToPath(dir.Path("v.srt"))).type(),
            std::filesystem::file_type::fifo);
  std::filesystem::create_symlink("b.ass", ToPath(dir.Path("a.ass")));
  std::filesystem::create_symlink("a.ass", ToPath(dir.Path("b.ass")));
  EXPECT_THROW(WriteFileThroughTemp(dir.Path("a.ass"), dir.Path("v.tmp"), "new"), FileError);
  EXPECT_EQ(test::NamesIn(dir.Path()), (std::vector<std::string>{"a.ass", "b.ass", "v.srt"}));
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

TEST(CreateNewFile, TakesATemporaryNameOfThisProcess) {
  TempDir dir;
  const std::string name = dir.Path("v.wav.part");
  NewFile first = CreateNewFile(name);
  NewFile second = CreateNewFile(name);
  EXPECT_NE(first.path, second.path);
  for (const NewFile* f : {&first, &second}) {
    EXPECT_EQ(f->path.rfind(name + ".tamsel-", 0), 0u) << f->path;
    EXPECT_NE(f->path.find("-" + std::to_string(getpid()) + "-"), std::string::npos) << f->path;
  }
  EXPECT_FALSE(FileExists(name));
  EXPECT_TRUE(IsSameFile(first.fd, first.path));
  EXPECT_FALSE(IsSameFile(first.fd, second.path));
  ::close(first.fd);
  ::close(second.fd);
  EXPECT_THROW(CreateNewFile(dir.Path("missing/v.tmp")), FileError);
}

// The name says whose it is: this boot of the system (the first eight digits of its boot id),
// this process and a number.
TEST(TemporaryName, CarriesTheBootTheProcessAndANumber) {
  const std::string name = TemporaryName("/x/v.tmp", 7);
  std::string boot(8, '0');
  std::ifstream id("/proc/sys/kernel/random/boot_id");
  if (std::string line; std::getline(id, line)) boot = line.substr(0, 8);
  EXPECT_EQ(name, "/x/v.tmp.tamsel-" + boot + "-" + std::to_string(getpid()) + "-7");
}

// What a killed run left is removed only when its name proves it ours and its maker gone.
TEST(RemoveLeftoverTemporaries, RemovesOnlyWhatProvablyLostItsMaker) {
  const long long ended = test::EndedProcessId();
  struct Case {
    const char* what;
    std::string name;  // in the folder, for "v.tmp" unless it says otherwise
    enum { FILE, FOLDER, LINK } kind;
    bool old;  // last changed long before this boot of the system
    bool removed;
  };
  const std::string otherBoot = "0123abcd";
  const Case cases[] = {
      {"a process of this boot that ended", test::LeftoverName("v.tmp", ended), Case::FILE, false,
       true},
      {"a folder of one that ended", test::LeftoverName("v.tmp", ended), Case::FOLDER, false, true},
      {"this very process", test::LeftoverName("v.tmp", getpid()), Case::FILE, false, false},
      {"another process that lives", test::LeftoverName("v.tmp", 1), Case::FILE, false, false},
      {"an earlier boot", test::LeftoverName("v.tmp", 1, otherBoot), Case::FILE, true, true},
      {"another boot, changed since this one began (another system's)",
       test::LeftoverName("v.tmp", ended, otherBoot), Case::FILE, false, false},
      {"a link under such a name", test::LeftoverName("v.tmp", ended), Case::LINK, false, false},
      {"the plain name", "v.tmp", Case::FILE, true, false},
      {"a random name beside it", "v.tmp.ab12cd", Case::FILE, true, false},
      {"a tail that is no tag", "v.tmp.tamsel-zzzzzzzz-1-0", Case::FILE, true, false},
      {"a tag with more after it", test::LeftoverName("v.tmp", ended) + ".bak", Case::FILE, false,
       false},
      {"another name's temporary", test::LeftoverName("w.tmp", ended), Case::FILE, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.Path(c.name);
    const std::string outside = dir.Path("outside");
    WriteBytes(outside, "not ours");
    switch (c.kind) {
      case Case::FILE:
        WriteBytes(path, "left");
        break;
      case Case::FOLDER:
        std::filesystem::create_directory(ToPath(path));
        WriteBytes(path + "/sound.wav", "left");
        break;
      case Case::LINK:
        std::filesystem::create_symlink(ToPath(outside), ToPath(path));
        break;
    }
    if (c.old) {
      std::filesystem::last_write_time(
          ToPath(path), std::filesystem::file_time_type::clock::now() - std::chrono::days(20000));
    }
    EXPECT_EQ(RemoveLeftoverTemporaries({dir.Path("v.tmp"), dir.Path("v.ws.tmp")}),
              c.removed ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(ToPath(path))), !c.removed);
    EXPECT_EQ(ReadBytes(outside), "not ours");
  }
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

// A pipe, a device or a folder where a file is read is refused at once, naming it and saying
// what it is; a pipe is never waited on (nothing writes to it here).
TEST(ReadFileBytes, RefusesWhatIsNoRegularFileWithoutWaiting) {
  enum Kind { PIPE, LINK_TO_PIPE, DEVICE, FOLDER };
  const struct {
    Kind kind;
    const char* says;
  } cases[] = {
      {PIPE, "命名管道"}, {LINK_TO_PIPE, "命名管道"}, {DEVICE, "设备文件"}, {FOLDER, "文件夹"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    TempDir dir;
    std::string path = dir.Path("v.srt");
    switch (c.kind) {
      case PIPE:
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
      case LINK_TO_PIPE:
        ASSERT_EQ(mkfifo(dir.Path("pipe").c_str(), 0600), 0);
        std::filesystem::create_symlink(ToPath(dir.Path("pipe")), ToPath(path));
        break;
      case DEVICE:
        path = "/dev/null";
        break;
      case FOLDER:
        std::filesystem::create_directory(ToPath(path));
        break;
    }
    EXPECT_NE(NotRegularFileReason(path).find(c.says), std::string::npos);
    auto read = std::async(std::launch::async, [&] {
      try {
        ReadFileBytes(path);
        return std::string("read");
      } catch (const FileError& e) {
        return e.path() + "|" + e.what();
      }
    });
    if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      // Let the reader go: a writer comes and leaves at once.
      ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));
      ADD_FAILURE() << "the read waits on the pipe";
      continue;
    }
    const std::string got = read.get();
    EXPECT_EQ(got.rfind(path + "|不是普通文件，而是", 0), 0u) << got;
    EXPECT_NE(got.find(c.says), std::string::npos) << got;
    EXPECT_THROW(ReadFileChunks(path, [](std::string_view) {}), FileError);
  }
  TempDir dir;
  WriteBytes(dir.Path("plain"), "x");
  EXPECT_EQ(NotRegularFileReason(dir.Path("plain")), "");
  EXPECT_EQ(NotRegularFileReason(dir.Path("none")), "");
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
