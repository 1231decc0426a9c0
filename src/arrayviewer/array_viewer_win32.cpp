#include "arrayviewer/array_viewer_win32.h"

#include <type_traits>

#include "arrayviewer/input_messages.h"
#include "arrayviewer/rect_win32.h"
#include "base/errors.h"
#include "windowing/gdi_objects.h"

namespace ArrayViewer {

static_assert(std::is_same_v<HDC, DeviceContext>);
static_assert(Input::kKeyDown == WM_KEYDOWN && Input::kMouseMove == WM_MOUSEMOVE &&
              Input::kLeftButtonDown == WM_LBUTTONDOWN && Input::kLeftButtonUp == WM_LBUTTONUP &&
              Input::kMouseWheel == WM_MOUSEWHEEL && Input::kCaptureChanged == WM_CAPTURECHANGED);
static_assert(Input::kVkLeft == VK_LEFT && Input::kVkUp == VK_UP && Input::kVkRight == VK_RIGHT &&
              Input::kVkDown == VK_DOWN);

namespace {

constexpr UINT_PTR kBlinkTimer = 0;
constexpr UINT kBlinkPeriodMs = 500;

}  // namespace

// The window has no class background brush: the platform never erases it, and the layers'
// painting is the only background painting.
void ArrayViewer::Create(const RECT* rect, HWND parent, std::unique_ptr<AbstractZoomScale> zoomScale) {
    WindowCreateParams params;
    params.style = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
    params.parent = parent;
    params.left = rect != nullptr ? rect->left : 0;
    params.top = rect != nullptr ? rect->top : 0;
    params.right = rect != nullptr ? rect->right : 0;
    params.bottom = rect != nullptr ? rect->bottom : 0;
    params.windowClass.style |= CS_DBLCLKS;
    params.windowClass.hbrBackground = nullptr;
    params.center = false;
    params.title = "ArrayViewer";
    Window::Create(params);
    if (zoomScale_ != nullptr) {
        ThrowFixed("unknown exception");
    }
    if (zoomScale == nullptr) {
        zoomScale = std::make_unique<EmptyZoomScale>();
    }
    zoomScale->Attach(this);
    zoomScale_ = std::move(zoomScale);
    SetTimer(hwnd, kBlinkTimer, kBlinkPeriodMs, nullptr);
}

void ArrayViewer::AddArray(std::unique_ptr<Array> array) {
    if (array == nullptr) {
        return;
    }
    array->Attach(this);
    arrays_.Add(array.get());
    array.release();
}

// The area shrinks on its way down the stack: each layer paints in what the layers before it
// left (the axis takes its label strips), and the zoom scale records the final, inner
// rectangle as its plot area. The background is filled before the cursor is drawn, so that the
// fill can never wipe the line while the zoom scale believes it shown.
void ArrayViewer::Paint(HDC hdc, const Rect* updateRect) {
    if (hwnd == nullptr || zoomScale_ == nullptr) {
        return;
    }
    RECT client;
    GetClientRect(hwnd, &client);
    Rect area = FromRECT(client);
    DrawContext context{hdc, false, updateRect, &area};
    area = zoomScale_->AdjustArea(area);
    for (uint32_t i = 0; i < arrays_.GetCount(); ++i) {
        arrays_.Get(i)->Paint(context);
        area = arrays_.Get(i)->AdjustArea(area);
    }
    if (!context.backgroundPainted) {
        RECT rest = ToRECT(area);
        FillRect(hdc, &rest, StockObject<HBRUSH>(WHITE_BRUSH).Get());
    }
    zoomScale_->Paint(context);
    zoomScale_->ForgetCursor();
    zoomScale_->InvertCursor(hdc, area);
}

void ArrayViewer::Repaint() {
    RepaintViewer(*this);
}

LRESULT ArrayViewer::HandleMessage(WindowMessage& message) {
    LRESULT result = 0;
    switch (message.message) {
        case WM_CREATE:
            return 1;
        // Inside a dialog the dialog manager would take the arrow keys for moving the focus, and
        // the letters for mnemonics of other controls; the graph claims both for zooming and
        // panning.
        case WM_GETDLGCODE:
            result = DLGC_WANTARROWS | DLGC_WANTCHARS;
            message.callDefault = false;
            break;
        // The paint rectangle is handed on only when the platform has no erase pending.
        case WM_PAINT: {
            PaintScope paint(hwnd);
            Rect update = FromRECT(paint.paint().rcPaint);
            Paint(paint.paint().hdc, paint.paint().fErase ? nullptr : &update);
            message.callDefault = false;
            break;
        }
        // Each tick inverts the cursor line once more: shown 500 ms, hidden 500 ms.
        case WM_TIMER:
            if (message.wParam == kBlinkTimer && zoomScale_ != nullptr) {
                RECT client;
                GetClientRect(hwnd, &client);
                WindowDC dc(hwnd);
                zoomScale_->InvertCursor(dc.Get(), FromRECT(client));
            }
            break;
        // Keys and the wheel go to the focused window: a click makes that the graph.
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            SetFocus(hwnd);
            break;
        default:
            break;
    }
    Route(message);
    return result;
}

// The layers first, in painting order; the first that consumes the message ends the walk.
// The zoom scale gets what no layer took. Messages that arrive while Create is still making
// the window find no zoom scale yet.
void ArrayViewer::Route(WindowMessage& message) {
    for (uint32_t i = 0; i < arrays_.GetCount(); ++i) {
        if (arrays_.Get(i)->ProcessInput(message)) {
            return;
        }
    }
    if (zoomScale_ != nullptr) {
        zoomScale_->ProcessInput(message);
    }
}

DeviceContext ArrayViewer::AcquireWindowDC() {
    return hwnd != nullptr ? GetDC(hwnd) : nullptr;
}

void ArrayViewer::ReleaseWindowDC(DeviceContext hdc) {
    ReleaseDC(hwnd, hdc);
}

void ArrayViewer::InvertRectangle(DeviceContext hdc, const Rect& r) {
    RECT inverted = ToRECT(r);
    InvertRect(hdc, &inverted);
}

void ArrayViewer::CaptureMouse() {
    SetCapture(hwnd);
}

void ArrayViewer::ReleaseMouse() {
    ReleaseCapture();
}

}  // namespace ArrayViewer
