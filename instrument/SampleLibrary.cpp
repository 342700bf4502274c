#include "instrument/SampleLibrary.h"

#include "gui/FileBrowser.h"
#include "instrument/voices/VoiceManager.h"
#include "samples/AudioResourcePool.h"
#include "samples/DiskRecorder.h"
#include "samples/SamplePreview.h"

bool setupSampleLibrary() {
    SamplePoolLinks links;
    links.listChanged = [](const std::string& list) { DSP::voiceManager.listChanged(list); };
    links.startRecording = [](std::string& path, uint32_t mode, uint32_t first, uint32_t count, uint32_t track) {
        return DSP::voiceManager.startRecording(path, mode, first, count, track);
    };
    links.stopRecording = [] { DSP::voiceManager.stopRecording(); };
    links.recorder = &Driver::audioRecorder;
    DSP::audioPool.setLinks(std::move(links));
    bool ok = DSP::audioPool.setup();
    ok &= DSP::samplePreviewer.setup();
    ok &= Driver::audioRecorder.setup();
    DSP::voiceManager.setRecorder(&Driver::audioRecorder);
    DSP::voiceManager.setPreviewer(renderSamplePreview);
    // The browser previews through the previewer; audio files it loads go
    // to the pool (its default services), whose page then asks for their list.
    Driver::fileBrowser.previewer = &DSP::samplePreviewer;
    Driver::fileBrowser.samplePoolPage = &DSP::audioPool;
    return ok;
}
