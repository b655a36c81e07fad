// Fixed-capacity queues for the mixer's real-time path: a lock-free ring from one producer
// thread to one consumer thread, and a min-heap. Neither allocates after construction.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace media {

// One thread pushes, one other thread pops; neither ever waits. `capacity` is rounded up to a
// power of two.
template <typename T>
class SpscRing {
public:
    explicit SpscRing(size_t capacity) : slots_(RoundUp(capacity)), mask_(slots_.size() - 1) {}

    size_t Capacity() const { return slots_.size(); }
    // Producer: false when the ring is full.
    bool TryPush(const T& value) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == slots_.size()) return false;
        slots_[tail & mask_] = value;
        // Sequentially consistent, so that a consumer that starts after this store (by the
        // mixer's render counter) is sure to see it.
        tail_.store(tail + 1, std::memory_order_seq_cst);
        return true;
    }
    // Consumer: false when the ring is empty.
    bool TryPop(T& value) {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_seq_cst)) return false;
        value = slots_[head & mask_];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    static size_t RoundUp(size_t n) {
        size_t p = 1;
        while (p < n) p <<= 1;
        return p;
    }

    std::vector<T> slots_;
    size_t mask_;
    alignas(64) std::atomic<size_t> head_{0};
    alignas(64) std::atomic<size_t> tail_{0};
};

// The smallest element by `Less` on top; Push fails when full.
template <typename T, typename Less>
class FixedMinHeap {
public:
    explicit FixedMinHeap(size_t capacity) : capacity_(capacity) { items_.reserve(capacity); }

    bool Empty() const { return items_.empty(); }
    size_t Size() const { return items_.size(); }
    size_t Capacity() const { return capacity_; }
    const T& Top() const { return items_.front(); }
    bool Push(const T& value) {
        if (items_.size() == capacity_) return false;
        items_.push_back(value);
        std::push_heap(items_.begin(), items_.end(), Greater);
        return true;
    }
    T Pop() {
        std::pop_heap(items_.begin(), items_.end(), Greater);
        T top = items_.back();
        items_.pop_back();
        return top;
    }
    // When full: `value` takes the place of the largest element if it is smaller, in linear
    // time. Returns false when `value` itself is left out.
    bool ReplaceLargest(const T& value) {
        if (items_.empty()) return false;
        auto largest = items_.begin() + static_cast<std::ptrdiff_t>(items_.size() / 2);
        for (auto it = largest; it != items_.end(); ++it)
            if (Less()(*largest, *it)) largest = it;
        if (!Less()(value, *largest)) return false;
        *largest = items_.back();
        items_.pop_back();
        std::make_heap(items_.begin(), items_.end(), Greater);
        return Push(value);
    }
    // Removes every element for which `drop` holds, in linear time.
    template <typename Predicate>
    void RemoveIf(Predicate drop) {
        items_.erase(std::remove_if(items_.begin(), items_.end(), drop), items_.end());
        std::make_heap(items_.begin(), items_.end(), Greater);
    }

private:
    static bool Greater(const T& a, const T& b) { return Less()(b, a); }

    size_t capacity_;
    std::vector<T> items_;
};

}  // namespace media
