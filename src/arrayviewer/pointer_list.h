#pragma once
// PointerList: the graph control's growable list of item pointers, optionally owning its items.

#include <cstdint>
#include <cstdlib>
#include <new>

#include "base/errors.h"

namespace ArrayViewer {

template <typename T>
class PointerList {
  public:
    PointerList(int32_t growBy, bool ownsItems) : growBy_(growBy > 0 ? growBy : 1), ownsItems_(ownsItems) {}
    PointerList(const PointerList&) = delete;
    PointerList& operator=(const PointerList&) = delete;
    ~PointerList() { Clear(); }

    // Appends; the slot array grows by growBy slots whenever it is full. A failed
    // allocation throws std::bad_alloc and leaves the list as it was.
    void Add(T* item) {
        if (count_ >= static_cast<uint32_t>(capacity_)) {
            int32_t grown = capacity_ + growBy_;
            void* slots = std::realloc(items_, sizeof(T*) * static_cast<size_t>(grown));
            if (slots == nullptr) {
                throw std::bad_alloc();
            }
            items_ = static_cast<T**>(slots);
            capacity_ = grown;
        }
        items_[count_++] = item;
    }

    T* Get(uint32_t index) const {
        if (index >= count_) {
            ThrowFixed("list index out of bounds");
        }
        return items_[index];
    }

    uint32_t GetCount() const { return count_; }
    int32_t capacity() const { return capacity_; }

    // Deletes the items first to last when the list owns them, then frees the slots.
    void Clear() {
        if (ownsItems_) {
            for (uint32_t i = 0; i < count_; ++i) {
                delete items_[i];
            }
        }
        std::free(items_);
        items_ = nullptr;
        capacity_ = 0;
        count_ = 0;
    }

  private:
    int32_t capacity_ = 0;
    int32_t growBy_;
    bool ownsItems_;
    T** items_ = nullptr;
    uint32_t count_ = 0;
};

}  // namespace ArrayViewer
