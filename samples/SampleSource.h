// What sample lists need of the sample pool: loading a sample by path and
// the loaded resource of a path. The pool implements it; tests use a double.
#pragma once

#include <memory>
#include <string>

class AudioResource;

class SampleSource {
public:
    virtual ~SampleSource() = default;
    // False when no file exists at the path; a file that exists but cannot be
    // read still counts as loaded (its resource is not).
    virtual bool loadSample(const std::string& path) = 0;
    // Empty when nothing is stored under the path.
    virtual std::shared_ptr<AudioResource> getResource(const std::string& path) = 0;
};
