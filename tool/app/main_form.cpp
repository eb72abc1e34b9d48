#include "app/main_form.h"

#include <algorithm>
#include <cstdio>

#include "common/ascii.h"
#include "drive/catalogue.h"

namespace veltran {
namespace {

// The device map key of one IDE position: port digit at character 35, target digit at 58.
constexpr std::string_view kIdeKeyTemplate =
    "Hardware\\DeviceMap\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0";
constexpr std::size_t kIdePortDigit = 34;
constexpr std::size_t kIdeTargetDigit = 57;
constexpr std::size_t kDeviceNameCapacity = 36;
constexpr int kIdePositions = 4;

std::string IdeKey(int position) {
  std::string key(kIdeKeyTemplate);
  key[kIdePortDigit] = static_cast<char>('0' + position / 2);
  key[kIdeTargetDigit] = static_cast<char>('0' + position % 2);
  return key;
}

}  // namespace

CommandLineOptions ParseCommandLineOptions(std::string_view commandLine) {
  const std::string upper = AsciiUpper(commandLine);
  auto given = [&](std::string_view option) { return upper.find(option) != std::string::npos; };
  return {given("-NOCHECK"), given("-TEST"), given("-LIVE")};
}

std::string DownloadInfoText(const ImageRecord& image) {
  // Taken into 0..255 as a KB count; the figure is only informative.
  const long long spare =
      (64LL - image.BlockSizeKB) * (static_cast<long long>(image.CommandCount) - 1);
  const long long lastKB = ((spare % 256) + 256) % 256;
  char text[128];
  std::snprintf(text, sizeof text, "Download File Info. !!\n(%ub %lldKb %dCmd)\n",
                static_cast<unsigned>(image.BlockSizeKB) * 1024u, lastKB, image.CommandCount);
  return text;
}

MainForm::MainForm(SystemInterface& system, DriveTransport& transport, MainWindow& window,
                   MainFormEnvironment environment)
    : system_(system),
      transport_(transport),
      window_(window),
      env_(std::move(environment)),
      buffer_(std::make_unique<CommandBuffer>()),
      ctx_{transport_, system_.clock(), *buffer_, state_.identity} {
  state_.options = ParseCommandLineOptions(env_.commandLine);
  log_ = std::make_unique<TestLog>(
      TestLogOptions{state_.options.TestOption, state_.options.LiveOption},
      TestLogPlaces{env_.logRoot, std::filesystem::path(std::u8string(
                                      env_.workingDirectory.begin(), env_.workingDirectory.end()))},
      env_.logObserver);
  download_ = std::make_unique<Download>(
      DownloadContext{state_, window_, transport_, system_, *log_, *buffer_});
}

MainForm::~MainForm() = default;

void MainForm::FormCreate() {
  state_.image.ImagePresent = AutorunPresent(env_.workingDirectory);
  state_.PlatformNT = system_.PlatformId() == kPlatformNT;
  if (state_.PlatformNT) ScanIdePositions();
  ReadOptions();
  const u8 found = transport_.ScanDrives();
  if (found == 0 && state_.testOption()) log_->WriteTestLog("E3");
  FillDriveList();
  // Without a drive there is nothing to look at: no device is addressed.
  if (state_.DriveCount() > 0) LookAtFirstDrive();
  state_.identity.BootModeDrive = IsBootModeRevision(state_.identity.DriveRevision.view());
  if (state_.testOption() || state_.image.ImagePresent) AutomaticLoad();
  // Decided after the load: an image it refused or gave up leaves the tool in manual mode.
  state_.automaticMode = state_.testOption() || state_.image.ImagePresent;
}

ImageFileRead MainForm::ReadAutorun() const { return ReadAutorunImage(env_.workingDirectory); }

void MainForm::ScanIdePositions() {
  for (int p = 0; p < kIdePositions; ++p) {
    // Each read has its own full-size buffer.
    if (system_.ReadRegistry(IdeKey(p), "DeviceName", kDeviceNameCapacity).value) {
      state_.IdeDeviceSlots.push_back(p);
    }
  }
}

void MainForm::ReadOptions() {
  const CommandLineOptions& o = state_.options;
  if (o.NoCheckOption) window_.ShowNocheckLabel();
  if (o.TestOption) log_->DeleteTestOptionLog();
  if (o.LiveOption) {
    log_->DeleteLiveOptionLog();
    log_->WriteTestLog("START");
  }
}

void MainForm::FillDriveList() {
  const u8 count = transport_.DeviceCount();
  for (u8 device = 0; device < count; ++device) {
    if (ctx_.Send(device, Command::kInquiryList) != kStatusGood) continue;
    std::string entry = DriveListEntry(*buffer_);
    window_.AddDriveListItem(entry);
    state_.DriveList.push_back({device, std::move(entry)});
  }
  state_.SelectedDrive = 0;
  if (state_.DriveCount() > 0) window_.SelectDriveListItem(0);
}

void MainForm::LookAtFirstDrive() {
  const u8 device = state_.DriveList[0].device;
  ctx_.Send(device, Command::kInquiryList);
  state_.identity.ComVariantDrive = IsComVariantInquiry(*buffer_);
  IdentifyDrive(ctx_, device);
}

void MainForm::AutomaticLoad() {
  ImageRecord& image = state_.image;
  log_->WriteTestLog("P1");
  // The download opens the file by the name it was found under.
  image.ImagePath = AutorunPath(env_.workingDirectory);
  const ImageFileRead read = ReadAutorun();
  if (read.status != ImageReadStatus::kNotOpened) log_->WriteTestLog("P2");
  const LoadOutcome outcome = DeriveAutomaticLoad(image, read);
  if (outcome.status != LoadStatus::kLoaded) {
    if (outcome.message) ShowError(*outcome.message, true);
    return;
  }
  log_->WriteTestLog("P3");
  state_.FlashState = FlashState::kNoFittingDrive;
  ChooseFittingDrive();
  if (IsGivenUpDrive(state_.identity)) {
    GiveUpForComVariantDrive();
  } else if (state_.FlashState == FlashState::kReady) {
    ShowFields(AutomaticLoadFields(image, state_.identity));
  }
}

void MainForm::ChooseFittingDrive() {
  for (int i = 0; i < state_.DriveCount(); ++i) {
    IdentifyDrive(ctx_, state_.DriveList[static_cast<std::size_t>(i)].device);
    if (DriveFits(state_.identity, state_.image)) {
      state_.FlashState = FlashState::kReady;
      state_.SelectedDrive = i;
      window_.SelectDriveListItem(i);
      return;
    }
  }
}

void MainForm::GiveUpForComVariantDrive() {
  GiveUpAutomaticImage(state_.image);
  state_.SelectedDrive = 0;
  if (state_.DriveCount() == 0) return;
  window_.SelectDriveListItem(0);
  ctx_.Send(state_.DriveList[0].device, Command::kInquiry);
  state_.identity.ComVariantDrive = IsComVariantInquiry(*buffer_);
  TakeInquiryIdentity(*buffer_, state_.identity);
}

void MainForm::FormShow() {
  if (!state_.automaticMode) return;
  if (state_.FlashState != FlashState::kReady && state_.image.ImagePresent) {
    ShowError(kIncompatiblePrefixText, false);
    window_.Close();
    return;
  }
  window_.EnableTimer(TimerId::kTimer3, true);
}

void MainForm::Timer3Timer() {
  window_.EnableTimer(TimerId::kTimer3, false);
  ToolButton2Click();
}

void MainForm::ToolButton2Click() { download_->ToolButton2Click(); }

void MainForm::Timer1Timer() { download_->Timer1Timer(); }

void MainForm::OnTimer(TimerId timer) {
  switch (timer) {
    case TimerId::kTimer1:
      Timer1Timer();
      if (download_->restartAccepted()) window_.Close();
      break;
    case TimerId::kTimer3:
      Timer3Timer();
      break;
    case TimerId::kTimer2:
      break;  // the pointer over the picture buttons is the front end's own business
  }
}

bool MainForm::MayEnd() const {
  return !FinalCommandRunning() && !window_.TimerEnabled(TimerId::kTimer1) &&
         !window_.TimerEnabled(TimerId::kTimer3);
}

bool MainForm::DownloadUnderWay() const {
  return FinalCommandRunning() || download_->RestartHold() == 0 ||
         window_.TimerEnabled(TimerId::kTimer1);
}

void MainForm::Image5Click() {
  if (!FinalCommandRunning()) window_.Close();
}

bool MainForm::FormCloseQuery() const { return !FinalCommandRunning(); }

void MainForm::ComboBox1Change(int itemIndex) {
  if (itemIndex == state_.SelectedDrive) return;
  // The command buffer belongs to the final command while it runs: the list goes back to the
  // drive that is being written, as for an item that is not in the list.
  if (FinalCommandRunning() || itemIndex < 0 || itemIndex >= state_.DriveCount()) {
    if (state_.SelectedDevice()) window_.SelectDriveListItem(state_.SelectedDrive);
    return;
  }
  state_.SelectedDrive = itemIndex;
  ShowFields(ResetFields());
  state_.image.ImageSize = 0;
  TakeListEntryIdentity(state_.identity,
                        state_.DriveList[static_cast<std::size_t>(itemIndex)].entry);
  window_.ShowMessage(
      {"Change Drive", std::string(state_.identity.DriveIdent.view()), false, true});
  IdentifySelectedDrive(ctx_, *state_.SelectedDevice());
}

void MainForm::ToolButton1Click(const std::optional<std::string>& chosenPath) {
  if (!chosenPath || FinalCommandRunning()) return;
  ImageRecord& image = state_.image;
  image.ImagePath = *chosenPath;
  const ImageFileRead read = ReadImageFile(*chosenPath);
  const LoadOutcome outcome = DeriveManualOpen(image, read);
  if (outcome.status == LoadStatus::kNotOpened) {
    ShowError(kFileNotOpenedText, true);
    return;
  }
  // Without a drive there is no one to ask; the rules still decide on the image.
  if (const std::optional<u8> selected = state_.SelectedDevice()) {
    const u8 device = *selected;
    ProbeDiagnosticPage(ctx_, device);
    if (read.fixedHeader()) {
      ProbeDiagnosticPage(ctx_, device);
    } else {
      ApplyRevisionPrefixRule(ctx_, device);
      ApplyIdentitySubstitution(state_.identity);
    }
  }
  if (outcome.status == LoadStatus::kRefused) {
    ShowError(outcome.message.value_or(SizeCheckFailureText(image)), true);
    return;
  }
  const ManualVerdict verdict =
      JudgeManualOpen(image, state_.identity, state_.options.NoCheckOption);
  if (!verdict.accepted) {
    image.ImageSize = 0;
    if (verdict.message) ShowError(*verdict.message, false);
    if (verdict.resetFields) ShowFields(ResetFields());
    return;
  }
  if (verdict.oldVersionWarning) ShowError(kOldVersionText, false);
  ShowFields(ManualOpenFields(image, state_.identity));
}

void MainForm::FormKeyDown(int key) {
  if (key != kKeyF9 || state_.image.ImageSize == 0) return;
  window_.ShowMessage({std::string(kMessageCaption), DownloadInfoText(state_.image), false, true});
}

void MainForm::ShowFields(const ImageFields& fields) {
  window_.SetFieldText(Field::kModelName, fields.modelName);
  window_.SetFieldText(Field::kOldVersion, fields.oldVersion);
  window_.SetFieldText(Field::kNewVersion, fields.newVersion);
  window_.SetFieldText(Field::kDownloadFile, fields.downloadFile);
  window_.SetFieldText(Field::kStatus, fields.status);
}

void MainForm::ShowError(std::string_view text, bool systemModal) {
  window_.ShowMessage({std::string(kMessageCaption), std::string(text), true, systemModal});
}

std::string_view FieldLabel(Field field) {
  switch (field) {
    case Field::kModelName:
      return "Model Name :";
    case Field::kOldVersion:
      return "Old Version :";
    case Field::kNewVersion:
      return "New Version :";
    case Field::kDownloadFile:
      return "Download File :";
    case Field::kStatus:
      return "Status :";
  }
  return "";
}

}  // namespace veltran
