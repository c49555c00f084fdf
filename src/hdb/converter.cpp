#include "hdb/converter.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "hdb/file_names.h"
#include "hdb/file_system.h"
#include "hdb/hdb_format.h"

namespace foliant::hdb {
namespace {

// Text is streamed through a buffer of this many whole blocks, so memory
// stays flat whatever the input size.
constexpr std::size_t BLOCKS_PER_CHUNK = 4096;  // 4 MiB of text

void report(const char* message) { std::printf("%s", message); }
void report(const char* format, const std::string& name) { std::printf(format, name.c_str()); }

// Fills `buffer` from the file; false unless every byte arrived.
bool readExactly(fs::File& file, std::uint8_t* buffer, std::size_t count) {
    while (count > 0) {
        const std::int64_t got = file.readSome(buffer, count);
        if (got <= 0) return false;  // error, or the text shrank
        buffer += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

// A fresh file beside the output, to be moved over it once complete.
bool createTemporary(fs::File& file, std::string& name) {
    std::random_device entropy;
    std::uniform_int_distribution<unsigned> digit(0, 15);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = ".foliant-";
        for (int i = 0; i < 12; ++i) name += "0123456789abcdef"[digit(entropy)];
        name += ".tmp";
        switch (file.createNew(name)) {
            case fs::CreateResult::created: return true;
            case fs::CreateResult::alreadyExists: continue;
            case fs::CreateResult::failed: return false;
        }
    }
    return false;
}

enum class StreamResult { done, readFailed, writeFailed };

// Writes the front records, then every text block behind its prefix.
StreamResult writeBlocks(const BlockPlan& plan, const std::vector<std::uint8_t>& front, fs::File& input,
                         fs::File& output) {
    if (!output.writeAll(front.data(), front.size())) return StreamResult::writeFailed;
    std::vector<std::uint8_t> text(BLOCKS_PER_CHUNK * TEXT_BLOCK_SIZE);
    std::vector<std::uint8_t> blocks(BLOCKS_PER_CHUNK * (MAX_PREFIX_LENGTH + TEXT_BLOCK_SIZE));
    std::uint32_t block = 1;
    while (block <= plan.textBlockCount()) {
        const std::uint32_t chunkEnd =
            std::min<std::uint32_t>(plan.textBlockCount() + 1, block + static_cast<std::uint32_t>(BLOCKS_PER_CHUNK));
        const std::size_t textBytes = static_cast<std::size_t>(chunkEnd - block - 1) * TEXT_BLOCK_SIZE +
                                      plan.payloadLength(chunkEnd - 1);
        if (!readExactly(input, text.data(), textBytes)) return StreamResult::readFailed;
        std::size_t used = 0;
        const std::uint8_t* payload = text.data();
        for (; block < chunkEnd; ++block) {
            const std::uint32_t length = plan.payloadLength(block);
            used += encodeLengthPrefix(length, &blocks[used]);
            std::copy_n(payload, length, &blocks[used]);
            used += length;
            payload += length;
        }
        if (!output.writeAll(blocks.data(), used)) return StreamResult::writeFailed;
    }
    return StreamResult::done;
}

}  // namespace

bool convertFile(const std::string& inputName, std::string& output) {
    std::uint64_t textSize = 0;
    fs::FileId inputId;
    {
        fs::File input;
        if (!input.openForReading(inputName) || !input.size(textSize) || !input.id(inputId)) {
            report("error: file not found: %s\r\n", inputName);
            return false;
        }
    }
    if (textSize > MAX_TEXT_SIZE) {
        report("error: file too large: %s\r\n", inputName);
        return false;
    }

    const PathSyntax syntax = nativePathSyntax();
    const std::string_view base = baseName(inputName, syntax);
    const BlockPlan plan(textSize);
    const std::vector<std::uint8_t> front = encodeFront(headerName(base, syntax), plan);
    const std::string target = outputName(base);

    fs::File input;
    if (!input.openForReading(inputName)) {
        report("error: file not found\r\n");
        return false;
    }

    const fs::PathStatus existing = fs::inspectPath(target);
    if (existing.kind != fs::PathKind::missing) {
        fs::FileId reopenedId;
        if (existing.id == inputId || (input.id(reopenedId) && existing.id == reopenedId)) {
            report("error: input and output are the same file: %s\r\n", inputName);
            return false;
        }
        // Moving a file into place would replace these too; refuse as
        // creating the file over them would.
        if (existing.kind != fs::PathKind::regularFile || existing.readOnly) {
            report("error: file not created\r\n");
            return false;
        }
    }

    fs::File outputFile;
    std::string temporary;
    if (!createTemporary(outputFile, temporary)) {
        report("error: file not created\r\n");
        return false;
    }
    const StreamResult streamed = writeBlocks(plan, front, input, outputFile);
    const bool closed = outputFile.close();
    input.close();
    if (streamed != StreamResult::done || !closed) {
        fs::removeFile(temporary);
        if (streamed == StreamResult::readFailed) report("error: file not read: %s\r\n", inputName);
        else report("error: file not written: %s\r\n", target);
        return false;
    }
    if (!fs::replaceFile(temporary, target)) {
        fs::removeFile(temporary);
        report("error: file not created\r\n");
        return false;
    }
    output = target;
    report("%s converted.\n", output);
    return true;
}

}  // namespace foliant::hdb
