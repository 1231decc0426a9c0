#pragma once
// The value sources the graph plots: AbstractValues, AbstractScalarValues1D and the series
// ScalarValues1D, a view of an array that another thread may be writing.

#include <cstdint>

#include "base/shared_value.h"

namespace ArrayViewer {

class AbstractValues {
  public:
    virtual ~AbstractValues() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

class AbstractScalarValues1D : public AbstractValues {
  public:
    virtual double GetValue(int32_t index) = 0;
    virtual int32_t GetCount() = 0;
};

// A series over caller-owned storage, rotated by startOffset. Each value is read with one
// relaxed atomic load: the writer (the receiver thread, with StoreShared) is never made to
// wait, and every value read is one that was written, never a torn mix of two.
template <typename T>
class ScalarValues1D : public AbstractScalarValues1D {
  public:
    ScalarValues1D(const T* storage, int32_t capacity, int32_t startOffset = 0)
        : storage_(storage), capacity_(storage != nullptr && capacity > 0 ? capacity : 0) {
        SetStartOffset(startOffset);
    }

    void Lock() override {}
    void Unlock() override {}

    // Any index gives a defined result: it wraps around the storage like the offset does.
    double GetValue(int32_t index) override {
        if (capacity_ == 0) {
            return 0.0;
        }
        int64_t physical = (static_cast<int64_t>(startOffset_) + index) % capacity_;
        if (physical < 0) {
            physical += capacity_;
        }
        return static_cast<double>(LoadShared(storage_[physical]));
    }

    int32_t GetCount() override { return capacity_; }

    // The physical index of logical element 0; any offset, also below -capacity, is taken
    // modulo the capacity.
    void SetStartOffset(int32_t offset) {
        startOffset_ = capacity_ == 0
                           ? 0
                           : static_cast<int32_t>(((static_cast<int64_t>(offset) % capacity_) + capacity_) % capacity_);
    }
    int32_t startOffset() const { return startOffset_; }

  private:
    const T* storage_;
    int32_t capacity_;
    int32_t startOffset_ = 0;
};

}  // namespace ArrayViewer
