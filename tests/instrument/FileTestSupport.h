// A fresh data root per test, and small file helpers for the file-layer tests.
#pragma once

#include "../support/Shell.h"
#include "../support/TempDir.h"
#include "../support/file_world.h"
#include "instrument/files/PartFile.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace filetest {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        root = testsupport::tempDir() + "files-" + std::to_string(++counter);
        ASSERT_TRUE(host::setRoot(root));
        ASSERT_TRUE(host::makeFolders(root + "/projects"));
    }
    // The host file of an instrument path.
    static std::string hostFile(const std::string& path) { return host::hostPath(path); }
    static std::string slurp(const std::string& path) {
        std::ifstream in(host::hostPath(path), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void spit(const std::string& path, const std::string& text) {
        std::ofstream(host::hostPath(path), std::ios::binary) << text;
    }
    static nlohmann::json readJson(const std::string& path) { return nlohmann::json::parse(slurp(path)); }
    static std::string sh(const std::string& command) { return testsupport::shellOutput(command); }

    std::string root;
};

}  // namespace filetest
