// The hold of the kernel's media polling, in sysfs trees laid out as the kernel lays them out:
// the generic node's device with its block device, and that block device's setting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "drive/sgio_linux.h"
#include "support/temp_files.h"

namespace veltran {
namespace {

namespace fs = std::filesystem;

const std::string kDevice = "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0";

class PollingSysfs : public ::testing::Test {
 protected:
  // Generic node sg1 of a SCSI device, with block device sr0 when `block`, whose setting file
  // holds `setting` when there is one.
  void AddDrive(bool block, const std::optional<std::string>& setting) {
    fs::create_directories(root() / kDevice / "scsi_generic/sg1");
    fs::create_symlink("../../../1:0:0:0", root() / kDevice / "scsi_generic/sg1/device");
    Link("class/scsi_generic/sg1", "../../" + kDevice + "/scsi_generic/sg1");
    if (!block) return;
    fs::create_directories(root() / kDevice / "block/sr0");
    Link("block/sr0", "../" + kDevice + "/block/sr0");
    if (setting) std::ofstream(root() / kDevice / "block/sr0/events_poll_msecs") << *setting;
  }

  std::string Setting() const {
    std::ifstream in(root() / "block/sr0/events_poll_msecs");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Writes as the back end does and notes each value; refuses every write once `refuse_` is set.
  MediaPolling Polling(const std::string& node = "sg1") {
    return MediaPolling(root(), node, [this](const fs::path& file, long value) {
      written_.push_back(value);
      return !refuse_ && WriteSetting(file, value);
    });
  }

  const fs::path& root() const { return folder_.path(); }

  std::vector<long> written_;
  bool refuse_ = false;

 private:
  void Link(const std::string& entry, const std::string& target) {
    fs::create_directories((root() / entry).parent_path());
    fs::create_symlink(target, root() / entry);
  }

  testing::TempFolder folder_;
};

struct SettingCase {
  const char* text;
  long value;
  std::vector<long> written;  // by a hold, its release, a second hold and the end of the object
};

void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.value; }

class PollingHold : public PollingSysfs, public ::testing::WithParamInterface<SettingCase> {};

TEST_P(PollingHold, SetsZeroAndPutsTheSettingBackAsItWasOnReleaseAndAtTheEnd) {
  const SettingCase& c = GetParam();
  AddDrive(true, c.text);
  const PollingChange before{true, c.value};
  {
    MediaPolling polling = Polling();
    EXPECT_EQ(polling.Hold(), before);
    EXPECT_EQ(Setting(), c.value == 0 ? c.text : "0\n");
    EXPECT_EQ(polling.Hold(), std::nullopt) << "a second hold keeps the first one's setting";
    EXPECT_EQ(polling.Release(), before);
    EXPECT_EQ(Setting(), c.text);
    EXPECT_EQ(polling.Release(), std::nullopt);
    EXPECT_EQ(polling.Hold(), before);
  }
  EXPECT_EQ(Setting(), c.text);
  EXPECT_EQ(written_, c.written);
}

INSTANTIATE_TEST_SUITE_P(Settings, PollingHold,
                         ::testing::Values(SettingCase{"500\n", 500, {0, 500, 0, 500}},
                                           SettingCase{"-1\n", -1, {0, -1, 0, -1}},
                                           SettingCase{"0\n", 0, {}}));

enum class Missing { kGenericNode, kBlockDevice, kSettingFile, kNodeName };

class PollingWithoutSetting : public PollingSysfs, public ::testing::WithParamInterface<Missing> {};

// A drive without a block device (its driver not loaded), or a kernel without the setting.
TEST_P(PollingWithoutSetting, HoldsAndGivesBackNothing) {
  if (GetParam() != Missing::kGenericNode) {
    AddDrive(GetParam() != Missing::kBlockDevice,
             GetParam() == Missing::kNodeName ? std::optional<std::string>("500\n") : std::nullopt);
  }
  MediaPolling polling = Polling(GetParam() == Missing::kNodeName ? "sg1/../sg1" : "sg1");
  EXPECT_EQ(polling.Hold(), std::nullopt);
  EXPECT_EQ(polling.Release(), std::nullopt);
  EXPECT_TRUE(written_.empty());
}

INSTANTIATE_TEST_SUITE_P(Trees, PollingWithoutSetting,
                         ::testing::Values(Missing::kGenericNode, Missing::kBlockDevice,
                                           Missing::kSettingFile, Missing::kNodeName));

// What a user who is not root gets: the hold fails, the setting stays, nothing is to give back.
// A refused write-back is reported once and not tried again at the end.
TEST_F(PollingSysfs, RefusedWritesAreReportedAndLeaveNothingHeld) {
  AddDrive(true, "500\n");
  refuse_ = true;
  {
    MediaPolling polling = Polling();
    EXPECT_EQ(polling.Hold(), (PollingChange{false, 500}));
    EXPECT_EQ(polling.Release(), std::nullopt);
    refuse_ = false;
    EXPECT_EQ(polling.Hold(), (PollingChange{true, 500}));
    refuse_ = true;
    EXPECT_EQ(polling.Release(), (PollingChange{false, 500}));
  }
  EXPECT_EQ(written_, (std::vector<long>{0, 0, 500}));
}

TEST_F(PollingSysfs, UnreadableSettingIsAFailedHoldWithoutAWrite) {
  AddDrive(true, "");
  for (const char* text : {"", "fast\n", "500ms\n", "99999999999999999999\n"}) {
    std::ofstream(root() / "block/sr0/events_poll_msecs") << text;
    EXPECT_EQ(Polling().Hold(), (PollingChange{false, std::nullopt})) << text;
    EXPECT_EQ(Setting(), text);
  }
  EXPECT_TRUE(written_.empty());
}

TEST(WriteSetting, FailsOnAMissingFileWithoutMakingItAndOnAFailedWrite) {
  testing::TempFile missing("veltran-setting");
  EXPECT_FALSE(WriteSetting(missing.path(), 0));
  EXPECT_FALSE(fs::exists(missing.path()));
  EXPECT_FALSE(WriteSetting("/dev/full", 0));
}

}  // namespace
}  // namespace veltran
