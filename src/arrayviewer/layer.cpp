#include "arrayviewer/layer.h"

#include "base/errors.h"

namespace ArrayViewer {

// A layer or zoom scale belongs to one viewer for its whole life; a second attachment would
// mean two owners.
void ViewerLink::Attach(IViewer* viewer) {
    if (viewer_ != nullptr) {
        ThrowFixed("unknown exception");
    }
    viewer_ = viewer;
}

void ViewerLink::Detach(IViewer* viewer) {
    if (viewer != viewer_) {
        ThrowFixed("unknown exception");
    }
    viewer_ = nullptr;
}

}  // namespace ArrayViewer
