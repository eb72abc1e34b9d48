// The archive reader: locating an archive behind an executable image, entry records, lookup.
#include "archive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "archive_calls.h"
#include "os_files.h"
#include "scratch.h"
#include "zip_builder.h"

namespace veltran {
namespace {

using testing::BuildZip;
using testing::Bytes;
using testing::Concat;
using testing::FakeExecutableImage;
using testing::OpenMemory;
using testing::Pattern;
using testing::ScratchFolder;
using testing::WriteBytes;
using testing::ZipItem;

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

}  // namespace
}  // namespace veltran
