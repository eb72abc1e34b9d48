// Archives made by other programs, appended to an executable image, read back entry by entry.
#include <gtest/gtest.h>

#include <cstdlib>

#include "archive.h"
#include "scratch.h"
#include "zip_builder.h"

namespace veltran {
namespace {

using testing::Bytes;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

struct Maker {
  const char* label;
  const char* command;  // run in the folder holding fw.bin and VELTRAN.exe; writes out.zip
};

void PrintTo(const Maker& c, std::ostream* os) { *os << c.label; }

class ForeignArchiveTest : public ::testing::TestWithParam<Maker> {};

TEST_P(ForeignArchiveTest, EveryEntryComesBackByteForByte) {
  testing::ScratchFolder folder;
  const Bytes image = testing::Pattern(131072, 1);
  Bytes tool(300000);
  for (std::size_t i = 0; i < tool.size(); ++i)
    tool[i] = static_cast<unsigned char>("MZtool"[i % 6]);
  WriteBytes("fw.bin", image);
  WriteBytes("VELTRAN.exe", tool);
  const std::string command = std::string(GetParam().command) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  WriteBytes(folder.root() / "package.exe",
             testing::Concat(testing::FakeExecutableImage(126976), ReadBytes("out.zip")));
  fs::remove("fw.bin");
  fs::remove("VELTRAN.exe");

  ArchiveHandle archive =
      ArchiveOpen((folder.root() / "package.exe").string().c_str(), 0, ArchiveSource::kFileName);
  ASSERT_TRUE(archive);
  ArchiveEntry entry;
  ASSERT_EQ(ArchiveGetEntry(archive, -1, &entry), kArchiveOk);
  ASSERT_EQ(entry.index, 2);
  for (const char* name : {"fw.bin", "VELTRAN.exe"}) {
    std::int32_t index = -1;
    ASSERT_EQ(ArchiveFindEntry(archive, name, true, &index, &entry), kArchiveOk) << name;
    std::string target = std::string("x-") + name;
    EXPECT_EQ(ArchiveExtract(archive, index, target.data(), 0, ArchiveSource::kFileName),
              kArchiveOk);
  }
  EXPECT_EQ(ReadBytes("x-fw.bin"), image);
  EXPECT_EQ(ReadBytes("x-VELTRAN.exe"), tool);
}

const char* kPython =
    "python3 -c \"import zipfile,sys; z=zipfile.ZipFile('out.zip','w',"
    "zipfile.ZIP_%s); z.write('fw.bin'); z.write('VELTRAN.exe'); z.close()\"";

std::string PythonCommand(const char* method) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, kPython, method);
  return buffer;
}
const std::string kPythonStored = PythonCommand("STORED");
const std::string kPythonDeflated = PythonCommand("DEFLATED");

INSTANTIATE_TEST_SUITE_P(
    Makers, ForeignArchiveTest,
    ::testing::Values(Maker{"InfoZipStored", "zip -0 -X out.zip fw.bin VELTRAN.exe"},
                      Maker{"InfoZipDeflated", "zip -9 out.zip fw.bin VELTRAN.exe"},
                      Maker{"PythonStored", kPythonStored.c_str()},
                      Maker{"PythonDeflated", kPythonDeflated.c_str()},
                      Maker{"SevenZipStored", "7z a -tzip -mx0 out.zip fw.bin VELTRAN.exe"},
                      Maker{"SevenZipDeflated",
                            "7z a -tzip -mm=Deflate -mx9 out.zip fw.bin VELTRAN.exe"}),
    [](const ::testing::TestParamInfo<Maker>& param) { return std::string(param.param.label); });

}  // namespace
}  // namespace veltran
