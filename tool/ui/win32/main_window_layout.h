// The main window's controls: where each sits, its colours, captions and pictures. Creation,
// painting and the picture buttons all read them from here; the field labels' captions are the
// core's FieldLabel.
#pragma once

#include <windows.h>

#include <cstddef>
#include <iterator>

#include "button_states.h"
#include "resource.h"
#include "window_fonts.h"

namespace veltran::win32 {

struct Place {
  int left, top, width, height;
  RECT rect() const { return {left, top, left + width, top + height}; }
};

inline constexpr int kWidth = 400;
inline constexpr int kHeight = 200;
inline constexpr COLORREF kWindowColour = RGB(6, 32, 64);

// Every control's font but the option label's; no scaling, so its size is in pixels.
inline constexpr FontChoice kWindowFont{L"Tahoma", 11, true};

// Label1, beside the drive list.
inline constexpr Place kDriveLabel{45, 60, 74, 13};
inline constexpr wchar_t kDriveLabelText[] = L"Drive :";

// Label12: drawn disabled on an opaque background, only after the option shows it.
inline constexpr Place kNocheckLabel{8, 40, 75, 13};
inline constexpr wchar_t kNocheckText[] = L"Nocheck Option";
inline constexpr FontChoice kNocheckFont{L"Tahoma", 11, false};

// Label2 to Label6 beside StaticText1 to StaticText5, in the order of Field.
struct FieldSpec {
  Place label;
  Place field;
  COLORREF colour;
};
inline constexpr FieldSpec kFields[] = {
    {{12, 83, 107, 13}, {120, 83, 235, 15}, RGB(255, 255, 208)},
    {{12, 99, 107, 13}, {120, 99, 41, 15}, RGB(255, 255, 208)},
    {{12, 115, 107, 13}, {120, 115, 41, 15}, RGB(255, 255, 208)},
    {{12, 131, 107, 13}, {120, 131, 201, 15}, RGB(192, 224, 255)},
    {{12, 147, 107, 13}, {120, 147, 73, 15}, RGB(255, 221, 208)},
};
inline constexpr std::size_t kFieldCount = std::size(kFields);
inline constexpr wchar_t kNotOpenText[] = L"Not Open";

// ComboBox1, with its drop-down part; the closed list is 21 pixels high.
inline constexpr Place kDriveList{119, 56, 260, 100};
inline constexpr COLORREF kListColour = RGB(192, 224, 255);
inline constexpr int kListItemHeight = 13;
inline constexpr int kListSelectionHeight = 15;

inline constexpr Place kProgressBar{31, 168, 337, 16};
inline constexpr COLORREF kBarBackground = RGB(160, 192, 240);

// Image2 to Image5, in the order of ButtonId.
struct ButtonSpec {
  POINT home;
  const wchar_t* hint;
  int normalId, hoverId;
};
inline constexpr ButtonSpec kButtons[kButtonCount] = {
    {{8, 8}, L"Download File Open", IDB_OPEN_NORMAL, IDB_OPEN_HOVER},
    {{36, 8}, L"Start Download", IDB_START_NORMAL, IDB_START_HOVER},
    {{64, 8}, L"About Veltran", IDB_ABOUT_NORMAL, IDB_ABOUT_HOVER},
    {{362, 8}, L"Exit", IDB_EXIT_NORMAL, IDB_EXIT_HOVER},
};
inline constexpr int kButtonWidth = 26, kButtonHeight = 25;
inline constexpr wchar_t kButtonClass[] = L"TImage";

}  // namespace veltran::win32
