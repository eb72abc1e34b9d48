// Writing the loaded image into the selected drive: the checks before the first command, the
// blocks sent on the window thread, the final command on a worker thread, the progress estimate
// and the restart (or the close under a test option) that follows.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "app/app_state.h"
#include "app/test_log.h"
#include "app/window.h"
#include "drive/catalogue.h"
#include "drive/identify.h"
#include "system/system.h"

namespace veltran {

// The drive whose DMA setting is checked before a download.
inline constexpr std::string_view kDmaCheckedDrive = "DARLOWE CD-ROM JR-906   ";
inline constexpr std::string_view kDirectCdProcess = "directcd.exe";
inline constexpr std::uint32_t kProbePauseMs = 100;
inline constexpr int kReadyProbes = 5;
inline constexpr std::uint32_t kFillPauseMs = 100;
inline constexpr int kFillStep = 5;

// The final command's time-out in seconds: twice the progress estimate, at least the ordinary
// time-out, so that the host never aborts a drive that is still programming.
std::uint32_t FinalCommandTimeoutSeconds(std::int32_t imageSize);
// The progress estimate's divisor: ticks until the bar is full, at least 1.
std::int32_t ExpectedProgressTicks(std::int32_t imageSize);

struct DownloadContext {
  AppState& state;
  MainWindow& window;
  DriveTransport& transport;
  SystemInterface& system;
  const TestLog& log;
  CommandBuffer& buffer;
};

class Download {
 public:
  explicit Download(const DownloadContext& ctx);
  ~Download();
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;

  // Window thread.
  void ToolButton2Click();
  void Timer1Timer();
  // True from the start of the worker until it has finished: nothing may end the program then.
  bool FinalCommandRunning() const { return workerRunning_.load(); }
  int RestartHold() const { return restartHold_.load(); }
  int progressTicks() const { return progressTicks_; }
  // True once Timer1 has asked for a restart and the system accepted it.
  bool restartAccepted() const { return restartAccepted_; }

 private:
  enum class FinalCommand { kVendorWrite, kFinishPage };
  class ImageFile;

  void RunStart();
  void ReadDmaFromRegistry();
  void ReadDmaFromTransferMode(u8 device);
  void ProbeMedium(u8 device);
  u8 SendCatalogue(u8 device, Command command);
  u8 SendPage(u8 device, const std::array<u8, kDiagPageSize>& page);
  void RefuseStart(u8 device, bool pioWording);
  void RefuseUnopenedImage();
  void RefuseAndMaybeClose(std::string_view code, std::string_view text,
                           bool closeWithoutTestOption);
  bool ImageStillAsLoaded(ImageFile& file) const;
  bool RunBlockPhase(ImageFile& file, u8 device);
  bool BlockForm(ImageFile& file, u8 device);
  bool FixedHeaderForm(ImageFile& file, u8 device);
  bool Form64K(ImageFile& file, u8 device);
  void StartWorker(u8 device);
  void DownloadWorker(u8 device);
  u8 SendFinalCommand(u8 device);
  void Unlock(u8 device);
  void FillBar();
  void ShowBoxAndWait(MessageBoxSpec box);
  void SetTimer1(bool enabled, bool fromWorker);
  void StopProgressEstimate();
  void CloseAfterBlockFailure();
  bool testOption() const;
  void Log(std::string_view code) const { ctx_.log.WriteTestLog(code); }
  void ShowError(std::string_view text) const;

  DownloadContext ctx_;
  FinalCommand finalCommand_ = FinalCommand::kVendorWrite;
  std::array<u8, 12> vendorWrite_{};
  u32 finalLength_ = 0;
  std::uint32_t finalTimeoutSeconds_ = kDefaultTimeoutSeconds;
  bool locked_ = false;
  bool restartAccepted_ = false;

  std::atomic<int> restartHold_{1};
  std::atomic<bool> workerRunning_{false};
  std::thread worker_;

  // The bar as the core last set it, and whether Timer1 may move it; the worker fills the bar
  // while the window thread's Timer1 may tick.
  std::mutex progressMutex_;
  int progress_ = 0;
  bool timer1Enabled_ = false;
  int progressTicks_ = 0;
};

}  // namespace veltran
