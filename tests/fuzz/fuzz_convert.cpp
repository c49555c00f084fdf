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

// The arguments with every path made absolute, since the run changes folder
// before libFuzzer reads them: the corpus folders and seed files, and the
// flags that name a file or a folder. A crashing input goes to the folder
// the run started in unless -artifact_prefix says otherwise.
std::vector<std::string> arguments;
std::vector<char*> argumentPointers;

void resolvePaths(int* argc, char*** argv) {
    const std::string startedIn = std::filesystem::current_path().string() + "/";
    bool artifactPrefix = false;
    for (int i = 0; i < *argc; ++i) {
        std::string argument = (*argv)[i];
        if (i > 0 && !argument.starts_with("-")) {
            argument = std::filesystem::absolute(argument).string();
        } else {
            for (const std::string flag : {"-artifact_prefix=", "-exact_artifact_path=", "-dict="}) {
                if (!argument.starts_with(flag) || argument.size() == flag.size()) continue;
                artifactPrefix = artifactPrefix || flag == "-artifact_prefix=";
                if (argument[flag.size()] != '/') argument.insert(flag.size(), startedIn);
            }
        }
        arguments.push_back(argument);
    }
    if (!artifactPrefix) arguments.insert(arguments.begin() + 1, "-artifact_prefix=" + startedIn);
    for (std::string& argument : arguments) argumentPointers.push_back(argument.data());
    argumentPointers.push_back(nullptr);
    *argc = static_cast<int>(arguments.size());
    *argv = argumentPointers.data();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    resolvePaths(argc, argv);
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
