// A plain number that one thread writes while another reads it (a value
// slot, a bound, the published output): an atomic with relaxed ordering,
// which costs nothing over a plain word, but copyable and used like the
// number itself. Read-modify-write operators assume a single writer.
#pragma once

#include <atomic>

template <typename T>
class Relaxed {
public:
    constexpr Relaxed() noexcept : v_(T()) {}
    // Explicit, so that a condition mixing it with a number is not ambiguous.
    constexpr explicit Relaxed(T v) noexcept : v_(v) {}
    Relaxed(const Relaxed& other) noexcept : v_(other.load()) {}
    Relaxed& operator=(const Relaxed& other) noexcept {
        store(other.load());
        return *this;
    }
    Relaxed& operator=(T v) noexcept {
        store(v);
        return *this;
    }
    operator T() const noexcept { return load(); }
    T load() const noexcept { return v_.load(std::memory_order_relaxed); }
    void store(T v) noexcept { v_.store(v, std::memory_order_relaxed); }

    Relaxed& operator+=(T d) noexcept { return *this = load() + d; }
    Relaxed& operator-=(T d) noexcept { return *this = load() - d; }
    Relaxed& operator*=(T d) noexcept { return *this = load() * d; }
    Relaxed& operator/=(T d) noexcept { return *this = load() / d; }

private:
    std::atomic<T> v_;
};
