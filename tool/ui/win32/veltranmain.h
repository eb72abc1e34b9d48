// TMainForm: the flash tool's borderless main window. It draws the controls and routes every
// event to the core's MainForm; what the tool decides lives there.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/event_loop.h"
#include "app/main_form.h"
#include "app/window.h"
#include "artwork.h"
#include "button_states.h"
#include "clock_stand_in.h"
#include "window_handles.h"

namespace veltran {
class Platform;
}

namespace veltran::win32 {

class TAboutForm;

inline constexpr wchar_t kMainClass[] = L"TMainForm";
inline constexpr wchar_t kMainTitle[] = L"Lumaflash";
inline constexpr wchar_t kShutdownReason[] =
    L"Firmware update in progress. Do not switch off the computer.";

class TMainForm final : public MainWindow {
 public:
  TMainForm(HINSTANCE instance, Platform& platform, std::string commandLine);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Creates both windows, runs the start-up handlers and the message loop until the main window
  // has closed.
  void Run();

  void SetFieldText(Field field, std::string_view text) override;
  void AddDriveListItem(std::string_view text) override;
  void SelectDriveListItem(int index) override;
  void ShowNocheckLabel() override;
  void SetProgress(int position) override;
  void EnableTimer(TimerId timer, bool enabled) override;
  void EnableExitButton(bool enabled) override;
  void SetBusy(bool busy) override;
  void ShowMessage(const MessageBoxSpec& box) override;
  void Close() override;
  void Post(std::function<void()> work) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleButton(ButtonId id, UINT message, WPARAM wParam, LPARAM lParam);

  void RegisterClasses() const;
  void CreateMainWindow();
  void CreateControls();
  void CreateFields();
  void CreateDriveList();
  void CreateProgressBar();
  void CreateButtons();
  void SetShape();
  void CentreAndShow();
  void MessageLoop();

  void Paint();
  void DrawLabels(HDC dc) const;
  LRESULT ColourStatic(HDC dc, HWND control);
  void DrawListItem(const DRAWITEMSTRUCT& item) const;
  void StartMove(POINT at);
  bool OnLabel(POINT at) const;

  void RepaintButton(std::optional<ButtonId> id);
  void PressButton(ButtonId id, bool pressed);
  void ButtonClicked(ButtonId id);
  void OpenImage();
  void Timer2Tick();

  // The clock rule of ClockStandIn: core work holds time; modal loops let it pass.
  void WithTimeHeld(const std::function<void()>& work);
  void Modal(const std::function<void()>& loop);
  void RunDue();
  void Fire(TimerId timer);
  void UpdateShutdownBlock();

  HINSTANCE instance_;
  Platform& platform_;
  std::string commandLine_;
  EventLoop loop_;
  std::unique_ptr<ClockStandIn> standIn_;
  std::unique_ptr<MainForm> form_;
  std::unique_ptr<TAboutForm> about_;

  Pixels background_;
  std::array<Pixels, kButtonCount> normal_;
  std::array<Pixels, kButtonCount> hover_;
  ButtonStates buttons_;
  std::optional<ButtonId> pressed_;
  UINT pressedWith_ = 0;  // the mouse button held on `pressed_`
  bool exitEnabled_ = true;

  UniqueWindow window_;
  std::array<HWND, 5> fields_{};
  std::array<HWND, kButtonCount> buttonWindows_{};
  HWND driveList_ = nullptr;
  HWND progress_ = nullptr;
  UniqueWindow tooltip_;
  UniqueGdiObject boldFont_;
  UniqueGdiObject regularFont_;
  std::array<UniqueGdiObject, 5> fieldBrushes_;
  UniqueGdiObject listBrush_;
  UniqueGdiObject labelBrush_;

  bool nocheckShown_ = false;
  bool busy_ = false;
  bool closed_ = false;
  bool shutdownBlocked_ = false;
};

}  // namespace veltran::win32
