#include "system_calls.h"

#include "system/handles_win.h"

namespace veltran::win32 {
namespace {

template <class Function>
Function Lookup(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  // The documented way to reach an export by name; the cast is the API's contract.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

void RemoveVisualStyle(HWND control) {
  using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  static const LibraryModule theme(LoadLibraryW(L"uxtheme.dll"));
  if (const auto set = Lookup<SetWindowThemeFn>(theme.get(), "SetWindowTheme")) {
    set(control, L" ", L" ");
  }
}

void BlockShutdown(HWND window, const wchar_t* reason) {
  using CreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
  using DestroyFn = BOOL(WINAPI*)(HWND);
  const HMODULE user = GetModuleHandleW(L"user32.dll");
  if (reason != nullptr) {
    if (const auto create = Lookup<CreateFn>(user, "ShutdownBlockReasonCreate")) {
      create(window, reason);
    }
  } else if (const auto destroy = Lookup<DestroyFn>(user, "ShutdownBlockReasonDestroy")) {
    destroy(window);
  }
}

}  // namespace veltran::win32
