// TMainForm: the window classes, the window with its shape, and its controls.
#include <windows.h>
#include <commctrl.h>

#include <stdexcept>

#include "system_calls.h"
#include "veltranmain.h"

namespace veltran::win32 {
namespace {

HWND MakeChild(const wchar_t* windowClass, const wchar_t* text, DWORD style, const Place& at,
               HWND parent, int id, HINSTANCE instance) {
  return CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, at.left, at.top,
                         at.width, at.height, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

void SetFont(HWND control, const UniqueGdiObject& font) {
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
}

}  // namespace

void TMainForm::RegisterClasses() const {
  WNDCLASSEXW main{};
  main.cbSize = sizeof main;
  main.lpfnWndProc = WindowProc;
  main.hInstance = instance_;
  main.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_VELTRAN));
  main.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  main.hbrBackground = CreateSolidBrush(kWindowColour);  // lives as long as the class
  main.lpszClassName = kMainClass;
  RegisterClassExW(&main);

  WNDCLASSEXW picture{};
  picture.cbSize = sizeof picture;
  picture.lpfnWndProc = ButtonProc;
  picture.hInstance = instance_;
  picture.hCursor = main.hCursor;
  picture.lpszClassName = kButtonClass;
  RegisterClassExW(&picture);
}

void TMainForm::CreateMainWindow() {
  LoadPictures();
  window_ = UniqueWindow(CreateWindowExW(WS_EX_TOPMOST, kMainClass, kMainTitle,
                                         WS_POPUP | WS_CLIPCHILDREN, 0, 0, kWidth, kHeight, nullptr,
                                         nullptr, instance_, this));
  if (!window_) throw std::runtime_error("the main window cannot be created");
  CreateFontsAndBrushes();
  SetShape();
  CreateControls();
  SetTimer(window_.get(), kTimer2Id, TimerIntervalMs(TimerId::kTimer2), nullptr);
}

void TMainForm::LoadPictures() {
  background_ = LoadPixels(instance_, IDB_BACKGROUND);
  for (std::size_t i = 0; i < kButtonCount; ++i) {
    normal_[i] = LoadPixels(instance_, kButtons[i].normalId);
    hover_[i] = LoadPixels(instance_, kButtons[i].hoverId);
  }
}

void TMainForm::CreateFontsAndBrushes() {
  windowFont_ = MakeFont(kWindowFont);
  const HDC dc = GetDC(window_.get());
  nocheckFont_ = FontFittingWidth(dc, kNocheckFont, kNocheckText, kNocheckLabel.width);
  ReleaseDC(window_.get(), dc);
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    fieldBrushes_[i] = UniqueGdiObject(CreateSolidBrush(kFields[i].colour));
  }
  listBrush_ = UniqueGdiObject(CreateSolidBrush(kListColour));
  labelBrush_ = UniqueGdiObject(CreateSolidBrush(kWindowColour));
}

void TMainForm::SetShape() {
  UniqueGdiObject shape(CreateRoundRectRgn(0, 0, kWidth, kHeight, 50, 50));
  const RECT notches[] = {
      {100, -5, 300, 6}, {100, 195, 300, 205}, {-5, 50, 5, 150}, {395, 50, 405, 150}};
  for (const RECT& n : notches) {
    const UniqueGdiObject notch(CreateRoundRectRgn(n.left, n.top, n.right, n.bottom, 10, 10));
    CombineRgn(As<HRGN>(shape), As<HRGN>(shape), As<HRGN>(notch), RGN_DIFF);
  }
  // The window owns the region from here on.
  if (SetWindowRgn(window_.get(), As<HRGN>(shape), TRUE) != 0) shape.Release();
}

void TMainForm::CreateControls() {
  CreateFields();
  CreateDriveList();
  CreateProgressBar();
  CreateButtons();
}

void TMainForm::CreateFields() {
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    const wchar_t* initial = static_cast<Field>(i) == Field::kDownloadFile ? kNotOpenText : L"";
    fields_[i] =
        MakeChild(L"STATIC", initial, SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY | SS_SUNKEN,
                  kFields[i].field, window_.get(), 0, instance_);
    SetFont(fields_[i], windowFont_);
  }
}

void TMainForm::CreateDriveList() {
  // Drawn by the window so that its colour holds under every visual style; no Tab stop.
  driveList_ = MakeChild(L"COMBOBOX", L"",
                         CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL,
                         kDriveList, window_.get(), 0, instance_);
  SetFont(driveList_, windowFont_);
}

void TMainForm::CreateProgressBar() {
  progress_ = MakeChild(PROGRESS_CLASSW, L"", 0, kProgressBar, window_.get(), 0, instance_);
  // A visual style would paint its own background over the colour.
  RemoveVisualStyle(progress_);
  SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
  SendMessageW(progress_, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(kBarBackground));
}

void TMainForm::CreateButtons() {
  tooltip_ = UniqueWindow(CreateWindowExW(
      WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_.get(), nullptr, instance_, nullptr));
  for (std::size_t i = 0; i < kButtonCount; ++i) {
    const ButtonSpec& button = kButtons[i];
    buttonWindows_[i] =
        MakeChild(kButtonClass, L"", 0, {button.home.x, button.home.y, kButtonWidth, kButtonHeight},
                  window_.get(), static_cast<int>(i), instance_);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_.get();
    tool.uId = reinterpret_cast<UINT_PTR>(buttonWindows_[i]);
    tool.lpszText = const_cast<wchar_t*>(button.hint);
    SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void TMainForm::CentreAndShow() {
  const int left = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  SetWindowPos(window_.get(), HWND_TOPMOST, left, top, kWidth, kHeight, SWP_NOACTIVATE);
  ShowWindow(window_.get(), SW_SHOW);
  SetForegroundWindow(window_.get());
  SetFocus(window_.get());
  UpdateWindow(window_.get());
}

}  // namespace veltran::win32
