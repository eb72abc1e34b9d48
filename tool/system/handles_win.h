// The kinds of Windows handle that more than one part of the tool owns. Which value means
// "nothing" is a property of the call that makes the handle, not of the HANDLE type, and a kind
// never takes both null and INVALID_HANDLE_VALUE for empty: the same -1 is the pseudo handle of
// the current process.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace veltran {

// What CreateFile and CreateToolhelp32Snapshot return; they fail with INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

// Processes, threads and tokens; OpenProcess and its kin fail with null.
struct KernelObjectTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { CloseHandle(h); }
};
using UniqueKernelObject = UniqueHandle<KernelObjectTraits>;

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};

// A loaded library, freed when the owner goes, and the entry points it exports.
class LibraryModule : public UniqueHandle<ModuleTraits> {
 public:
  using UniqueHandle<ModuleTraits>::UniqueHandle;

  // The named entry point cast to the function type F; nullptr when it is missing.
  template <typename F>
  F Entry(const char* name) const {
    if (!*this) return nullptr;
    // Through the generic function pointer type, the one cast between function types GCC
    // accepts silently.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(get(), name)));
  }
};

}  // namespace veltran
