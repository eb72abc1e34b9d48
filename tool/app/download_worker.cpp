// The final command on the worker thread, the progress bar and the restart that follows.
#include <algorithm>
#include <future>
#include <optional>
#include <string>

#include "app/download.h"
#include "app/preparation.h"

namespace veltran {
namespace {

constexpr std::string_view kStatusOk = "Ok";
constexpr std::string_view kStatusFail = "Fail";
constexpr std::string_view kDownloadOk = "  Download Ok!!  \nRestart WINDOWS";
constexpr std::string_view kDownloadFail = " Download Fail!! \nRestart WINDOWS";

}  // namespace

std::int32_t ExpectedProgressTicks(std::int32_t imageSize) {
  const std::int64_t sizeKB = imageSize / 1024;
  return static_cast<std::int32_t>(std::max<std::int64_t>(1, sizeKB * 35 / 512));
}

std::uint32_t FinalCommandTimeoutSeconds(std::int32_t imageSize) {
  return std::max<std::uint32_t>(kDefaultTimeoutSeconds,
                                 2 * static_cast<std::uint32_t>(ExpectedProgressTicks(imageSize)));
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
    ctx_.Log("COMPLETE");
    SetTimer1(false, true);
    FillBar();
    ctx_.window.Post([this] { ctx_.window.SetFieldText(Field::kStatus, kStatusOk); });
    SetTimer1(true, true);
    if (!testOption()) {
      ShowBoxAndWait({std::string(kMessageCaption), std::string(kDownloadOk), false, true});
    }
  } else {
    ctx_.Log("E7");
    ctx_.window.Post([this] { ctx_.window.SetFieldText(Field::kStatus, kStatusFail); });
    if (!testOption()) {
      ShowBoxAndWait({std::string(kMessageCaption), std::string(kDownloadFail), true, true});
    }
  }
  // The restart may follow once the hold is 0; a new start may begin once the worker no longer
  // runs. In this order a start never sees the hold of this run cleared under its own worker.
  restartHold_.store(0);
  workerRunning_.store(false);
}

u8 Download::SendFinalCommand(u8 device) {
  return ctx_.transport.ExecuteCommand(
      device, FinalCommandRequest(final_, ctx_.buffer, finalTimeoutSeconds_));
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

}  // namespace veltran
