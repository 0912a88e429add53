// Output files on Linux: what is replaced, what is written in place, what
// is kept (permissions, links, neighbours), and what never stays behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "tests/support/posix/scratch_dir.h"
#include "io/outfile.h"

namespace {

using testsupport::Slurp;

void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class OutputFileTest : public testsupport::ScratchDirTest {};

TEST_F(OutputFileTest, NewAndExistingFilesAreReplacedWholeKeepingTheirPermissions) {
  const std::string fresh = dir + "/new.csv";
  const mode_t mask = umask(027);
  EXPECT_EQ(io::WriteOutput(fresh, "1,2,3\n").reason(), "");
  umask(mask);
  EXPECT_EQ(Slurp(fresh), "1,2,3\n");
  struct stat st{};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u) << "a new file gets the usual permissions under the mask";

  const std::string kept = dir + "/kept.csv";
  Put(kept, "old contents that are longer\n");
  ASSERT_EQ(chmod(kept.c_str(), 0600), 0);
  struct stat before{};
  ASSERT_EQ(stat(kept.c_str(), &before), 0);
  EXPECT_EQ(io::WriteOutput(kept, "new\n").reason(), "");
  EXPECT_EQ(Slurp(kept), "new\n");
  ASSERT_EQ(stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "an existing file keeps its permission bits";
  EXPECT_NE(st.st_ino, before.st_ino) << "replaced by a rename, not rewritten in place";
  EXPECT_EQ(Entries(), (std::set<std::string>{"new.csv", "kept.csv"})) << "no temporary stays";
}

TEST_F(OutputFileTest, NeighboursWithTheOldSuffixAreLeftAlone) {
  // A user's own file, and a trap link, where a predictable temporary
  // name would go.
  Put(dir + "/keep.csv.part", "mine\n");
  Put(dir + "/victim", "precious\n");
  ASSERT_EQ(symlink((dir + "/victim").c_str(), (dir + "/sym.csv.part").c_str()), 0);
  EXPECT_EQ(io::WriteOutput(dir + "/keep.csv", "a\n").reason(), "");
  EXPECT_EQ(io::WriteOutput(dir + "/sym.csv", "b\n").reason(), "");
  EXPECT_EQ(Slurp(dir + "/keep.csv.part"), "mine\n");
  EXPECT_EQ(Slurp(dir + "/victim"), "precious\n");
  EXPECT_EQ(Slurp(dir + "/sym.csv"), "b\n");
  EXPECT_EQ(Entries().size(), 5u);
}

TEST_F(OutputFileTest, ALinkIsWrittenThroughAndStaysALink) {
  Put(dir + "/real.csv", "old\n");
  ASSERT_EQ(chmod((dir + "/real.csv").c_str(), 0604), 0);
  ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../real.csv", (dir + "/sub/link.csv").c_str()), 0);
  EXPECT_EQ(io::WriteOutput(dir + "/sub/link.csv", "through\n").reason(), "");
  struct stat st{};
  ASSERT_EQ(lstat((dir + "/sub/link.csv").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Slurp(dir + "/real.csv"), "through\n");
  ASSERT_EQ(stat((dir + "/real.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);

  // A dangling link: its target is created.
  ASSERT_EQ(symlink("made.csv", (dir + "/dangling").c_str()), 0);
  EXPECT_EQ(io::WriteOutput(dir + "/dangling", "made\n").reason(), "");
  EXPECT_EQ(Slurp(dir + "/made.csv"), "made\n");
  ASSERT_EQ(lstat((dir + "/dangling").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Entries(), (std::set<std::string>{"real.csv", "sub", "dangling", "made.csv"}));
}

TEST_F(OutputFileTest, SpecialFilesAreWrittenInPlace) {
  // A FIFO: its reader gets the bytes, and the FIFO is still there.
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = Slurp(fifo); });
  EXPECT_EQ(io::WriteOutput(fifo, "through the fifo\n").reason(), "");
  reader.join();
  EXPECT_EQ(got, "through the fifo\n");
  struct stat st{};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // /dev/fd/N and a link to it, on a pipe.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  const std::string fdPath = "/dev/fd/" + std::to_string(p[1]);
  ASSERT_EQ(symlink(fdPath.c_str(), (dir + "/to-fd").c_str()), 0);
  EXPECT_EQ(io::WriteOutput(fdPath, "one ").reason(), "");
  EXPECT_EQ(io::WriteOutput(dir + "/to-fd", "two").reason(), "");
  close(p[1]);
  char buf[64] = {};
  EXPECT_EQ(read(p[0], buf, sizeof buf - 1), 7);
  close(p[0]);
  EXPECT_EQ(std::string(buf), "one two");
  ASSERT_EQ(lstat((dir + "/to-fd").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A descriptor link onto a regular file adds to it rather than
  // replacing it or writing over what is there.
  const int fd = open((dir + "/log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "head\n", 5), 5);
  EXPECT_EQ(io::WriteOutput("/dev/fd/" + std::to_string(fd), "tail\n").reason(), "");
  close(fd);
  EXPECT_EQ(Slurp(dir + "/log"), "head\ntail\n");
}

TEST_F(OutputFileTest, FailuresLeaveTheOldFileAndNoTemporary) {
  Put(dir + "/old.csv", "old\n");
  {
    io::OutputFile out;
    ASSERT_EQ(out.Open(dir + "/old.csv").reason(), "");
    ASSERT_EQ(out.Write("half").reason(), "");
    EXPECT_EQ(Entries().size(), 2u) << "the temporary is there while it is written";
  }  // dropped without a commit
  EXPECT_EQ(Slurp(dir + "/old.csv"), "old\n");
  EXPECT_EQ(Entries(), std::set<std::string>{"old.csv"});

  // A full device fails on write or on close, and is still the device.
  const std::string err = io::WriteOutput("/dev/full", std::string(1 << 16, 'x')).reason();
  EXPECT_NE(err.find("cannot write /dev/full: No space left on device"), std::string::npos) << err;

  EXPECT_NE(io::WriteOutput(dir, "x").reason().find("it is a folder"), std::string::npos);
  EXPECT_NE(io::WriteOutput(dir + "/none/x.csv", "x").reason().find("No such file or directory"), std::string::npos);
  EXPECT_NE(io::WriteOutput("", "x").reason(), "");
  EXPECT_EQ(Entries(), std::set<std::string>{"old.csv"});
}

TEST_F(OutputFileTest, RemoveTemporariesTakesAwayWhatIsBeingWritten) {
  io::OutputFile out;
  ASSERT_EQ(out.Open(dir + "/big.png").reason(), "");
  ASSERT_EQ(out.Write("partial").reason(), "");
  io::RemoveTemporaries();  // as a signal handler would
  EXPECT_TRUE(Entries().empty());
  EXPECT_NE(out.Commit().reason(), "") << "the rename of a removed temporary fails";
  EXPECT_TRUE(Entries().empty());
}

TEST_F(OutputFileTest, ChecksBeforeARun) {
  EXPECT_EQ(io::CheckOutput(dir + "/new.csv").reason(), "");
  EXPECT_EQ(io::CheckOutput("-").reason(), "");
  EXPECT_EQ(io::CheckOutput("/dev/null").reason(), "");
  EXPECT_NE(io::CheckOutput(dir).reason().find("it is a folder"), std::string::npos);
  EXPECT_NE(io::CheckOutput(dir + "/none/x.csv").reason(), "");
  EXPECT_NE(io::CheckOutput("").reason(), "");
  Put(dir + "/file", "");
  EXPECT_NE(io::CheckOutput(dir + "/file/x.csv").reason(), "") << "a file where a folder should be";
  // A name as long as a folder entry can be: no suffix pushes it over.
  const std::string longName = dir + "/" + std::string(251, 'n') + ".csv";
  EXPECT_EQ(io::CheckOutput(longName).reason(), "");
  EXPECT_EQ(io::WriteOutput(longName, "long\n").reason(), "");
  EXPECT_EQ(Slurp(longName), "long\n");
  if (geteuid() != 0) {
    ASSERT_EQ(mkdir((dir + "/ro").c_str(), 0500), 0);
    EXPECT_NE(io::CheckOutput(dir + "/ro/x.csv").reason(), "");
  }
  EXPECT_EQ(Entries().size(), 2u) << "checking creates nothing";
}

TEST_F(OutputFileTest, TheSameFileUnderTwoNames) {
  Put(dir + "/a.csv", "");
  ASSERT_EQ(symlink("a.csv", (dir + "/l.csv").c_str()), 0);
  EXPECT_TRUE(io::SameOutput(dir + "/a.csv", dir + "/l.csv"));
  EXPECT_TRUE(io::SameOutput(dir + "/a.csv", dir + "/./a.csv"));
  EXPECT_TRUE(io::SameOutput(dir + "/new.csv", dir + "/../" + dir.substr(5) + "/new.csv"))
      << "names that do not exist yet";
  EXPECT_FALSE(io::SameOutput(dir + "/a.csv", dir + "/b.csv"));
  EXPECT_FALSE(io::SameOutput(dir + "/b.csv", dir + "/c.csv"));
  EXPECT_TRUE(io::SameOutput("-", "-"));
  EXPECT_TRUE(io::SameOutput("-", "/dev/stdout"));
}

}  // namespace
