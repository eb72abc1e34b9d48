// The archive reader: locating an archive behind an executable image, entry records, lookup,
// and extraction, including damaged and hostile entries.
#include "archive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "os_files.h"
#include "scratch.h"
#include "zip_builder.h"

namespace veltran {
namespace {

using testing::BuildZip;
using testing::Bytes;
using testing::Concat;
using testing::FakeExecutableImage;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;
using testing::ZipItem;
namespace fs = std::filesystem;

ArchiveHandle OpenMemory(const Bytes& bytes) {
  return ArchiveOpen(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                     ArchiveSource::kMemory);
}

void SetTimeZone(const char* zone) {
#if defined(_WIN32)
  _putenv_s("TZ", zone ? zone : "");
  _tzset();
#else
  if (zone) {
    ::setenv("TZ", zone, 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
#endif
}

int ExtractTo(const ArchiveHandle& archive, std::int32_t index, std::string name) {
  return ArchiveExtract(archive, index, name.data(), 0, ArchiveSource::kFileName);
}

// A package file in the current folder, opened by name.
ArchiveHandle OpenPackage(const Bytes& bytes) {
  WriteBytes("package.exe", bytes);
  return ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
}

TEST(ArchiveOpenTest, FindsTheArchiveBehindAnExecutableImageFromEveryKindOfSource) {
  ScratchFolder folder;
  const Bytes image = Pattern(70000, 1);
  const Bytes package = Concat(FakeExecutableImage(126976), BuildZip({{"fw.bin", image}}));
  WriteBytes("package.exe", package);

  ArchiveHandle byName = ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
  ArchiveHandle byMemory = OpenMemory(package);
  ArchiveHandle byHandle;
  {
    // The reader keeps its own duplicate: the caller's handle may close at once.
    const os::File file = os::OpenForReading("package.exe");
    ASSERT_TRUE(file);
    byHandle = ArchiveOpen(reinterpret_cast<const void*>(file.get()), 0, ArchiveSource::kHandle);
  }
  ASSERT_TRUE(byName);
  ASSERT_TRUE(byMemory);
  ASSERT_TRUE(byHandle);
  EXPECT_FALSE(ArchiveOpen(reinterpret_cast<const void*>(os::FileTraits::Empty()), 0,
                           ArchiveSource::kHandle));
  for (const ArchiveHandle* archive : {&byName, &byMemory, &byHandle}) {
    Bytes out(image.size());
    EXPECT_EQ(ArchiveExtract(*archive, 0, out.data(), static_cast<std::uint32_t>(out.size()),
                             ArchiveSource::kMemory),
              kArchiveOk);
    EXPECT_EQ(out, image);
  }
}

TEST(ArchiveOpenTest, RefusesWhatHoldsNoReadableArchive) {
  ScratchFolder folder;
  EXPECT_FALSE(ArchiveOpen("missing.exe", 0, ArchiveSource::kFileName));
  EXPECT_FALSE(OpenMemory(FakeExecutableImage()));
  EXPECT_FALSE(ArchiveOpen(nullptr, 0, ArchiveSource::kFileName));

  // Cut short: the end record is gone, or the central directory lies beyond the end.
  const Bytes zip = BuildZip({{"fw.bin", Pattern(5000, 2)}, {"VELTRAN.exe", Pattern(3000, 3)}});
  EXPECT_FALSE(OpenMemory(Bytes(zip.begin(), zip.end() - 10)));
  Bytes broken = zip;
  broken[broken.size() - 6] ^= 0x40;  // central directory offset
  EXPECT_FALSE(OpenMemory(broken));
  // An end record announcing more entries than the directory holds.
  Bytes overCounted = zip;
  overCounted[overCounted.size() - 12] = 3;
  overCounted[overCounted.size() - 14] = 3;
  EXPECT_FALSE(OpenMemory(overCounted));
}

TEST(ArchiveOpenTest, AnEmptyArchiveHasNoEntries) {
  const ArchiveHandle archive = OpenMemory(Concat(FakeExecutableImage(), BuildZip({})));
  ASSERT_TRUE(archive);
  ArchiveEntry entry;
  EXPECT_EQ(ArchiveGetEntry(archive, -1, &entry), kArchiveOk);
  EXPECT_EQ(entry.index, 0);
  EXPECT_EQ(ArchiveGetEntry(archive, 0, &entry), kArchiveArgumentError);
}

TEST(ArchiveEntryTest, CountAndIndexLimits) {
  const ArchiveHandle archive =
      OpenMemory(BuildZip({{"a.bin", Pattern(10, 1)}, {"b.exe", Pattern(10, 2)}}));
  ASSERT_TRUE(archive);
  ArchiveEntry entry;
  ASSERT_EQ(ArchiveGetEntry(archive, -1, &entry), kArchiveOk);
  EXPECT_EQ(entry.index, 2);
  EXPECT_STREQ(entry.name, "");
  EXPECT_EQ(entry.attributes, 0u);
  EXPECT_EQ(entry.uncompressedSize, 0u);
  EXPECT_EQ(ArchiveGetEntry(archive, -2, &entry), kArchiveArgumentError);
  EXPECT_EQ(ArchiveGetEntry(archive, 2, &entry), kArchiveArgumentError);
  ASSERT_EQ(ArchiveGetEntry(archive, 1, &entry), kArchiveOk);
  EXPECT_EQ(entry.index, 1);
  EXPECT_STREQ(entry.name, "b.exe");
  EXPECT_EQ(entry.uncompressedSize, 10u);
}

TEST(ArchiveEntryTest, AttributesFollowTheHostsBits) {
  ZipItem dos{"dos.bin", Pattern(4, 1)};  // 0x20: archive only
  ZipItem unixFile{"unix.bin", Pattern(4, 2)};
  unixFile.externalAttributes = 0x81A40000u;  // -rw-r--r--
  unixFile.madeBy = 0x0314;
  ZipItem unixReadOnly{"ro.bin", Pattern(4, 3)};
  unixReadOnly.externalAttributes = 0x81240000u;  // -r--r--r--
  ZipItem dosDirectory{"dir/", {}};
  dosDirectory.externalAttributes = 0x10;
  ZipItem unixDirectory{"udir/", {}};
  unixDirectory.externalAttributes = 0x41ED0000u;  // drwxr-xr-x
  ZipItem hiddenSystem{"hs.bin", Pattern(4, 4)};
  hiddenSystem.externalAttributes = 0x27;  // read-only, hidden, system, archive
  ZipItem unixWithDosReadOnly{"both.bin", Pattern(4, 5)};
  unixWithDosReadOnly.externalAttributes = 0x81A40001u;  // -rw-r--r-- and the DOS read-only bit
  unixWithDosReadOnly.madeBy = 0x0314;
  const ArchiveHandle archive =
      OpenMemory(BuildZip({dos, unixFile, unixReadOnly, dosDirectory, unixDirectory, hiddenSystem,
                           unixWithDosReadOnly}));
  ASSERT_TRUE(archive);
  const std::uint32_t expected[] = {0xA1, 0x80, 0x81, 0x91, 0x90, 0xA7, 0x81};
  for (std::int32_t i = 0; i < 7; ++i) {
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive, i, &entry), kArchiveOk);
    EXPECT_EQ(entry.attributes, expected[i]) << entry.name;
  }
}

TEST(ArchiveEntryTest, TimesComeFromTheExtendedTimestampBlockWhenThereIsOne) {
  constexpr std::uint64_t kSecond = 10000000ULL;
  constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;
  ZipItem plain{"plain.bin", Pattern(4, 1)};
  ZipItem stamped{"stamped.bin", Pattern(4, 2)};
  // A block of another kind first, then "UT" with modification, access and creation times.
  stamped.extra = {0x0A, 0x00, 0x04, 0x00, 1, 2, 3, 4, 'U', 'T', 13, 0, 7};
  for (std::uint32_t t : {1000000000u, 1000000100u, 1000000200u}) testing::Put32(stamped.extra, t);
  ZipItem accessOnly{"access.bin", Pattern(4, 3)};
  accessOnly.extra = {'U', 'T', 5, 0, 2};
  testing::Put32(accessOnly.extra, 86400u);
  ZipItem shortBlock{"short.bin", Pattern(4, 4)};  // announces three times, carries one
  shortBlock.extra = {'U', 'T', 5, 0, 7};
  testing::Put32(shortBlock.extra, 1234567890u);

  // DOS times are local: read in UTC, 2024-06-15 12:30:00 is Unix time 1718454600.
  SetTimeZone("UTC0");
  const ArchiveHandle archive = OpenMemory(BuildZip({plain, stamped, accessOnly, shortBlock}));
  SetTimeZone(nullptr);
  ASSERT_TRUE(archive);
  ArchiveEntry entry;
  ASSERT_EQ(ArchiveGetEntry(archive, 0, &entry), kArchiveOk);
  const std::uint64_t dosTime = entry.modificationTime;
  EXPECT_EQ(dosTime, kUnixEpoch + 1718454600ULL * kSecond);
  EXPECT_EQ(entry.accessTime, dosTime);
  EXPECT_EQ(entry.creationTime, dosTime);

  ASSERT_EQ(ArchiveGetEntry(archive, 1, &entry), kArchiveOk);
  EXPECT_EQ(entry.modificationTime, kUnixEpoch + 1000000000ULL * kSecond);
  EXPECT_EQ(entry.accessTime, kUnixEpoch + 1000000100ULL * kSecond);
  EXPECT_EQ(entry.creationTime, kUnixEpoch + 1000000200ULL * kSecond);

  ASSERT_EQ(ArchiveGetEntry(archive, 2, &entry), kArchiveOk);
  EXPECT_EQ(entry.accessTime, kUnixEpoch + 86400ULL * kSecond);
  EXPECT_EQ(entry.modificationTime, dosTime);
  EXPECT_EQ(entry.creationTime, dosTime);

  ASSERT_EQ(ArchiveGetEntry(archive, 3, &entry), kArchiveOk);
  EXPECT_EQ(entry.modificationTime, kUnixEpoch + 1234567890ULL * kSecond);
  EXPECT_EQ(entry.accessTime, dosTime);
  EXPECT_EQ(entry.creationTime, dosTime);
}

TEST(ArchiveFindTest, MatchesWholeNamesWithOrWithoutCase) {
  const ArchiveHandle archive = OpenMemory(BuildZip({{"Firmware.BIN", Pattern(8, 1)},
                                                     {"FIRMWARE.bin", Pattern(8, 2)},
                                                     {"tool.exe", Pattern(8, 3)}}));
  ASSERT_TRUE(archive);
  std::int32_t index = 7;
  ArchiveEntry entry;
  ASSERT_EQ(ArchiveFindEntry(archive, "firmware.bin", true, &index, &entry), kArchiveOk);
  EXPECT_EQ(index, 0);
  EXPECT_STREQ(entry.name, "Firmware.BIN");
  ASSERT_EQ(ArchiveFindEntry(archive, "FIRMWARE.bin", false, &index, &entry), kArchiveOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(ArchiveFindEntry(archive, "firmware.bin", false, &index, &entry), kArchiveNotFound);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(entry.index, -1);
  EXPECT_STREQ(entry.name, "");
  EXPECT_EQ(ArchiveFindEntry(archive, "tool.ex", true, &index, &entry), kArchiveNotFound);
}

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
  ZipItem directory{"a/b/c/", {}};  // creates its folders and nothing else
  directory.externalAttributes = 0x10;
  const ArchiveHandle archive =
      OpenPackage(Concat(FakeExecutableImage(), BuildZip({stored, deflated, empty, directory})));
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

  EXPECT_EQ(ExtractTo(archive, 3, "a/b/c/"), kArchiveOk);
  EXPECT_TRUE(fs::is_directory("a/b/c"));
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
// A damaged entry leaves no file behind, not even one that was there before, and never puts
// more than its declared size into an open file.
TEST(ArchiveExtractTest, EveryTargetGetsTheSameResultForAnEntry) {
  ScratchFolder folder;
  const std::vector<EntryCase> cases = EntryCases();
  std::vector<ZipItem> items;
  for (const EntryCase& entryCase : cases) items.push_back(entryCase.item);
  const ArchiveHandle archive = OpenPackage(Concat(FakeExecutableImage(), BuildZip(items)));
  ASSERT_TRUE(archive);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    const auto index = static_cast<std::int32_t>(i);
    const std::string name = "entry-" + std::to_string(i), earlier = name + ".earlier";
    WriteBytes(earlier, Bytes{1, 2, 3});
    EXPECT_EQ(ExtractTo(archive, index, name), cases[i].expected);
    EXPECT_EQ(ExtractTo(archive, index, earlier), cases[i].expected);
    Bytes memory(100000);
    EXPECT_EQ(ArchiveExtract(archive, index, memory.data(),
                             static_cast<std::uint32_t>(memory.size()), ArchiveSource::kMemory),
              cases[i].expected);
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive, index, &entry), kArchiveOk);
    {
      const os::File file = os::CreateNewFile(name + ".handle");
      ASSERT_TRUE(file);
      EXPECT_EQ(ArchiveExtract(archive, index, reinterpret_cast<void*>(file.get()), 0,
                               ArchiveSource::kHandle),
                cases[i].expected);
      std::uint64_t written = 0;
      ASSERT_TRUE(os::FileSize(file, &written));
      EXPECT_LE(written, entry.uncompressedSize);
    }
    if (cases[i].expected != kArchiveOk) {
      EXPECT_FALSE(fs::exists(name));
      // One refused at once may leave an earlier file untouched, one that failed midway not.
      const bool refused = cases[i].expected == kArchiveBadEntry;
      EXPECT_TRUE(!fs::exists(earlier) || (refused && ReadBytes(earlier) == Bytes{1, 2, 3}));
      continue;
    }
    const Bytes& data = cases[i].item.data;
    EXPECT_EQ(ReadBytes(name), data);
    EXPECT_EQ(ReadBytes(earlier), data);
    EXPECT_EQ(ReadBytes(name + ".handle"), data);
    memory.resize(data.size());
    EXPECT_EQ(memory, data);
  }
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
                           "a.con", "x.nul", "fw.bin", "sub/.hidden", "COM1x.bin", "a/b.bin",
                           "a\\b.bin", "x..y.bin", "..fw.bin", "a/..b/c"}) {
    EXPECT_TRUE(IsSafeEntryName(name)) << name;
  }
}

TEST(ArchiveExtractTest, EntryDataCutShortIsADataError) {
  ScratchFolder folder;
  // Local data cut: the central directory still claims the full compressed size.
  const Bytes zip = BuildZip({{"fw.bin", Pattern(40000, 7), false}});
  const std::size_t data = 30 + 6;  // after the local header and the name
  Bytes cut = Concat(Bytes(zip.begin(), zip.begin() + data + 20000),
                     Bytes(zip.begin() + data + 40000, zip.end() - 6));
  testing::Put32(cut, data + 20000);  // the end record's central directory offset, moved along
  testing::Put16(cut, 0);
  const ArchiveHandle archive = OpenPackage(cut);
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
}

TEST(ArchiveExtractTest, NamesTooLongForTheRecordAreCutAndNeverMatch) {
  ScratchFolder folder;
  const std::string longName = std::string(300, 'n') + ".bin";
  std::string withNul = "fw.bin";
  withNul += '\0';
  withNul += "/../../evil.bin";
  const ArchiveHandle archive =
      OpenPackage(BuildZip({{longName, Pattern(10, 9)}, {withNul, Pattern(10, 10)}}));
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
  const ArchiveHandle archive = OpenMemory(BuildZip({{"fw.bin", Pattern(1000, 11)}}));
  ASSERT_TRUE(archive);
  Bytes small(999);
  for (std::int32_t index : {0, 1, -1}) {
    EXPECT_EQ(ArchiveExtract(archive, index, small.data(), 999, ArchiveSource::kMemory),
              kArchiveArgumentError)
        << index;
  }
}

}  // namespace
}  // namespace veltran
