// The main window as the core talks to it: every call goes on to the front end's window, and the
// timers the core has enabled are remembered, so that the core itself can tell whether an
// automatic start or a restart is still to come.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string_view>
#include <utility>

#include "app/window.h"

namespace veltran {

class TimerTrackingWindow final : public MainWindow {
 public:
  explicit TimerTrackingWindow(MainWindow& window) : window_(window) {}

  // As the core last set it; the download worker's changes count once the window thread has run
  // them, as they do for the front end's loop.
  bool TimerEnabled(TimerId timer) const { return enabled_[Index(timer)].load(); }

  void EnableTimer(TimerId timer, bool enabled) override {
    enabled_[Index(timer)].store(enabled);
    window_.EnableTimer(timer, enabled);
  }
  void SetFieldText(Field field, std::string_view text) override {
    window_.SetFieldText(field, text);
  }
  void AddDriveListItem(std::string_view text) override { window_.AddDriveListItem(text); }
  void SelectDriveListItem(int index) override { window_.SelectDriveListItem(index); }
  void ShowNocheckLabel() override { window_.ShowNocheckLabel(); }
  void SetProgress(int position) override { window_.SetProgress(position); }
  void EnableExitButton(bool enabled) override { window_.EnableExitButton(enabled); }
  void SetBusy(bool busy) override { window_.SetBusy(busy); }
  void ShowMessage(const MessageBoxSpec& box) override { window_.ShowMessage(box); }
  void Close() override { window_.Close(); }
  void Post(std::function<void()> work) override { window_.Post(std::move(work)); }

 private:
  static std::size_t Index(TimerId timer) { return static_cast<std::size_t>(timer); }

  MainWindow& window_;
  std::array<std::atomic<bool>, kTimerCount> enabled_{};
};

}  // namespace veltran
