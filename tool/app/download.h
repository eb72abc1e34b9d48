// Writing the loaded image into the selected drive: the checks before the first command, the
// blocks sent on the window thread, the final command on a worker thread, the progress estimate
// and the restart (or the close under a test option) that follows.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "app/download_context.h"
#include "app/transfer_forms.h"

namespace veltran {

inline constexpr std::string_view kDirectCdProcess = "directcd.exe";
inline constexpr std::uint32_t kFillPauseMs = 100;
inline constexpr int kFillStep = 5;

// The final command's time-out in seconds: twice the progress estimate, at least the ordinary
// time-out, so that the host never aborts a drive that is still programming.
std::uint32_t FinalCommandTimeoutSeconds(std::int32_t imageSize);
// The progress estimate's divisor: ticks until the bar is full, at least 1.
std::int32_t ExpectedProgressTicks(std::int32_t imageSize);

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
  // download.cpp: the start and its refusals.
  void RunStart();
  void SendImage(std::optional<u8> device);
  bool TakeLock(u8 device);
  void RefuseStart(u8 device, bool pioWording);
  void RefuseUnopenedImage();
  void RefuseAndMaybeClose(std::string_view code, std::string_view text,
                           bool closeWithoutTestOption);
  void CloseAfterBlockFailure();
  bool testOption() const;
  void ShowError(std::string_view text) const;

  // download_worker.cpp: the final command, the bar and the restart.
  void StartWorker(u8 device);
  void DownloadWorker(u8 device);
  u8 SendFinalCommand(u8 device);
  void Unlock(u8 device);
  void FillBar();
  void ShowBoxAndWait(MessageBoxSpec box);
  void SetTimer1(bool enabled, bool fromWorker);
  void StopProgressEstimate();

  DownloadContext ctx_;
  FinalCommand final_;
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
