// Any text through the whole converter: the output must pass the reader and
// give the text back exactly.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hdb/converter.h"
#include "hdb_reader.h"

namespace {
std::filesystem::path folder;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Outputs land in the current folder: use one of our own.
    folder = std::filesystem::temp_directory_path() / ("foliant-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    std::freopen("/dev/null", "w", stdout);  // the success lines
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::ofstream("in.txt", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    std::string output;
    if (!foliant::hdb::convertFile("in.txt", output) || output != "in.hdb") std::abort();
    std::ifstream in("in.hdb", std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    const auto read = foliant::testing::readHdb(file);
    if (!read.error.empty() || read.name != "in.txt") std::abort();
    if (read.text != std::vector<std::uint8_t>(data, data + size)) std::abort();
    return 0;
}
