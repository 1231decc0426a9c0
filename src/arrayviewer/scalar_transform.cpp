#include "arrayviewer/scalar_transform.h"

namespace ArrayViewer {

// The range is made 10 % wider than asked, 5 % on each side, so that the extremes do not
// sit on the edges of the plot.
LinearScalarTransformScale::LinearScalarTransformScale(double a, double b) {
    double centre = (a + b) * 0.5;
    double half = (b - a) * 0.5 * 1.1;
    rangeMin = centre - half;
    rangeMax = centre + half;
    degenerate = rangeMin == rangeMax;
}

// A range without width puts every value in the middle rather than dividing by zero.
double LinearScalarTransformScale::Transform(double value) {
    double width = rangeMax - rangeMin;
    if (width == 0.0) {
        return 0.5;
    }
    return (value - rangeMin) / width;
}

void LinearScalarTransformScale::SetRange(double min, double max) {
    rangeMin = min;
    rangeMax = max;
}

}  // namespace ArrayViewer
