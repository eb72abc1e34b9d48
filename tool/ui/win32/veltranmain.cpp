#include "veltranmain.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <iterator>
#include <string_view>

#include "platform/platform.h"
#include "system_calls.h"
#include "veltranabout.h"
#include "wide_text.h"

namespace veltran::win32 {
namespace {

// A move started from the caption: the system's move loop then follows the pointer.
constexpr WPARAM kMoveCommand = SC_MOVE | HTCAPTION;
static_assert(kMoveCommand == 0xF012);
constexpr int kVirtualKeyF9 = VK_F9;
static_assert(kVirtualKeyF9 == kKeyF9);

}  // namespace

TMainForm::TMainForm(HINSTANCE instance, Platform& platform, std::string commandLine)
    : instance_(instance),
      platform_(platform),
      commandLine_(std::move(commandLine)),
      loop_(platform.system().clock()) {}

TMainForm::~TMainForm() {
  // The worker, if one ever ran, has finished: the window closes only after it has.
  form_.reset();
  standIn_.reset();
}

void TMainForm::Run() {
  RegisterClasses();
  CreateMainWindow();
  standIn_ = std::make_unique<ClockStandIn>(platform_.system().clock(), [hwnd = window_.get()] {
    PostMessageW(hwnd, kWakeMessage, 0, 0);
  });
  about_ = std::make_unique<TAboutForm>(instance_, window_.get(), As<HFONT>(windowFont_));
  form_ = std::make_unique<MainForm>(platform_.system(), platform_.transport(), *this,
                                     MainFormEnvironment{commandLine_, ""});
  form_->FormCreate();
  RepaintButton(buttons_.RestoreStep());
  if (!closed_) {
    CentreAndShow();
    form_->FormShow();
  }
  MessageLoop();
}

void TMainForm::MessageLoop() {
  MSG msg{};
  for (;;) {
    RunDue();
    UpdateShutdownBlock();
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      standIn_->Release(closed_ ? std::nullopt : loop_.NextDeadline());
    }
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    standIn_->Hold();
    if (got <= 0) return;
    // The window sees key presses before its controls.
    if (msg.message == WM_KEYDOWN && window_ &&
        (msg.hwnd == window_.get() || IsChild(window_.get(), msg.hwnd))) {
      form_->FormKeyDown(static_cast<int>(msg.wParam));
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void TMainForm::WithTimeHeld(const std::function<void()>& work) {
  if (!standIn_ || !standIn_->released()) {
    work();
    return;
  }
  standIn_->Hold();
  work();
  standIn_->Release(closed_ ? std::nullopt : loop_.NextDeadline());
}

void TMainForm::Modal(const std::function<void()>& modalLoop) {
  const bool held = standIn_ && !standIn_->released();
  if (held) standIn_->Release(closed_ ? std::nullopt : loop_.NextDeadline());
  modalLoop();
  if (held) standIn_->Hold();
}

void TMainForm::RunDue() {
  while (!closed_ && loop_.RunDue([this](TimerId timer) { Fire(timer); })) {
  }
}

void TMainForm::Fire(TimerId timer) { form_->OnTimer(timer); }

void TMainForm::UpdateShutdownBlock() {
  const bool running = form_ && form_->FinalCommandRunning();
  if (running == shutdownBlocked_ || !window_) return;
  shutdownBlocked_ = running;
  BlockShutdown(window_.get(), running ? kShutdownReason : nullptr);
}

// --- MainWindow ----------------------------------------------------------------------------

void TMainForm::SetFieldText(Field field, std::string_view text) {
  SetWindowTextW(fields_[static_cast<std::size_t>(field)], WideFromUtf8(text).c_str());
}

void TMainForm::AddDriveListItem(std::string_view text) {
  SendMessageW(driveList_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(text).c_str()));
}

void TMainForm::SelectDriveListItem(int index) {
  SendMessageW(driveList_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void TMainForm::ShowNocheckLabel() {
  nocheckShown_ = true;
  const RECT r = kNocheckLabel.rect();
  InvalidateRect(window_.get(), &r, FALSE);
}

void TMainForm::SetProgress(int position) {
  SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(std::clamp(position, 0, 100)), 0);
}

void TMainForm::EnableTimer(TimerId timer, bool enabled) { loop_.EnableTimer(timer, enabled); }

void TMainForm::EnableExitButton(bool enabled) {
  exitEnabled_ = enabled;
  if (!enabled && pressed_ == ButtonId::kExit) PressButton(ButtonId::kExit, false);
}

void TMainForm::SetBusy(bool busy) {
  busy_ = busy;
  if (busy) {
    SetCapture(window_.get());
  } else if (GetCapture() == window_.get()) {
    ReleaseCapture();
  }
  SetCursorFor(busy);
}

void TMainForm::SetCursorFor(bool busy) const {
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void TMainForm::ShowMessage(const MessageBoxSpec& box) {
  UINT flags = MB_OK;
  if (box.errorIcon) flags |= MB_ICONERROR;
  if (box.systemModal) flags |= MB_SYSTEMMODAL;
  const std::wstring text = WideFromUtf8(box.text, true);
  const std::wstring caption = WideFromUtf8(box.caption);
  Modal([&] { MessageBoxW(window_.get(), text.c_str(), caption.c_str(), flags); });
}

void TMainForm::Close() {
  if (closed_) return;
  closed_ = true;
  loop_.Quit();
  PostMessageW(window_.get(), kCloseMessage, 0, 0);
}

void TMainForm::Post(std::function<void()> work) {
  loop_.Post(std::move(work));
  if (standIn_) standIn_->Interrupt();
  PostMessageW(window_.get(), kWakeMessage, 0, 0);
}

// --- Window procedure ------------------------------------------------------------------------

TMainForm* TMainForm::FromWindow(HWND hwnd) {
  return reinterpret_cast<TMainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK TMainForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  TMainForm* self = FromWindow(hwnd);
  // Until CreateWindowEx has returned, and once the core has closed the window, the system
  // answers.
  if (self == nullptr || self->window_.get() != hwnd) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->Handle(message, wParam, lParam);
}

LRESULT TMainForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const auto result = HandleLifecycle(message)) return *result;
  if (const auto result = HandleControls(message, wParam, lParam)) return *result;
  if (const auto result = HandleMouse(message, wParam, lParam)) return *result;
  return DefWindowProcW(window_.get(), message, wParam, lParam);
}

std::optional<LRESULT> TMainForm::HandleLifecycle(UINT message) {
  switch (message) {
    case kWakeMessage:
      WithTimeHeld([this] { RunDue(); });
      return 0;
    case kCloseMessage:
      window_.Reset();  // WM_DESTROY still finds the window and ends the loop
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:  // Alt+F4 and every other request to close from outside
      WithTimeHeld([this] {
        if (form_->FormCloseQuery()) Close();
      });
      return 0;
    case WM_QUERYENDSESSION:
      return form_ && form_->FormCloseQuery() ? TRUE : FALSE;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    default:
      return std::nullopt;
  }
}

std::optional<LRESULT> TMainForm::HandleControls(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
      return ColourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MEASUREITEM:
      MeasureListItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DRAWITEM:
      DrawListItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lParam) == driveList_ && HIWORD(wParam) == CBN_SELCHANGE) {
        const auto index = static_cast<int>(SendMessageW(driveList_, CB_GETCURSEL, 0, 0));
        WithTimeHeld([this, index] { form_->ComboBox1Change(index); });
      }
      return 0;
    case WM_TIMER:
      if (wParam == kTimer2Id) Timer2Tick();
      return 0;
    default:
      return std::nullopt;
  }
}

std::optional<LRESULT> TMainForm::HandleMouse(UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_SETCURSOR:
      if (!busy_) return std::nullopt;
      SetCursorFor(true);
      return TRUE;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      StartMove({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_MOUSEMOVE:
      if (!OnLabel({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)})) {
        RepaintButton(buttons_.PointerOverBackground());
      }
      return 0;
    default:
      return std::nullopt;
  }
}

// Labels, like the fields and the list, neither start a move nor count as the background.
bool TMainForm::OnLabel(POINT at) const {
  const auto on = [&at](const Place& place) {
    const RECT r = place.rect();
    return PtInRect(&r, at) != FALSE;
  };
  if (on(kDriveLabel) || (nocheckShown_ && on(kNocheckLabel))) return true;
  return std::any_of(std::begin(kFields), std::end(kFields),
                     [&on](const FieldSpec& field) { return on(field.label); });
}

void TMainForm::StartMove(POINT at) {
  if (OnLabel(at)) return;
  ReleaseCapture();
  Modal([this] { SendMessageW(window_.get(), WM_SYSCOMMAND, kMoveCommand, 0); });
}

void TMainForm::Timer2Tick() {
  POINT pointer{};
  RECT frame{};
  if (!GetCursorPos(&pointer) || !GetWindowRect(window_.get(), &frame)) return;
  RepaintButton(buttons_.Timer2Tick(pointer.x - frame.left, pointer.y - frame.top));
}

}  // namespace veltran::win32
