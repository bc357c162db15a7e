// Output routing: which stream a text reaches, and when it is flushed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "in_child.h"
#include "messages/output.h"
#include "support/scratch.h"

namespace launcher {
namespace {

using test::InChild;
using test::ReadFile;
using test::ScratchDir;

// Points descriptor fd at a new file and returns its path.
std::string Redirect(const ScratchDir& dir, const char* name, int fd) {
  std::string path = dir / name;
  int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (file < 0 || ::dup2(file, fd) < 0) std::abort();
  ::close(file);
  return path;
}

std::string SizeOf(int fd) {
  struct stat st{};
  ::fstat(fd, &st);
  return std::to_string(st.st_size);
}

TEST(OutputTest, StatusLinesStayBufferedUntilPrintfFlushes) {
  ScratchDir dir;
  std::string out = dir / "out";
  EXPECT_EQ(InChild("C",
                    [&] {
                      Redirect(dir, "out", STDOUT_FILENO);
                      std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
                      int n = statusf("Checking %s...\n", "disk");
                      std::string report = std::to_string(n) + " " + SizeOf(STDOUT_FILENO);
                      n = _printf("done\n");
                      return report + " " + std::to_string(n) + " " + SizeOf(STDOUT_FILENO);
                    }),
            "17 0 5 22");
  EXPECT_EQ(ReadFile(out), "Checking disk...\ndone\n");
}

TEST(OutputTest, ErrorsAreFlushedToTheirStreamAtOnce) {
  ScratchDir dir;
  std::string err = dir / "err";
  std::string other = dir / "other";
  EXPECT_EQ(InChild("C",
                    [&] {
                      Redirect(dir, "err", STDERR_FILENO);
                      std::setvbuf(stderr, nullptr, _IOFBF, BUFSIZ);
                      _fprintf(stderr, "Error: '%s' is bad.\n", "-x");
                      std::string report = SizeOf(STDERR_FILENO);
                      FILE* file = std::fopen(other.c_str(), "we");
                      _fprintf(file, "%s\n", "notice");
                      // Still open: only the flush can have put the text in the file.
                      report += " " + ReadFile(other);
                      std::fclose(file);
                      return report;
                    }),
            "20 notice\n");
  EXPECT_EQ(ReadFile(err), "Error: '-x' is bad.\n");
}

// The process locale is cut to its legacy base (es_ES.UTF-8 to es_ES, which is Latin-1)
// for the windows; the terminal still gets the codeset that its environment named.
TEST(OutputTest, TerminalGetsTheCodesetTheEnvironmentNamed) {
  struct Case {
    const char* locale;
    bool status;  // a status line on stdout, else an error on stderr
    const char* key;
    std::string text;
  };
  const Case cases[] = {
      {"es_ES.UTF-8", false, "no_valid_arg",
       "Error: \xc2\xab-x\xc2\xbb no es un argumento v\xc3\xa1lido.\n"},
      {"es_ES.ISO-8859-1", false, "no_valid_arg",
       "Error: \xab-x\xbb no es un argumento v\xe1lido.\n"},
      {"ja_JP.UTF-8", true, "checking_java",
       "Java(TM) 2 Runtime Environment\xe6\xa4\x9c\xe6\x9f\xbb\xe4\xb8\xad...\n"},
      {"ja_JP.eucJP", true, "checking_java",
       "Java(TM) 2 Runtime Environment\xb8\xa1\xba\xba\xc3\xe6...\n"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    InChild(c.locale, [&] {
      Redirect(dir, "1", STDOUT_FILENO);
      Redirect(dir, "2", STDERR_FILENO);
      c.status ? StatusMessage(c.key) : ErrorMessage(c.key, "-x");
      std::fflush(stdout);
      return std::string();
    });
    EXPECT_EQ(ReadFile(dir / (c.status ? "1" : "2")), c.text) << c.locale;
  }
}

TEST(OutputTest, NullFormatPrintsNothingAndNeverStartsTheToolkit) {
  ScratchDir dir;
  EXPECT_EQ(InChild("C",
                    [&] {
                      Redirect(dir, "out", STDOUT_FILENO);
                      Redirect(dir, "err", STDERR_FILENO);
                      // Called through pointers: the compiler rightly refuses a literal null.
                      int (*status)(const char*, ...) = statusf;
                      int (*print)(const char*, ...) = _printf;
                      int (*error)(FILE*, const char*, ...) = _fprintf;
                      std::string report = std::to_string(status(nullptr)) +
                                           std::to_string(print(nullptr)) +
                                           std::to_string(error(stderr, nullptr));
                      SetPrintToConsole(0);
                      report += std::to_string(status(nullptr)) +
                                std::to_string(GetPrintToConsole());
                      std::fflush(stdout);
                      return report + " " + SizeOf(STDOUT_FILENO) + SizeOf(STDERR_FILENO);
                    }),
            "00000 00");
}

TEST(OutputTest, TextReachesTheTerminalWhileNoWindowRouteIsRegistered) {
  ScratchDir dir;
  std::string out = dir / "out";
  std::string err = dir / "err";
  EXPECT_EQ(InChild("C",
                    [&] {
                      Redirect(dir, "out", STDOUT_FILENO);
                      Redirect(dir, "err", STDERR_FILENO);
                      SetPrintToConsole(0);
                      StatusMessage("checking_java");
                      ErrorMessage("no_valid_arg", "-bogus");
                      std::fflush(stdout);
                      return std::string();
                    }),
            "");
  EXPECT_EQ(ReadFile(out), "Checking Java(TM) 2 Runtime Environment...\n");
  EXPECT_NE(ReadFile(err).find("Error: '-bogus' is not a valid argument.\n"),
            std::string::npos);
}

}  // namespace
}  // namespace launcher
