#pragma once
// Helpers shared by the graph control's tests: the text of a thrown Exception*, and a viewer
// that records what its layers and zoom scale ask of it instead of touching a window.

#include <functional>
#include <string>
#include <vector>

#include "arrayviewer/draw_context.h"
#include "base/errors.h"

namespace ArrayViewerTest {

// Runs `f` and returns the message of the Exception* it throws, or "" when it throws none.
inline std::string ThrownText(const std::function<void()>& f) {
    try {
        f();
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        return e->message;
    }
    return "";
}

class FakeViewer : public ArrayViewer::IViewer {
  public:
    void Paint(ArrayViewer::DeviceContext hdc, const ArrayViewer::Rect* updateRect) override { ++paints; }
    ArrayViewer::DeviceContext AcquireWindowDC() override {
        ++openDCs;
        return windowDC;
    }
    void ReleaseWindowDC(ArrayViewer::DeviceContext hdc) override { --openDCs; }
    void InvertRectangle(ArrayViewer::DeviceContext hdc, const ArrayViewer::Rect& r) override { inverted.push_back(r); }
    void CaptureMouse() override { captured = true; }
    void ReleaseMouse() override { captured = false; }

    // Any non-null value stands for a device context of the window.
    ArrayViewer::DeviceContext windowDC = reinterpret_cast<ArrayViewer::DeviceContext>(1);
    int paints = 0;
    int openDCs = 0;
    bool captured = false;
    std::vector<ArrayViewer::Rect> inverted;
};

}  // namespace ArrayViewerTest
