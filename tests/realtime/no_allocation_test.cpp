// The audio thread never allocates, frees, locks or waits. This program
// drives what render drives, inside a stepped render on the test thread, and
// counts within an armed scope every operator new and delete, every mutex
// taken, every sleep or yield, and every file or device call (the read,
// write, open and ioctl families, and stdio) on that thread.
#include "connectivity/Midi.h"
#include "connectivity/MidiMessage.h"
#include "drivers/Encoder.h"
#include "drivers/KeyDebouncer.h"
#include "drivers/ShiftRegisterIn.h"
#include "effects/EffectChain.h"
#include "engines/SamplePlayer.h"
#include "connectivity/OSCV.h"
#include "engines/additive/AdditiveCommon.h"
#include "engines/additive/AdditiveVoice.h"
#include "engines/fm/FMCommon.h"
#include "engines/fm/FMVoice.h"
#include "engines/granular/GranularCommon.h"
#include "engines/granular/GranularVoice.h"
#include "engines/quad/QuadEngineCommon.h"
#include "engines/quad/QuadEngineVoice.h"
#include "engines/modular/ModularCommon.h"
#include "engines/modular/ModularVoice.h"
#include "engines/resonator/ResonatorCommon.h"
#include "engines/resonator/ResonatorVoice.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"
#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/FileBrowser.h"
#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "parameters/BasicLFO.h"
#include "parameters/ModulationManager.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterFraction.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"
#include "platform/Audio.h"
#include "platform/AuxiliaryTask.h"
#include "platform/CpuMonitor.h"
#include "platform/Pipe.h"
#include "platform/RtPrintf.h"
#include "platform/Stepped.h"
#include "samples/AudioSampleGroup.h"
#include "samples/ReleaseQueue.h"
#include "sequencing/Corvane.h"
#include "sequencing/MorphController.h"
#include "sequencing/MotionRecorder.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include "instrument/Entry.h"
#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "instrument/Wiring.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "platform/devices/PanelSimulator.h"
#include "platform/devices/SerialPort.h"
#include "tests/instrument/VoiceRig.h"
#include "tests/parameters/TestModulator.h"
#include "tests/support/TempDir.h"
#include "tests/support/engines_harness.h"
#include "tests/support/realtime_stepped.h"
#include "tests/support/seq_engine.h"
#include "tests/support/stepped_instrument.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#define RT_CHECK_LOCKS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RT_CHECK_LOCKS 0
#endif
#endif
#ifndef RT_CHECK_LOCKS
#define RT_CHECK_LOCKS 1
#endif

namespace {

// Armed on one thread only: the logger and task threads may do as they like.
thread_local bool tArmed = false;
std::atomic<size_t> gIo{0};
std::atomic<size_t> gAllocations{0};
std::atomic<size_t> gFrees{0};
std::atomic<size_t> gLocks{0};
std::atomic<size_t> gWaits{0};

void* counted(size_t n) {
    if (tArmed)
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

void* countedAligned(size_t n, std::align_val_t a) {
    if (tArmed)
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    const size_t align = size_t(a);
    if (void* p = std::aligned_alloc(align, (n + align - 1) / align * align))
        return p;
    throw std::bad_alloc();
}

void release(void* p) {
    if (p && tArmed)
        gFrees.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}

}  // namespace

void* operator new(size_t n) { return counted(n); }
void* operator new[](size_t n) { return counted(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    try {
        return counted(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void* operator new(size_t n, std::align_val_t a) { return countedAligned(n, a); }
void* operator new[](size_t n, std::align_val_t a) { return countedAligned(n, a); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { release(p); }

#if RT_CHECK_LOCKS
// Locks and waits, counted on the armed thread and passed on to the C library.
extern "C" int __nanosleep(const struct timespec*, struct timespec*);
extern "C" int __sched_yield(void);

namespace {
template <typename F>
F nextSymbol(const char* name, F& cache) {
    F f = __atomic_load_n(&cache, __ATOMIC_ACQUIRE);
    if (!f) {
        f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
        __atomic_store_n(&cache, f, __ATOMIC_RELEASE);
    }
    return f;
}
int (*gRealLock)(pthread_mutex_t*) = nullptr;
int (*gRealTryLock)(pthread_mutex_t*) = nullptr;
int (*gRealClockSleep)(clockid_t, int, const struct timespec*, struct timespec*) = nullptr;
}  // namespace

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* m) {
    if (tArmed)
        gLocks.fetch_add(1, std::memory_order_relaxed);
    return nextSymbol("pthread_mutex_lock", gRealLock)(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
    if (tArmed)
        gLocks.fetch_add(1, std::memory_order_relaxed);
    return nextSymbol("pthread_mutex_trylock", gRealTryLock)(m);
}
int nanosleep(const struct timespec* t, struct timespec* rest) {
    if (tArmed)
        gWaits.fetch_add(1, std::memory_order_relaxed);
    return __nanosleep(t, rest);
}
int clock_nanosleep(clockid_t c, int flags, const struct timespec* t, struct timespec* rest) {
    if (tArmed)
        gWaits.fetch_add(1, std::memory_order_relaxed);
    return nextSymbol("clock_nanosleep", gRealClockSleep)(c, flags, t, rest);
}
int sched_yield(void) {
    if (tArmed)
        gWaits.fetch_add(1, std::memory_order_relaxed);
    return __sched_yield();
}
}  // extern "C"
#endif

// File and device calls: counted on the armed thread, then passed on.
namespace {
void countIo() {
    if (tArmed)
        gIo.fetch_add(1, std::memory_order_relaxed);
}
template <typename F>
F realIo(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" {
ssize_t read(int fd, void* buffer, size_t n) {
    countIo();
    static auto real = realIo<ssize_t (*)(int, void*, size_t)>("read");
    return real(fd, buffer, n);
}
ssize_t write(int fd, const void* buffer, size_t n) {
    countIo();
    static auto real = realIo<ssize_t (*)(int, const void*, size_t)>("write");
    return real(fd, buffer, n);
}
ssize_t readv(int fd, const struct iovec* v, int n) {
    countIo();
    static auto real = realIo<ssize_t (*)(int, const struct iovec*, int)>("readv");
    return real(fd, v, n);
}
ssize_t writev(int fd, const struct iovec* v, int n) {
    countIo();
    static auto real = realIo<ssize_t (*)(int, const struct iovec*, int)>("writev");
    return real(fd, v, n);
}
ssize_t pread64(int fd, void* buffer, size_t n, off64_t at) {
    countIo();
    static auto real = realIo<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
    return real(fd, buffer, n, at);
}
ssize_t pwrite64(int fd, const void* buffer, size_t n, off64_t at) {
    countIo();
    static auto real = realIo<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    return real(fd, buffer, n, at);
}
int open(const char* path, int flags, ...) {
    countIo();
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    static auto real = realIo<int (*)(const char*, int, ...)>("open");
    return real(path, flags, mode);
}
int open64(const char* path, int flags, ...) {
    countIo();
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    static auto real = realIo<int (*)(const char*, int, ...)>("open64");
    return real(path, flags, mode);
}
int openat(int dir, const char* path, int flags, ...) {
    countIo();
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    static auto real = realIo<int (*)(int, const char*, int, ...)>("openat");
    return real(dir, path, flags, mode);
}
int close(int fd) {
    countIo();
    static auto real = realIo<int (*)(int)>("close");
    return real(fd);
}
int ioctl(int fd, unsigned long request, ...) {
    countIo();
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    static auto real = realIo<int (*)(int, unsigned long, ...)>("ioctl");
    return real(fd, request, argument);
}
int poll(struct pollfd* fds, nfds_t n, int timeout) {
    countIo();
    static auto real = realIo<int (*)(struct pollfd*, nfds_t, int)>("poll");
    return real(fds, n, timeout);
}
FILE* fopen(const char* path, const char* mode) {
    countIo();
    static auto real = realIo<FILE* (*)(const char*, const char*)>("fopen");
    return real(path, mode);
}
FILE* fopen64(const char* path, const char* mode) {
    countIo();
    static auto real = realIo<FILE* (*)(const char*, const char*)>("fopen64");
    return real(path, mode);
}
size_t fwrite(const void* data, size_t size, size_t n, FILE* file) {
    countIo();
    static auto real = realIo<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    return real(data, size, n, file);
}
size_t fread(void* data, size_t size, size_t n, FILE* file) {
    countIo();
    static auto real = realIo<size_t (*)(void*, size_t, size_t, FILE*)>("fread");
    return real(data, size, n, file);
}
int fputs(const char* text, FILE* file) {
    countIo();
    static auto real = realIo<int (*)(const char*, FILE*)>("fputs");
    return real(text, file);
}
int fputc(int c, FILE* file) {
    countIo();
    static auto real = realIo<int (*)(int, FILE*)>("fputc");
    return real(c, file);
}
int putchar(int c) { return fputc(c, stdout); }
int puts(const char* text) {
    countIo();
    static auto real = realIo<int (*)(const char*)>("puts");
    return real(text);
}
int vfprintf(FILE* file, const char* format, va_list args) {
    countIo();
    static auto real = realIo<int (*)(FILE*, const char*, va_list)>("vfprintf");
    return real(file, format, args);
}
int vprintf(const char* format, va_list args) { return vfprintf(stdout, format, args); }
int fprintf(FILE* file, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vfprintf(file, format, args);
    va_end(args);
    return n;
}
int printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vfprintf(stdout, format, args);
    va_end(args);
    return n;
}
}  // extern "C"

namespace {

struct Counts {
    size_t allocations = 0;
    size_t frees = 0;
    size_t locks = 0;
    size_t waits = 0;
    size_t io = 0;
};

std::ostream& operator<<(std::ostream& os, const Counts& c) {
    return os << c.allocations << " allocations, " << c.frees << " frees, " << c.locks << " locks, " << c.waits
              << " waits, " << c.io << " file or device calls";
}

bool clean(const Counts& c) {
    return c.allocations == 0 && c.frees == 0 && c.locks == 0 && c.waits == 0 && c.io == 0;
}

// What render runs in this program: the body of the current check.
std::function<void(BelaContext*)>* gBody = nullptr;
bool gArmBody = false;

void testRender(BelaContext* context, void*) {
    if (!gBody)
        return;
    tArmed = gArmBody;
    (*gBody)(context);
    tArmed = false;
}

// Runs body inside render for `warm` blocks unarmed, then for `blocks`
// armed, on this thread (the audio thread meanwhile), and returns what the
// armed blocks did.
template <typename F>
Counts inRender(F&& body, uint32_t blocks = 64, uint32_t warm = 4) {
    std::function<void(BelaContext*)> f = [&body](BelaContext* c) { body(c); };
    gBody = &f;
    gArmBody = false;
    host::stepBlocks(warm, false);
    gAllocations = 0;
    gFrees = 0;
    gLocks = 0;
    gWaits = 0;
    gIo = 0;
    gArmBody = true;
    host::stepBlocks(blocks, false);
    gArmBody = false;
    gBody = nullptr;
    return {gAllocations.load(), gFrees.load(), gLocks.load(), gWaits.load(), gIo.load()};
}

// Each test steps a run of its own, in a root of its own.
class RealTime : public ::testing::Test {
protected:
    void SetUp() override {
        static int runs = 0;
        ASSERT_TRUE(testsupport::startStepped(testRender, "realtime-root-" + std::to_string(++runs)));
        // As on the instrument: console output from render goes to the ring.
        host::rtLoggerStart();
    }
    void TearDown() override { Bela_cleanupAudio(); }
};

TEST_F(RealTime, CounterSeesWhatItMustSee) {
    const Counts c = inRender([](BelaContext*) {
        delete new int(3);
        std::mutex m;
        std::lock_guard<std::mutex> lock(m);
        std::this_thread::yield();
        char byte = 0;
        ssize_t ignored = write(-1, &byte, 1);  // a failed call counts too
        (void)ignored;
        fprintf(stderr, "%s", "rt-check ");
    }, 1, 0);
    EXPECT_EQ(c.io, 2u);
    EXPECT_EQ(c.allocations, 1u);
    EXPECT_EQ(c.frees, 1u);
#if RT_CHECK_LOCKS
    EXPECT_EQ(c.locks, 1u);
    EXPECT_EQ(c.waits, 1u);
#endif
    // Outside render nothing is counted.
    delete new int(4);
    EXPECT_EQ(gAllocations.load(), 1u);
}

TEST_F(RealTime, PlatformCallsOfRender) {
    Pipe pipe("rt-check-pipe", 1 << 16);
    for (uint32_t i = 0; i < 16; ++i)
        ASSERT_TRUE(pipe.writeNonRt(i));
    // A real thread, as on the instrument, until the run is cleaned up.
    static std::atomic<int> runs{0};
    const int runsBefore = runs.load();
    host::tasksSetThreaded(true, false);
    AuxiliaryTask task = Bela_createAuxiliaryTask([](void*) { runs.fetch_add(1); }, 10, "rt-check-task");
    host::tasksSetThreaded(false, false);
    ASSERT_NE(task, nullptr);
    uint32_t read = 0, sum = 0;
    int block = 0;
    const Counts c = inRender([&](BelaContext*) {
        BelaCpuData* cpu = Bela_cpuMonitoringGet();
        Bela_cpuTic(cpu);
        uint32_t v;
        while (pipe.readRt(v)) {
            ++read;
            sum += v;
        }
        pipe.writeRt(uint32_t(block));
        rt_printf("render block %d, %.2f%%\n", block++, double(cpu->percentage.load()));
        Bela_scheduleAuxiliaryTask(task);
        Bela_cpuToc(cpu);
    });
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_EQ(read, 16u);
    EXPECT_EQ(sum, 120u);
    uint32_t v, echoed = 0;
    while (pipe.readNonRt(v))
        ++echoed;
    EXPECT_EQ(echoed, uint32_t(block));
    EXPECT_EQ(host::rtLoggerDropped(), 0u);
    EXPECT_TRUE(testsupport::waitUntil([&] { return runs.load() > runsBefore; }));
}

AudioBlock sounding(uint64_t& frame) {
    AudioBlock block;
    for (uint32_t c = 0; c < AudioBlock::kChannels; ++c) {
        for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
            block.channel(c)[i] = 1.5f * std::sin(0.05f * float(frame + i) * float(c + 1));
        block.channelState[c] = frame == 0 ? ChannelState::Started : ChannelState::Playing;
    }
    frame += AudioBlock::kFrames;
    return block;
}

TEST_F(RealTime, EffectChainAndItsPage) {
    EffectChain chain;
    ASSERT_TRUE(chain.insertEffect(AudioEffectType::Limiter, 0));
    ASSERT_TRUE(chain.insertEffect(AudioEffectType::Stereo, 1));
    uint64_t frame = 0;
    float peak = 0.0f;
    bool finite = true;
    int turn = 1;
    const Counts c = inRender([&](BelaContext*) {
        AudioBlock block = sounding(frame);
        chain.process(block);
        for (float s : block.samples) {
            finite = finite && std::isfinite(s);
            peak = std::max(peak, std::fabs(s));
        }
        // The keys and encoders of the chain page, routed from render.
        turn = -turn;
        for (int e = EffectChain::kFirstEffectEncoder; e < EffectChain::kFirstEffectEncoder + 8; ++e) {
            chain.encoder(e, turn, false);
            if (Parameter* p = chain.getParameter(e))
                p->changeBy(turn, true, true);
        }
        chain.button(5, 2, 1);
        chain.button(15, 2, 1);
        chain.morphXY(0.25f, 0.75f);
        chain.storeSnapshot(2);
        chain.resetSnapshots();
        chain.clearOverrides(17);
        chain.clearOverrides(-1);
    });
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_TRUE(finite);
    EXPECT_GT(peak, 0.1f);

    // The menu key with shift held asks the interface task for the menu.
    KeyDebouncer& shift = Key::key[48];
    for (uint32_t bit : {1u, 0u, 0u, 0u})
        shift.update(bit);
    ASSERT_TRUE(shift.held());
    // Whatever stops the test, the key is let go and no list is left open.
    struct Release {
        KeyDebouncer& key;
        ~Release() {
            for (uint32_t bit : {1u, 1u, 1u, 1u})
                key.update(bit);
            Driver::listSelection.key(ListSelect::kCancelKey, 2);
            Driver::listSelection.result();
        }
    } release{shift};
    const Counts menu = inRender([&](BelaContext*) { chain.button(22, 2, 0); }, 1, 0);
    EXPECT_TRUE(clean(menu)) << menu;
    EXPECT_EQ(chain.editorMode(), EffectChain::MenuOpen);
    chain.update();  // the interface task opens the list
    ASSERT_EQ(Driver::listSelection.state(), kPopupOpen);
    // "add effect", then "limiter", then the place after the first effect:
    // keys and encoders in render, the lists and the insertion in the
    // interface task. Each list opens on the entry chosen in it last, so
    // the cursor is turned from there, five ticks a step.
    const auto scrollOnto = [](const std::string& item) {
        ListSelect& list = Driver::listSelection;
        const auto& items = list.items();
        const int32_t want = int32_t(std::find(items.begin(), items.end(), item) - items.begin());
        const int ticks = (want - list.cursor.value.load()) * list.cursor.ticksPerStep;
        const Counts c = inRender([ticks](BelaContext*) {
            for (int i = 0; i < std::abs(ticks); ++i)
                Driver::listSelection.encoder(ListSelect::kEncoder, ticks < 0 ? -1 : 1, false);
            if (!isModalOpen())
                std::abort();
        }, 1, 0);
        EXPECT_EQ(list.cursor.value.load(), want) << item;
        return c;
    };
    const auto accept = [] {
        return inRender([](BelaContext*) { Driver::listSelection.key(ListSelect::kAcceptKey, 2); }, 1, 0);
    };
    const Counts toAdd = scrollOnto("add effect");
    EXPECT_TRUE(clean(toAdd)) << toAdd;
    const Counts add = accept();
    EXPECT_TRUE(clean(add)) << add;
    chain.update();
    ASSERT_EQ(chain.editorMode(), EffectChain::AddListOpen);
    const Counts down = scrollOnto("limiter");
    EXPECT_TRUE(clean(down)) << down;
    const Counts chosen = accept();
    EXPECT_TRUE(clean(chosen)) << chosen;
    chain.update();
    ASSERT_EQ(chain.editorMode(), EffectChain::ChoosingPosition);
    const Counts place = inRender([&](BelaContext*) {
        for (int i = 0; i < 5; ++i)
            chain.encoder(EffectChain::kPositionEncoder, 1, false);
        chain.button(3, 2, 0);
    }, 1, 0);
    EXPECT_TRUE(clean(place)) << place;
    EXPECT_EQ(chain.editorMode(), EffectChain::InsertPending);
    chain.update();
    EXPECT_EQ(chain.editorMode(), EffectChain::Idle);
    ASSERT_EQ(chain.effectCount(), 3u);
    EXPECT_EQ(chain.getEffect(1)->typeName, "limiter");
    const Counts after = inRender([&](BelaContext*) {
        AudioBlock block = sounding(frame);
        chain.process(block);
    });
    EXPECT_TRUE(clean(after)) << after;
}

// Every kind of effect in render, with its keys stepped and its encoders
// turned; channels fall silent and start again along the way.
TEST_F(RealTime, EveryEffectInRender) {
    for (int id = 2; id <= 16; ++id) {
        EffectChain chain;
        ASSERT_TRUE(chain.insertEffect(AudioEffectType(id), 0)) << id;
        uint64_t frame = 0;
        bool finite = true;
        int turn = 1, block = 0;
        const Counts c = inRender([&](BelaContext*) {
            AudioBlock b = sounding(frame);
            for (uint32_t ch = 0; ch < AudioBlock::kChannels; ++ch)
                if ((block / 8 + ch) % 3 == 0)
                    b.channelState[ch] = ChannelState::Silent;
            ++block;
            chain.process(b);
            for (float s : b.samples)
                finite = finite && std::isfinite(s);
            turn = -turn;
            for (int e = EffectChain::kFirstEffectEncoder; e < EffectChain::kFirstEffectEncoder + 4; ++e)
                chain.encoder(e, turn * 3, false);
            if (block % 16 == 0)
                chain.button(5 + 5 * (block / 16 % 3), 2, 0);
        }, 128);
        EXPECT_TRUE(clean(c)) << effectTypeName(id) << ": " << c;
        EXPECT_TRUE(finite) << effectTypeName(id);
    }
}

TEST_F(RealTime, ConfirmKeysAndNotices) {
    Driver::guiNotify.setup();
    ASSERT_TRUE(Driver::confirm.open("Delete?", "yes", "no"));
    const Counts c = inRender([&](BelaContext*) {
        Driver::guiNotify.warning("Track has no effects");
        // Too long for a record: refused with a console line.
        Driver::guiNotify.info("a notice far too long to travel through the notice pipe at all");
        Driver::confirm.key(Confirm::kAcceptKey, 3);  // a repeat answers nothing
    }, 8, 0);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_EQ(Driver::confirm.state(), kPopupOpen);
    const Counts k = inRender([&](BelaContext*) { Driver::confirm.key(Confirm::kAcceptKey, 2); }, 1, 0);
    EXPECT_TRUE(clean(k)) << k;
    EXPECT_EQ(Driver::confirm.result(), kPopupAccepted);
    MonoGFX window;
    window.init(256, 64);
    Driver::guiNotify.draw(window);
    EXPECT_EQ(Driver::guiNotify.queue().size(), 8u);
    Driver::guiNotify.dismiss(true);
}

TEST_F(RealTime, PadAndBrowserInputOnlyPosted) {
    Numpad pad;
    ASSERT_TRUE(pad.open(Numpad::kNumber, "n", "12345678901234567890", 32));
    FileBrowser browser;
    const Counts c = inRender([&](BelaContext*) {
        pad.tick();
        pad.key(5, 2);
        pad.key(8, 2);
        pad.key(Numpad::kAcceptKey, 2);
        pad.encoder(12, -1, true);
        browser.encoder(12, 1, false);
        browser.button(3, 2);
        browser.button(0, 2);
    }, 8, 0);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_EQ(pad.text.size(), 20u);  // nothing applied before the interface task runs
}

TEST_F(RealTime, ParametersPerBlockAndFromMidi) {
    ParameterFloat cutoff("cutoff", ParameterFloat::Hertz, XYMorph | Smoothed | Stored | PerChannel, 1000.0f);
    ParameterFloat level("level", ParameterFloat::Decibels, Smoothed | Stored, -6.0f);
    ParameterInt mode("mode", ParameterInt::ChoiceMode, Stored | Smoothed, 0);
    mode.setChoicesWithValues({"one", "two", "four"}, {1, 2, 4}, 1);
    ParameterInt steps("steps", ParameterInt::Multiplicative, MultiSlot | Stored | PerChannel, 4, 1, 64);
    ParameterFraction ratio("ratio", ParameterFraction::Halves, XYMorph | Smoothed | Stored, 2.0f);
    ParameterString address("address", ParameterString::Address, Stored, "10.0.0.1");
    ParameterGroup group("test");
    for (Parameter* p : std::initializer_list<Parameter*>{&cutoff, &level, &mode, &steps, &ratio, &address})
        group.add(p);
    auto modulator = makeTestModulator(0.25f);
    cutoff.addModulator(modulator);
    steps.addModulator(makeTestModulator(0.5f));
    ASSERT_TRUE(group.addMidiMapping({0, 7, -1}, "level"));
    ASSERT_TRUE(group.addMidiMapping({0, -1, 60}, "ratio"));
    group.storeSnapshot(1);

    float sum = 0.0f;
    int32_t steppedSum = 0;
    uint32_t value = 0;
    bool mapped = true;
    const Counts c = inRender([&](BelaContext*) {
        group.updateBlock();
        mode.updateBlock();
        for (uint32_t ch = 0; ch < Parameter::kVoiceChannels; ++ch) {
            sum += cutoff.getModulated(ch, ch == 0, false, 0.1f);
            steppedSum += steps.getModulated(ch, false, ch == 1);
        }
        value = (value + 13) % 128;
        mapped = group.applyMidi({uint32_t(MIDIMsgType::ControlChange), 0, 7, value}) && mapped;
        mapped = group.applyMidi({uint32_t(MIDIMsgType::NoteOn), 0, 60, value}) && mapped;
        group.applyMidi({uint32_t(MIDIMsgType::ControlChange), 3, 7, value});  // not mapped
        for (Parameter* p : group.parameters)
            p->changeBy((value & 1) ? 1 : -1, value & 2, true);
        group.morphXY(0.5f, 0.5f);
        group.selectSlot(value % 25);
        (void)mode.choiceCount();
    });
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_TRUE(mapped);
    EXPECT_TRUE(std::isfinite(sum));
    EXPECT_GT(sum, 0.0f);
    EXPECT_GT(steppedSum, 0);
    EXPECT_GT(modulator->calls.load(), 0);
}

TEST_F(RealTime, RealModulatorsOnEveryChannel) {
    // Every kind, and a modulator on a modulator's own parameter, read per
    // channel with triggers, the clock-synced LFO and the page's button.
    ModulationManager manager;
    ParameterFloat cutoff("cutoff", ParameterFloat::Hertz, Smoothed | Stored | PerChannel, 1000.0f);
    testing::internal::CaptureStdout();
    for (const char* kind : {"LFO", "AD env", "random", "offset"})
        manager.addModulatorTo(kind, cutoff)->amount.setValue(20.0f, true);
    auto lfo = std::static_pointer_cast<BasicLFO>(manager.list()->at(0));
    manager.addModulatorTo("LFO", lfo->frequency);
    testing::internal::GetCapturedStdout();
    lfo->shape.setValue(BasicLFO::RandomSteps, true);
    float sum = 0.0f;
    uint32_t block = 0;
    const Counts c = inRender([&](BelaContext*) {
        cutoff.updateBlock();
        for (uint32_t ch = 0; ch < Parameter::kVoiceChannels; ++ch)
            sum += cutoff.getModulated(ch, block % 16 == 0, (block + ch) % 5 == 0);
        if (block % 20 == 0)
            manager.buttonPressed(0, 5);  // through "sync" and back
        manager.changeParameter(1, 0, 1, false);
        ++block;
    }, 96, 4);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_TRUE(std::isfinite(sum));
    EXPECT_EQ(lfo->storeCounts[7], 100u);
}

struct FixedRecorder : NoteScheduler {
    std::array<NoteEvent, 4096> events;
    size_t count = 0;
    bool scheduleNote(NoteEvent e) override {
        if (count == events.size())
            return false;
        events[count++] = e;
        return true;
    }
};

TEST_F(RealTime, SequencerClockingAndNotes) {
    NoteManager notes;
    PitchScaleManager scales;
    FixedRecorder recorder;
    ParameterFloat tempo("BPM", ParameterFloat::Bpm, Stored, 120.0f);
    tempo.updateBlock();
    testsupport::SequencerTestEngine engine;
    engine.set(8, 2);
    Corvane seq;
    seq.setLinks({&recorder, &tempo, &notes, &scales});
    NoteList list;
    for (int s = 0; s < 6; ++s) {
        NoteStep step;
        for (int n = 0; n <= s % 3; ++n)
            step.add(Note{NoteType::NoteOn, s + 2 * n, n - 1, -6.0f, 8});
        list.steps.push_back(step);
    }
    list.rebuildTransitions();
    notes.setList(0, list);
    for (int lane = 0; lane < Corvane::kLanes; ++lane) {
        PulseLane& l = seq.lanes[size_t(lane)];
        l.enabled.setValue(1, false);
        l.interval.setValue(lane + 1, false);
        l.noteSel.setValue(lane + 1, false);  // reverse, fwd+rev, random, markov
        l.randTime.setValue(5.0f, false);
        l.swing.setValue(40.0f, false);
    }
    seq.chordMode.setValue(2, false);
    seq.seqReset.setValue(16, false);

    uint64_t frame = 0;
    bool started = false;
    int live = 0;
    const Counts c = inRender([&](BelaContext*) {
        float phase[64];
        for (int i = 0; i < 64; ++i, ++frame) {
            const double beats = double(frame) / 6000.0;
            phase[i] = float(beats - std::floor(beats));
        }
        const bool ticked = seq.clockTick(phase, 64);
        seq.advanceTick(seq.resetDue() || (ticked && !started));
        started = started || ticked;
        seq.process(&engine);
        if (++live % 7 == 0)
            seq.liveNote(&engine, live % 12, 0, -3.0f, uint32_t(live), 0);
        if (!notes.rtList(0) || notes.rtList(25))
            std::abort();
    }, 2000);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_GT(recorder.count, 100u);
    for (size_t i = 0; i < recorder.count; ++i)
        ASSERT_GT(recorder.events[i].frequency, 0.0f) << i;
}

TEST_F(RealTime, PanelScanDebounceAndDecode) {
    ShiftRegisterIn scanner;
    std::array<KeyDebouncer, Key::kNumKeys> keys;
    std::array<Encoder, Key::kNumEncoders> encoders;
    ASSERT_TRUE(scanner.setup(host::context()));
    uint32_t downs = 0;
    int32_t steps = 0;
    uint32_t phase = 0;
    const Counts c = inRender([&](BelaContext* context) {
        scanner.process(context);
        for (uint32_t k = 0; k < Key::kNumKeys; ++k)
            downs += keys[k].update(scanner.key(k) ^ ((phase / 8) & 1u)) == KeyDebouncer::kKeyDown ? 1 : 0;
        // Encoder 0 turns on: A and B in quadrature; the others as scanned.
        static constexpr uint32_t kA[4] = {0, 1, 1, 0}, kB[4] = {0, 0, 1, 1};
        steps += encoders[0].update(kA[phase % 4], kB[phase % 4], 0);
        ++phase;
        for (uint32_t e = 1; e < Key::kNumEncoders; ++e)
            encoders[e].update(scanner.encoderA(e), scanner.encoderB(e), int32_t(scanner.encoderPush(e)));
    }, 256);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_GT(downs, 0u);
    EXPECT_NE(steps, 0);
}

class LoopbackPort : public MIDI {
public:
    LoopbackPort() { createPipe(); }
    ~LoopbackPort() = default;
    void readInput() override {}
    void writeOutput() override {}
    Pipe& pipe() { return pipe_; }
};

TEST_F(RealTime, MidiReadAndSend) {
    LoopbackPort port;
    for (uint32_t i = 0; i < 32; ++i)
        ASSERT_TRUE(port.pipe().writeNonRt(MidiMessage{uint32_t(MIDIMsgType::NoteOn), 1, 60 + i % 12, 100}));
    ParameterFloat level("level", ParameterFloat::Decibels, Stored, 0.0f);
    ParameterGroup group("midi");
    group.add(&level);
    ASSERT_TRUE(group.addMidiMapping({1, -1, 64}, "level"));
    uint32_t received = 0, blocks = 0;
    bool sent = true;
    const Counts c = inRender([&](BelaContext*) {
        ++blocks;
        MidiMessage m;
        while (port.readMessage(m)) {
            ++received;
            group.applyMidi(m);
        }
        sent = port.sendClock() == 16 && sent;
        sent = port.sendNoteOn(2, 64, 90) == 16 && sent;
        sent = port.sendNoteOff(2, 64, 0) == 16 && sent;
        sent = port.sendPitchBend(2, 8192) == 16 && sent;
        sent = port.sendStart() == 16 && port.sendStop() == 16 && port.sendContinue() == 16 && sent;
    });
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_EQ(received, 32u);
    EXPECT_TRUE(sent);
    MidiMessage m;
    uint32_t out = 0;
    while (port.pipe().readNonRt(m))
        ++out;
    EXPECT_EQ(out, blocks * 7u);
}

TEST_F(RealTime, SamplePlaybackAndListPicks) {
    enginetest::TestSamplePool pool;
    pool.addResource("a.wav", {std::vector<float>(4000, 0.25f), std::vector<float>(4000, -0.25f)}, 48000.0f);
    auto looping = pool.addEntry("loop", "a.wav", 4000, 48000.0f);
    looping->looping = true;
    pool.addEntry("loop", "a.wav", 4000, 48000.0f)->setRange(100, 1000);
    AudioSampleGroup group;
    for (uint32_t i = 0; i < 5; ++i)
        group.insert("s" + std::to_string(i) + ".wav", 1000 + i, i, 48000.0f, 440.0f);

    SamplePlayer player;
    float out[64];
    float energy = 0.0f;
    uint32_t picks = 0;
    int32_t step = 0;  // blocks so far
    const Counts c = inRender([&](BelaContext*) {
        if (step % 16 == 0)
            player.start("loop", step / 16, 0, 0.2f);
        ++step;
        if (player.render(out, 64, step, 440.0f, 0.2f, 1.0f))
            for (float s : out)
                energy += s * s;
        if (group.pickEntry([](size_t n) { return n - 1; }))
            ++picks;
        picks += group.size() == 5 ? 1 : 0;
        if (group.entryAt(7))
            std::abort();
    }, 256);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_GT(energy, 1.0f);
    EXPECT_EQ(picks, 2u * uint32_t(step));
}

// A list edited or a sample unloaded while a voice plays it: the voice then
// holds the last references, which it must not let go of on the audio thread.
TEST_F(RealTime, SampleTakenAwayWhilePlaying) {
    DSP::releaseQueue.drain();
    std::weak_ptr<AudioResource> gone;
    SamplePlayer player;
    {
        enginetest::TestSamplePool pool;
        gone = pool.addResource("b.wav", {std::vector<float>(3000, 0.5f)}, 48000.0f);
        pool.addEntry("once", "b.wav", 3000, 48000.0f);
        player.start("once", 0, 0, 0.0f);
        ASSERT_TRUE(player.playing());
    }  // the pool lets go of its list and its sample
    float out[64];
    uint32_t sounding = 0;
    const Counts c = inRender([&](BelaContext*) {
        sounding += player.render(out, 64, 0, 440.0f, 0.0f, 1.0f) && player.playing() ? 1 : 0;
        player.start("once", 1, 0, 0.0f);  // no pool: nothing starts, the entry goes
    }, 4, 0);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_EQ(sounding, 1u);
    EXPECT_FALSE(player.playing());
    EXPECT_EQ(host::rtLoggerDropped(), 0u);
    EXPECT_FALSE(gone.expired());
    EXPECT_EQ(DSP::releaseQueue.drain(), 2u);  // off the audio thread, as the interface task does
    EXPECT_TRUE(gone.expired());
}

// An address turned by its encoder while another thread writes the same
// text: the audio thread never waits for that writer, and the text shown
// afterwards is the one the numbers make.
TEST_F(RealTime, AddressTurnedWhileItsTextIsWritten) {
    ParameterString ip("OSC out IP", ParameterString::Address, Stored, "10.0.0.1");
    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::thread writer([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            ip.setFromString("10.0.0.1");
            writes.fetch_add(1, std::memory_order_relaxed);
        }
    });
    while (writes.load() == 0)
        std::this_thread::yield();
    int turn = 1;
    const Counts c = inRender([&](BelaContext*) {
        for (int i = 0; i < 50; ++i) {
            turn = -turn;
            ip.changeBy(turn, false, true);
        }
    }, 400);
    stop = true;
    writer.join();
    EXPECT_TRUE(clean(c)) << c;
    const Counts last = inRender([&](BelaContext*) { ip.changeBy(5, true, true); }, 1, 0);
    EXPECT_TRUE(clean(last)) << last;
    EXPECT_EQ(ip.toString(), "10.0.0." + std::to_string(ip.octets[3].load()));
    EXPECT_NE(ip.octets[3].load(), 1);
}

// The other engines' voices the same way: notes of every kind, slides onto
// unstarted voices and fades, all on the audio thread.
template <class Voice>
Counts playVoicesInRender(SynthVoiceCommon& common, bool& finite) {
    common.polyphony.setValue(4, true);
    enginetest::VoiceHarness<Voice> voices(common);
    uint32_t block = 0;
    finite = true;
    return inRender([&](BelaContext*) {
        if (block % 16 == 0)
            voices.playAt(block / 16 % 4, voices.makeNote(110.0f * float(1 + block % 5), 0.8f, NoteType(block / 16 % 3)));
        if (block % 16 == 10) voices.fadeOut(block / 16 % 4, 256);
        ++block;
        voices.renderBlock();
        for (uint32_t ch = 0; ch < 4; ++ch)
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i) finite = finite && std::isfinite(voices.block.channel(ch)[i]);
    }, 256);
}

// A connected expander whose client only counts, as a queue would.
class CountingOSCV : public OSCV {
public:
    void sendNote(uint32_t, bool, float) override { ++sent; }
    void sendCvOuts(uint32_t, const int32_t (&)[kCvOuts]) override { ++sent; }
    bool isConnected() const override { return true; }
    uint32_t sent = 0;
};

TEST_F(RealTime, FMAdditiveResonatorAndModularVoicesInRender) {
    DSP::releaseQueue.drain();
    enginetest::TestSamplePool pool;
    pool.addResource("c.wav", {std::vector<float>(6000, 0.3f)}, 48000.0f);
    pool.addEntry("loop", "c.wav", 6000, 48000.0f)->looping = true;
    bool finite = false;
    {
        FMCommon fm;
        for (int r = 0; r < 6; ++r) fm.route[r].setValue(1, true);
        fm.volume[0].setValue(0.0f, true);
        fm.feedback.setValue(-6.0f, true);
        const Counts c = playVoicesInRender<FMVoice>(fm, finite);
        EXPECT_TRUE(clean(c)) << "FM: " << c;
        EXPECT_TRUE(finite);
    }
    {
        AdditiveCommon additive;
        additive.scatter.setValue(50.0f, true);
        const Counts c = playVoicesInRender<AdditiveVoice>(additive, finite);
        EXPECT_TRUE(clean(c)) << "additive: " << c;
        EXPECT_TRUE(finite);
    }
    {
        ResonatorCommon resonator;
        resonator.registerSampleLists();
        resonator.samples.setValue(1, true);
        const Counts c = playVoicesInRender<ResonatorVoice>(resonator, finite);
        EXPECT_TRUE(clean(c)) << "resonator: " << c;
        EXPECT_TRUE(finite);
    }
    {
        CountingOSCV oscv;
        Driver::oscv.store(&oscv);
        ModularCommon modular;
        const Counts c = playVoicesInRender<ModularVoice>(modular, finite);
        Driver::oscv.store(nullptr);
        EXPECT_TRUE(clean(c)) << "modular: " << c;
        EXPECT_GT(oscv.sent, 100u);
    }
}

// Every quad kind on all four lanes, and granular voices drawing grains:
// notes, slides onto unused voices and fades on the audio thread.
class FixedGrainSource : public GrainSource {
public:
    void requestGrains(std::string_view, std::span<const float>, uint32_t, float) override { ++asked; }
    FeatureHit randomGrainEntry(uint32_t) override { return hit; }
    FeatureHit hit{};
    uint32_t asked = 0;
};

TEST_F(RealTime, QuadAndGranularVoicesInRender) {
    DSP::releaseQueue.drain();
    enginetest::TestSamplePool pool;
    pool.addResource("g.wav", {std::vector<float>(60000, 0.2f)}, 48000.0f);
    pool.addEntry("loop", "g.wav", 60000, 48000.0f)->looping = true;
    auto grainEntry = pool.addEntry("grains", "g.wav", 60000, 48000.0f);
    for (int32_t kind = 0; kind < 8; ++kind) {
        QuadEngineCommon quad;
        quad.registerSampleLists();
        for (uint32_t k = 0; k < 4; ++k) {
            quad.typeParameters[k].setValue((kind + int32_t(k)) % 8, true);
            quad.subEngines[k].samples.setFromString("loop");
            quad.subEngines[k].samples2.setFromString("loop");
        }
        enginetest::VoiceHarness<QuadEngineVoice> voices(quad);
        uint32_t block = 0;
        bool finite = true;
        const Counts c = inRender([&](BelaContext*) {
            if (block % 8 == 0) {
                NoteEvent e = voices.makeNote(55.0f * float(1 + block % 7), 0.8f, NoteType(block / 8 % 3));
                e.lane = block / 8 % 4;
                voices.playAt(2 * e.lane, e);
            }
            if (block % 8 == 5) voices.fadeOut(2 * (block / 8 % 4), 256);
            ++block;
            voices.renderBlock();
            for (uint32_t ch = 0; ch < 8; ++ch)
                for (uint32_t i = 0; i < AudioBlock::kFrames; ++i) finite = finite && std::isfinite(voices.block.channel(ch)[i]);
        }, 128);
        EXPECT_TRUE(clean(c)) << "quad kind " << kind << ": " << c;
        EXPECT_TRUE(finite);
        DSP::releaseQueue.drain();
    }
    GranularCommon granular;
    for (ParameterFloat* p : {&granular.envAttack[0], &granular.envHold[0], &granular.envDecay[0]}) p->setValue(10.0f, true);
    granular.samples.setChoices({"none", "grains"});
    granular.samples.setValue(1, true);
    FixedGrainSource grains;
    grains.hit = FeatureHit{grainEntry, 1, 0};
    enginetest::VoiceHarness<GranularVoice> voices(granular);
    granular.polyphony.setValue(4, true);
    for (uint32_t s = 0; s < 8; ++s) voices.voice(s).grainSource = &grains;
    uint32_t block = 0;
    bool sounded = false;
    const Counts c = inRender([&](BelaContext*) {
        if (block % 16 == 0) voices.playAt(block / 16 % 4, voices.makeNote(220.0f, 0.8f, NoteType(block / 16 % 3)));
        if (block % 16 == 10) voices.fadeOut(block / 16 % 4, 256);
        ++block;
        voices.renderBlock();
        for (uint32_t i = 0; i < AudioBlock::kFrames; ++i) sounded = sounded || voices.block.channel(0)[i] != 0.0f;
    }, 256);
    EXPECT_TRUE(clean(c)) << "granular: " << c;
    EXPECT_TRUE(sounded);
    EXPECT_GT(grains.asked, 0u);
    grains.hit = FeatureHit{};
    DSP::releaseQueue.drain();
}

// The voices as render plays them: on the audio thread the engine reads its
// sample list in place, and nothing locks, waits or frees.
TEST_F(RealTime, SubtractiveVoicesInRender) {
    DSP::releaseQueue.drain();
    enginetest::TestSamplePool pool;
    pool.addResource("c.wav", {std::vector<float>(6000, 0.3f)}, 48000.0f);
    pool.addEntry("loop", "c.wav", 6000, 48000.0f)->looping = true;
    SubtractiveCommon common;
    common.registerSampleLists();
    common.samples.setValue(1, true);
    common.sourceB.setValue(SubtractiveCommon::SampleSource, true);
    common.polyphony.setValue(8, true);
    enginetest::VoiceHarness<SubtractiveVoice> voices(common);
    float level = 0.0f;
    bool finite = true;
    uint32_t block = 0;
    const Counts c = inRender([&](BelaContext*) {
        if (block % 32 == 0)
            voices.play(voices.makeNote(110.0f * float(1 + block % 5), 0.8f, NoteType(block / 32 % 3)));
        if (block % 32 == 20)
            voices.fadeOut(block / 32 % 8, 256);
        ++block;
        voices.renderBlock();
        for (uint32_t ch = 0; ch < enginetest::VoiceHarness<SubtractiveVoice>::kSlots; ++ch)
            for (uint32_t i = 0; i < AudioBlock::kFrames; ++i) {
                const float s = voices.block.channel(ch)[i];
                finite = finite && std::isfinite(s);
                level = std::max(level, std::fabs(s));
            }
    }, 512);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_TRUE(finite);
    EXPECT_GT(level, 0.01f);
    bool sampled = false;
    for (uint32_t v = 0; v < enginetest::VoiceHarness<SubtractiveVoice>::kSlots; ++v)
        sampled = sampled || voices.voice(v).samplePlayer.playing();
    EXPECT_TRUE(sampled);  // the list was found by its name, in place
}

// The firmware's render, inside the check while one runs: the blocks
// between the checked ones are the instrument's too.
void instrumentRender(BelaContext* context, void* userData) {
    if (gBody)
        testRender(context, userData);
    else
        render(context, userData);
}

// The firmware's own run, started and stopped as the whole-instrument tests
// do theirs, and checked after the test like them: the process's next
// instrument starts as a fresh one.
class RealTimeInstrument : public testsupport::SteppedInstrument {};

// The whole block loop of the instrument, as set up by its own setup: the
// panel scanned and keys routed (the start key, lane keys, slot keys that
// play notes, encoders), DIN MIDI through the pseudo-terminal and the I/O
// task, the main clock, five tracks on the subtractive engine with eight
// voices each, the voice manager and the output copy. The interface and
// I/O tasks run between the checked blocks, as they would on their threads.
TEST_F(RealTimeInstrument, WholeInstrumentRender) {
    DSP::releaseQueue.drain();
    ASSERT_NO_FATAL_FAILURE(start({.root = "realtime-instrument", .project = nullptr, .beforeStart = [] {
        // As on the instrument: console output from render goes to the ring.
        host::rtLoggerStart();
        for (auto& track : DSP::track) {
            track.synthesis.setFromString("subtractive");
            track.applySynthesis();
            track.currentEngine()->polyphony.setValue(8, true);
            track.midiNoteIn.setValue(1, true);
            for (auto& lane : track.sequencerImpl.lanes)
                lane.enabled.setValue(1, true);
        }
        for (uint32_t t = 0; t < 5; ++t)
            attachTrackToVoices(t);
    }, .render = instrumentRender}));

    host::PanelSimulator& panel = host::panel();
    const auto body = [](BelaContext* c) { render(c, nullptr); };
    Counts total;
    float peak = 0.0f;
    bool finite = true;
    bool sawSettings = false;
    for (uint32_t round = 0; round < 150; ++round) {
        switch (round % 50) {
        case 0: panel.pressKey(24); break;  // start (and later stop) the clock
        case 4: panel.releaseKey(24); break;
        case 10: panel.pressKey(27 + round % 25); break;  // a slot key plays a note
        case 14: panel.releaseKey(27 + round % 25); break;
        case 20: panel.turnEncoder(16, 3); break;
        case 30:
            ASSERT_NO_FATAL_FAILURE(sendMidi({0x90, uint8_t(48 + round % 24), 100, 0x80, 40, 0}));
            break;
        case 40: panel.turnEncoder(16, -3); break;
        case 42: panel.pressKey(23); break;  // the instrument's settings page opens
        case 44: panel.releaseKey(23); break;
        case 45: panel.turnEncoder(28, 3); break;  // a value on it changes
        case 47: panel.pressKey(3); break;  // and the page's own key closes it
        case 49: panel.releaseKey(3); break;
        default: break;
        }
        const Counts c = inRender(body, 4, 0);
        total.allocations += c.allocations;
        total.frees += c.frees;
        total.locks += c.locks;
        total.waits += c.waits;
        total.io += c.io;
        const BelaContext* ctx = host::context();
        for (uint32_t i = 0; i < ctx->audioFrames * ctx->audioOutChannels; ++i) {
            finite = finite && std::isfinite(ctx->audioOut[i]);
            peak = std::max(peak, std::fabs(ctx->audioOut[i]));
        }
        host::runPendingTasks();
        sawSettings = sawSettings || GUI::currentEditor.load() == &Driver::instrument.settingsPage;
    }
    EXPECT_TRUE(sawSettings);
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    EXPECT_TRUE(clean(total)) << total;
    EXPECT_TRUE(finite);
    EXPECT_GT(peak, 0.01f);
    EXPECT_GT(DSP::voiceManager.activeVoiceCount(), 0u);
}

TEST_F(RealTime, VoiceManagerBlockWithEverythingRunning) {
    DSP::releaseQueue.drain();
    voicetest::Rig rig;
    rig.keepHistory = false;
    rig.vm->resetOutputFX();
    rig.vm->installPool(EngineFM, std::make_unique<VoicePoolOf<voicetest::ToneVoice>>());
    ASSERT_TRUE(rig.vm->setupGrainLookup());
    voicetest::ToneCommon fm(EngineFM);
    voicetest::CaptureRecorder rec(testsupport::tempDir() + "/", 1 << 12);
    rig.vm->setRecorder(&rec);
    std::string path;
    ASSERT_TRUE(rig.vm->startRecording(path, 1, 0, 2, 0));
    for (auto& d : rig.tracks) d.subtractive.polyphony.setValue(8, true);
    rig.tracks[1].routes[2].setValue(5, true);
    rig.vm->inToOut1.setValue(2, true);
    rig.vm->sendRouting.setValue(3, true);
    uint32_t block = 0;
    bool finite = true;
    const Counts c = inRender([&](BelaContext*) {
        if (block % 4 == 0)
            for (uint32_t t = 0; t < VoiceManager::kTracks; ++t) {
                // Track 3 switches engines back and forth every 32 blocks.
                SynthVoiceCommon* engine = t == 2 && block / 32 % 2 ? static_cast<SynthVoiceCommon*>(&fm) : nullptr;
                rig.vm->scheduleNote(rig.note(t, 110.0f * float(t + 1), block % 3 * 40, NoteType(block / 4 % 3), engine));
            }
        if (block % 64 == 40) rig.vm->scheduleNote(rig.note(0, 0.0f, 0, NoteType::NoteOffAll));
        const float point[2] = {float(block % 7) / 7.0f, 0.5f};
        rig.vm->requestGrains("pads", point, block % 40, 0.2f);
        (void)rig.vm->randomGrainEntry(block % 40);
        ++block;
        rig.block([](uint32_t ch, uint64_t f) { return ch < 4 ? 0.1f * std::sin(0.01f * float(f + ch)) : 0.0f; });
        for (float s : rig.out.samples) finite = finite && std::isfinite(s);
    }, 512);
    rig.vm->stopRecording();
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_TRUE(finite);
    EXPECT_GT(rec.pushes.load(), 500u);
    EXPECT_GT(rig.vm->grains.requestsSent(), 0u);
}

}  // namespace

Touchpad::Touch touchedPad(uint32_t) { return {0.3f, 0.6f, 2}; }

TEST_F(RealTime, MotionTakePastCapacityAndNotePageInput) {
    const auto reader = MotionRecorder::touchReader.load();
    MotionRecorder::touchReader = &touchedPad;
    MorphController motion;
    MotionRecorder recorder(1, motion);
    recorder.motion.setValue(9, false);
    for (uint32_t level : {1u, 0u})
        for (int i = 0; i < 20; ++i)
            Key::key[MotionRecorder::kRecordKey].update(level);
    NoteManager page;
    FixedRecorder scheduler;
    testsupport::SequencerTestEngine engine;
    engine.set(8, 2);
    page.links.scheduler = &scheduler;
    page.links.blockCounter = [] { return uint32_t(host::blocksRendered()); };
    page.open();
    page.serviceRequests();
    uint32_t n = 0;
    const uint32_t blocks = MotionRecording::kCapacity * MotionRecording::kBlocksPerPoint + 60;
    const Counts c = inRender([&](BelaContext*) {
        if (n == 0)
            recorder.button(MotionRecorder::kRecordKey, KeyDebouncer::kKeyDown);
        motion.process(nullptr);
        if (n % 64 == 0) {
            page.midiNoteIn({uint32_t(MIDIMsgType::NoteOn), 0, 60 + n % 12, 90});
            page.button(27 + int(n % 25), KeyDebouncer::kKeyDown);
            page.encoder(12, 1, false);
        }
        page.renderPreviews();
        ++n;
    }, blocks, 0);
    EXPECT_TRUE(clean(c)) << c;
    EXPECT_EQ(motion.recording(9)->size(), MotionRecording::kCapacity);
    EXPECT_EQ(recorder.state(), MotionRecorder::Idle);
    page.serviceRequests();
    EXPECT_GT(page.list(0)->steps.size(), 10u);
    for (int i = 0; i < 20; ++i)
        Key::key[MotionRecorder::kRecordKey].update(1);
    MotionRecorder::touchReader = reader;
}
