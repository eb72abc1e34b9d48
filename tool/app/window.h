// What the core needs of the main window. The Win32 window and the console front end implement
// it; the core never draws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace veltran {

// StaticText1 to StaticText5.
enum class Field { kModelName, kOldVersion, kNewVersion, kDownloadFile, kStatus };
// Timer1: progress estimate and restart; Timer2: pointer tracking of the picture buttons;
// Timer3: the automatic start. The core owns their intervals and enables them; the front end
// fires them by the platform clock.
enum class TimerId { kTimer1, kTimer2, kTimer3 };
inline constexpr int kTimerCount = 3;
constexpr std::uint32_t TimerIntervalMs(TimerId timer) {
  return timer == TimerId::kTimer2 ? 100 : 1000;
}

// The label beside each field, as the window shows it.
std::string_view FieldLabel(Field field);

// The caption of the tool's own message boxes.
inline constexpr std::string_view kMessageCaption = "MESSAGE";

struct MessageBoxSpec {
  std::string caption;
  std::string text;
  bool errorIcon = false;
  bool systemModal = false;
};

class MainWindow {
 public:
  virtual ~MainWindow() = default;
  virtual void SetFieldText(Field field, std::string_view text) = 0;
  virtual void AddDriveListItem(std::string_view text) = 0;
  virtual void SelectDriveListItem(int index) = 0;
  virtual void ShowNocheckLabel() = 0;
  virtual void SetProgress(int position) = 0;
  virtual void EnableTimer(TimerId timer, bool enabled) = 0;
  virtual void EnableExitButton(bool enabled) = 0;
  // The hourglass cursor and the mouse capture, together.
  virtual void SetBusy(bool busy) = 0;
  // Returns once the user has dismissed the box.
  virtual void ShowMessage(const MessageBoxSpec& box) = 0;
  // Closing the main window ends the program.
  virtual void Close() = 0;
  // Runs `work` on the window thread after everything posted before it; callable from any
  // thread. The download worker changes the window only through here.
  virtual void Post(std::function<void()> work) = 0;
};

}  // namespace veltran
