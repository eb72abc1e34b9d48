// TMainForm: the background picture and the labels on it, the fields' colours and the drive
// list's items.
#include <windows.h>

#include <string>
#include <string_view>

#include "veltranmain.h"
#include "wide_text.h"

namespace veltran::win32 {
namespace {

constexpr UINT kLabelFormat = DT_SINGLELINE | DT_NOPREFIX;

void DrawLabel(HDC dc, const Place& place, std::wstring_view text, UINT format) {
  RECT r = place.rect();
  DrawTextW(dc, text.data(), static_cast<int>(text.size()), &r, kLabelFormat | format);
}

}  // namespace

void TMainForm::Paint() {
  PAINTSTRUCT ps;
  const HDC dc = BeginPaint(window_.get(), &ps);
  DrawPixels(dc, 0, 0, background_);
  DrawLabels(dc);
  if (nocheckShown_) DrawNocheckLabel(dc);
  EndPaint(window_.get(), &ps);
}

// The labels beside the list and the fields: transparent, right-justified.
void TMainForm::DrawLabels(HDC dc) const {
  const HGDIOBJ previous = SelectObject(dc, windowFont_.get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  DrawLabel(dc, kDriveLabel, kDriveLabelText, DT_RIGHT | DT_VCENTER);
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    DrawLabel(dc, kFields[i].label, WideFromUtf8(FieldLabel(static_cast<Field>(i))),
              DT_RIGHT | DT_TOP);
  }
  SelectObject(dc, previous);
}

// A disabled label: its caption in the system's disabled-text colour, on its own background.
void TMainForm::DrawNocheckLabel(HDC dc) const {
  const RECT r = kNocheckLabel.rect();
  FillRect(dc, &r, As<HBRUSH>(labelBrush_));
  const HGDIOBJ previous = SelectObject(dc, nocheckFont_.get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  DrawLabel(dc, kNocheckLabel, kNocheckText, DT_LEFT | DT_TOP);
  SelectObject(dc, previous);
}

LRESULT TMainForm::ColourStatic(HDC dc, HWND control) {
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (fields_[i] != control) continue;
    SetBkColor(dc, kFields[i].colour);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(fieldBrushes_[i].get());
  }
  return DefWindowProcW(window_.get(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                        reinterpret_cast<LPARAM>(control));
}

void TMainForm::MeasureListItem(MEASUREITEMSTRUCT& item) {
  item.itemHeight = item.itemID == static_cast<UINT>(-1) ? kListSelectionHeight : kListItemHeight;
}

void TMainForm::DrawListItem(const DRAWITEMSTRUCT& item) const {
  if (item.hwndItem != driveList_) return;
  const bool selected = (item.itemState & ODS_SELECTED) != 0 &&
                        ((item.itemState & ODS_COMBOBOXEDIT) == 0 || GetFocus() == driveList_);
  FillRect(item.hDC, &item.rcItem,
           selected ? GetSysColorBrush(COLOR_HIGHLIGHT) : As<HBRUSH>(listBrush_));
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

}  // namespace veltran::win32
