// What the pages need of the sample previewer: play one file, stop, and
// whether it is playing. The previewer implements it; tests use a double.
#pragma once

#include <string>

class SamplePreview {
public:
    virtual ~SamplePreview() = default;
    virtual void play(const std::string& path) = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
};
