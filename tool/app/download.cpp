#include "app/download.h"

#include <algorithm>
#include <fstream>
#include <future>

#include "app/preparation.h"
#include "drive/catalogue.h"

namespace veltran {
namespace {

constexpr std::string_view kStatusWait = "Wait..";
constexpr std::string_view kStatusOk = "Ok";
constexpr std::string_view kStatusFail = "Fail";
constexpr std::string_view kMessage = "MESSAGE";

constexpr std::string_view kDmaRefusalPio =
    "This application support PIO mode only for stable download.\nExit the application, switch "
    "to PIO mode and attempt again.";
constexpr std::string_view kDmaRefusal =
    "DMA mode is not supported by this drive.\nExit the application, switch the transfer mode to "
    "PIO mode,\nand attempt to flash the drive.";
constexpr std::string_view kRegistryError = "Registry Error !!";
constexpr std::string_view kRemoveDisc = "Remove the Disc in the Drive !!";
constexpr std::string_view kFlashFileNotOpened = "Flash File Not Opened!!";
constexpr std::string_view kFlashCmdFail = "Flash Cmd Fail!!";
constexpr std::string_view kDownloadOk = "  Download Ok!!  \nRestart WINDOWS";
constexpr std::string_view kDownloadFail = " Download Fail!! \nRestart WINDOWS";

// The DMA key of an IDE port: the last character is the port digit.
constexpr std::string_view kDmaKey = "Hardware\\DeviceMap\\Scsi\\Scsi Port 1";
constexpr std::string_view kDmaValue = "DMAEnabled";
constexpr std::size_t kDmaValueSize = 4;

constexpr u32 k64KSkippedBytes = 4096;
constexpr u32 k64KBlockBytes = 61440;
constexpr std::int32_t k64KBlockSizeKB = 60;
constexpr u32 kKB = 1024;

}  // namespace

std::int32_t ExpectedProgressTicks(std::int32_t imageSize) {
  const std::int64_t sizeKB = imageSize / 1024;
  return static_cast<std::int32_t>(std::max<std::int64_t>(1, sizeKB * 35 / 512));
}

std::uint32_t FinalCommandTimeoutSeconds(std::int32_t imageSize) {
  return std::max<std::uint32_t>(kDefaultTimeoutSeconds,
                                 2 * static_cast<std::uint32_t>(ExpectedProgressTicks(imageSize)));
}

// The image file, read strictly forward into the command buffer; a read that does not deliver
// every byte asked for fails.
class Download::ImageFile {
 public:
  // Only a regular file is opened: opening a FIFO put in the image's place would block.
  explicit ImageFile(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_regular_file(PathFromUtf8(path), error)) {
      stream_.open(PathFromUtf8(path), std::ios::binary);
    }
  }

  bool opened() const { return stream_.is_open(); }
  // The size and header as they are now, the stream left at the start.
  ImageFileRead ReadAgain() { return ReadImageStream(stream_); }
  bool Read(u8* into, u32 length) {
    stream_.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(length));
    return stream_.gcount() == static_cast<std::streamsize>(length);
  }
  bool Rewind() { return static_cast<bool>(stream_.seekg(0, std::ios::beg)); }

 private:
  std::ifstream stream_;
};

Download::Download(const DownloadContext& ctx) : ctx_(ctx) {}

Download::~Download() {
  if (worker_.joinable()) worker_.join();
}

bool Download::testOption() const { return ctx_.state.testOption(); }

void Download::ShowError(std::string_view text) const {
  ctx_.window.ShowMessage({std::string(kMessage), std::string(text), true, true});
}

void Download::ToolButton2Click() {
  // While the final command runs the drive belongs to the worker.
  if (workerRunning_.load()) return;
  ctx_.window.EnableExitButton(false);
  RunStart();
  ctx_.window.EnableExitButton(true);
}

void Download::RunStart() {
  AppState& s = ctx_.state;
  if (s.FlashState == FlashState::kNoFittingDrive) {
    ctx_.window.EnableTimer(TimerId::kTimer3, false);
    return;
  }
  const std::optional<u8> device = s.SelectedDevice();
  if (!device) return;
  if (s.identity.DriveIdent == kDmaCheckedDrive) {
    if (s.PlatformNT) {
      ReadDmaFromRegistry();
    } else {
      ReadDmaFromTransferMode(*device);
    }
  }
  const std::string_view prefix = s.identity.DrivePrefix.view();
  const bool pioWording = prefix.starts_with("KVR") || prefix.starts_with("MVR");
  Log("P4");
  ProbeMedium(*device);
  if (s.FlashState != FlashState::kReady) {
    RefuseStart(*device, pioWording);
    return;
  }
  Log("P5");
  bool sent = false;
  {
    ImageFile file(s.image.ImagePath);
    if (!file.opened() || s.image.ImageSize == 0 || !ImageStillAsLoaded(file)) {
      RefuseUnopenedImage();
      return;
    }
    ctx_.window.SetFieldText(Field::kStatus, kStatusWait);
    ctx_.window.SetBusy(true);
    KillProcessByName(ctx_.system, ctx_.transport.trace(), kDirectCdProcess);
    locked_ = ctx_.transport.SetExclusive(*device, true).value_or(false);
    sent = RunBlockPhase(file, *device);
  }
  if (!sent) {
    Unlock(*device);
    CloseAfterBlockFailure();
  }
}

void Download::ReadDmaFromRegistry() {
  AppState& s = ctx_.state;
  const auto position = static_cast<std::size_t>(s.SelectedDrive);
  // A drive without a recorded IDE position has no DMA bit to read: it cannot be shown safe.
  if (position >= s.IdeDeviceSlots.size()) {
    s.FlashState = FlashState::kDmaUnreadable;
    return;
  }
  const int slot = s.IdeDeviceSlots[position];
  const int port = slot / 2;
  const int deviceBit = slot % 2;
  std::string key(kDmaKey);
  key.back() = static_cast<char>('0' + port);
  const RegistryRead read = ctx_.system.ReadRegistry(key, kDmaValue, kDmaValueSize);
  if (!read.keyOpened) {
    s.FlashState = FlashState::kDmaUnreadable;
    ctx_.window.ShowMessage({"Message", "Reg Read Fail", false, false});
    return;
  }
  if (!read.value || read.value->size() != kDmaValueSize) {
    s.FlashState = FlashState::kDmaUnreadable;
    return;
  }
  const std::uint32_t word =
      std::uint32_t{(*read.value)[0]} | (std::uint32_t{(*read.value)[1]} << 8) |
      (std::uint32_t{(*read.value)[2]} << 16) | (std::uint32_t{(*read.value)[3]} << 24);
  if ((word >> deviceBit) & 1u) s.FlashState = FlashState::kDmaActive;
}

void Download::ReadDmaFromTransferMode(u8 device) {
  const TransferModeRead read = ctx_.transport.TransferMode(device);
  if (!read.offered) return;
  const std::optional<bool> dma = read.mode ? IsDmaTransferMode(*read.mode) : std::nullopt;
  if (!dma) {
    ctx_.state.FlashState = FlashState::kDmaUnreadable;
  } else if (*dma) {
    ctx_.state.FlashState = FlashState::kDmaActive;
  }
}

void Download::ProbeMedium(u8 device) {
  for (int attempt = 0; attempt < kReadyProbes; ++attempt) {
    const u8 status = SendCatalogue(device, Command::kTestUnitReady);
    ctx_.system.clock().SleepMs(kProbePauseMs);
    if (status == kStatusGood) {
      ctx_.state.FlashState = FlashState::kDiscPresent;
      return;
    }
  }
}

u8 Download::SendCatalogue(u8 device, Command command) {
  const CommandSpec& entry = Catalogue(command);
  return ctx_.transport.ExecuteCommand(
      device, CommandRequest{entry.cdb.data(), entry.cdbLength, ctx_.buffer.data(),
                             entry.dataLength, entry.direction});
}

void Download::RefuseStart(u8 device, bool pioWording) {
  switch (ctx_.state.FlashState) {
    case FlashState::kDmaActive:
      RefuseAndMaybeClose("E8", pioWording ? kDmaRefusalPio : kDmaRefusal, true);
      break;
    case FlashState::kDmaUnreadable:
      RefuseAndMaybeClose("E9", kRegistryError, false);
      break;
    case FlashState::kDiscPresent:
      if (!testOption()) SendCatalogue(device, Command::kStartStopUnit);
      RefuseAndMaybeClose("E4", kRemoveDisc, false);
      break;
    case FlashState::kReady:
    case FlashState::kNoFittingDrive:
      break;
  }
}

void Download::RefuseUnopenedImage() { RefuseAndMaybeClose("E1", kFlashFileNotOpened, false); }

// With a test option a refusal is logged and ends the program; without one the user is told,
// and only the DMA refusal closes the window.
void Download::RefuseAndMaybeClose(std::string_view code, std::string_view text,
                                   bool closeWithoutTestOption) {
  if (testOption()) {
    Log(code);
    ctx_.window.Close();
    return;
  }
  ShowError(text);
  if (closeWithoutTestOption) ctx_.window.Close();
}

// The file must still be the one that was loaded (its size, and its header where it was), and
// every block must fit the command buffer.
bool Download::ImageStillAsLoaded(ImageFile& file) const {
  const ImageRecord& image = ctx_.state.image;
  const ImageFileRead now = file.ReadAgain();
  const auto headerBytes = [](const std::optional<ImageHeader>& header) {
    return header ? std::optional(header->bytes) : std::nullopt;
  };
  if (now.status != ImageReadStatus::kRead || now.size != image.loadedFileSize ||
      now.place != image.loadedPlace ||
      headerBytes(now.header) != headerBytes(image.loadedHeader)) {
    return false;
  }
  if (image.Image64K) return image.loadedFileSize == kImage64KSize;
  if (image.BlockSizeKB < 0 || image.BlockSizeKB > kLargestBlockKB ||
      image.LastBlockKB > kLargestBlockKB) {
    return false;
  }
  if (image.FixedHeaderImage) {
    return std::int64_t{image.CommandCount} * kFixedBlockKB * kKB <= image.loadedFileSize;
  }
  const std::int64_t layout = std::int64_t{image.BlockSizeKB} * kKB * (image.CommandCount - 1) +
                              std::int64_t{image.LastBlockKB} * kKB;
  return image.CommandCount >= 1 && image.LastBlockKB > 0 && layout == image.ImageSize;
}

bool Download::RunBlockPhase(ImageFile& file, u8 device) {
  const ImageRecord& image = ctx_.state.image;
  if (image.Image64K) return Form64K(file, device);
  if (image.FixedHeaderImage) return FixedHeaderForm(file, device);
  return BlockForm(file, device);
}

bool Download::BlockForm(ImageFile& file, u8 device) {
  const ImageRecord& image = ctx_.state.image;
  const u32 blockBytes = static_cast<u32>(image.BlockSizeKB) * kKB;
  const CommandSpec& write = Catalogue(Command::kVendorWrite);
  std::copy(write.cdb.begin(), write.cdb.end(), vendorWrite_.begin());
  vendorWrite_[kVendorWriteFormCode] = 0x00;
  for (std::int32_t j = 0; j + 1 < image.CommandCount; ++j) {
    if (!file.Read(ctx_.buffer.data(), blockBytes)) return false;
    if (j == 0) Log("P6");
    vendorWrite_[kVendorWriteBlockCode] = j == 0 ? kBlockCodeFirst : kBlockCodeMiddle;
    if (ctx_.transport.ExecuteCommand(
            device, CommandRequest{vendorWrite_.data(), write.cdbLength, ctx_.buffer.data(),
                                   blockBytes, kDataOut}) != kStatusGood) {
      return false;
    }
  }
  const u32 lastBytes = u32{image.LastBlockKB} * kKB;
  if (!file.Read(ctx_.buffer.data(), lastBytes)) return false;
  vendorWrite_[kVendorWriteBlockCode] = image.LastBlockKB;
  finalCommand_ = FinalCommand::kVendorWrite;
  finalLength_ = lastBytes;
  SetTimer1(true, false);
  Log("P7");
  StartWorker(device);
  return true;
}

bool Download::FixedHeaderForm(ImageFile& file, u8 device) {
  const ImageRecord& image = ctx_.state.image;
  if (!file.Rewind()) return false;
  SendPage(device, kDiagOpen);
  SendCatalogue(device, Command::kReceiveDiagnosticResults);
  const bool prepared = SendPage(device, kDiagPrepare) == kStatusGood;
  if (image.CommandCount == 0 && !prepared) return false;
  const CommandSpec& block = Catalogue(Command::kSendDiagnosticBlock);
  const u32 length = kDiagPageSize + kDiagBlockDataSize;
  for (std::int32_t j = 0; j < image.CommandCount; ++j) {
    std::copy(kDiagBlock.begin(), kDiagBlock.end(), ctx_.buffer.begin());
    if (!file.Read(ctx_.buffer.data() + kDiagPageSize, kDiagBlockDataSize)) return false;
    ctx_.buffer[kDiagBlockNumberByte] = static_cast<u8>((j + 1) & 0xFF);
    if (ctx_.transport.ExecuteCommand(
            device, CommandRequest{block.cdb.data(), block.cdbLength, ctx_.buffer.data(), length,
                                   kDataOut}) != kStatusGood) {
      return false;
    }
  }
  finalCommand_ = FinalCommand::kFinishPage;
  finalLength_ = kDiagPageSize;
  SetTimer1(true, false);
  StartWorker(device);
  return true;
}

bool Download::Form64K(ImageFile& file, u8 device) {
  ctx_.state.image.BlockSizeKB = k64KBlockSizeKB;
  if (!file.Read(ctx_.buffer.data(), k64KSkippedBytes)) return false;
  if (!file.Read(ctx_.buffer.data(), k64KBlockBytes)) return false;
  const CommandSpec& write = Catalogue(Command::kVendorWrite);
  std::copy(write.cdb.begin(), write.cdb.end(), vendorWrite_.begin());
  vendorWrite_[kVendorWriteBlockCode] = kBlockCode64K;
  vendorWrite_[kVendorWriteFormCode] = kFormCode64K;
  // The buffer holds 61,440 bytes, as CDB byte 9 (240 units of 256 bytes) says: all are sent.
  finalCommand_ = FinalCommand::kVendorWrite;
  finalLength_ = k64KBlockBytes;
  SetTimer1(true, false);
  StartWorker(device);
  return true;
}

u8 Download::SendPage(u8 device, const std::array<u8, kDiagPageSize>& page) {
  std::copy(page.begin(), page.end(), ctx_.buffer.begin());
  return SendCatalogue(device, Command::kSendDiagnostic);
}

void Download::StartWorker(u8 device) {
  finalTimeoutSeconds_ = FinalCommandTimeoutSeconds(ctx_.state.image.ImageSize);
  restartHold_.store(1);
  workerRunning_.store(true);
  if (worker_.joinable()) worker_.join();
  ClockParticipation participation(ctx_.system.clock(), ClockParticipation::Thread::kToBeStarted);
  worker_ = std::thread([this, device, p = std::move(participation)]() mutable {
    p.Enter();
    DownloadWorker(device);
  });
}

void Download::DownloadWorker(u8 device) {
  const u8 status = SendFinalCommand(device);
  // A tick due at the instant the command ends must not move the bar the worker now fills.
  if (status == kStatusGood) StopProgressEstimate();
  Unlock(device);
  ctx_.window.Post([this] { ctx_.window.SetBusy(false); });
  if (status == kStatusGood) {
    Log("COMPLETE");
    SetTimer1(false, true);
    FillBar();
    ctx_.window.Post([this] { ctx_.window.SetFieldText(Field::kStatus, kStatusOk); });
    SetTimer1(true, true);
    if (!testOption())
      ShowBoxAndWait({std::string(kMessage), std::string(kDownloadOk), false, true});
  } else {
    Log("E7");
    ctx_.window.Post([this] { ctx_.window.SetFieldText(Field::kStatus, kStatusFail); });
    if (!testOption())
      ShowBoxAndWait({std::string(kMessage), std::string(kDownloadFail), true, true});
  }
  workerRunning_.store(false);
  restartHold_.store(0);
}

u8 Download::SendFinalCommand(u8 device) {
  CommandRequest request;
  request.data = ctx_.buffer.data();
  request.dataLength = finalLength_;
  request.direction = kDataOut;
  request.timeoutSeconds = finalTimeoutSeconds_;
  if (finalCommand_ == FinalCommand::kFinishPage) {
    std::copy(kDiagFinish.begin(), kDiagFinish.end(), ctx_.buffer.begin());
    const CommandSpec& diag = Catalogue(Command::kSendDiagnostic);
    request.cdb = diag.cdb.data();
    request.cdbLength = diag.cdbLength;
  } else {
    request.cdb = vendorWrite_.data();
    request.cdbLength = static_cast<u8>(vendorWrite_.size());
  }
  return ctx_.transport.ExecuteCommand(device, request);
}

void Download::Unlock(u8 device) {
  if (locked_) ctx_.transport.SetExclusive(device, false);
  locked_ = false;
}

void Download::FillBar() {
  int position = 0;
  {
    std::lock_guard lock(progressMutex_);
    position = progress_;
  }
  while (position < 100) {
    position = std::min(100, position + kFillStep);
    {
      std::lock_guard lock(progressMutex_);
      progress_ = position;
    }
    ctx_.window.Post([this, position] { ctx_.window.SetProgress(position); });
    ctx_.system.clock().SleepMs(kFillPauseMs);
  }
}

void Download::ShowBoxAndWait(MessageBoxSpec box) {
  std::promise<void> dismissed;
  ctx_.window.Post([this, &box, &dismissed] {
    ctx_.window.ShowMessage(box);
    dismissed.set_value();
  });
  dismissed.get_future().wait();
}

void Download::StopProgressEstimate() {
  std::lock_guard lock(progressMutex_);
  timer1Enabled_ = false;
}

void Download::SetTimer1(bool enabled, bool fromWorker) {
  {
    std::lock_guard lock(progressMutex_);
    timer1Enabled_ = enabled;
  }
  if (fromWorker) {
    ctx_.window.Post([this, enabled] { ctx_.window.EnableTimer(TimerId::kTimer1, enabled); });
  } else {
    ctx_.window.EnableTimer(TimerId::kTimer1, enabled);
  }
}

void Download::Timer1Timer() {
  std::optional<int> position;
  {
    std::lock_guard lock(progressMutex_);
    // A tick that was already due when the worker took the bar over changes nothing.
    if (!timer1Enabled_) return;
    if (progress_ < 100) {
      const std::int32_t expected = ExpectedProgressTicks(ctx_.state.image.ImageSize);
      progress_ = static_cast<int>(
          std::min<std::int64_t>(100, std::int64_t{progressTicks_} * 100 / expected));
      ++progressTicks_;
      position = progress_;
    }
  }
  if (position) ctx_.window.SetProgress(*position);
  if (restartHold_.load() != 0) return;
  SetTimer1(false, false);
  if (testOption()) {
    ctx_.window.Close();
  } else {
    restartAccepted_ = RestartWindows(ctx_.system, ctx_.transport.trace()) == 1;
  }
}

// An automatic image's failure is logged; the box is shown whenever a user may be watching, so
// that a failed write never ends the program without a word.
void Download::CloseAfterBlockFailure() {
  if (ctx_.state.image.ImagePresent) Log("E6");
  if (!ctx_.state.image.ImagePresent || !testOption()) ShowError(kFlashCmdFail);
  ctx_.window.SetBusy(false);
  ctx_.window.Close();
}

}  // namespace veltran
