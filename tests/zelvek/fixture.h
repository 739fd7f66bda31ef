// Shared set-up for the library's tests: a scratch design area with two
// libraries, and the warnings the library reports.
#ifndef ZELVEK_TEST_FIXTURE_H
#define ZELVEK_TEST_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_platform.h"
#include "vek/libraries.h"
#include "zelvek/vek.h"
#include "zelvek/zelvek.h"

namespace zeltest {

inline std::vector<std::string>& warnings() {
    static std::vector<std::string> list;
    return list;
}

inline void collectWarning(int, const char* text) { warnings().push_back(text ? text : "(null)"); }

inline bool anyWarningHas(const std::string& fragment) {
    for (const std::string& w : warnings())
        if (w.find(fragment) != std::string::npos) return true;
    return false;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string str(const char* s) { return s ? s : "(null)"; }

// A scratch directory with libraries "lib" and "other", defined in kwo.lib.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testos::scratchDirectory("zelvek_test_");
        std::filesystem::create_directories(root + "/libs/lib");
        std::filesystem::create_directories(root + "/libs/other");
        writeFile(root + "/kwo.lib", "# test libraries\nDEFINE lib libs/lib\nDEFINE other " + root + "/libs/other\n");
        int32_t state = 0;
        vekInitialize((root + "/kwo.lib").c_str(), nullptr, &state);
        warnings().clear();
        zelSetErrorHandler(collectWarning);
    }

    void TearDown() override {
        for (ConfigRecord* c : open_) zelClose(c);
        zelSetErrorHandler(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    // Opens and closes at the end of the test.
    ConfigRecord* openConfig(const char* lib, const char* cell, const char* view, const char* mode) {
        ConfigRecord* c = zelOpen(lib, cell, view, mode);
        if (c) open_.push_back(c);
        return c;
    }
    ConfigRecord* newConfig() { return openConfig("lib", "top", "config", "w"); }

    void forget(ConfigRecord* c) {
        for (auto& o : open_)
            if (o == c) o = nullptr;
        std::vector<ConfigRecord*> kept;
        for (auto* o : open_)
            if (o) kept.push_back(o);
        open_.swap(kept);
    }

    std::string configFile(const std::string& lib, const std::string& cell, const std::string& view) const {
        return root + "/libs/" + lib + "/" + cell + "/" + view + "/config.zel";
    }

    std::string root;

private:
    std::vector<ConfigRecord*> open_;
};

}  // namespace zeltest

#endif  // ZELVEK_TEST_FIXTURE_H
