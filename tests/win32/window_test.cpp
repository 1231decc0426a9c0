// Window: one class per object, creation failures, the root window as default parent, and
// which messages reach the default window procedure.

#include "windowing/window.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "../unit/arrayviewer_test_support.h"
#include "base/errors.h"
#include "message_box_watcher.h"

namespace {

using ArrayViewerTest::ThrownText;

constexpr UINT kProbe = WM_APP + 7;

// Answers with `onMessage` when set (which may clear callDefault), else 0.
class TestWindow : public Window {
  public:
    LRESULT HandleMessage(WindowMessage& message) override { return onMessage ? onMessage(message) : 0; }
    std::function<LRESULT(WindowMessage&)> onMessage;
};

// A small top-level window, created at the origin unless told to centre.
void CreateSmall(TestWindow& window, bool center = false) {
    WindowCreateParams params;
    params.parent = nullptr;
    params.right = 200;
    params.bottom = 100;
    params.center = center;
    window.Create(params);
}

std::string ClassNameOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

bool ClassIsRegistered(const std::string& name) {
    WNDCLASSA info;
    return GetClassInfoA(GetModuleHandleA(nullptr), name.c_str(), &info) != 0;
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(rootWindow, nullptr) << "a window of an earlier test is still alive"; }
};

TEST_F(WindowTest, EachObjectRegistersItsOwnClass) {
    std::string firstClass;
    {
        TestWindow first;
        TestWindow second;
        CreateSmall(first);
        CreateSmall(second);
        ASSERT_NE(first.hwnd, nullptr);
        ASSERT_NE(second.hwnd, nullptr);
        firstClass = first.className;
        EXPECT_EQ(firstClass, "Window:" + std::to_string(reinterpret_cast<uintptr_t>(&first)));
        EXPECT_EQ(std::string(second.className), "Window:" + std::to_string(reinterpret_cast<uintptr_t>(&second)));
        EXPECT_EQ(ClassNameOf(first.hwnd), first.className);
        EXPECT_EQ(ClassNameOf(second.hwnd), second.className);
        EXPECT_TRUE(IsWindowVisible(first.hwnd));
        EXPECT_TRUE(IsWindowVisible(second.hwnd));

        // A destroyed window can be created again; the class is registered anew.
        HWND old = first.hwnd;
        DestroyWindow(first.hwnd);
        EXPECT_EQ(first.hwnd, nullptr);
        EXPECT_FALSE(IsWindow(old));
        CreateSmall(first);
        EXPECT_EQ(ClassNameOf(first.hwnd), firstClass);
        DestroyWindow(first.hwnd);
        DestroyWindow(second.hwnd);
        EXPECT_TRUE(ClassIsRegistered(firstClass));
    }
    EXPECT_FALSE(ClassIsRegistered(firstClass));
}

TEST_F(WindowTest, CreatingTwiceLeavesTheFirstWindowAlone) {
    TestWindow window;
    CreateSmall(window);
    HWND first = window.hwnd;
    EXPECT_EQ(ThrownText([&] { CreateSmall(window); }), "window is already created");
    EXPECT_EQ(window.hwnd, first);
    EXPECT_TRUE(IsWindow(first));
    EXPECT_EQ(ClassNameOf(first), window.className);
    DestroyWindow(first);
}

TEST_F(WindowTest, TheFirstWindowIsTheDefaultParentUntilItIsDestroyed) {
    EXPECT_EQ(WindowCreateParams().parent, nullptr);
    TestWindow root;
    CreateSmall(root);
    EXPECT_EQ(rootWindow, root.hwnd);

    TestWindow child;
    WindowCreateParams params;
    EXPECT_EQ(params.parent, root.hwnd);
    params.style = WS_CHILD;
    params.center = false;
    child.Create(params);
    EXPECT_EQ(GetParent(child.hwnd), root.hwnd);
    EXPECT_EQ(rootWindow, root.hwnd);

    DestroyWindow(root.hwnd);
    EXPECT_EQ(child.hwnd, nullptr) << "the child died with its parent";
    EXPECT_EQ(rootWindow, nullptr);
    EXPECT_EQ(WindowCreateParams().parent, nullptr);
}

TEST_F(WindowTest, DefaultsDescribeACentredEmptyFrame) {
    WindowCreateParams params;
    EXPECT_EQ(params.windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(params.windowClass.hbrBackground, GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(params.windowClass.hInstance, nullptr);
    EXPECT_STREQ(params.title, "");
    EXPECT_EQ(params.style, static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    EXPECT_EQ(params.instance, GetModuleHandleA(nullptr));
    EXPECT_EQ(params.right, 2 * GetSystemMetrics(SM_CXFRAME));
    EXPECT_EQ(params.bottom, 2 * GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION));
    EXPECT_TRUE(params.center);

    TestWindow window;
    CreateSmall(window, true);
    RECT r;
    GetWindowRect(window.hwnd, &r);
    EXPECT_EQ(r.right - r.left, 200);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 200) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 100) / 2);
    DestroyWindow(window.hwnd);
}

TEST_F(WindowTest, CallDefaultDecidesWhoAnswers) {
    TestWindow window;
    CreateSmall(window);
    bool clear = false;
    window.onMessage = [&](WindowMessage& m) -> LRESULT {
        if (m.message == WM_PAINT || m.message == kProbe || m.message == WM_DESTROY) {
            m.callDefault = !clear;
            return 42;
        }
        return 0;
    };
    // The default procedure answers a probe with 0; the handler's 42 counts only once it has
    // cleared callDefault.
    EXPECT_EQ(SendMessageA(window.hwnd, kProbe, 0, 0), 0);
    clear = true;
    EXPECT_EQ(SendMessageA(window.hwnd, kProbe, 0, 0), 42);

    // A handler that takes WM_PAINT over keeps the default procedure from validating the window.
    RECT update;
    InvalidateRect(window.hwnd, nullptr, FALSE);
    EXPECT_EQ(SendMessageA(window.hwnd, WM_PAINT, 0, 0), 42);
    EXPECT_TRUE(GetUpdateRect(window.hwnd, &update, FALSE));
    clear = false;
    SendMessageA(window.hwnd, WM_PAINT, 0, 0);
    EXPECT_FALSE(GetUpdateRect(window.hwnd, &update, FALSE));

    // WM_DESTROY always answers 0 and unbinds the window, whatever the handler said.
    clear = true;
    HWND hwnd = window.hwnd;
    EXPECT_EQ(SendMessageA(hwnd, WM_DESTROY, 0, 0), 0);
    EXPECT_EQ(window.hwnd, nullptr);
    DestroyWindow(hwnd);
}

TEST_F(WindowTest, WmCreateAnswersWithTheHandlersResult) {
    TestWindow refusing;
    refusing.onMessage = [](WindowMessage& m) -> LRESULT { return m.message == WM_CREATE ? -1 : 0; };
    EXPECT_EQ(ThrownText([&] { CreateSmall(refusing); }), "cannot create window");
    EXPECT_EQ(refusing.hwnd, nullptr);
    EXPECT_EQ(refusing.className[0], '\0');
    EXPECT_EQ(rootWindow, nullptr);

    // A handler that throws in WM_CREATE has its error shown and fails the creation.
    TestWindow throwing;
    throwing.onMessage = [](WindowMessage& m) -> LRESULT {
        if (m.message == WM_CREATE) {
            ThrowFixed("no window today");
        }
        return 0;
    };
    MessageBoxWatcher watcher;
    EXPECT_EQ(ThrownText([&] { CreateSmall(throwing); }), "cannot create window");
    SeenBox box = watcher.Result();
    EXPECT_TRUE(box.found);
    EXPECT_EQ(box.text.rfind("no window today", 0), 0u) << box.text;
}

TEST_F(WindowTest, NoExceptionLeavesTheWindowProcedure) {
    TestWindow window;
    CreateSmall(window);
    window.onMessage = [](WindowMessage& m) -> LRESULT {
        if (m.message == kProbe) {
            m.callDefault = false;
            if (m.wParam == 1) {
                ThrowFixed("probe failed");
            }
            throw 7;
        }
        return 0;
    };
    {
        MessageBoxWatcher watcher;
        EXPECT_EQ(SendMessageA(window.hwnd, kProbe, 1, 0), 0);
        EXPECT_EQ(watcher.Result().text.rfind("probe failed", 0), 0u);
    }
    {
        MessageBoxWatcher watcher;
        EXPECT_EQ(SendMessageA(window.hwnd, kProbe, 2, 0), 0);
        EXPECT_EQ(watcher.Result().text, "unknown exception");
    }
    DestroyWindow(window.hwnd);
}

// An object that dies before its window takes the window with it, and the window's last
// messages reach no handler of the half-destroyed object.
TEST_F(WindowTest, AnObjectDestroyedFirstTakesItsWindowAlong) {
    auto window = std::make_unique<TestWindow>();
    int calls = 0;
    window->onMessage = [&](WindowMessage&) -> LRESULT { return ++calls; };
    CreateSmall(*window);
    HWND hwnd = window->hwnd;
    std::string name = window->className;
    int before = calls;
    window.reset();
    EXPECT_EQ(calls, before);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(rootWindow, nullptr);
    EXPECT_FALSE(ClassIsRegistered(name));
}

}  // namespace
