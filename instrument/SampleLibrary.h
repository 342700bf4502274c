// Start-up of the sample library: the pool's worker, the preview loader and
// the disk recorder, linked to the voice manager. The instrument's set-up
// calls it once, after the tracks exist and before the grain look-up starts.
#pragma once

bool setupSampleLibrary();
