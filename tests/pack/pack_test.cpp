// veltran-pack's commands, run in-process; packages are read back with the launcher's reader.
#include <gtest/gtest.h>

#include <cstdlib>

#include "archive.h"
#include "launcher/scratch.h"
#include "pack_command.h"

namespace veltran::pack {
namespace {

using veltran::testing::Bytes;
using veltran::testing::ReadBytes;
using veltran::testing::ScratchFolder;
using veltran::testing::WriteBytes;
namespace fs = std::filesystem;

// 128 KB, trailer header: 4 blocks of 32 KB. `count` changes the block count.
Bytes TrailerImage(std::uint8_t count = 4, std::size_t size = 131072) {
  Bytes image = veltran::testing::Pattern(size, 3);
  const std::string header = "BRELMONTCDW/DVD GA-W837CNA01";
  std::copy(header.begin(), header.end(), image.end() - 48);
  image[size - 48 + 28] = 32;
  image[size - 48 + 29] = count;
  image[size - 48 + 30] = 4;
  image[size - 48 + 31] = 0;
  image[size - 48 + 32] = 'n';
  image[size - 48 + 33] = 'a';
  image[size - 48 + 34] = ' ';
  return image;
}

int Pack(std::vector<std::string> args, CommandOutput& output) {
  return RunPackCommand(args, output);
}

class PackTest : public ::testing::Test {
 protected:
  PackTest() {
    WriteBytes("launcher.exe", veltran::testing::FakeExecutableImage(126976));
    WriteBytes("fw.bin", TrailerImage());
    WriteBytes("VELTRAN.exe", veltran::testing::Pattern(50000, 4));
    WriteBytes("bad.bin", TrailerImage(4, 131172));  // not a whole number of KB
  }
  ScratchFolder folder_;
};

TEST_F(PackTest, InspectShowsTheDerivedRecordAndExitsOneOnRefusal) {
  CommandOutput good;
  EXPECT_EQ(Pack({"inspect", "fw.bin"}, good), kExitOk);
  for (const char* expected :
       {"form:           trailer\n", "identification: \"BRELMONTCDW/DVD GA-W837C\"\n",
        "revision:       \"NA01\"\n", "prefix:         \"NA \"\n", "type:           4\n",
        "block size:     32 KB\n", "blocks:         4\n", "last block:     32 KB\n",
        "layout:         32768b 32Kb 4Cmd\n", "size check:     passed\n",
        "result:         accepted\n"}) {
    EXPECT_NE(good.out.find(expected), std::string::npos) << expected << good.out;
  }
  CommandOutput bad;
  EXPECT_EQ(Pack({"inspect", "bad.bin"}, bad), kExitRefused);
  EXPECT_NE(bad.out.find("size check:     failed\n"), std::string::npos) << bad.out;
  EXPECT_NE(
      bad.out.find("result:         refused: File Open Fail (No Flash File) !! 32768b 32Kb 4Cmd"),
      std::string::npos)
      << bad.out;
}

TEST_F(PackTest, UsageErrorsAndMissingFilesHaveTheirOwnExitCodes) {
  CommandOutput output;
  EXPECT_EQ(Pack({"--help"}, output), kExitOk);
  EXPECT_NE(output.out.find("usage: veltran-pack build"), std::string::npos);
  EXPECT_EQ(Pack({}, output), kExitUsage);
  EXPECT_EQ(Pack({"frobnicate"}, output), kExitUsage);
  EXPECT_EQ(Pack({"inspect"}, output), kExitUsage);
  EXPECT_EQ(Pack({"inspect", "missing.bin"}, output), kExitFileError);
  EXPECT_EQ(
      Pack({"build", "--launcher", "launcher.exe", "--image", "fw.bin", "-o", "p.exe"}, output),
      kExitUsage);
  EXPECT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image"}, output), kExitUsage);
  EXPECT_EQ(Pack({"build", "--launcher", "missing.exe", "--image", "fw.bin", "--tool",
                  "VELTRAN.exe", "-o", "p.exe"},
                 output),
            kExitFileError);
  EXPECT_FALSE(fs::exists("p.exe"));
}

TEST_F(PackTest, BuildWritesTheLauncherThenImageAndToolDeflated) {
  CommandOutput output;
  ASSERT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image", "fw.bin", "--tool",
                  "VELTRAN.exe", "-o", "package.exe"},
                 output),
            kExitOk)
      << output.err;
  const Bytes package = ReadBytes("package.exe");
  const Bytes launcher = ReadBytes("launcher.exe");
  ASSERT_GT(package.size(), launcher.size());
  EXPECT_TRUE(std::equal(launcher.begin(), launcher.end(), package.begin()));
  // The archive's own offsets start at its first byte: the local header sits right there.
  EXPECT_EQ(package[launcher.size()], 'P');
  EXPECT_EQ(package[launcher.size() + 1], 'K');

  ArchiveHandle archive = ArchiveOpen("package.exe", 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);
  ArchiveEntry entry;
  ASSERT_EQ(ArchiveGetEntry(archive, -1, &entry), kArchiveOk);
  ASSERT_EQ(entry.index, 2);
  const char* names[] = {"fw.bin", "VELTRAN.exe"};
  for (std::int32_t i = 0; i < 2; ++i) {
    ASSERT_EQ(ArchiveGetEntry(archive, i, &entry), kArchiveOk);
    EXPECT_STREQ(entry.name, names[i]);
    EXPECT_EQ(entry.attributes, 0xA1u);  // MS-DOS host, archive bit: read-only when extracted
    EXPECT_LT(entry.compressedSize, entry.uncompressedSize + 64);
    Bytes data(entry.uncompressedSize);
    ASSERT_EQ(
        ArchiveExtract(archive, i, data.data(), entry.uncompressedSize, ArchiveSource::kMemory),
        kArchiveOk);
    EXPECT_EQ(data, ReadBytes(names[i]));
  }
#if !defined(_WIN32)
  const int tested = std::system("unzip -t package.exe >unzip.txt 2>&1");
  EXPECT_TRUE(WIFEXITED(tested) && WEXITSTATUS(tested) <= 1);
  const Bytes log = ReadBytes("unzip.txt");
  EXPECT_NE(std::string(log.begin(), log.end()).find("No errors detected"), std::string::npos);
#endif
}

TEST_F(PackTest, AnImageTheToolWouldRefuseIsPackedOnlyWhenForced) {
  WriteBytes("package.exe", Bytes{1, 2, 3});
  CommandOutput refused;
  EXPECT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image", "bad.bin", "--tool",
                  "VELTRAN.exe", "-o", "package.exe"},
                 refused),
            kExitRefused);
  EXPECT_NE(refused.err.find("File Open Fail (No Flash File) !!"), std::string::npos);
  EXPECT_EQ(ReadBytes("package.exe"), (Bytes{1, 2, 3}));  // untouched

  CommandOutput forced;
  EXPECT_EQ(Pack({"build", "--force", "--launcher", "launcher.exe", "--image", "bad.bin", "--tool",
                  "VELTRAN.exe", "-o", "package.exe"},
                 forced),
            kExitOk);
  EXPECT_TRUE(ArchiveOpen("package.exe", 0, ArchiveSource::kFileName));
}

TEST_F(PackTest, NamesTheLauncherWouldMisclassifyAreRefused) {
  WriteBytes("fw.img", TrailerImage());
  WriteBytes("tool.bin", veltran::testing::Pattern(100, 5));
  CommandOutput output;
  EXPECT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image", "fw.img", "--tool",
                  "VELTRAN.exe", "-o", "p.exe"},
                 output),
            kExitUsage);
  EXPECT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image", "fw.bin", "--tool", "tool.bin",
                  "-o", "p.exe"},
                 output),
            kExitUsage);
  EXPECT_FALSE(fs::exists("p.exe"));
}

TEST_F(PackTest, AnOutputThatCannotBeWrittenLeavesNothingBehind) {
  fs::create_directory("taken");
  WriteBytes("taken/keep", Bytes{1});
  CommandOutput output;
  EXPECT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image", "fw.bin", "--tool",
                  "VELTRAN.exe", "-o", "taken"},
                 output),
            kExitFileError);
  EXPECT_TRUE(fs::is_directory("taken"));
  EXPECT_EQ(
      veltran::testing::FilesBelow("."),
      (std::vector<std::string>{"VELTRAN.exe", "bad.bin", "fw.bin", "launcher.exe", "taken/keep"}));
}

// A PE file whose header names `machine`.
Bytes PeExecutable(std::uint16_t machine) {
  Bytes file = veltran::testing::FakeExecutableImage(1024);
  file[0x3C] = 0x80;
  file[0x3D] = file[0x3E] = file[0x3F] = 0;
  const unsigned char signature[] = {'P', 'E', 0, 0};
  std::copy(std::begin(signature), std::end(signature), file.begin() + 0x80);
  file[0x84] = static_cast<unsigned char>(machine & 0xFF);
  file[0x85] = static_cast<unsigned char>(machine >> 8);
  return file;
}

// A launcher of one bitness installs into its own system directory and a tool of the other
// looks in the other one, where it finds no image.
TEST_F(PackTest, ALauncherAndAToolForDifferentMachinesAreRefused) {
  const Bytes elf = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0};
  const struct {
    Bytes launcher, tool;
    int exitCode;
  } cases[] = {{PeExecutable(0x014C), PeExecutable(0x8664), kExitUsage},
               {PeExecutable(0x8664), PeExecutable(0x014C), kExitUsage},
               {PeExecutable(0x8664), elf, kExitUsage},
               {PeExecutable(0x014C), PeExecutable(0x014C), kExitOk},
               {PeExecutable(0x8664), PeExecutable(0x8664), kExitOk}};
  for (const auto& c : cases) {
    WriteBytes("launcher.exe", c.launcher);
    WriteBytes("VELTRAN.exe", c.tool);
    fs::remove("p.exe");
    CommandOutput output;
    EXPECT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image", "fw.bin", "--tool",
                    "VELTRAN.exe", "-o", "p.exe"},
                   output),
              c.exitCode)
        << output.err;
    EXPECT_EQ(fs::exists("p.exe"), c.exitCode == kExitOk);
  }
}

TEST_F(PackTest, FileNamesThatNameADeviceOrLoseTheirEndAreRefused) {
  for (const char* tool :
       {"NUL", "con.exe", "COM1.exe", "lpt9", "AUX .exe", "PRN", "tool.", "tool "}) {
    // Refused by name before anything is read: no such file is made (it would be a device).
    CommandOutput output;
    EXPECT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image", "fw.bin", "--tool", tool,
                    "-o", "p.exe"},
                   output),
              kExitUsage)
        << tool;
  }
  for (const char* image : {"nul.bin", "Com3.bin", "fw.bin."}) {
    CommandOutput output;
    EXPECT_EQ(Pack({"build", "--launcher", "launcher.exe", "--image", image, "--tool",
                    "VELTRAN.exe", "-o", "p.exe"},
                   output),
              kExitUsage)
        << image;
  }
  EXPECT_FALSE(fs::exists("p.exe"));
}

}  // namespace
}  // namespace veltran::pack
