#include "tests/support/midi_panel_run.h"

#include "platform/Stepped.h"

namespace paneltest {

namespace {

PanelRun* gRun = nullptr;

bool runSetup(BelaContext* context, void*) { return gRun->scanner.setup(context); }

void runRender(BelaContext* context, void*) {
    PanelRun& r = *gRun;
    r.scanner.process(context);
    for (uint32_t k = 0; k < Key::kNumKeys; ++k) {
        uint32_t result = r.keys[k].update(r.scanner.key(k) != 0);
        if (result == KeyDebouncer::kKeyDown)
            r.events.push_back({PanelEventSeen::KeyDown, r.block, k, 0});
        else if (result == KeyDebouncer::kRepeat)
            r.events.push_back({PanelEventSeen::KeyRepeat, r.block, k, 0});
    }
    for (uint32_t e = 0; e < Key::kNumEncoders; ++e) {
        int32_t step = r.encoders[e].update(r.scanner.encoderA(e), r.scanner.encoderB(e),
                                            int32_t(r.scanner.encoderPush(e)));
        if (step)
            r.events.push_back({PanelEventSeen::Step, r.block, e, step});
        if (r.encoders[e].pressEdge())
            r.events.push_back({PanelEventSeen::PushEdge, r.block, e, 0});
    }
    ++r.block;
}

}  // namespace

bool PanelRun::start(const std::string& root, const std::string& panelScript) {
    gRun = this;
    BelaInitSettings settings;
    settings.setup = runSetup;
    settings.render = runRender;
    settings.mode = HostMode::Stepped;
    settings.root = root;
    settings.panelScript = panelScript;
    if (Bela_initAudio(&settings, nullptr) != 0)
        return false;
    return Bela_startAudio() == 0;
}

void PanelRun::stop() {
    Bela_cleanupAudio();
    gRun = nullptr;
}

std::vector<PanelEventSeen> PanelRun::take() {
    std::vector<PanelEventSeen> seen;
    seen.swap(events);
    return seen;
}

}  // namespace paneltest
