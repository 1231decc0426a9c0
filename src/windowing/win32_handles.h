#pragma once
// Move-only owners of the Win32 kernel and user handles the shell uses (GDI objects live in gdi_objects.h).

#include <windows.h>

#include <utility>

// Owns one handle of the kind `Traits` describes; closes it exactly once.
template <typename Traits>
class OwnedHandle {
  public:
    using Handle = typename Traits::Handle;

    OwnedHandle() = default;
    explicit OwnedHandle(Handle handle) : handle_(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.Release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~OwnedHandle() { Reset(); }

    Handle Get() const { return handle_; }
    bool IsSet() const { return handle_ != Traits::None(); }
    Handle Release() { return std::exchange(handle_, Traits::None()); }
    void Reset(Handle handle = Traits::None()) {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::None()) {
            Traits::Close(old);
        }
    }

  private:
    Handle handle_ = Traits::None();
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct IconTraits {
    using Handle = HICON;
    static Handle None() { return nullptr; }
    static void Close(Handle h) { DestroyIcon(h); }
};

// A process, thread, event or job handle (CloseHandle).
using OwnedKernelHandle = OwnedHandle<KernelHandleTraits>;
// An icon loaded without LR_SHARED (DestroyIcon).
using OwnedIcon = OwnedHandle<IconTraits>;
