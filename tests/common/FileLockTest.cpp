#include "FileLock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"

namespace tamsel {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(FileLock, OneHolderAtATimeAndTheLockFileGoesWithIt) {
  TempDir dir;
  const std::string path = dir.Path("v.lock");
  FileLock a, b;
  ASSERT_TRUE(a.TryLock(path));
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(b.TryLock(path));  // another open of the file, as another process would have
  EXPECT_FALSE(b.Locked());
  a.Unlock();
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(b.TryLock(path));
}

// A lock file is always empty: an empty one found there was left by a holder that was killed,
// and goes when the lock is let go; a file with something in it is someone else's and stays.
TEST(FileLock, ALockFileThatWasThereIsUsedAndRemovedOnlyWhenEmpty) {
  for (const std::string content : {"", "left by someone else"}) {
    SCOPED_TRACE(content);
    TempDir dir;
    const std::string path = dir.Path("v.lock");
    WriteBytes(path, content);
    {
      FileLock a;
      ASSERT_TRUE(a.TryLock(path));
      FileLock b;
      EXPECT_FALSE(b.TryLock(path));
      EXPECT_TRUE(FileExists(path));
    }
    EXPECT_EQ(FileExists(path), !content.empty());
    if (!content.empty()) {
      EXPECT_EQ(ReadBytes(path), content);
    }
  }
}

TEST(FileLock, AKilledHolderLetsGo) {
  TempDir dir;
  const std::string path = dir.Path("v.lock");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    FileLock lock;
    const char held = lock.TryLock(path) ? 'y' : 'n';
    if (write(ready[1], &held, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  ASSERT_EQ(held, 'y');
  FileLock mine;
  EXPECT_FALSE(mine.TryLock(path));
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_TRUE(FileExists(path));  // the killed holder could not remove it
  EXPECT_TRUE(mine.TryLock(path));
  mine.Unlock();
  EXPECT_FALSE(FileExists(path));  // but the next holder does
}

TEST(FileLock, AFolderThatTakesNoNewFileNeedsNoLock) {
  if (geteuid() == 0) GTEST_SKIP() << "the permissions do not hold for root";
  TempDir dir;
  const std::string folder = dir.Path("read-only");
  std::filesystem::create_directory(ToPath(folder));
  std::filesystem::permissions(ToPath(folder), std::filesystem::perms(0555));
  FileLock lock;
  EXPECT_TRUE(lock.TryLock(folder + "/v.lock"));
  EXPECT_FALSE(lock.Locked());
  EXPECT_TRUE(std::filesystem::is_empty(ToPath(folder)));
  std::filesystem::permissions(ToPath(folder), std::filesystem::perms(0755));
}

// A link, a folder or a pipe where the lock file goes is refused, naming it, and left as it is.
TEST(FileLock, RefusesWhatIsNoPlainFile) {
  enum Kind { LINK, DANGLING, FOLDER, PIPE };
  for (Kind kind : {LINK, DANGLING, FOLDER, PIPE}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string path = dir.Path("v.lock");
    const std::string other = dir.Path("other");
    switch (kind) {
      case LINK: WriteBytes(other, "theirs"); [[fallthrough]];
      case DANGLING: std::filesystem::create_symlink(ToPath(other), ToPath(path)); break;
      case FOLDER: std::filesystem::create_directory(ToPath(path)); break;
      case PIPE: ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); break;
    }
    FileLock lock;
    try {
      lock.TryLock(path);
      ADD_FAILURE() << "taken";
    } catch (const FileError& e) {
      EXPECT_EQ(e.path(), path);
    }
    EXPECT_FALSE(lock.Locked());
    const auto st = std::filesystem::symlink_status(ToPath(path));
    EXPECT_EQ(st.type(), kind == FOLDER ? std::filesystem::file_type::directory
                         : kind == PIPE ? std::filesystem::file_type::fifo
                                        : std::filesystem::file_type::symlink);
    if (kind == LINK) {
      EXPECT_EQ(ReadBytes(other), "theirs");
    }
    if (kind == DANGLING) {
      EXPECT_FALSE(std::filesystem::exists(ToPath(other)));
    }
  }
}

}  // namespace
}  // namespace tamsel
