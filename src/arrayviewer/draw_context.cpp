#include "arrayviewer/draw_context.h"

namespace ArrayViewer {

void RepaintViewer(IViewer& viewer) {
    ViewerDC dc(viewer);
    if (dc.Get() != nullptr) {
        viewer.Paint(dc.Get(), nullptr);
    }
}

}  // namespace ArrayViewer
