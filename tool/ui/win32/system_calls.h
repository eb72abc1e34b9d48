// Calls that newer Windows versions offer and the 9x family lacks: looked up at run time, so the
// program still starts where they are missing.
#pragma once

#include <windows.h>

namespace veltran::win32 {

// Takes the visual style off one control, so that the colours the program sets are drawn.
void RemoveVisualStyle(HWND control);
// With a reason, asks the session not to end while the reason stands; without, withdraws it.
void BlockShutdown(HWND window, const wchar_t* reason);

}  // namespace veltran::win32
