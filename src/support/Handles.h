// Small owning types, one per kind of OS resource: closed in the destructor, never copied.
#pragma once

#include <windows.h>

#include <utility>

namespace bw {

// Traits: T, static void Close(T), static T Invalid().
template <typename Traits>
class UniqueResource {
  using T = typename Traits::Type;
  static T Invalid() { return Traits::Invalid(); }

 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  T get() const { return value_; }
  T* put() {
    reset();
    return &value_;
  }
  explicit operator bool() const { return value_ != Invalid(); }
  T release() { return std::exchange(value_, Invalid()); }
  void reset() { reset(Invalid()); }
  void reset(T value) {
    T old = std::exchange(value_, value);
    if (old != Invalid()) Traits::Close(old);
  }

 private:
  T value_ = Invalid();
};

namespace detail {
template <typename H, void (*CloseFn)(H)>
struct NullInvalid {
  using Type = H;
  static H Invalid() { return nullptr; }
  static void Close(H h) { CloseFn(h); }
};
template <void (*CloseFn)(HANDLE)>
struct MinusOneInvalid {
  using Type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseFn(h); }
};
inline void CloseHandleQuietly(HANDLE h) { ::CloseHandle(h); }
inline void CloseKey(HKEY k) { ::RegCloseKey(k); }
inline void UnloadModule(HMODULE m) { ::FreeLibrary(m); }
inline void ReleaseLocal(HLOCAL p) { ::LocalFree(p); }
inline void CloseFind(HANDLE h) { ::FindClose(h); }
inline void ReleaseAndCloseMutex(HANDLE h) {
  ::ReleaseMutex(h);
  ::CloseHandle(h);
}
}  // namespace detail

// Process, thread, pipe, event: zero means none.
using UniqueHandle = UniqueResource<detail::NullInvalid<HANDLE, detail::CloseHandleQuietly>>;
// A mutex this thread owns: released, then closed (on the thread that took it).
using UniqueMutexHold = UniqueResource<detail::NullInvalid<HANDLE, detail::ReleaseAndCloseMutex>>;
// CreateFile reports failure as INVALID_HANDLE_VALUE instead.
using UniqueFileHandle = UniqueResource<detail::MinusOneInvalid<detail::CloseHandleQuietly>>;
using UniqueFindHandle = UniqueResource<detail::MinusOneInvalid<detail::CloseFind>>;
using UniqueKey = UniqueResource<detail::NullInvalid<HKEY, detail::CloseKey>>;
using UniqueModule = UniqueResource<detail::NullInvalid<HMODULE, detail::UnloadModule>>;
using UniqueLocal = UniqueResource<detail::NullInvalid<HLOCAL, detail::ReleaseLocal>>;

}  // namespace bw
