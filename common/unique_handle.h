// One move-only owner for every kind of OS handle. A kind is a small traits struct:
//
//   struct Traits {
//     using Handle = ...;              // what the OS hands out
//     static Handle Empty();           // the value that owns nothing
//     static void Close(Handle);       // gives a handle that is not Empty() back to the OS
//   };
//
// Kinds differ in which value means "nothing" (null, -1, INVALID_HANDLE_VALUE); each says so in
// its own Empty(), and this owner never guesses. No OS header here: the traits live beside the
// code that makes the handles.
#pragma once

#include <utility>

namespace veltran {

template <class Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  // Safe on itself: Release() empties this owner before Reset() looks at it.
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Empty(); }
  // Hands the handle over to the caller, who closes it from now on.
  Handle Release() { return std::exchange(handle_, Traits::Empty()); }
  // The old handle is closed while this owner still holds it: a window's WM_DESTROY handler
  // finds its window through the owner.
  void Reset(Handle handle = Traits::Empty()) {
    if (handle_ != Traits::Empty()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::Empty();
};

}  // namespace veltran
