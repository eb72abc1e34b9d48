// Extraction from the archive reader: into a file, an open file and memory; damaged entries and
// names that would leave the folder or reach a device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive.h"
#include "archive_calls.h"
#include "os_files.h"
#include "scratch.h"
#include "zip_builder.h"

namespace veltran {
namespace {

using testing::BuildZip;
using testing::Bytes;
using testing::Concat;
using testing::ExtractTo;
using testing::FakeExecutableImage;
using testing::OpenMemory;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;
using testing::ZipItem;
namespace fs = std::filesystem;

TEST(ArchiveExtractTest, WritesStoredAndDeflatedEntriesWithTheirTimesAndAttributes) {
  ScratchFolder folder;
  const Bytes big = Pattern(100000, 5);  // several 16 KB pieces
  Bytes text(200000, 'x');
  ZipItem stored{"stored.bin", big, false};
  ZipItem deflated{"sub/deep/text.txt", text};
  deflated.externalAttributes = 0x81A40000u;
  deflated.madeBy = 0x0314;
  deflated.extra = {'U', 'T', 5, 0, 1};
  testing::Put32(deflated.extra, 1500000000u);
  ZipItem empty{"empty.dat", {}};
  WriteBytes("package.exe", Concat(FakeExecutableImage(), BuildZip({stored, deflated, empty})));
  ArchiveHandle archive = ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);

  ASSERT_EQ(ExtractTo(archive, 0, "stored.bin"), kArchiveOk);
  EXPECT_EQ(ReadBytes("stored.bin"), big);
  EXPECT_TRUE(testing::IsReadOnly("stored.bin"));  // MS-DOS entries come out read-only

  ASSERT_EQ(ExtractTo(archive, 1, "sub/deep/text.txt"), kArchiveOk);
  EXPECT_EQ(ReadBytes("sub/deep/text.txt"), text);
  EXPECT_FALSE(testing::IsReadOnly("sub/deep/text.txt"));
  const auto written = fs::last_write_time("sub/deep/text.txt");
  const auto expected =
      std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1500000000)));
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(written - expected).count(), 0);

  ASSERT_EQ(ExtractTo(archive, 2, "empty.dat"), kArchiveOk);
  EXPECT_EQ(fs::file_size("empty.dat"), 0u);
}

TEST(ArchiveExtractTest, DirectoryEntriesOnlyCreateTheirFolders) {
  ScratchFolder folder;
  ZipItem directory{"a/b/c/", {}};
  directory.externalAttributes = 0x10;
  WriteBytes("package.exe", BuildZip({directory}));
  ArchiveHandle archive = ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);
  EXPECT_EQ(ExtractTo(archive, 0, "a/b/c/"), kArchiveOk);
  EXPECT_TRUE(fs::is_directory("a/b/c"));
}

// Every damaged entry fails and leaves no file behind, whether or not one was there before.
TEST(ArchiveExtractTest, DamagedEntriesLeaveNothingBehind) {
  ScratchFolder folder;
  const Bytes data = Pattern(50000, 6);
  Bytes text(60000, 'y');
  ZipItem badCrc{"crc.bin", data};
  badCrc.overrideCrc = true;
  badCrc.crc = 0x12345678;
  ZipItem tooLong{"long.bin", text};  // inflates past its declared size
  tooLong.overrideSize = true;
  tooLong.uncompressedSize = 1000;
  ZipItem tooShort{"short.bin", text};  // declares more than it holds
  tooShort.overrideSize = true;
  tooShort.uncompressedSize = 70000;
  ZipItem encrypted{"secret.bin", data, false};
  encrypted.flags = 1;
  ZipItem otherMethod{"bzip.bin", data, false};
  otherMethod.method = 12;
  ZipItem storedMismatch{"stored.bin", data, false};
  storedMismatch.overrideSize = true;
  storedMismatch.uncompressedSize = 40000;
  Bytes zip = BuildZip({badCrc, tooLong, tooShort, encrypted, otherMethod, storedMismatch});
  WriteBytes("package.exe", zip);
  ArchiveHandle archive = ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);
  const char* names[] = {"crc.bin",    "long.bin", "short.bin",
                         "secret.bin", "bzip.bin", "stored.bin"};
  for (std::int32_t i = 0; i < 6; ++i) {
    WriteBytes(names[i], Bytes{1, 2, 3});
    EXPECT_NE(ExtractTo(archive, i, names[i]), kArchiveOk) << names[i];
    EXPECT_FALSE(fs::exists(names[i]) && ReadBytes(names[i]).size() > 3) << names[i];
    Bytes memory(100000);
    EXPECT_NE(ArchiveExtract(archive, i, memory.data(), static_cast<std::uint32_t>(memory.size()),
                             ArchiveSource::kMemory),
              kArchiveOk)
        << names[i];
  }
  for (const char* name : {"crc.bin", "long.bin", "short.bin"}) EXPECT_FALSE(fs::exists(name));

  // Into an open file, nothing beyond the declared size is ever written.
  for (std::int32_t i = 0; i < 6; ++i) {
    os::File file = os::CreateNewFile("handle-" + std::to_string(i));
    ASSERT_TRUE(file);
    EXPECT_NE(
        ArchiveExtract(archive, i, reinterpret_cast<void*>(file.get()), 0, ArchiveSource::kHandle),
        kArchiveOk);
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive, i, &entry), kArchiveOk);
    std::uint64_t written = 0;
    ASSERT_TRUE(os::FileSize(file, &written));
    EXPECT_LE(written, entry.uncompressedSize) << names[i];
  }
}

struct EntryCase {
  const char* what;
  ZipItem item;
  int expected;
};

ZipItem With(ZipItem item, void (*change)(ZipItem&)) {
  change(item);
  return item;
}

ZipItem Declaring(ZipItem item, std::uint32_t size) {
  item.overrideSize = true;
  item.uncompressedSize = size;
  return item;
}

std::vector<EntryCase> EntryCases() {
  const ZipItem stored{"stored", Pattern(50000, 13), false};
  const ZipItem deflated{"deflated", Bytes(60000, 'z')};
  ZipItem junk{"junk", Bytes(100, 0xFF), false};  // a block type deflate does not have
  junk.method = 8;
  return {
      {"stored", stored, kArchiveOk},
      {"deflated", deflated, kArchiveOk},
      {"empty, stored", {"empty", {}, false}, kArchiveOk},
      {"empty, deflated", {"empty", {}}, kArchiveOk},
      {"bytes after the end of the deflate stream",
       With(deflated, [](ZipItem& i) { i.trailing = Pattern(70000, 14); }), kArchiveOk},
      {"stored, CRC wrong", With(stored, [](ZipItem& i) { i.overrideCrc = true; }),
       kArchiveDataError},
      {"deflated, CRC wrong", With(deflated, [](ZipItem& i) { i.overrideCrc = true; }),
       kArchiveDataError},
      {"stored, more data than declared", Declaring(stored, 49999), kArchiveDataError},
      {"stored, less data than declared", Declaring(stored, 50001), kArchiveDataError},
      {"inflates past the declared size", Declaring(deflated, 59999), kArchiveDataError},
      {"inflates to less than declared", Declaring(deflated, 60001), kArchiveDataError},
      {"deflate stream cut short", With(deflated, [](ZipItem& i) { i.cut = 20; }),
       kArchiveDataError},
      {"not a deflate stream", junk, kArchiveDataError},
      {"encrypted", With(stored, [](ZipItem& i) { i.flags = 1; }), kArchiveBadEntry},
      {"another method", With(stored, [](ZipItem& i) { i.method = 12; }), kArchiveBadEntry},
  };
}

// A file, an open file and memory get the same result for an entry, and the whole entry when
// it is sound: the launcher tells a damaged package from a failed write by the result alone.
TEST(ArchiveExtractTest, EveryTargetGetsTheSameResultForAnEntry) {
  ScratchFolder folder;
  const std::vector<EntryCase> cases = EntryCases();
  std::vector<ZipItem> items;
  for (const EntryCase& entryCase : cases) items.push_back(entryCase.item);
  WriteBytes("package.exe", Concat(FakeExecutableImage(), BuildZip(items)));
  const ArchiveHandle archive = ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    const auto index = static_cast<std::int32_t>(i);
    const std::string name = "entry-" + std::to_string(i);
    EXPECT_EQ(ExtractTo(archive, index, name), cases[i].expected);
    Bytes memory(100000);
    EXPECT_EQ(ArchiveExtract(archive, index, memory.data(),
                             static_cast<std::uint32_t>(memory.size()), ArchiveSource::kMemory),
              cases[i].expected);
    {
      const os::File file = os::CreateNewFile(name + ".handle");
      ASSERT_TRUE(file);
      EXPECT_EQ(ArchiveExtract(archive, index, reinterpret_cast<void*>(file.get()), 0,
                               ArchiveSource::kHandle),
                cases[i].expected);
    }
    if (cases[i].expected != kArchiveOk) {
      EXPECT_FALSE(fs::exists(name));
      continue;
    }
    const Bytes& data = cases[i].item.data;
    EXPECT_EQ(ReadBytes(name), data);
    EXPECT_EQ(ReadBytes(name + ".handle"), data);
    memory.resize(data.size());
    EXPECT_EQ(memory, data);
  }
}

TEST(ArchiveExtractTest, ExtractionIntoAnOpenFileWritesTheWholeEntry) {
  ScratchFolder folder;
  const Bytes data = Pattern(70000, 12);
  const Bytes zip = BuildZip({{"fw.bin", data}});
  const ArchiveHandle archive = OpenMemory(zip);
  ASSERT_TRUE(archive);
  {
    os::File file = os::CreateNewFile("target");
    ASSERT_TRUE(file);
    ASSERT_EQ(
        ArchiveExtract(archive, 0, reinterpret_cast<void*>(file.get()), 0, ArchiveSource::kHandle),
        kArchiveOk);
  }
  EXPECT_EQ(ReadBytes("target"), data);
}

#if !defined(_WIN32)
TEST(ArchiveExtractTest, ALinkUnderTheTargetNameIsReplacedNotFollowed) {
  ScratchFolder folder;
  WriteBytes(folder.root() / "victim", Bytes{1, 2, 3});
  fs::permissions(folder.root() / "victim", fs::perms(0600));
  fs::create_symlink(folder.root() / "victim", "fw.bin");
  const Bytes zip = BuildZip({{"fw.bin", Pattern(500, 13)}});
  const ArchiveHandle archive = OpenMemory(zip);
  ASSERT_TRUE(archive);
  ASSERT_EQ(ExtractTo(archive, 0, "fw.bin"), kArchiveOk);
  EXPECT_FALSE(fs::is_symlink("fw.bin"));
  EXPECT_EQ(ReadBytes("fw.bin"), Pattern(500, 13));
  EXPECT_EQ(ReadBytes(folder.root() / "victim"), (Bytes{1, 2, 3}));
  EXPECT_EQ(fs::status(folder.root() / "victim").permissions(), fs::perms(0600));
}
#endif

// Windows opens a device for these names, with any extension, and drops trailing dots and
// spaces, so a file would vanish into a device or land under another name.
TEST(SafeEntryNameTest, DeviceNamesAndNamesEndingInADotOrSpaceAreRefused) {
  for (const char* name : {"NUL.bin",       "nul",         "CON",
                           "con.txt",       "Con.tar.gz",  "PRN",
                           "AUX",           "aux.",        "NUL ",
                           "NUL .bin",      "COM1",        "com9.bin",
                           "COM0",          "LPT1",        "lpt3.exe",
                           "LPT9.",         "COM\xB9",     "COM\xC2\xB2.bin",
                           "CONIN$",        "conout$.x",   "sub/NUL.bin",
                           "nul/fw.bin",    "fw.bin.",     "fw.bin ",
                           "VELTRAN.exe. ", "sub./fw.bin", "sub /fw.bin"}) {
    EXPECT_FALSE(IsSafeEntryName(name)) << name;
  }
  for (const char* name : {"CONSOLE.bin", "COM10", "LPT", "nul_.bin", "COMA", "auxiliary.exe",
                           "a.con", "x.nul", "fw.bin", "sub/.hidden", "COM1x.bin"}) {
    EXPECT_TRUE(IsSafeEntryName(name)) << name;
  }
}

TEST(ArchiveExtractTest, EntryDataCutShortIsADataError) {
  ScratchFolder folder;
  const Bytes data = Pattern(40000, 7);
  // Local data cut: the central directory still claims the full compressed size.
  Bytes zip = BuildZip({{"fw.bin", data, false}});
  const Bytes local(zip.begin(), zip.begin() + 30 + 6 + 20000);
  const Bytes rest(zip.begin() + 30 + 6 + 40000, zip.end());
  Bytes cut = Concat(local, rest);
  const std::size_t at = cut.size() - 6;  // the end record's central directory offset
  std::uint32_t centralOffset = 0;
  for (std::size_t i = 0; i < 4; ++i) centralOffset |= std::uint32_t{cut[at + i]} << (8 * i);
  centralOffset -= 20000;
  for (std::size_t i = 0; i < 4; ++i) {
    cut[at + i] = static_cast<unsigned char>(centralOffset >> (8 * i));
  }
  WriteBytes("package.exe", cut);
  ArchiveHandle archive = ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);
  EXPECT_EQ(ExtractTo(archive, 0, "fw.bin"), kArchiveDataError);
  EXPECT_FALSE(fs::exists("fw.bin"));
}

TEST(ArchiveExtractTest, NamesThatWouldLeaveTheFolderAreNeverWritten) {
  ScratchFolder folder;
  const std::string absolute = (folder.root() / "absolute.bin").generic_string();
  const std::vector<std::string> hostile = {"../up.bin",
                                            "..\\up2.bin",
                                            "sub/../../up3.bin",
                                            "sub\\..\\..\\up4.bin",
                                            absolute,
                                            "/abs.bin",
                                            "\\abs2.bin",
                                            "C:up5.bin",
                                            "C:\\up6.bin",
                                            "\\\\host\\share\\up7.bin",
                                            "//host/share/up8.bin",
                                            ".. /up9.bin",
                                            "sub/.../up10.bin",
                                            "fw.bin:stream",
                                            "../",
                                            ".."};
  std::vector<ZipItem> items;
  for (const std::string& name : hostile) items.push_back({name, Pattern(100, 8)});
  WriteBytes(folder.root() / "package.exe", BuildZip(items));
  ArchiveHandle archive =
      ArchiveOpen((folder.root() / "package.exe").string().c_str(), 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(hostile.size()); ++i) {
    EXPECT_FALSE(IsSafeEntryName(hostile[static_cast<std::size_t>(i)]))
        << hostile[static_cast<std::size_t>(i)];
    EXPECT_EQ(ExtractTo(archive, i, hostile[static_cast<std::size_t>(i)]), kArchiveArgumentError);
  }
  EXPECT_EQ(testing::FilesBelow(folder.root()), std::vector<std::string>{"package.exe"});
  EXPECT_FALSE(fs::exists("/abs.bin"));
  for (const char* safe : {"fw.bin", "a/b.bin", "a\\b.bin", "x..y.bin", "..fw.bin", "a/..b/c"}) {
    EXPECT_TRUE(IsSafeEntryName(safe)) << safe;
  }
}

TEST(ArchiveExtractTest, NamesTooLongForTheRecordAreCutAndNeverMatch) {
  ScratchFolder folder;
  const std::string longName = std::string(300, 'n') + ".bin";
  std::string withNul = "fw.bin";
  withNul += '\0';
  withNul += "/../../evil.bin";
  WriteBytes("package.exe", BuildZip({{longName, Pattern(10, 9)}, {withNul, Pattern(10, 10)}}));
  ArchiveHandle archive = ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);
  ArchiveEntry entry;
  ASSERT_EQ(ArchiveGetEntry(archive, 0, &entry), kArchiveOk);
  EXPECT_EQ(std::strlen(entry.name), 259u);
  std::int32_t index = 0;
  EXPECT_EQ(ArchiveFindEntry(archive, entry.name, true, &index, &entry), kArchiveNotFound);
  EXPECT_EQ(ArchiveFindEntry(archive, longName, true, &index, &entry), kArchiveNotFound);
  EXPECT_EQ(ExtractTo(archive, 0, "n.bin"), kArchiveBadEntry);
  ASSERT_EQ(ArchiveGetEntry(archive, 1, &entry), kArchiveOk);
  EXPECT_STREQ(entry.name, "fw.bin");
  EXPECT_EQ(ArchiveFindEntry(archive, "fw.bin", true, &index, &entry), kArchiveNotFound);
  EXPECT_EQ(ExtractTo(archive, 1, "fw.bin"), kArchiveBadEntry);
  EXPECT_EQ(testing::FilesBelow(folder.root()), std::vector<std::string>{"work/package.exe"});
}

TEST(ArchiveExtractTest, ExtractionIntoMemoryNeedsRoomForTheWholeEntry) {
  const Bytes data = Pattern(1000, 11);
  const ArchiveHandle archive = OpenMemory(BuildZip({{"fw.bin", data}}));
  ASSERT_TRUE(archive);
  Bytes small(999);
  EXPECT_EQ(ArchiveExtract(archive, 0, small.data(), 999, ArchiveSource::kMemory),
            kArchiveArgumentError);
  EXPECT_EQ(ArchiveExtract(archive, 1, small.data(), 999, ArchiveSource::kMemory),
            kArchiveArgumentError);
  EXPECT_EQ(ArchiveExtract(archive, -1, small.data(), 999, ArchiveSource::kMemory),
            kArchiveArgumentError);
}

}  // namespace
}  // namespace veltran
