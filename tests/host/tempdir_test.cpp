#include "host/tempdir.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/unique_fd.h"
#include "support/child.h"
#include "support/scratch.h"

namespace launcher {
namespace {

using test::Exists;
using test::InChild;
using test::MakeDirs;
using test::ScratchDir;
using test::Show;
using test::WriteFile;

// The temporary directory is process-wide, so every case sets it in a child.
TEST(SetTempDir, AcceptsOnlyWritableDirectoriesAndKeepsThePreviousValue) {
  ScratchDir dir;
  MakeDirs(dir / "good");
  MakeDirs(dir / "other");
  WriteFile(dir / "file", "x");
  ASSERT_EQ(::symlink((dir / "other").c_str(), (dir / "link").c_str()), 0);
  std::string result = InChild([&] {
    std::string log;
    auto attempt = [&](const std::string& path) {
      int accepted = SetTempDir(path.c_str());
      log += std::to_string(accepted) + " " + Show(GetTempDir()) + "\n";
    };
    attempt(dir / "good");
    attempt(dir / "file");
    attempt(dir / "missing");
    attempt(dir / "good/");
    attempt(dir / "link");  // a link to a directory is stored as the link
    if (::chdir(dir.path().c_str()) != 0) return std::string("chdir failed");
    attempt("other");
    attempt("missing");
    return log;
  });
  const std::string& d = dir.path();
  EXPECT_EQ(result, "1 " + d + "/good\n" + "0 " + d + "/good\n" + "0 " + d + "/good\n" +
                        "1 " + d + "/good/\n" + "1 " + d + "/link\n" + "1 " + d + "/other\n" +
                        "0 " + d + "/other\n");
}

TEST(SetTempDir, RefusesSocketWhoseModeSharesTheDirectoryBit) {
  ScratchDir dir;
  std::string path = dir / "sock";
  UniqueFd sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  ASSERT_NE(st.st_mode & 0x4000, 0u);  // S_IFSOCK is 0xC000
  EXPECT_EQ(InChild([&] { return std::to_string(SetTempDir(path.c_str())); }), "0");
}

// Root passes every access check, so the permission case runs as user nobody.
TEST(SetTempDir, RefusesDirectoryWithoutWritePermission) {
  ScratchDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  MakeDirs(dir / "readonly");
  MakeDirs(dir / "open");
  ASSERT_EQ(::chmod((dir / "readonly").c_str(), 0555), 0);
  ASSERT_EQ(::chmod((dir / "open").c_str(), 0777), 0);
  std::string result = InChild([&] {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
         ::setresuid(65534, 65534, 65534) != 0)) {
      return std::string("cannot become nobody");
    }
    return std::to_string(SetTempDir((dir / "readonly").c_str())) +
           std::to_string(SetTempDir((dir / "open").c_str()));
  });
  EXPECT_EQ(result, "01");
}

TEST(SetTempDir, RelativePathInRemovedCurrentDirectoryIsRefusedNotLooped) {
  ScratchDir dir;
  MakeDirs(dir / "gone");
  std::string result = InChild([&] {
    if (::chdir((dir / "gone").c_str()) != 0 || ::rmdir((dir / "gone").c_str()) != 0) {
      return std::string("setup failed");
    }
    int accepted = SetTempDir(".");
    return std::to_string(accepted) + " " + Show(GetTempDir());
  });
  EXPECT_EQ(result, "0 /var/tmp/");  // the default still applies
}

class Removal : public ::testing::Test {
 protected:
  // tree/{a/{keep/{f,sub/g},other},b/c/d/e,top}
  void MakeTree() {
    WriteFile(scratch / "tree/a/keep/f", "f");
    WriteFile(scratch / "tree/a/keep/sub/g", "g");
    WriteFile(scratch / "tree/a/other", "o");
    WriteFile(scratch / "tree/b/c/d/e", "e");
    WriteFile(scratch / "tree/top", "t");
  }
  ScratchDir scratch;
};

TEST_F(Removal, SymbolicLinksAreRemovedButNeverFollowed) {
  MakeTree();
  WriteFile(scratch / "outside/precious", "p");
  ASSERT_EQ(::symlink((scratch / "outside").c_str(), (scratch / "tree/b/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink((scratch / "outside/precious").c_str(), (scratch / "tree/filelink").c_str()),
            0);
  ASSERT_EQ(::symlink((scratch / "outside").c_str(), (scratch / "toplink").c_str()), 0);

  DeleteFilesAndDirectories((scratch / "toplink").c_str(), nullptr);
  EXPECT_FALSE(Exists(scratch / "toplink"));
  EXPECT_TRUE(Exists(scratch / "outside/precious"));

  DeleteFilesAndDirectories((scratch / "tree").c_str(), nullptr);
  EXPECT_FALSE(Exists(scratch / "tree"));
  EXPECT_EQ(test::ReadFile(scratch / "outside/precious"), "p");
}

TEST_F(Removal, KeepListSparesEntryAndItsContents) {
  MakeTree();
  std::string keep = scratch / "tree/a/keep";
  const char* const keepList[] = {"/unrelated", keep.c_str(), nullptr};
  DeleteFilesAndDirectories((scratch / "tree").c_str(), keepList);
  EXPECT_TRUE(Exists(scratch / "tree/a/keep/f"));
  EXPECT_TRUE(Exists(scratch / "tree/a/keep/sub/g"));
  EXPECT_FALSE(Exists(scratch / "tree/a/other"));
  EXPECT_FALSE(Exists(scratch / "tree/b"));
  EXPECT_FALSE(Exists(scratch / "tree/top"));

  // The kept path itself, also when named with a trailing '/'.
  DeleteFilesAndDirectories((keep + "/").c_str(), keepList);
  DeleteFilesAndDirectories(keep.c_str(), keepList);
  EXPECT_TRUE(Exists(scratch / "tree/a/keep/sub/g"));
}

TEST_F(Removal, TrailingSlashesNameTheSameTree) {
  MakeTree();
  DeleteFilesAndDirectories((scratch / "tree/b/").c_str(), nullptr);
  EXPECT_FALSE(Exists(scratch / "tree/b"));
  DeleteFilesAndDirectories((scratch / "tree//").c_str(), nullptr);
  EXPECT_FALSE(Exists(scratch / "tree"));
}

TEST_F(Removal, RelativeAndDotPathsRemoveNothing) {
  MakeTree();
  std::string result = InChild([&] {
    if (::chdir(scratch.path().c_str()) != 0) return std::string("chdir failed");
    DeleteFilesAndDirectories("tree", nullptr);
    DeleteFilesAndDirectories("tree/a", nullptr);
    return std::string("done");
  });
  ASSERT_EQ(result, "done");
  DeleteFilesAndDirectories(nullptr, nullptr);
  DeleteFilesAndDirectories("", nullptr);
  DeleteFilesAndDirectories((scratch / "tree/a/.").c_str(), nullptr);
  DeleteFilesAndDirectories((scratch / "tree/a/..").c_str(), nullptr);
  // After the trailing '/' these end in "." or "..": the last must not reach the parent.
  DeleteFilesAndDirectories((scratch / "tree/a/./").c_str(), nullptr);
  DeleteFilesAndDirectories((scratch / "tree/a/keep/../../").c_str(), nullptr);
  EXPECT_TRUE(Exists(scratch / "tree/a/keep/sub/g"));
  EXPECT_TRUE(Exists(scratch / "tree/b/c/d/e"));
  EXPECT_TRUE(Exists(scratch / "tree/top"));
}

TEST_F(Removal, TreeDeeperThanPathMaxIsRemoved) {
  // 300 levels of 20-byte names: full paths reach about 6300 bytes, past PATH_MAX.
  const std::string name(20, 'd');
  UniqueFd fd(::open(scratch.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(fd.valid());
  for (int level = 0; level < 300; ++level) {
    ASSERT_EQ(::mkdirat(fd.get(), name.c_str(), 0755), 0);
    fd = UniqueFd(::openat(fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(fd.valid());
    if (level % 50 == 0) {
      UniqueFd file(::openat(fd.get(), "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
      ASSERT_TRUE(file.valid());
    }
  }
  fd.reset();
  DeleteFilesAndDirectories((scratch / name).c_str(), nullptr);
  EXPECT_FALSE(Exists(scratch / name));
}

TEST_F(Removal, ManyEntriesAcrossSeveralDirectoryReads) {
  // More names than one 4 KiB read returns, removed while the directory is being read.
  for (int i = 0; i < 600; ++i) {
    std::string entry = scratch / ("wide/entry-with-a-longish-name-" + std::to_string(i));
    if (i % 3 == 0) {
      WriteFile(entry + "/inner", "x");
    } else {
      WriteFile(entry, "x");
    }
  }
  DeleteFilesAndDirectories((scratch / "wide").c_str(), nullptr);
  EXPECT_FALSE(Exists(scratch / "wide"));
}

}  // namespace
}  // namespace launcher
