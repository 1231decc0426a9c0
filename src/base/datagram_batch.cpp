#include "base/datagram_batch.h"

void DropCount::Observe(uint32_t kernelCount) {
    // The count only grows: the difference modulo 2^32 is what was added since, wrap or not.
    total_ += static_cast<uint32_t>(kernelCount - last_);
    last_ = kernelCount;
}
