// The kinds of handle only the window owns: GDI objects, windows, icons and memory DCs.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace veltran::win32 {

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { DeleteObject(h); }
};
struct WindowTraits {
  using Handle = HWND;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) {
    if (IsWindow(h)) DestroyWindow(h);
  }
};
struct IconTraits {
  using Handle = HICON;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { DestroyIcon(h); }
};
struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { DeleteDC(h); }
};

using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// The typed GDI handle inside a UniqueGdiObject.
template <class T>
T As(const UniqueGdiObject& object) {
  return static_cast<T>(object.get());
}

}  // namespace veltran::win32
