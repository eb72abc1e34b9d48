// The transfer mode found from a SCSI generic node, in sysfs trees laid out as the kernel lays
// them out: class entries as symbolic links into the device tree.
#include "drive/ata_sysfs_linux.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/temp_files.h"

namespace veltran {
namespace {

namespace fs = std::filesystem;

const std::string kController = "devices/pci0000:00/0000:00:1f.2";

class FakeSysfs {
 public:
  const fs::path& root() const { return folder_.path(); }

  // A SCSI device at `device` (below the root) with generic node `name`.
  void AddGenericNode(const std::string& name, const std::string& device) {
    const fs::path generic = root() / device / "scsi_generic" / name;
    fs::create_directories(generic);
    fs::create_symlink("../../../" + fs::path(device).filename().string(), generic / "device");
    Link("class/scsi_generic/" + name, device + "/scsi_generic/" + name);
  }

  // An ATA device of port `port` as libata names it ("dev3.1", "dev5.2.0"), with its mode file
  // when there is a mode.
  void AddAtaDevice(const std::string& port, const std::string& name,
                    const std::optional<std::string>& mode) {
    const std::string device = kController + "/" + port + "/" + name + "/ata_device/" + name;
    fs::create_directories(root() / device);
    if (mode) std::ofstream(root() / device / "xfer_mode") << *mode << "\n";
    Link("class/ata_device/" + name, device);
  }

  void AddAtaLink(const std::string& port, const std::string& name) {
    const std::string link = kController + "/" + port + "/" + name + "/ata_link/" + name;
    fs::create_directories(root() / link);
    Link("class/ata_link/" + name, link);
  }

  std::optional<std::string> Mode(const std::string& node) const {
    return AtaTransferMode(root(), node);
  }

 private:
  // A class entry, a relative link two folders below the root, as sysfs has them.
  void Link(const std::string& entry, const std::string& target) {
    fs::create_directories((root() / entry).parent_path());
    fs::create_symlink("../../" + target, root() / entry);
  }

  testing::TempFolder folder_;
};

std::string AtaScsiDevice(unsigned port, unsigned host, unsigned channel, unsigned target) {
  const std::string h = std::to_string(host), c = std::to_string(channel),
                    t = std::to_string(target);
  return kController + "/ata" + std::to_string(port) + "/host" + h + "/target" + h + ":" + c + ":" +
         t + "/" + h + ":" + c + ":" + t + ":0";
}

struct ModeCase {
  const char* name;
  std::optional<std::string> file;  // nothing: no xfer_mode file
  std::optional<std::string> expected;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class AtaModeFile : public ::testing::TestWithParam<ModeCase> {};

TEST_P(AtaModeFile, GivesModesOfPioOrDmaKindOnly) {
  FakeSysfs sysfs;
  sysfs.AddGenericNode("sg1", AtaScsiDevice(3, 2, 0, 1));
  sysfs.AddAtaDevice("ata3", "dev3.1", GetParam().file);
  EXPECT_EQ(sysfs.Mode("sg1"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AtaModeFile,
    ::testing::Values(ModeCase{"Pio", "PIO4", "PIO4"}, ModeCase{"Udma", "UDMA/33", "UDMA/33"},
                      ModeCase{"Mwdma", "MWDMA2", "MWDMA2"}, ModeCase{"Udma7", "UDMA7", "UDMA7"},
                      // The names the kernel writes there.
                      ModeCase{"KernelPio", "XFER_PIO_4", "XFER_PIO_4"},
                      ModeCase{"KernelPioSlow", "XFER_PIO_SLOW", "XFER_PIO_SLOW"},
                      ModeCase{"KernelMwdma", "XFER_MW_DMA_2", "XFER_MW_DMA_2"},
                      ModeCase{"KernelUdma", "XFER_UDMA_5", "XFER_UDMA_5"},
                      ModeCase{"KernelUnknown", "XFER_UNKNOWN", std::nullopt},
                      ModeCase{"NotAvailable", "<n/a>", std::nullopt},
                      ModeCase{"Empty", "", std::nullopt},
                      ModeCase{"MissingFile", std::nullopt, std::nullopt}),
    [](const ::testing::TestParamInfo<ModeCase>& c) { return std::string(c.param.name); });

TEST(AtaTransferMode, MasterAndSlaveOfOnePortAreTold) {
  FakeSysfs sysfs;
  sysfs.AddGenericNode("sg0", AtaScsiDevice(1, 0, 0, 0));
  sysfs.AddGenericNode("sg1", AtaScsiDevice(1, 0, 0, 1));
  sysfs.AddGenericNode("sg2", AtaScsiDevice(2, 1, 0, 0));
  sysfs.AddAtaDevice("ata1", "dev1.0", "UDMA/100");
  sysfs.AddAtaDevice("ata1", "dev1.1", "PIO4");
  sysfs.AddAtaDevice("ata2", "dev2.0", "MWDMA2");
  EXPECT_EQ(sysfs.Mode("sg0"), "UDMA/100");
  EXPECT_EQ(sysfs.Mode("sg1"), "PIO4");
  EXPECT_EQ(sysfs.Mode("sg2"), "MWDMA2");
}

TEST(AtaTransferMode, DeviceBehindAPortMultiplierIsFoundByItsLink) {
  FakeSysfs sysfs;
  // libata gives a multiplier's device the link number as SCSI channel and target 0; the
  // host link's own slot dev5.0 holds the multiplier.
  sysfs.AddGenericNode("sg4", AtaScsiDevice(5, 4, 2, 0));
  sysfs.AddAtaLink("ata5", "link5");
  sysfs.AddAtaLink("ata5", "link5.2");
  sysfs.AddAtaDevice("ata5", "dev5.0", "<n/a>");
  sysfs.AddAtaDevice("ata5", "dev5.2.0", "UDMA/133");
  EXPECT_EQ(sysfs.Mode("sg4"), "UDMA/133");
}

TEST(AtaTransferMode, NonAtaDevicesAndAbsentOrForeignNodesHaveNone) {
  FakeSysfs sysfs;
  // A SCSI host adapter and a USB bridge: no ATA port on the way, though an ATA device with
  // the same numbers exists.
  sysfs.AddGenericNode("sg0", kController + "/0000:03:00.0/host0/target0:0:1/0:0:1:0");
  sysfs.AddGenericNode("sg6",
                       "devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/"
                       "target6:0:0/6:0:0:0");
  sysfs.AddAtaDevice("ata1", "dev1.1", "UDMA/33");
  sysfs.AddAtaDevice("ata1", "dev1.0", "UDMA/33");
  EXPECT_EQ(sysfs.Mode("sg0"), std::nullopt);
  EXPECT_EQ(sysfs.Mode("sg6"), std::nullopt);
  // An ATA drive whose port has no device entry.
  sysfs.AddGenericNode("sg2", AtaScsiDevice(7, 2, 0, 0));
  EXPECT_EQ(sysfs.Mode("sg2"), std::nullopt);
  for (const char* node : {"sg9", "sg", "sgx", "../sg0", "sg0/..", "", "nst0"}) {
    EXPECT_EQ(sysfs.Mode(node), std::nullopt) << node;
  }
  EXPECT_EQ(AtaTransferMode(sysfs.root() / "absent", "sg0"), std::nullopt);
}

}  // namespace
}  // namespace veltran
