// The "output FX" page and the recording front end.
#include "instrument/voices/VoiceManager.h"

#include "dsp/Random.h"
#include "drivers/KeyDebouncer.h"
#include "gui/GuiNotify.h"
#include "gui/MonoGFX.h"
#include "gui/PageWidgets.h"
#include "platform/Audio.h"
#include "samples/AudioRecorder.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace DSP {
extern Random random;
}  // namespace DSP

namespace {
constexpr const char* kTitle = "output FX";
constexpr const char* kStartFailed = "Could not start recording...\n";
constexpr const char* kStarted = "Started recording\n";
constexpr uint32_t kNameAttempts = 100;
constexpr int kKeyClose = 3;
constexpr int kKeyShift = 1;
constexpr int kEventRepeat = 3;

uint64_t packName(const std::string& s) {
    uint64_t w = 0;
    for (size_t i = 0; i < s.size() && i < 7; ++i) w |= uint64_t(uint8_t(s[i])) << (8 * i);
    return w;
}

std::string unpackName(uint64_t w) {
    std::string s;
    for (int i = 0; i < 8 && ((w >> (8 * i)) & 0xFF); ++i) s.push_back(char((w >> (8 * i)) & 0xFF));
    return s;
}

std::string recordingNameFor(uint32_t mode, uint32_t first, uint32_t count, uint32_t track) {
    std::string name;
    if (mode == RecordingTap::Track) return "TRK" + std::to_string(track + 1);
    if (mode == RecordingTap::Output) name = "OUT";
    else if (mode == RecordingTap::Inputs) name = "IN";
    else return "ERROR";
    for (uint32_t c = first + 1; c <= first + count && name.size() < 7; ++c) name += std::to_string(c);
    return name;
}

char randomCharacter() {
    const uint32_t kind = DSP::random.nextHigh() % 3;
    const uint32_t x = DSP::random.nextHigh();
    if (kind == 1) return char('A' + x % 26);
    if (kind == 2) return char('0' + x % 10);
    return char('a' + x % 26);
}
}  // namespace

std::string VoiceManager::recordingName() const { return unpackName(recordingName_.load(std::memory_order_acquire)); }

void VoiceManager::encoder(int index, int delta, bool pushed) {
    if (masterChain.encoder(index, delta, pushed)) lastTouched_.store(index, std::memory_order_relaxed);
}

void VoiceManager::button(int key, int event) {
    if (event == kEventRepeat) return;
    if (key == kKeyClose && !Key::key[kKeyShift].held() && masterChain.editorMode() == 0 && !masterChain.isBusy()) {
        if (!isModalOpen()) GUI::closeEditor();
        return;
    }
    masterChain.button(key, event, int(selectedEffect()));
}

void VoiceManager::open() { open_.store(true, std::memory_order_release); }

bool VoiceManager::close() {
    if (masterChain.editorMode() != 0 || masterChain.isBusy()) return false;
    open_.store(false, std::memory_order_release);
    return true;
}

void VoiceManager::draw(MonoGFX& window) {
    window.setColour(15);
    window.setFont(&font_default, 1, 0);
    window.setTextMode(0);
    window.drawText(0, 0, kTitle);
    const uint32_t selected = selectedEffect();
    GUI::drawPageIndicator(window, 0, 45, 16 + 4 * selected, 4, -1);
    if (selected < masterChain.effectCount()) {
        const int touched = lastTouched_.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < 4; ++i) {
            const int encoderIndex = int(16 + 4 * selected + i);
            Parameter* p = masterChain.getParameter(encoderIndex);
            if (!p) continue;
            // The cell of the encoder last turned, whichever effect is selected.
            const bool lit = touched == encoderIndex;
            GUI::drawParameterCell(window, 8 + i, p->name, p->toString(), p->modulatorCount() > 0, p->midiMapped, lit,
                                   lit, p->getNormalised());
        }
    }
    masterChain.draw(&window, 0, 67, 0, int(selected));
}

bool VoiceManager::startRecording(std::string& path, uint32_t mode, uint32_t first, uint32_t count, uint32_t track) {
    AudioRecorder* recorder = recorder_.load(std::memory_order_acquire);
    if (!recorder || (recorder->isRecording() && recorder->isFileOpen())) {
        Driver::guiNotify.warning(kStartFailed);
        return false;
    }
    const std::string name = recordingNameFor(mode, first, count, track);
    recordingName_.store(packName(name), std::memory_order_release);

    if (path.empty()) {
        std::string candidate;
        for (uint32_t attempt = 0; attempt < kNameAttempts; ++attempt) {
            candidate = name + "-";
            for (int i = 0; i < 8; ++i) candidate.push_back(randomCharacter());
            candidate += ".wav";
            // Where the recorder will write it, not the working folder.
            std::error_code ec;
            if (!std::filesystem::exists(recorder->fullPath(candidate), ec)) break;
        }
        path = candidate;
    }

    // The tap follows the start: a block tapped earlier would go into the
    // pipe that the start empties.
    if (recorder->start(path, count)) {
        tap_.set(mode, first, count, track);
        Driver::guiNotify.success(kStarted);
        return true;
    }
    Driver::guiNotify.warning(kStartFailed);
    return false;
}

void VoiceManager::stopRecording() {
    tap_.clear();  // the audio thread stops pushing first
    // The block that read the tap before the clear is in the pipe before the stop.
    Bela_blockFence();
    if (AudioRecorder* recorder = recorder_.load(std::memory_order_acquire)) recorder->stop();
}

void VoiceManager::drawRecordingOverlay(MonoGFX& window) {
    const uint32_t count = std::min<uint32_t>(tap_.count(), AudioRecorder::kMaxChannels);
    AudioRecorder* recorder = recorder_.load(std::memory_order_acquire);
    if (count == 0 || !recorder) return;

    const std::string name = recordingName();
    window.setFont(&font_compact, 1, 0);
    window.setTextMode(0);
    const int w = window.textWidth(name);
    const int x0 = 255 - (w + 50);
    window.setColour(0);
    window.fillRect(x0, 0, 255, 14);
    window.setColour(8);
    window.drawRect(x0, 0, 255, 14);
    window.setColour(15);
    window.drawText(x0 + 3, 3, name);

    const int x1 = x0 + w + 4;
    window.setColour(4);
    for (int dx : {0, 16, 20}) window.drawLine(x1 + dx, 3, x1 + dx, 11);

    const int h = int(8 / count);
    for (uint32_t c = 0; c < count; ++c) {
        const float level = 20.0f * std::log10(recorder->level(c));
        int end = x1;  // also for a NaN level
        if (level > 0.0f) end = x1 + 20;
        else if (level >= -36.0f) end = x1 + int(level / 36.0f * 20.0f + 20.0f);
        if (level <= -6.0f || !(level == level)) window.setColour(8);
        else window.setColourAlternate(15, 8);
        window.fillRect(x1, 3 + int(c) * h, end, 3 + int(c + 1) * h);
    }

    const uint32_t seconds = recorder->blocksPushed() / 750;
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u", seconds / 60, seconds % 60);
    window.setColour(15);
    window.setTextMode(1);
    window.drawText(253, 3, text);
    window.setTextMode(0);
}
