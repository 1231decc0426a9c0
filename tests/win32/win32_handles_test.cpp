// OwnedHandle: one owner at a time, closed exactly once.

#include "windowing/win32_handles.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != 0;
}

TEST(OwnedHandle, MovesOwnershipAndClosesOnce) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    {
        OwnedKernelHandle first(event);
        OwnedKernelHandle second(std::move(first));
        EXPECT_FALSE(first.Valid());
        EXPECT_EQ(second.Get(), event);

        OwnedKernelHandle third;
        third = std::move(second);
        EXPECT_EQ(third.Get(), event);
        EXPECT_TRUE(IsOpen(event));
    }
    EXPECT_FALSE(IsOpen(event));
}

TEST(OwnedHandle, ResetClosesTheOldHandleAndReleaseGivesItUp) {
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OwnedKernelHandle owner(a);
    owner.Reset(b);
    EXPECT_FALSE(IsOpen(a));
    HANDLE released = owner.Release();
    EXPECT_FALSE(owner.Valid());
    EXPECT_TRUE(IsOpen(released));
    CloseHandle(released);
}

}  // namespace
