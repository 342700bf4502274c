// Records for one consumer from two producer threads -- the audio thread and
// the interface thread -- taken in the order they were posted. Each thread
// has a ring of its own (a ring takes one writer only); a stamp drawn at
// posting puts the two back in arrival order. No locks, no allocation.
#pragma once

#include "dsp/SpscRing.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

template <typename T, size_t N>
class TwoProducerInbox {
public:
    // Audio thread: false when its ring is full (the record is dropped).
    bool postFromAudio(const T& v) { return _post(fromAudio_, v); }
    // Interface thread: as postFromAudio.
    bool postFromInterface(const T& v) { return _post(fromInterface_, v); }

    // Consumer: the earliest posted record of either ring; false when both
    // are empty.
    bool pop(T& out) {
        Stamped a{}, k{};
        const bool hasA = fromAudio_.peek(a), hasK = fromInterface_.peek(k);
        if (!hasA && !hasK)
            return false;
        // Stamps wrap: compare by difference.
        if (hasA && (!hasK || int32_t(a.order - k.order) < 0)) {
            fromAudio_.pop(a);
            out = a.item;
        } else {
            fromInterface_.pop(k);
            out = k.item;
        }
        return true;
    }
    // Consumer: drops everything posted so far.
    void clear() {
        fromAudio_.clear();
        fromInterface_.clear();
    }

private:
    struct Stamped {
        T item;
        uint32_t order;
    };

    bool _post(SpscRing<Stamped, N>& ring, const T& v) {
        return ring.push(Stamped{v, arrivals_.fetch_add(1, std::memory_order_relaxed)});
    }

    SpscRing<Stamped, N> fromAudio_;
    SpscRing<Stamped, N> fromInterface_;
    std::atomic<uint32_t> arrivals_{0};
};
