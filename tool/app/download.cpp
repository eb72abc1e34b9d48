#include "app/download.h"

#include <optional>
#include <string>

#include "app/preflight.h"
#include "app/preparation.h"

namespace veltran {
namespace {

constexpr std::string_view kStatusWait = "Wait..";

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
constexpr std::string_view kDriveInUse =
    "The Drive is in Use by Another Program !!\nClose that program and attempt again.";

}  // namespace

Download::Download(const DownloadContext& ctx) : ctx_(ctx) {}

Download::~Download() {
  if (worker_.joinable()) worker_.join();
}

bool Download::testOption() const { return ctx_.state.testOption(); }

void Download::ShowError(std::string_view text) const {
  ctx_.window.ShowMessage({std::string(kMessageCaption), std::string(text), true, true});
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
  // Without a listed drive the start still runs its course, so that it ends like any other, but
  // no command goes to a device.
  const std::optional<u8> device = s.SelectedDevice();
  const std::string_view prefix = s.identity.DrivePrefix.view();
  const bool pioWording = prefix.starts_with("KVR") || prefix.starts_with("MVR");
  s.FlashState = PreflightVerdict(ctx_, device);
  if (s.FlashState != FlashState::kReady) {
    if (device) RefuseStart(*device, pioWording);
    return;
  }
  ctx_.Log("P5");
  SendImage(device);
}

// The blocks go on the window thread; the final command goes to the worker.
void Download::SendImage(std::optional<u8> device) {
  bool sent = false;
  {
    DownloadImageFile file(ctx_.state.image.ImagePath);
    if (!file.opened() || ctx_.state.image.ImageSize == 0 ||
        !ImageStillAsLoaded(file, ctx_.state.image)) {
      RefuseUnopenedImage();
      return;
    }
    // Every command to a drive that is not there would fail: the first block fails.
    if (!device) {
      CloseAfterBlockFailure();
      return;
    }
    KillProcessByName(ctx_.system, ctx_.transport.trace(), kDirectCdProcess);
    if (!TakeLock(*device)) return;
    ctx_.window.SetFieldText(Field::kStatus, kStatusWait);
    ctx_.window.SetBusy(true);
    if (const std::optional<FinalCommand> final = SendBlocks(ctx_, file, *device)) {
      final_ = *final;
      SetTimer1(true, false);
      StartWorker(*device);
      sent = true;
    }
  }
  if (!sent) {
    Unlock(*device);
    CloseAfterBlockFailure();
  }
}

// A platform without the lock is no reason to stop; a drive that another program holds is: it
// could send its own commands between the blocks.
bool Download::TakeLock(u8 device) {
  const std::optional<bool> taken = ctx_.transport.SetExclusive(device, true);
  locked_ = taken.value_or(false);
  if (taken.value_or(true)) return true;
  RefuseAndMaybeClose("E5", kDriveInUse, false);
  return false;
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
      if (!testOption()) ctx_.Send(device, Command::kStartStopUnit);
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
    ctx_.Log(code);
    ctx_.window.Close();
    return;
  }
  ShowError(text);
  if (closeWithoutTestOption) ctx_.window.Close();
}

// An automatic image's failure is logged; the box is shown whenever a user may be watching, so
// that a failed write never ends the program without a word.
void Download::CloseAfterBlockFailure() {
  if (ctx_.state.image.ImagePresent) ctx_.Log("E6");
  if (!ctx_.state.image.ImagePresent || !testOption()) ShowError(kFlashCmdFail);
  ctx_.window.SetBusy(false);
  ctx_.window.Close();
}

}  // namespace veltran
