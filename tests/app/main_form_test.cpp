// Start-up, automatic load and drive choice, change of drive and manual open, end to end over a
// virtual machine: what the window shows, what the test log holds and which commands went out.
#include "app/main_form.h"

#include <gtest/gtest.h>

#include "app/image_builder.h"
#include "support/virtual_rig.h"

namespace veltran {
namespace {

using testing::HeaderFields;
using testing::TempFolder;
using testing::TrailerImage;

// Records what the window is asked to do, in the console front end's words.
class RecordingWindow final : public MainWindow {
 public:
  void SetFieldText(Field field, std::string_view text) override {
    events.push_back(std::string(FieldLabel(field)) + " " + std::string(text));
  }
  void AddDriveListItem(std::string_view text) override {
    events.push_back("Drive list : " + std::string(text));
  }
  void SelectDriveListItem(int index) override {
    events.push_back("Drive : #" + std::to_string(index));
  }
  void ShowNocheckLabel() override { events.push_back("Nocheck Option"); }
  void SetProgress(int position) override {
    events.push_back("Progress: " + std::to_string(position) + "%");
  }
  void EnableTimer(TimerId timer, bool enabled) override {
    static constexpr const char* kNames[] = {"Timer1", "Timer2", "Timer3"};
    events.push_back(std::string(kNames[static_cast<int>(timer)]) + (enabled ? " on" : " off"));
  }
  // Start-up posts nothing; what is posted runs at once.
  void Post(std::function<void()> work) override { work(); }
  void EnableExitButton(bool) override {}
  void SetBusy(bool) override {}
  void ShowMessage(const MessageBoxSpec& box) override {
    events.push_back("box " + box.caption + ": " + box.text);
  }
  void Close() override { events.push_back("close"); }

  bool Saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> boxes;
    for (const auto& e : events) {
      if (e.rfind("box ", 0) == 0) boxes.push_back(e.substr(4));
    }
    return boxes;
  }

  std::vector<std::string> events;
};

constexpr const char* kIncompatible3 =
    "MESSAGE: This Firmware is not compatible with the selected drive.\nContact your system "
    "manufacturer for information\non firmware updates available for this drive.";

std::string Drive(const std::string& letter, const std::string& ident, const std::string& revision,
                  const std::string& prefix, const std::string& extra = "") {
  return R"({"letter": ")" + letter + R"(", "inquiry": {"peripheral": 5, "vendor": ")" +
         ident.substr(0, 8) + R"(", "product": ")" + ident.substr(8) + R"(", "revision": ")" +
         revision + R"(", "prefix": ")" + prefix + R"("})" + (extra.empty() ? "" : ", " + extra) +
         "}";
}

const std::string kBrelmont = Drive("e", "BRELMONTCDW/DVD GA-W837C", "NA00", "NA ");
const std::string kTruo = Drive("d", "TRUO    CD-ROM  GA-R837C", "TR05", "TR ");
const std::string kHalden = Drive("f", "HALDEN  DVD-ROM KQ-304B ", "1.02", "HD ");

class StartUp : public ::testing::Test {
 protected:
  void Start(const std::string& drives, const std::string& commandLine = "veltran.exe",
             const std::string& more = "") {
    rig_ = std::make_unique<testing::VirtualRig>(R"({"platform": "nt", "drives": [)" + drives +
                                                 "]" + more + "}");
    system_ = MakeVirtualSystem(rig_->machine());
    std::filesystem::create_directories(root_.path() / "FLASHTEST");
    form_ = std::make_unique<MainForm>(
        *system_, rig_->transport(), window_,
        MainFormEnvironment{commandLine, folder_.Utf8(""), root_.path()});
    form_->FormCreate();
    form_->FormShow();
  }

  void PutAutorun(const std::vector<std::uint8_t>& image, const char* name = "AUTORUN.BIN") {
    testing::WriteFile(folder_.path() / name, image);
  }

  std::vector<std::string> LiveLog() const {
    return testing::ReadLines(folder_.path() / "VELTRAN.TMP");
  }
  std::vector<std::string> TestLog() const {
    return testing::ReadLines(root_.path() / "FLASHTEST" / "VELTRAN.TMP");
  }
  // Commands that carry image data: VENDOR WRITE and the block form of SEND DIAGNOSTIC.
  bool ImageDataSent() const {
    for (const std::string& c : rig_->CommandsTraced()) {
      if (c.find(" ff0001") != std::string::npos || c.find(" 1d0000800800") != std::string::npos) {
        return true;
      }
    }
    return false;
  }

  TempFolder folder_;
  TempFolder root_;
  RecordingWindow window_;
  std::unique_ptr<testing::VirtualRig> rig_;
  std::unique_ptr<SystemInterface> system_;
  std::unique_ptr<MainForm> form_;
};

TEST_F(StartUp, WithoutAutorunOrOptionsTheToolWaitsForTheUser) {
  Start(kTruo + "," + kBrelmont);
  EXPECT_FALSE(form_->state().automaticMode);
  EXPECT_EQ(window_.events,
            (std::vector<std::string>{"Drive list : TRUO    CD-ROM  GA-R837CTR05",
                                      "Drive list : BRELMONTCDW/DVD GA-W837CNA00", "Drive : #0"}));
  // Scan, the list INQUIRY per drive, then the first look at position 0 and its identification.
  EXPECT_EQ(
      rig_->CommandsTraced(),
      (std::vector<std::string>{
          "0 120000002400 01", "1 120000002400 01", "0 120000006000000000000000 01",
          "1 120000006000000000000000 01", "0 120000006000000000000000 01", "0 120000006000 01",
          "0 ff00ff0000000000000000aa 04", "0 120000006000 01", "0 120000006000 01"}));
  EXPECT_EQ(form_->state().identity.DriveRevision, "TR05");
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "VELTRAN.TMP"));
}

TEST_F(StartUp, AutorunThatFitsTheSecondDriveSelectsItAndArmsTheAutomaticStart) {
  PutAutorun(
      TrailerImage(
          131072,
          {.ident = "BRELMONTCDW/DVD GA-W837C", .revision = "NA01", .type = 4, .prefix = "NA "}),
      "autorun.bin");
  Start(kTruo + "," + kBrelmont, "veltran.exe -LIVE");
  EXPECT_EQ(form_->state().SelectedDrive, 1);
  EXPECT_EQ(form_->state().FlashState, FlashState::kReady);
  const std::vector<std::string> tail(window_.events.end() - 7, window_.events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Drive : #1", "Model Name : BRELMONTCDW/DVD GA-W837C",
                                            "Old Version : NA00", "New Version : NA01",
                                            "Download File : AUTORUN.BIN (128 K)", "Status : READY",
                                            "Timer3 on"}));
  EXPECT_EQ(LiveLog(), (std::vector<std::string>{"START", "P1", "P2", "P3"}));
  EXPECT_FALSE(ImageDataSent());
}

TEST_F(StartUp, AutorunThatFitsNoDriveIsRefusedAndTheProgramEnds) {
  PutAutorun(TrailerImage(
      131072,
      {.ident = "BRELMONTCDW/DVD GA-W837C", .revision = "NA01", .type = 4, .prefix = "KP "}));
  Start(kTruo + "," + kBrelmont);
  EXPECT_EQ(form_->state().FlashState, FlashState::kNoFittingDrive);
  EXPECT_EQ(window_.Boxes(), std::vector<std::string>{kIncompatible3});
  EXPECT_EQ(window_.events.back(), "close");
  EXPECT_FALSE(window_.Saw("Status : READY"));
}

TEST_F(StartUp, AutorunFailingTheSizeCheckIsReportedAndNoDriveIsChosen) {
  PutAutorun(TrailerImage(131072 + 512, {}));
  Start(kBrelmont);
  EXPECT_EQ(window_.Boxes(), std::vector<std::string>{
                                 "MESSAGE: File Open Fail (No Flash File) !!\n32768b 32Kb 4Cmd"});
  EXPECT_FALSE(form_->state().image.ImagePresent);
  EXPECT_EQ(form_->state().image.ImageSize, 0);
  EXPECT_FALSE(window_.Saw("Status : READY"));
  EXPECT_FALSE(window_.Saw("close"));
  // The refused image leaves the tool in manual mode: no automatic start.
  EXPECT_FALSE(form_->state().automaticMode);
  EXPECT_FALSE(window_.Saw("Timer3 on"));
}

TEST_F(StartUp, TestOptionWithoutAutorunLogsP1AndStillArmsTheAutomaticStart) {
  Start(kBrelmont, "veltran.exe -test");
  EXPECT_EQ(TestLog(), std::vector<std::string>{"P1"});
  EXPECT_TRUE(window_.Saw("Timer3 on"));
  EXPECT_EQ(form_->state().image.ImageSize, 0);
}

TEST_F(StartUp, LiveRunWithoutDrivesLogsStartE3P1) {
  Start("", "veltran.exe -LIVE");
  EXPECT_EQ(LiveLog(), (std::vector<std::string>{"START", "E3", "P1"}));
  EXPECT_EQ(rig_->CommandsTraced(), std::vector<std::string>{});
}

TEST_F(StartUp, BothTestOptionsDeleteBothOldLogsAndLogToTheWorkingFolder) {
  testing::WriteFile(folder_.path() / "VELTRAN.TMP", {'o', 'l', 'd', '\n'});
  std::filesystem::create_directories(root_.path() / "FLASHTEST");
  testing::WriteFile(root_.path() / "FLASHTEST" / "VELTRAN.TMP", {'o', 'l', 'd', '\n'});
  Start(kBrelmont, "C:\\TOOLS\\VELTRAN.EXE -Test -Live");
  EXPECT_EQ(LiveLog(), (std::vector<std::string>{"START", "P1"}));
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "FLASHTEST" / "VELTRAN.TMP"));
}

TEST_F(StartUp, OptionInTheProgramPathCounts) {
  Start(kBrelmont, "C:\\MY-TESTS\\veltran.exe -nocheck");
  EXPECT_TRUE(form_->state().options.TestOption);
  EXPECT_TRUE(form_->state().automaticMode);
  EXPECT_TRUE(window_.Saw("Nocheck Option"));
}

TEST_F(StartUp, NocheckAloneIsNotAutomatic) {
  Start(kBrelmont, "veltran.exe -NOCHECK");
  EXPECT_FALSE(form_->state().automaticMode);
  EXPECT_FALSE(window_.Saw("Timer3 on"));
}

TEST_F(StartUp, NocheckDoesNotRelaxTheAutomaticDriveChoice) {
  PutAutorun(TrailerImage(131072, {.ident = "SOMEBODYELSES DRIVE MODEL"}));
  Start(kBrelmont, "veltran.exe -NOCHECK");
  EXPECT_EQ(form_->state().FlashState, FlashState::kNoFittingDrive);
  EXPECT_TRUE(window_.Saw("close"));
}

TEST_F(StartUp, HaldenDriveFitsAnImageWhoseRevisionDiffersInTheSecondCharacter) {
  PutAutorun(TrailerImage(131072, {.ident = "HALDEN  DVD-ROM KQ-304B ", .revision = "1B02"}));
  Start(kBrelmont + "," + kHalden);
  EXPECT_EQ(form_->state().FlashState, FlashState::kReady);
  EXPECT_EQ(form_->state().SelectedDrive, 1);
}

TEST_F(StartUp, ComVariantDriveAtR350GivesTheAutomaticImageUp) {
  PutAutorun(TrailerImage(131072, {.ident = "DARLOWE CDRW/DVD PT-771B", .revision = "R351"}));
  Start(kBrelmont + "," + Drive("g", "DARLOWE CDRW/DVD PT-771B", "R350", "COM"));
  const AppState& s = form_->state();
  EXPECT_EQ(s.image.ImageSize, 0);
  EXPECT_FALSE(s.image.ImagePresent);
  EXPECT_EQ(s.SelectedDrive, 0);
  EXPECT_EQ(s.identity.DriveIdent, "BRELMONTCDW/DVD GA-W837C");
  EXPECT_FALSE(s.identity.ComVariantDrive);
  EXPECT_FALSE(window_.Saw("Status : READY"));
  EXPECT_EQ(rig_->CommandsTraced().back(), "0 120000006000 01");
  EXPECT_FALSE(window_.Saw("Timer3 on"));
}

TEST_F(StartUp, DriveThatDoesNotAnswerTheListInquiryIsLeftOutWithoutAGap) {
  // Drive d's second command is the list INQUIRY.
  Start(Drive("d", "TRUO    CD-ROM  GA-R837C", "TR05", "TR ",
              R"("faults": [{"at": 2, "status": "busy"}])") +
        "," + kBrelmont);
  EXPECT_EQ(form_->state().DriveCount(), 1);
  EXPECT_EQ(form_->state().SelectedDevice(), 1);
  EXPECT_EQ(form_->state().identity.DriveIdent, "BRELMONTCDW/DVD GA-W837C");
}

TEST_F(StartUp, IdePositionsComeFromTheDeviceMapOnNtOnly) {
  Start(kBrelmont, "veltran.exe", R"(, "registry": {
    "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0": {"DeviceName": "CdRom0"},
    "Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0": {"DeviceName": "CdRom1"},
    "Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0": {"DeviceName": "A name of thirty-six characters....."}})");
  EXPECT_EQ(form_->state().IdeDeviceSlots, (std::vector<int>{1, 2}));
}

class ManualOpen : public StartUp {
 protected:
  std::string Image(const HeaderFields& fields, std::size_t size = 131072,
                    const char* name = "new.bin") {
    testing::WriteFile(folder_.path() / name, TrailerImage(size, fields));
    return folder_.Utf8(name);
  }
};

TEST_F(ManualOpen, AcceptedImageFillsTheFieldsWithTheUpperCaseFileName) {
  Start(kBrelmont);
  rig_->ClearTrace();
  form_->ToolButton1Click(Image({.ident = "BRELMONTCDW/DVD GA-W837C", .revision = "NA03"}));
  EXPECT_TRUE(window_.Boxes().empty());
  EXPECT_TRUE(window_.Saw("Download File : NEW.BIN (128 K)"));
  EXPECT_TRUE(window_.Saw("Status : Ready"));
  // The diagnostic probe, then the re-identification: no image data goes to the drive.
  EXPECT_EQ(
      rig_->CommandsTraced(),
      (std::vector<std::string>{"0 1d0000000800 01", "0 1c0000000800 01", "0 120000006000 01"}));
}

TEST_F(ManualOpen, ImageForAnotherDriveIsRefusedAndTheFieldsReset) {
  Start(kBrelmont);
  form_->ToolButton1Click(Image({.ident = "TRUO    CD-ROM  GA-R837C"}));
  EXPECT_EQ(window_.Boxes(),
            std::vector<std::string>{
                "MESSAGE: This Firmware is not compatible with the selected drive."});
  EXPECT_TRUE(window_.Saw("Download File : Not Open"));
  EXPECT_EQ(form_->state().image.ImageSize, 0);
}

TEST_F(ManualOpen, BadImagesAreRefusedAndNoImageDataReachesTheDrive) {
  Start(kBrelmont);
  const HeaderFields fits{.ident = "BRELMONTCDW/DVD GA-W837C", .revision = "NA03"};
  form_->ToolButton1Click(Image(fits, 131072 + 100, "odd.bin"));  // not whole KB
  form_->ToolButton1Click(Image({.blockSizeKB = 128, .blockCount = 1}, 131072, "big.bin"));
  form_->ToolButton1Click(Image({.blockCount = 0}, 131072, "none.bin"));
  testing::WriteFile(folder_.path() / "tiny.bin", std::vector<std::uint8_t>(40, 0x20));
  form_->ToolButton1Click(folder_.Utf8("tiny.bin"));
  form_->ToolButton1Click(folder_.Utf8("missing.bin"));
  form_->ToolButton1Click(folder_.Utf8(""));  // a folder
  const auto boxes = window_.Boxes();
  ASSERT_EQ(boxes.size(), 6u);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const bool notOpened = i == 4;
    EXPECT_EQ(boxes[i].rfind(notOpened ? "MESSAGE: File Not Opened!!"
                                       : "MESSAGE: File Open Fail (No Flash File) !!\n",
                             0),
              0u)
        << boxes[i];
  }
  EXPECT_EQ(form_->state().image.ImageSize, 0);
  EXPECT_FALSE(ImageDataSent());
}

TEST_F(ManualOpen, CancelledDialogKeepsTheImage) {
  Start(kBrelmont);
  form_->ToolButton1Click(Image({.ident = "BRELMONTCDW/DVD GA-W837C", .revision = "NA03"}));
  form_->ToolButton1Click(std::nullopt);
  EXPECT_EQ(form_->state().image.ImageSize, 131072);
}

TEST_F(ManualOpen, ChangeOfDriveDropsTheImageAndNamesTheDriveAsListed) {
  Start(Drive("d", "TRUO    CD-ROM  GA-R837C", "TR00", "TR ") + "," + kBrelmont);
  form_->ToolButton1Click(Image({.ident = "BRELMONTCD-ROM  GA-R837C", .revision = "NB02"}));
  ASSERT_EQ(form_->state().image.ImageSize, 131072);
  form_->ComboBox1Change(0);  // already selected: nothing
  EXPECT_TRUE(window_.Boxes().empty());
  form_->ComboBox1Change(1);
  form_->ComboBox1Change(0);
  EXPECT_EQ(window_.Boxes(), (std::vector<std::string>{"Change Drive: BRELMONTCDW/DVD GA-W837C",
                                                       "Change Drive: TRUO    CD-ROM  GA-R837C"}));
  EXPECT_EQ(form_->state().image.ImageSize, 0);
  EXPECT_TRUE(window_.Saw("Status : "));
  EXPECT_TRUE(window_.Saw("Download File : Not Open"));
  EXPECT_EQ(form_->state().identity.DriveIdent, "BRELMONTCD-ROM  GA-R837C");
}

TEST_F(ManualOpen, InformationBoxShowsTheBlockFiguresOnlyWithAnImage) {
  Start(kBrelmont);
  form_->FormKeyDown(kKeyF9);
  EXPECT_TRUE(window_.Boxes().empty());
  form_->ToolButton1Click(Image({.ident = "BRELMONTCDW/DVD GA-W837C", .revision = "NA03"}));
  form_->FormKeyDown(kKeyF9 + 1);
  form_->FormKeyDown(kKeyF9);
  EXPECT_EQ(window_.Boxes(),
            std::vector<std::string>{"MESSAGE: Download File Info. !!\n(32768b 96Kb 4Cmd)\n"});
}

}  // namespace
}  // namespace veltran
