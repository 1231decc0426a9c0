#include "arrayviewer/draw_context.h"

namespace ArrayViewer {

void RepaintViewer(IViewer& viewer) {
    ViewerDC dc(viewer);
    if (dc.get() != nullptr) {
        viewer.Paint(dc.get(), nullptr);
    }
}

}  // namespace ArrayViewer
