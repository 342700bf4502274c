#include "instrument/files/FileTargets.h"

#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

FileTargets& fileTargets() {
    static FileTargets targets = instrumentFileTargets();
    return targets;
}

const FileVersion& firmwareVersion() {
    static const FileVersion version{"track input hotfix", 0, 1, 30};
    return version;
}

NoteManager& FileTargets::noteManager() const { return notes ? *notes : DSP::noteManager; }
PitchScaleManager& FileTargets::scaleManager() const { return scales ? *scales : DSP::scaleManager; }
