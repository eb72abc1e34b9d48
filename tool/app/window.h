// What the core needs of the main window. The Win32 window and the console front end implement
// it; the core never draws.
#pragma once

#include <string>
#include <string_view>

namespace veltran {

// StaticText1 to StaticText5.
enum class Field { kModelName, kOldVersion, kNewVersion, kDownloadFile, kStatus };
enum class TimerId { kTimer1, kTimer3 };

// The label beside each field, as the window shows it.
std::string_view FieldLabel(Field field);

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
};

}  // namespace veltran
