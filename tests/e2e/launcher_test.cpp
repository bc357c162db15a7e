// The launcher as a user meets it, one row per behaviour, for runs that end before the Java
// program starts: payload, arguments, environment -> status, stdout, stderr, what is left.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "support/installer.h"

namespace launcher::test {
namespace {

// The third entry's local header or content damaged, each in its own way; with runtime, the
// payload runtime's entries come first and the third is one of them.
std::string Damaged(int how, bool runtime = false) {
  std::vector<ZipItem> entries = StandardPayload();
  entries.insert(entries.end(), {{.name = "package/fourth", .data = "4"}, {.name = "zz/fifth", .data = "5"}});
  if (runtime) entries.insert(entries.begin(), {{.name = "package/jre/bin/java", .data = "#!/bin/sh\n"}, {.name = "package/jre/lib/i386/libjava.so"}, {.name = "package/jre/lib/rt.jar", .data = "rt"}});
  BuiltZip zip = BuildZip(entries);
  const size_t loc = zip.loc[2], cen = zip.cen[2];
  if (how == 0) zip.bytes[loc + 3] = 5;                             // local signature
  if (how == 1) zip.bytes[cen + 16] ^= 1;                           // recorded CRC-32
  if (how == 2) zip.bytes[loc + 30 + entries[2].name.size()] ^= 1;  // a data byte
  if (how == 3) {  // the local header points into the archive comment, cut after 20 bytes
    PutLE(zip.bytes, zip.end + 20, 20, 2);
    PutLE(zip.bytes, cen + 42, static_cast<uint32_t>(zip.bytes.size()), 4);
    zip.bytes += zip.bytes.substr(loc, 20);
  }
  return zip.bytes;
}

struct Row {
  const char* name;  // the fault the row guards against
  std::optional<std::string> payload;
  std::vector<std::string> args;
  int status;
  std::string out, err;
  size_t left = 0;  // entries left in the temporary directory (a failure keeps its own)
  std::function<void(Installer&)> prepare = {};
  const char* survivor = nullptr;  // a file beside the lock path that must still hold "must survive"
};

const std::string kStandard = BuildZip(StandardPayload()).bytes;
std::string Plus(const ZipItem& more) { std::vector<ZipItem> e = StandardPayload(); return e.push_back(more), BuildZip(e).bytes; }
std::string Refused(const std::string& message) { return "Error: " + message + "\n" + kUsage; }
const std::string kCorrupted = "Error: The '/{inst}' file appears to be corrupted.\n";
const std::string kNoFiles = "Error: There are no files requiring installation.\n";
auto java = [](Installer& in) { in.UseJava(); };
auto javaSaying = [](std::string version) {
  return [version](Installer& in) { in.UseJava({.version = "echo 'java version \"" + version + "\"' >&2"}); };
};
// A file beside the lock path (a hard link needs the same file system) that must survive.
std::string Victim(const Installer& in) { return WriteFile(LockPath(in.path) + ".victim", "must survive"), LockPath(in.path) + ".victim"; }
// The working directory's name is tried in TMPDIR first, where it can't fit PATH_MAX.
void DeepTmpdirVariable(Installer& in) {
  in.tmp = in.dir + "/deep";  // where the run may leave something: nowhere
  while (in.tmp.size() < 4086) in.tmp += "/" + std::string(std::min<size_t>(200, 4086 - in.tmp.size() - 1), 'd');
  MakeDirs(in.tmp);
}
void SmallStack(Installer& in) {  // the clean-up may run in a signal handler on a small stack
  in.UseJava();
  rlimit small;
  ::getrlimit(RLIMIT_STACK, &small);
  small.rlim_cur = 1 << 20;
  ::setrlimit(RLIMIT_STACK, &small);
}
const std::string kDeep = [] { std::string name; for (int i = 1; i < 512; ++i) name += "d/"; return name + "f"; }();  // 512 levels

const Row kRows[] = {
    {"help is refused or mistaken", kStandard, {"-console", "-help", "-bogus"}, 0, "", kUsage},
    {"-h is not help", kStandard, {"-h"}, 0, "", kUsage},
    {"-silent without file", kStandard, {"-silent"}, 1, "", Refused("'-silent' must be followed by a file name.")},
    {"-savestate without file", kStandard, {"-console", "-savestate"}, 1, "", Refused("'-savestate' must be followed by a file name.")},
    {"-javahome without directory", kStandard, {"-javahome"}, 1, "", Refused("'-javahome' must be followed by a Java(TM) installation directory.")},
    {"-tmpdir without directory", kStandard, {"-tmpdir"}, 1, "", Refused("'-tmpdir' must be followed by a writable directory.")},
    {"-tmpdir naming a file", kStandard, {"-tmpdir", "{inst}"}, 1, "", Refused("'{inst}' is not a writable directory.")},
    {"option names are case-blind", kStandard, {"-Console"}, 1, "", Refused("'-Console' is not a valid argument.")},
    {"options are abbreviated", kStandard, {"-d"}, 1, "", Refused("'-d' is not a valid argument.")},
    {"a stray word is taken", kStandard, {"-console", "stray"}, 1, "", Refused("'stray' is not a valid argument.")},
    {"parse goes on past an error", kStandard, {"-bogus", "-help"}, 1, "", Refused("'-bogus' is not a valid argument.")},
    {"graphical mode without display", kStandard, {}, 1, "Connecting to X11 server ':0.0'.\n", "Error: Cannot connect to X11 server ':0.0'.\nCheck that the DISPLAY environment variable is correctly set or try\nrerunning this application with the following usage:\n    'setup' -console\n"},
    {"no runtime anywhere", kStandard, {"-console", "-tmpdir", "{tmp}"}, 1, Status("djr"), NoJava(), 1},
    {"relative -javahome named unresolved", kStandard, {"-console", "-javahome", "inst"}, 1, Status("djr"), NoJava("{dir}/inst"), 1},
    {"unsupported version chosen", kStandard, {"-console", "-javahome", "{java}"}, 1, Status("djr"), NoJava("{java}"), 1, javaSaying("1.3.1")},
    {"near-miss version 1.4 chosen", kStandard, {"-console"}, 1, Status("djr"), NoJava(), 1, javaSaying("1.4")},
    {"probe killed by a signal trusted", kStandard, {"-console"}, 1, Status("djr"), NoJava(), 1, [](Installer& in) { in.UseJava({.version = "echo 'java version \"1.5\"' >&2; kill -9 $$"}); }},
    {"working directory name not made, or named relative", kStandard, {"-console", "-tmpdir", "inst"}, 1, Status("d"), "Error: The '{dir}/inst' temporary directory is not a writable directory.\nTry rerunning this application with the following usage:\n    'setup' -tmpdir <temporary directory>\n", 0, DeepTmpdirVariable},
    {"entry escaping the working directory", Plus({.name = "../escaped", .data = "x"}), {"-console"}, 1, Status("djrx"), kCorrupted, 1, java},
    {"payload without main class", BuildZip({{.name = "package/PackageFormat.jar", .data = "j"}}).bytes, {"-console"}, 1, Status("djrxlc"), kNoFiles, 0, java},
    {"unreadable local header ends the walk", Damaged(0), {"-console"}, 1, Status("djrx"), kCorrupted, 1, java},
    {"recorded CRC-32 not checked", Damaged(1), {"-console"}, 1, Status("djrx"), kCorrupted, 1, java},
    {"flipped data byte not checked", Damaged(2), {"-console"}, 1, Status("djrx"), kCorrupted, 1, java},
    {"archive ending inside a local header", Damaged(3), {"-console"}, 1, Status("djrx"), kCorrupted, 1, java},
    {"download cut in half taken for a stub without payload", kStandard.substr(0, kStandard.size() / 2), {"-console"}, 1, Status("d"), kCorrupted, 1, java},
    {"download cut 30 bytes short taken for a stub without payload", kStandard.substr(0, kStandard.size() - 30), {"-console"}, 1, Status("d"), kCorrupted, 1, java},
    {"damaged payload runtime passed over", Damaged(2, true), {"-console"}, 1, Status("djr"), kCorrupted, 1, java},
    {"unreadable header passed over by the runtime search", Damaged(0, true), {"-console"}, 1, Status("djr"), kCorrupted, 1, java},
    {"stale lock file blocks", kStandard, {"-help"}, 0, "", kUsage, 0, [](Installer& in) { WriteFile(LockPath(in.path), "left by a killed run", 0600); }},
    {"link at the lock path followed", kStandard, {"-help"}, 0, "", kUsage, 0, [](Installer& in) { ::symlink(Victim(in).c_str(), LockPath(in.path).c_str()); }, ".victim"},
    {"hard link at the lock path truncated", kStandard, {"-help"}, 0, "", kUsage, 0, [](Installer& in) { ::link(Victim(in).c_str(), LockPath(in.path).c_str()); }, ".victim"},
    {"FIFO at the lock path waited for", kStandard, {"-help"}, 0, "", kUsage, 0, [](Installer& in) { ::mkfifo(LockPath(in.path).c_str(), 0600); }},
    {"another user's locked file at the lock path refuses the run", kStandard, {"-help"}, 0, "", kUsage, 0,
     [](Installer& in) {  // python's lockf takes the same kind of lock as the launcher
       test::Run({.argv = {"/bin/sh", "-c", "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c 'import fcntl, sys, time; "
                           "f = open(sys.argv[1], \"w\"); fcntl.lockf(f, fcntl.LOCK_EX); f.write(\"must survive\"); f.flush(); time.sleep(20)' \"$0\" & "
                           "while [ \"$(cat \"$0\" 2>/dev/null)\" != \"must survive\" ]; do sleep 0.01; done", LockPath(in.path)}}); }, ""},
    {"start name left unresolved", kStandard, {"-console"}, 1, "", "Error: Could not resolve the absolute path of this application.\n", 0, [](Installer& in) { in.argv0 = "setup"; }},
    {"clean-up needing a stack as deep as the tree", BuildZip({{.name = kDeep, .data = "deep"}}).bytes, {"-console"}, 1, Status("djrxlc"), kNoFiles, 0, SmallStack},
};

TEST(Launcher, EndsAsEachRowSays) {
  rlimit stack;
  ::getrlimit(RLIMIT_STACK, &stack);
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    Installer in(row.payload);
    if (row.prepare) row.prepare(in);
    RunOptions options = in.Options(row.args);
    options.cwd = in.dir;  // relative values name entries of {dir}
    const Outcome got = in.Finish(test::Run(options));
    EXPECT_EQ(got.run.exitCode, row.status);
    EXPECT_EQ(got.run.out, in.Expand(row.out));
    EXPECT_EQ(got.run.err, in.Expand(row.err));
    EXPECT_EQ(got.left.size(), row.left);
    EXPECT_FALSE(got.java.started);
    EXPECT_TRUE(!got.lockLeft || std::string(row.name).find("at the lock path") != std::string::npos);
    if (row.survivor) { EXPECT_EQ(ReadFile(LockPath(in.path) + row.survivor), "must survive"); }
    for (const char* suffix : {".victim", ""}) ::unlink((LockPath(in.path) + suffix).c_str());
    ::setrlimit(RLIMIT_STACK, &stack);
  }
}

// The index claims more than any disk holds: the message names the need, entries plus
// 100,000 bytes, and the run ends before any runtime is probed.
TEST(Launcher, PayloadLargerThanTheFreeSpaceIsRefusedWithTheNeed) {
  std::vector<ZipItem> entries = StandardPayload();
  for (int i = 0; i < 64; ++i) entries.push_back({.name = std::to_string(i), .cenSize = 0xFFFFFFFFu});
  Installer in(BuildZip(entries).bytes);
  RunResult run = in.Run({"-console", "-tmpdir", "{tmp}"}).run;
  EXPECT_EQ(std::tie(run.exitCode, run.out), std::make_tuple(1, Status("d")));
  std::string need = std::to_string(64 * 0xFFFFFFFFull + 11 + 9 + 13 + 100000) + " bytes are required";
  EXPECT_NE(run.err.find("not enough free disk space in the '" + in.tmp + "'"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(need), std::string::npos) << run.err;
}

}  // namespace
}  // namespace launcher::test
