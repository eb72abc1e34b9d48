#include "veltranmain.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "resource.h"
#include "system_calls.h"
#include "veltranabout.h"
#include "wide_text.h"

namespace veltran::win32 {
namespace {

constexpr UINT kWakeMessage = WM_APP;       // posted work or a timer deadline
constexpr UINT kCloseMessage = WM_APP + 1;  // the core closed the window
constexpr UINT_PTR kTimer2Id = 2;
constexpr WPARAM kMoveCommand = 0xF012;  // SC_MOVE started from the caption
constexpr int kVirtualKeyF9 = VK_F9;
static_assert(kVirtualKeyF9 == kKeyF9);

constexpr int kWidth = 400;
constexpr int kHeight = 200;
constexpr COLORREF kWindowColour = RGB(6, 32, 64);
constexpr COLORREF kListColour = RGB(192, 224, 255);
constexpr COLORREF kBarBackground = RGB(160, 192, 240);
constexpr wchar_t kButtonClass[] = L"TImage";

struct Place {
  int left, top, width, height;
  RECT rect() const { return {left, top, left + width, top + height}; }
};

struct LabelSpec {
  Place place;
  const wchar_t* text;
  bool centredVertically;
};
constexpr LabelSpec kLabels[] = {
    {{45, 60, 74, 13}, L"Drive :", true},
    {{12, 83, 107, 13}, L"Model Name :", false},
    {{12, 99, 107, 13}, L"Old Version :", false},
    {{12, 115, 107, 13}, L"New Version :", false},
    {{12, 131, 107, 13}, L"Download File :", false},
    {{12, 147, 107, 13}, L"Status :", false},
};
constexpr Place kNocheckLabel{8, 40, 75, 13};

struct FieldSpec {
  Place place;
  COLORREF colour;
};
// StaticText1 to StaticText5, in the order of Field.
constexpr FieldSpec kFields[] = {
    {{120, 83, 235, 15}, RGB(255, 255, 208)}, {{120, 99, 41, 15}, RGB(255, 255, 208)},
    {{120, 115, 41, 15}, RGB(255, 255, 208)}, {{120, 131, 201, 15}, RGB(192, 224, 255)},
    {{120, 147, 73, 15}, RGB(255, 221, 208)},
};
constexpr Place kDriveList{119, 56, 260, 100};
constexpr int kListItemHeight = 13;
constexpr int kListSelectionHeight = 15;  // the closed list is 21 pixels high
constexpr Place kProgressBar{31, 168, 337, 16};

struct ButtonSpec {
  POINT home;
  const wchar_t* hint;
  int normalId, hoverId;
};
constexpr ButtonSpec kButtons[kButtonCount] = {
    {{8, 8}, L"Download File Open", IDB_OPEN_NORMAL, IDB_OPEN_HOVER},
    {{36, 8}, L"Start Download", IDB_START_NORMAL, IDB_START_HOVER},
    {{64, 8}, L"About Veltran", IDB_ABOUT_NORMAL, IDB_ABOUT_HOVER},
    {{362, 8}, L"Exit", IDB_EXIT_NORMAL, IDB_EXIT_HOVER},
};
constexpr int kButtonWidth = 26, kButtonHeight = 25;

std::uint32_t Rgb(COLORREF c) {
  return (std::uint32_t{GetRValue(c)} << 16) | (std::uint32_t{GetGValue(c)} << 8) | GetBValue(c);
}

UniqueGdiObject MakeFont(bool bold) {
  return UniqueGdiObject(CreateFontW(-11, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
}

TMainForm* FormOf(HWND hwnd) {
  return reinterpret_cast<TMainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

HWND MakeChild(const wchar_t* windowClass, const wchar_t* text, DWORD style, const Place& at,
               HWND parent, int id, HINSTANCE instance, DWORD exStyle = 0) {
  return CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, at.left, at.top,
                         at.width, at.height, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

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
  about_ = std::make_unique<TAboutForm>(instance_, window_.get(), As<HFONT>(boldFont_));
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

void TMainForm::RegisterClasses() const {
  WNDCLASSEXW main{};
  main.cbSize = sizeof main;
  main.lpfnWndProc = WindowProc;
  main.hInstance = instance_;
  main.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_VELTRAN));
  main.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  main.hbrBackground = CreateSolidBrush(kWindowColour);          // lives as long as the class
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
  background_ = LoadPixels(instance_, IDB_BACKGROUND);
  for (std::size_t i = 0; i < kButtonCount; ++i) {
    normal_[i] = LoadPixels(instance_, kButtons[i].normalId);
    hover_[i] = LoadPixels(instance_, kButtons[i].hoverId);
  }
  boldFont_ = MakeFont(true);
  regularFont_ = MakeFont(false);
  for (std::size_t i = 0; i < std::size(kFields); ++i) {
    fieldBrushes_[i] = UniqueGdiObject(CreateSolidBrush(kFields[i].colour));
  }
  listBrush_ = UniqueGdiObject(CreateSolidBrush(kListColour));
  labelBrush_ = UniqueGdiObject(CreateSolidBrush(kWindowColour));

  window_ = UniqueWindow(CreateWindowExW(WS_EX_TOPMOST, kMainClass, kMainTitle,
                                         WS_POPUP | WS_CLIPCHILDREN, 0, 0, kWidth, kHeight, nullptr,
                                         nullptr, instance_, this));
  if (!window_) throw std::runtime_error("the main window cannot be created");
  SetShape();
  CreateControls();
  SetTimer(window_.get(), kTimer2Id, TimerIntervalMs(TimerId::kTimer2), nullptr);
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
  for (std::size_t i = 0; i < std::size(kFields); ++i) {
    const wchar_t* initial = static_cast<Field>(i) == Field::kDownloadFile ? L"Not Open" : L"";
    fields_[i] =
        MakeChild(L"STATIC", initial, SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY | SS_SUNKEN,
                  kFields[i].place, window_.get(), 0, instance_);
    SendMessageW(fields_[i], WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_.get()), FALSE);
  }
}

void TMainForm::CreateDriveList() {
  // Drawn by the window so that its colour holds under every visual style; no Tab stop.
  driveList_ = MakeChild(L"COMBOBOX", L"",
                         CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL,
                         kDriveList, window_.get(), 0, instance_);
  SendMessageW(driveList_, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_.get()), FALSE);
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
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(busy ? 32514 : 32512)));  // IDC_WAIT, IDC_ARROW
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

LRESULT CALLBACK TMainForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  TMainForm* self = FormOf(hwnd);
  if (self == nullptr || self->window_.get() != hwnd) {
    // Messages sent while CreateWindowEx has not yet returned.
    if (self != nullptr && message == WM_MEASUREITEM) {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      item->itemHeight =
          item->itemID == static_cast<UINT>(-1) ? kListSelectionHeight : kListItemHeight;
      return TRUE;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->Handle(message, wParam, lParam);
}

LRESULT TMainForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = window_.get();
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
    case WM_CTLCOLORSTATIC:
      return ColourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      item->itemHeight =
          item->itemID == static_cast<UINT>(-1) ? kListSelectionHeight : kListItemHeight;
      return TRUE;
    }
    case WM_DRAWITEM:
      DrawListItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lParam) == driveList_ && HIWORD(wParam) == CBN_SELCHANGE) {
        const auto index = static_cast<int>(SendMessageW(driveList_, CB_GETCURSEL, 0, 0));
        WithTimeHeld([this, index] { form_->ComboBox1Change(index); });
      }
      return 0;
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
        return TRUE;
      }
      break;
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
    case WM_TIMER:
      if (wParam == kTimer2Id) Timer2Tick();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void TMainForm::Paint() {
  PAINTSTRUCT ps;
  const HDC dc = BeginPaint(window_.get(), &ps);
  DrawPixels(dc, 0, 0, background_);
  DrawLabels(dc);
  EndPaint(window_.get(), &ps);
}

void TMainForm::DrawLabels(HDC dc) const {
  const HGDIOBJ previous = SelectObject(dc, boldFont_.get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  for (const LabelSpec& label : kLabels) {
    RECT r = label.place.rect();
    const UINT vertical = label.centredVertically ? DT_VCENTER : DT_TOP;
    DrawTextW(dc, label.text, -1, &r, DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX | vertical);
  }
  if (nocheckShown_) {
    // A disabled label: the text in the highlight colour one pixel down and right, then in the
    // shadow colour over it.
    RECT r = kNocheckLabel.rect();
    FillRect(dc, &r, As<HBRUSH>(labelBrush_));
    SelectObject(dc, regularFont_.get());
    static constexpr wchar_t kText[] = L"Nocheck Option";
    const UINT format = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
    OffsetRect(&r, 1, 1);
    SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
    DrawTextW(dc, kText, -1, &r, format);
    OffsetRect(&r, -1, -1);
    SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
    DrawTextW(dc, kText, -1, &r, format);
  }
  SelectObject(dc, previous);
}

LRESULT TMainForm::ColourStatic(HDC dc, HWND control) {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i] != control) continue;
    SetBkColor(dc, kFields[i].colour);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(fieldBrushes_[i].get());
  }
  return DefWindowProcW(window_.get(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                        reinterpret_cast<LPARAM>(control));
}

void TMainForm::DrawListItem(const DRAWITEMSTRUCT& item) const {
  if (item.hwndItem != driveList_) return;
  const bool selected = (item.itemState & ODS_SELECTED) != 0 &&
                        ((item.itemState & ODS_COMBOBOXEDIT) == 0 || GetFocus() == driveList_);
  const COLORREF back = selected ? GetSysColor(COLOR_HIGHLIGHT) : kListColour;
  const UniqueGdiObject brush(CreateSolidBrush(back));
  FillRect(item.hDC, &item.rcItem, As<HBRUSH>(brush));
  if (item.itemID == static_cast<UINT>(-1)) return;
  const auto length = SendMessageW(driveList_, CB_GETLBTEXTLEN, item.itemID, 0);
  if (length <= 0) return;
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(driveList_, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  RECT r = item.rcItem;
  r.left += 2;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

bool TMainForm::OnLabel(POINT at) const {
  for (const LabelSpec& label : kLabels) {
    const RECT r = label.place.rect();
    if (PtInRect(&r, at)) return true;
  }
  const RECT nocheck = kNocheckLabel.rect();
  return nocheckShown_ && PtInRect(&nocheck, at);
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

// --- Picture buttons ------------------------------------------------------------------------

LRESULT CALLBACK TMainForm::ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  TMainForm* self = FormOf(GetParent(hwnd));
  const auto id = static_cast<int>(GetDlgCtrlID(hwnd));
  if (self == nullptr || id < 0 || id >= kButtonCount ||
      self->buttonWindows_[static_cast<std::size_t>(id)] != hwnd) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->HandleButton(static_cast<ButtonId>(id), message, wParam, lParam);
}

LRESULT TMainForm::HandleButton(ButtonId id, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto index = static_cast<std::size_t>(id);
  const HWND hwnd = buttonWindows_[index];
  const bool ignored = id == ButtonId::kExit && !exitEnabled_;
  switch (message) {
    case WM_PAINT: {
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
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEMOVE:
      if (ignored) return 0;
      for (const auto changed : buttons_.PointerOverButton(id)) RepaintButton(changed);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (ignored || pressed_) return 0;
      pressedWith_ = message;
      SetCapture(hwnd);
      PressButton(id, true);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      if (pressed_ != id || message != pressedWith_ + 1) return 0;
      RECT client{};
      GetClientRect(hwnd, &client);
      const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      const bool over = PtInRect(&client, at) != FALSE;
      PressButton(id, false);
      if (GetCapture() == hwnd) ReleaseCapture();
      if (over && message == WM_LBUTTONUP) ButtonClicked(id);
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (pressed_ == id && reinterpret_cast<HWND>(lParam) != hwnd) PressButton(id, false);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void TMainForm::RepaintButton(std::optional<ButtonId> id) {
  if (!id) return;
  InvalidateRect(buttonWindows_[static_cast<std::size_t>(*id)], nullptr, FALSE);
}

void TMainForm::PressButton(ButtonId id, bool pressed) {
  const ButtonSpec& button = kButtons[static_cast<std::size_t>(id)];
  const int offset = pressed ? 1 : 0;
  pressed_ = pressed ? std::optional(id) : std::nullopt;
  buttons_.SetPressed(id, pressed);
  SetWindowPos(buttonWindows_[static_cast<std::size_t>(id)], nullptr, button.home.x + offset,
               button.home.y + offset, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(buttonWindows_[static_cast<std::size_t>(id)], nullptr, FALSE);
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
