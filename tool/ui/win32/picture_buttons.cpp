// TMainForm: the four picture buttons: their window procedure, hover and press feedback, and
// what a click on each runs.
#include <windows.h>
#include <commdlg.h>
#include <windowsx.h>

#include <cstdint>
#include <string>
#include <vector>

#include "veltranabout.h"
#include "veltranmain.h"
#include "wide_text.h"

namespace veltran::win32 {
namespace {

std::uint32_t Rgb(COLORREF c) {
  return (std::uint32_t{GetRValue(c)} << 16) | (std::uint32_t{GetGValue(c)} << 8) | GetBValue(c);
}

}  // namespace

LRESULT CALLBACK TMainForm::ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  TMainForm* self = FromWindow(GetParent(hwnd));
  const auto id = static_cast<int>(GetDlgCtrlID(hwnd));
  if (self == nullptr || id < 0 || id >= kButtonCount ||
      self->buttonWindows_[static_cast<std::size_t>(id)] != hwnd) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->HandleButton(static_cast<ButtonId>(id), message, wParam, lParam);
}

LRESULT TMainForm::HandleButton(ButtonId id, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = buttonWindows_[static_cast<std::size_t>(id)];
  // A disabled button ignores the mouse.
  const bool ignored = id == ButtonId::kExit && !exitEnabled_;
  switch (message) {
    case WM_PAINT:
      PaintButton(id);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEMOVE:
      if (ignored) return 0;
      for (const auto changed : buttons_.PointerOverButton(id)) RepaintButton(changed);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (!ignored) ButtonDown(id, message);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      ButtonUp(id, message, {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_CAPTURECHANGED:
      if (pressed_ == id && reinterpret_cast<HWND>(lParam) != hwnd) PressButton(id, false);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The button's picture over the part of the background it covers, its key colour left out.
void TMainForm::PaintButton(ButtonId id) {
  const auto index = static_cast<std::size_t>(id);
  const HWND hwnd = buttonWindows_[index];
  PAINTSTRUCT ps;
  const HDC dc = BeginPaint(hwnd, &ps);
  RECT at{};
  GetWindowRect(hwnd, &at);
  MapWindowPoints(nullptr, window_.get(), reinterpret_cast<POINT*>(&at), 2);
  const Picture shown = buttons_[id].shown;
  const Pixels* picture = shown == Picture::kNormal  ? &normal_[index]
                          : shown == Picture::kHover ? &hover_[index]
                                                     : nullptr;
  DrawPixels(dc, 0, 0, ComposeOver(background_, at.left, at.top, picture, Rgb(kWindowColour)));
  EndPaint(hwnd, &ps);
}

void TMainForm::ButtonDown(ButtonId id, UINT message) {
  if (pressed_) return;
  pressedWith_ = message;
  SetCapture(buttonWindows_[static_cast<std::size_t>(id)]);
  PressButton(id, true);
}

// The release comes to the button that was pressed, wherever the pointer is; a click is a left
// button pressed and released over the same button.
void TMainForm::ButtonUp(ButtonId id, UINT message, POINT at) {
  if (pressed_ != id || message != pressedWith_ + 1) return;
  const HWND hwnd = buttonWindows_[static_cast<std::size_t>(id)];
  RECT client{};
  GetClientRect(hwnd, &client);
  const bool over = PtInRect(&client, at) != FALSE;
  PressButton(id, false);
  if (GetCapture() == hwnd) ReleaseCapture();
  if (over && message == WM_LBUTTONUP) ButtonClicked(id);
}

void TMainForm::RepaintButton(std::optional<ButtonId> id) {
  if (!id) return;
  InvalidateRect(buttonWindows_[static_cast<std::size_t>(*id)], nullptr, FALSE);
}

// A pressed button sits one pixel right of and below its home.
void TMainForm::PressButton(ButtonId id, bool pressed) {
  const auto index = static_cast<std::size_t>(id);
  const ButtonSpec& button = kButtons[index];
  const int offset = pressed ? 1 : 0;
  pressed_ = pressed ? std::optional(id) : std::nullopt;
  buttons_.SetPressed(id, pressed);
  SetWindowPos(buttonWindows_[index], nullptr, button.home.x + offset, button.home.y + offset, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(buttonWindows_[index], nullptr, FALSE);
}

void TMainForm::ButtonClicked(ButtonId id) {
  switch (id) {
    case ButtonId::kOpen:
      OpenImage();
      break;
    case ButtonId::kStart:
      WithTimeHeld([this] { form_->ToolButton2Click(); });
      break;
    case ButtonId::kAbout:
      Modal([this] { about_->ShowModal(); });
      break;
    case ButtonId::kExit:
      WithTimeHeld([this] { form_->Image5Click(); });
      break;
  }
}

void TMainForm::OpenImage() {
  std::vector<wchar_t> path(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_.get();
  dialog.lpstrFilter = L"DOWNLOAD FILE(*.BIN)\0*.BIN\0";
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  // The working directory holds the test log and AUTORUN.BIN: the dialog must not move it.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  BOOL chosen = FALSE;
  Modal([&] { chosen = GetOpenFileNameW(&dialog); });
  std::optional<std::string> result;
  if (chosen) result = Utf8FromWide(path.data());
  WithTimeHeld([this, &result] { form_->ToolButton1Click(result); });
}

}  // namespace veltran::win32
