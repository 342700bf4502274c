// A folder of the benchmark's own in the temporary folder the environment
// names ($TMPDIR, else /tmp), unique to the run and removed with everything
// in it at exit, so concurrent runs never share files and none are left.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace bench {

class ScratchFolder {
public:
    explicit ScratchFolder(const char* prefix) {
        const char* tmp = std::getenv("TMPDIR");
        std::string name = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/" + prefix + "-XXXXXX";
        if (mkdtemp(name.data()))
            path_ = name;
        else
            std::perror(("mkdtemp " + name).c_str());
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The run's one scratch folder, made on first use.
inline const std::string& scratchFolder(const char* prefix) {
    static const ScratchFolder folder(prefix);
    return folder.path();
}

}  // namespace bench
