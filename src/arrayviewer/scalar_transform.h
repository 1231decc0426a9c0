#pragma once
// Value-to-fraction mappings: IScalarTransformScale and LinearScalarTransformScale.

namespace ArrayViewer {

class IScalarTransformScale {
  public:
    virtual double Transform(double value) = 0;
    virtual void SetRange(double min, double max) = 0;

  protected:
    ~IScalarTransformScale() = default;
};

// Maps rangeMin to 0 and rangeMax to 1, linearly and without clamping.
class LinearScalarTransformScale final : public IScalarTransformScale {
  public:
    LinearScalarTransformScale(double a, double b);

    double Transform(double value) override;
    void SetRange(double min, double max) override;

    bool degenerate;
    double rangeMin;
    double rangeMax;
};

}  // namespace ArrayViewer
