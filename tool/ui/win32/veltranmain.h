// TMainForm: the flash tool's borderless main window. It draws the controls and routes every
// event to the core's MainForm; what the tool decides lives there. veltranmain.cpp holds its life,
// messages and the operations the core calls; creation, painting and the picture buttons have
// files of their own.
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
#include "main_window_layout.h"
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
  static constexpr UINT kWakeMessage = WM_APP;       // posted work or a timer deadline
  static constexpr UINT kCloseMessage = WM_APP + 1;  // the core closed the window
  static constexpr UINT_PTR kTimer2Id = 2;

  static TMainForm* FromWindow(HWND hwnd);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  std::optional<LRESULT> HandleLifecycle(UINT message);
  std::optional<LRESULT> HandleControls(UINT message, WPARAM wParam, LPARAM lParam);
  std::optional<LRESULT> HandleMouse(UINT message, WPARAM wParam, LPARAM lParam);

  // main_window_creation.cpp
  void RegisterClasses() const;
  void CreateMainWindow();
  void LoadPictures();
  void CreateFontsAndBrushes();
  void CreateControls();
  void CreateFields();
  void CreateDriveList();
  void CreateProgressBar();
  void CreateButtons();
  void SetShape();
  void CentreAndShow();

  // main_window_painting.cpp
  void Paint();
  void DrawLabels(HDC dc) const;
  void DrawNocheckLabel(HDC dc) const;
  LRESULT ColourStatic(HDC dc, HWND control);
  static void MeasureListItem(MEASUREITEMSTRUCT& item);
  void DrawListItem(const DRAWITEMSTRUCT& item) const;

  // picture_buttons.cpp
  LRESULT HandleButton(ButtonId id, UINT message, WPARAM wParam, LPARAM lParam);
  void PaintButton(ButtonId id);
  void ButtonDown(ButtonId id, UINT message);
  void ButtonUp(ButtonId id, UINT message, POINT at);
  void RepaintButton(std::optional<ButtonId> id);
  void PressButton(ButtonId id, bool pressed);
  void ButtonClicked(ButtonId id);
  void OpenImage();

  // veltranmain.cpp
  void MessageLoop();
  void StartMove(POINT at);
  bool OnLabel(POINT at) const;
  void Timer2Tick();
  void SetCursorFor(bool busy) const;

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
  std::array<HWND, kFieldCount> fields_{};
  std::array<HWND, kButtonCount> buttonWindows_{};
  HWND driveList_ = nullptr;
  HWND progress_ = nullptr;
  UniqueWindow tooltip_;
  UniqueGdiObject windowFont_;
  UniqueGdiObject nocheckFont_;  // sized so that the whole caption fits the label
  std::array<UniqueGdiObject, kFieldCount> fieldBrushes_;
  UniqueGdiObject listBrush_;
  UniqueGdiObject labelBrush_;

  bool nocheckShown_ = false;
  bool busy_ = false;
  bool closed_ = false;
  bool shutdownBlocked_ = false;
};

}  // namespace veltran::win32
