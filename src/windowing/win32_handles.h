#pragma once
// Move-only owners of the Win32 kernel and user handles the shell uses (GDI objects live in gdi_objects.h).

#include <windows.h>

#include "base/unique_handle.h"

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
using OwnedKernelHandle = UniqueHandle<KernelHandleTraits>;
// An icon loaded without LR_SHARED (DestroyIcon).
using OwnedIcon = UniqueHandle<IconTraits>;
