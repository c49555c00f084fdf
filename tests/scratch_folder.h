// A fixture that runs each test in an empty folder of its own, since
// outputs land in the current folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "hdb/converter.h"

namespace foliant {

namespace stdfs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class ScratchFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = stdfs::current_path();
        // Unique per run: builds of several presets may test side by side.
        scratch_ = stdfs::temp_directory_path() /
                   ("foliant-unit-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                    "-" + std::to_string(std::random_device{}()));
        stdfs::remove_all(scratch_);
        stdfs::create_directories(scratch_);
        stdfs::current_path(scratch_);
    }
    void TearDown() override {
        stdfs::current_path(previous_);
        stdfs::remove_all(scratch_);
    }
    static void write(const std::string& name, const Bytes& bytes) {
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    // Runs `action` with standard output captured and returns what it printed.
    template <typename Action>
    static std::string printedBy(Action action) {
        ::testing::internal::CaptureStdout();
        action();
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }

private:
    stdfs::path previous_;
    stdfs::path scratch_;
};

}  // namespace foliant
