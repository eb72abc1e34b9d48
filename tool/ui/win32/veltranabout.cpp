#include "veltranabout.h"

#include <string>

#include "app/main_form.h"
#include "resource.h"
#include "wide_text.h"

namespace veltran::win32 {
namespace {

constexpr int kClientWidth = 318;
constexpr int kClientHeight = 163;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;  // a close box, nothing else
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

TAboutForm* BoxOf(HWND hwnd) {
  return reinterpret_cast<TAboutForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

HWND Element(HWND parent, HINSTANCE instance, const wchar_t* windowClass, const std::wstring& text,
             DWORD style, int top, int width, int height, int id, HFONT font) {
  const HWND child = CreateWindowExW(
      0, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, (kClientWidth - width) / 2, top,
      width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

}  // namespace

TAboutForm::TAboutForm(HINSTANCE instance, HWND owner, HFONT font) : owner_(owner) {
  WNDCLASSEXW box{};
  box.cbSize = sizeof box;
  box.lpfnWndProc = WindowProc;
  box.hInstance = instance;
  box.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  box.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  box.lpszClassName = kAboutClass;
  RegisterClassExW(&box);

  const AboutBoxText about;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  window_ = UniqueWindow(CreateWindowExW(kExStyle, kAboutClass, WideFromUtf8(about.title).c_str(),
                                         kStyle, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                         (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width,
                                         height, owner, nullptr, instance, this));
  CreateElements(instance, font);
}

void TAboutForm::CreateElements(HINSTANCE instance, HFONT font) {
  const AboutBoxText about;
  const HWND hwnd = window_.get();
  const DWORD text = SS_CENTER | SS_NOPREFIX;
  Element(hwnd, instance, L"STATIC", WideFromUtf8(about.version), text, 8, kClientWidth, 13, -1,
          font);
  icon_ = UniqueIcon(static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELTRAN), IMAGE_ICON, 32, 32, 0)));
  const HWND picture =
      Element(hwnd, instance, L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, 25, 33, 33, -1, font);
  SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(icon_.get()), 0);
  SetWindowPos(picture, nullptr, (kClientWidth - 33) / 2, 25, 33, 33, SWP_NOZORDER);
  Element(hwnd, instance, L"STATIC", WideFromUtf8(about.caption), text, 64, kClientWidth, 13, -1,
          font);
  Element(hwnd, instance, L"STATIC", WideFromUtf8(about.credits), text, 80, kClientWidth, 13, -1,
          font);
  Element(hwnd, instance, L"STATIC", WideFromUtf8(about.date), text, 96, kClientWidth, 13, -1,
          font);
  Element(hwnd, instance, L"STATIC", WideFromUtf8(about.maker), text, 112, 280, 13, -1, font);
  Element(hwnd, instance, L"BUTTON", L"&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 140, 57, 17, IDOK,
          font);
}

void TAboutForm::ShowModal() {
  EnableWindow(owner_, FALSE);
  shown_ = true;
  ShowWindow(window_.get(), SW_SHOW);
  SetForegroundWindow(window_.get());
  SetFocus(GetDlgItem(window_.get(), IDOK));
  MSG msg{};
  while (shown_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // the outer loop ends too
      CloseBox();
      break;
    }
    if (!IsDialogMessageW(window_.get(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void TAboutForm::CloseBox() {
  if (!shown_) return;
  shown_ = false;
  // The owner is enabled before the box goes, so that it becomes the active window again.
  EnableWindow(owner_, TRUE);
  ShowWindow(window_.get(), SW_HIDE);
  SetForegroundWindow(owner_);
}

LRESULT CALLBACK TAboutForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(
        hwnd, GWLP_USERDATA,
        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  }
  TAboutForm* self = BoxOf(hwnd);
  switch (message) {
    case WM_COMMAND:
      if (self != nullptr && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        self->CloseBox();  // Button1Click, Return and Escape
        return 0;
      }
      break;
    case WM_CLOSE:
      if (self != nullptr) self->CloseBox();
      return 0;
    case WM_CTLCOLORSTATIC:
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace veltran::win32
