#pragma once
// Plain fields that one thread writes while another reads them (the published statistics,
// the histogram the graph plots) are accessed through these: each access is one untorn,
// race-free relaxed atomic operation, and nobody ever waits.

#include <atomic>

template <typename T>
T LoadShared(const T& field) {
    static_assert(std::atomic_ref<T>::is_always_lock_free);
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <typename T>
void StoreShared(T& field, T value) {
    static_assert(std::atomic_ref<T>::is_always_lock_free);
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}
