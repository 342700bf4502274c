// Voices must not allocate on the audio thread: this program counts every
// plain allocation while voices start notes and render.
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"

#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> gCounting{false};
std::atomic<size_t> gAllocations{0};

void* counted(size_t n) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

template <class F>
size_t allocationsIn(F&& f) {
    gAllocations = 0;
    gCounting = true;
    f();
    gCounting = false;
    return gAllocations.load();
}
}  // namespace

void* operator new(size_t n) { return counted(n); }
void* operator new[](size_t n) { return counted(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

TEST(VoiceAllocation, SubtractiveNotesAndBlocksAllocateNothing) {
    ASSERT_GE(allocationsIn([] { delete new int(3); }), 1u);  // the counter works

    enginetest::TestSamplePool pool;
    pool.addResource("a.wav", {std::vector<float>(20000, 0.2f), std::vector<float>(20000, -0.2f)}, 44100.0f);
    auto e = pool.addEntry("loop", "a.wav", 20000, 44100.0f);
    e->looping = true;
    e->setRange(100, 3000);
    SubtractiveCommon c;
    c.registerSampleLists();
    c.samples.setValue(1, true);
    enginetest::VoiceHarness<SubtractiveVoice> h(c);
    c.polyphony.setValue(8, true);
    for (int variant = 0; variant < 4; ++variant) {  // noise or sample, either filter
        c.sourceB.setValue(variant & 1, true);
        c.filtType.setValue(variant >> 1, true);
        std::vector<NoteEvent> notes;
        for (uint32_t i = 0; i < 8; ++i) notes.push_back(h.makeNote(110.0f * float(i + 1), 0.9f, NoteType(i % 3)));
        EXPECT_EQ(allocationsIn([&] {
                      for (const NoteEvent& n : notes) h.play(n);
                  }),
                  0u)
            << "noteOn, variant " << variant;
        EXPECT_EQ(allocationsIn([&] {
                      for (int b = 0; b < 200; ++b) {
                          h.renderBlock();
                          if (b == 100) h.fadeOut(3, 512);
                      }
                  }),
                  0u)
            << "render, variant " << variant;
        EXPECT_TRUE(variant % 2 == 0 || h.voice(0).samplePlayer.playing()) << variant;
    }
}

}  // namespace
