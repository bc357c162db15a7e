// Payloads whose directory is intact but one entry's local header can't be read, or whose
// content does not match its CRC-32. Such an entry must fail the extraction: passing it
// would start the installer program with entries missing or damaged.
#include <cstdint>

#include "e2e/e2e_support.h"

namespace launcher::e2e {
namespace {

constexpr size_t kEndHeaderSize = 22;
constexpr size_t kCenHeaderSize = 46;

uint32_t Get(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  }
  return value;
}

void Put(std::string* bytes, size_t at, int width, uint32_t value) {
  for (int i = 0; i < width; ++i) {
    (*bytes)[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
  }
}

enum class Damage {
  kWrongSignature,   // the third local header's signature is not PK\3\4
  kEndsInsideHeader,  // the third directory record points at a local header cut short
  kWrongCrc,          // the third directory record's CRC-32 has one bit flipped
  kFlippedData,       // the third entry's first data byte has one bit flipped
};

class DamagedPayload : public InstallerTest {
 protected:
  // Five entries; the third one is damaged as told.
  void MakeDamagedInstaller(const Entries& entries, Damage damage) {
    ASSERT_EQ(entries.size(), 5u);
    MakeInstaller(installer, entries);
    std::string bytes = ReadFile(installer);
    size_t zipStart = ReadFile(LauncherPath()).size();
    size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(end, std::string::npos);
    ASSERT_EQ(end + kEndHeaderSize, bytes.size()) << "the zip was written with a comment";
    size_t cen = zipStart + Get(bytes, end + 16, 4);
    for (int skipped = 0; skipped < 2; ++skipped) {
      cen += kCenHeaderSize + Get(bytes, cen + 28, 2) + Get(bytes, cen + 30, 2) +
             Get(bytes, cen + 32, 2);
    }
    ASSERT_EQ(bytes.compare(cen, 4, std::string("PK\x01\x02", 4)), 0);
    size_t loc = zipStart + Get(bytes, cen + 42, 4);
    ASSERT_EQ(bytes.compare(loc, 4, std::string("PK\x03\x04", 4)), 0);
    ASSERT_EQ(bytes.compare(loc + 30, entries[2].first.size(), entries[2].first), 0);

    if (damage == Damage::kWrongSignature) {
      bytes[loc + 3] = '\x05';
    } else if (damage == Damage::kWrongCrc) {
      bytes[cen + 16] ^= 0x01;
    } else if (damage == Damage::kFlippedData) {
      bytes[loc + 30 + Get(bytes, loc + 26, 2) + Get(bytes, loc + 28, 2)] ^= 0x01;
    } else {
      // The archive comment, the file's last bytes, holds the first 20 bytes of the
      // header, and the directory record points there: the file ends inside the header.
      constexpr size_t kCut = 20;
      std::string head = bytes.substr(loc, kCut);
      Put(&bytes, end + 20, 2, kCut);
      bytes += head;
      Put(&bytes, cen + 42, 4, static_cast<uint32_t>(end + kEndHeaderSize - zipStart));
    }
    WriteFile(installer, bytes, 0755);
  }

  // Runs the installer in console mode with a fake runtime on JAVA_HOME and checks that
  // the run ends after the status lines out (by default at extraction) with the
  // corrupted-file message, without starting Java.
  void ExpectCorruptedWithoutJava(const std::string& out = kOutputUpToExtraction) {
    std::string home = Runtime("jre");
    RunResult run = Launch(Options({"-console", "-tmpdir", tmp}, {{"JAVA_HOME", home}}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, CorruptedError(installer));
    EXPECT_FALSE(ReadLaunchRecord(FakeRuntimeRecordPath(scratch / "jre", {})).present)
        << "the installer program was started";
    workdir = WorkDir();
    ASSERT_TRUE(workdir) << "a failure exit leaves the working directory";
  }

  static Entries FiveEntries() {
    Entries entries = StandardPayload();
    entries.emplace_back("package/fourth.txt", "fourth");
    entries.emplace_back("zz/fifth.txt", "fifth");
    return entries;
  }

  std::optional<std::string> workdir;
};

TEST_F(DamagedPayload, WrongLocSignatureOfTheThirdEntryFailsInsteadOfEndingTheWalk) {
  MakeDamagedInstaller(FiveEntries(), Damage::kWrongSignature);
  ExpectCorruptedWithoutJava();
  if (!workdir) return;
  EXPECT_TRUE(Exists(*workdir + "/package/PackageFormat.jar")) << "entries before it stay";
  EXPECT_FALSE(Exists(*workdir + "/package/fourth.txt"));
  EXPECT_FALSE(Exists(*workdir + "/zz"));
}

TEST_F(DamagedPayload, ArchiveEndingInsideALocHeaderFailsInsteadOfEndingTheWalk) {
  MakeDamagedInstaller(FiveEntries(), Damage::kEndsInsideHeader);
  ExpectCorruptedWithoutJava();
  if (!workdir) return;
  EXPECT_FALSE(Exists(*workdir + "/package/libPassword.so"));
  EXPECT_FALSE(Exists(*workdir + "/package/fourth.txt"));
  EXPECT_FALSE(Exists(*workdir + "/zz"));
}

// A flipped bit in a downloaded installer, in the data or in the recorded checksum.
TEST_F(DamagedPayload, EntryNotMatchingItsCrcFailsTheInstall) {
  for (Damage damage : {Damage::kWrongCrc, Damage::kFlippedData}) {
    SCOPED_TRACE(damage == Damage::kWrongCrc ? "wrong CRC" : "flipped data");
    MakeDamagedInstaller(FiveEntries(), damage);
    ExpectCorruptedWithoutJava();
    if (!workdir) continue;
    EXPECT_FALSE(Exists(*workdir + "/zz")) << "extraction went on past the damaged entry";
    RemoveTree(*workdir);
    ::unlink(LockPath(installer).c_str());
  }
}

// A download cut short has no readable archive, but it is no stub without payload either:
// it is reported before any runtime is probed.
TEST_F(DamagedPayload, CutDownloadIsCorruptedBeforeAnyRuntimeIsProbed) {
  MakeInstaller(installer, FiveEntries());
  std::string whole = ReadFile(installer);
  size_t zipStart = ReadFile(LauncherPath()).size();
  for (size_t size : {zipStart + (whole.size() - zipStart) / 2, whole.size() - 30}) {
    SCOPED_TRACE(size);
    WriteFile(installer, whole.substr(0, size), 0755);
    ExpectCorruptedWithoutJava("Checking available disk space...\n");
    if (workdir) RemoveTree(*workdir);
    ::unlink(LockPath(installer).c_str());
  }
}

// The runtime search extracts the payload runtime's entries first. Damage in one of them,
// or damage that stops that walk, ends the run there: passing the runtime over would probe
// and pick another one, or tell the user that no Java was found.
TEST_F(DamagedPayload, DamageMetByTheRuntimeSearchEndsTheRunThere) {
  std::string ran = scratch / "payload-java-ran";
  Entries entries = {{"package/jre/bin/java", "#!/bin/sh\n: > '" + ran + "'\n"},
                     {"package/jre/lib/i386/libjava.so", ""},
                     {"vantor.class", "class bytes"},
                     {"package/PackageFormat.jar", "jar bytes"},
                     {"package/libPassword.so", "library bytes"}};
  Entries runtimeDamaged = entries;
  runtimeDamaged[2] = {"package/jre/lib/rt.jar", "runtime classes"};
  for (auto [damage, payload] : {std::pair{Damage::kWrongSignature, &entries},
                                 {Damage::kEndsInsideHeader, &entries},
                                 {Damage::kFlippedData, &runtimeDamaged}}) {
    SCOPED_TRACE(static_cast<int>(damage));
    MakeDamagedInstaller(*payload, damage);
    ExpectCorruptedWithoutJava(
        "Checking available disk space...\nChecking Java(TM) 2 Runtime Environment...\n"
        "Extracting Java(TM) 2 Runtime Environment files...\n");
    EXPECT_FALSE(Exists(ran)) << "the payload runtime was probed or started";
    if (workdir) RemoveTree(*workdir);
    ::unlink(LockPath(installer).c_str());
  }
}

}  // namespace
}  // namespace launcher::e2e
