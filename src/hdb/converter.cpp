#include "hdb/converter.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "hdb/file_names.h"
#include "hdb/hdb_format.h"
#include "hdb/printable_name.h"
#include "platform/console.h"
#include "platform/directory_listing.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace foliant::hdb {
namespace {

// Text is streamed through a buffer of this many whole blocks, so memory
// stays flat whatever the input size. Small enough to stay in the cache
// between the read and the write, which matters more than fewer calls.
constexpr std::size_t BLOCKS_PER_CHUNK = 256;

void report(std::string_view message) { console::print(message); }
// `format` holds one "%s", which stands for `name`.
void report(std::string_view format, const std::string& name) {
    const std::size_t at = format.find("%s");
    console::print(std::string(format.substr(0, at)) + printableName(name) + std::string(format.substr(at + 2)));
}

enum class StreamResult { done, readFailed, writeFailed };

// Writes the front records, then every text block behind its prefix, a
// chunk at a time. The first write carries the front records too, so a
// small text takes one write.
StreamResult writeBlocks(const BlockPlan& plan, std::vector<std::uint8_t> blocks, fs::File& input,
                         fs::PendingFile& output) {
    const std::uint32_t lastBlock = plan.textBlockCount();
    const std::size_t chunkBlocks = std::min<std::size_t>(BLOCKS_PER_CHUNK, lastBlock);
    std::vector<std::uint8_t> text(chunkBlocks * TEXT_BLOCK_SIZE);
    std::size_t used = blocks.size();
    blocks.resize(used + chunkBlocks * (MAX_PREFIX_LENGTH + TEXT_BLOCK_SIZE));
    for (std::uint32_t block = 1; block <= lastBlock; used = 0) {
        const auto chunkEnd = static_cast<std::uint32_t>(std::min<std::size_t>(lastBlock + 1, block + chunkBlocks));
        const std::size_t textBytes = (chunkEnd - 1 - block) * TEXT_BLOCK_SIZE + plan.payloadLength(chunkEnd - 1);
        if (!input.readExactly(text.data(), textBytes)) return StreamResult::readFailed;
        for (const std::uint8_t* payload = text.data(); block < chunkEnd; ++block) {
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

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// Two names in the current folder name one entry: spelled alike, or alike
// but for case where the folder lists only one of the two spellings. Such a
// folder ignores case, and its driver may number the file once per
// spelling (exFAT and FAT through FUSE), so the numbers cannot tell.
bool sameEntry(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (!equalIgnoringCase(a, b)) return false;
    std::vector<std::string> names;
    if (!fs::listCurrentDirectory(names)) return true;  // unknown: take no risk
    const auto listed = [&names](std::string_view name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    return !(listed(a) && listed(b));
}

// The input lies in the current folder, where the output goes.
bool inCurrentFolder(const std::string& inputName, std::string_view base) {
    if (base.size() == inputName.size()) return true;
    const fs::PathStatus folder = fs::inspectPath(inputName.substr(0, inputName.size() - base.size()));
    return folder.kind == fs::PathKind::directory && folder.id == fs::inspectPath(".").id;
}

}  // namespace

void Session::sweepOnce() {
    if (swept_) return;
    swept_ = true;
    if (!listing_) {
        std::vector<std::string> names;
        if (!fs::listCurrentDirectory(names)) return;
        listing_ = std::move(names);
    }
    (void)fs::sweepDebris(*listing_);
}

bool Session::wrote(const std::string& target, const fs::FileId& id) const {
    return std::any_of(written_.begin(), written_.end(),
                       [&](const Written& earlier) { return earlier.id == id || sameEntry(earlier.name, target); });
}

bool Session::finish() {
    if (written_.empty() || fs::syncCurrentFolder()) return true;
    report("error: file not written: %s\r\n", written_.back().name);
    return false;
}

bool convertFile(const std::string& inputName, std::string& output) {
    Session session;
    return session.convertFile(inputName, output) && session.finish();
}

bool Session::convertFile(const std::string& inputName, std::string& output) {
    sweepOnce();
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
    std::vector<std::uint8_t> front = encodeFront(nativeHeaderName(base), plan);
    const std::string target = outputName(base, syntax);

    fs::File input;
    if (!input.openForReading(inputName)) {
        report("error: file not found\r\n");
        return false;
    }

    // An impossible name is refused here too, before the text is copied.
    const fs::PathStatus existing = fs::inspectPath(target);
    if (existing.kind != fs::PathKind::missing) {
        fs::FileId reopenedId;
        if (existing.id == inputId || (input.id(reopenedId) && existing.id == reopenedId) ||
            (inCurrentFolder(inputName, base) && sameEntry(base, target))) {
            report("error: input and output are the same file: %s\r\n", inputName);
            return false;
        }
        // Two inputs of one run with one output name: the second would
        // silently replace the first's conversion.
        if (wrote(target, existing.id)) {
            report("error: output already written in this run: %s\r\n", target);
            return false;
        }
        // Moving a file into place would replace these too; refuse as
        // creating the file over them would.
        if (existing.kind != fs::PathKind::regularFile || existing.readOnly) {
            report("error: file not created\r\n");
            return false;
        }
    }

    fs::PendingFile outputFile;
    if (!outputFile.create(target)) {
        report("error: file not created\r\n");
        return false;
    }
    const StreamResult streamed = writeBlocks(plan, std::move(front), input, outputFile);
    input.close();
    if (streamed != StreamResult::done) {
        outputFile.discard();
        if (streamed == StreamResult::readFailed) report("error: file not read: %s\r\n", inputName);
        else report("error: file not written: %s\r\n", target);
        return false;
    }
    {
        // A run stopped from here on has the output in place and its line
        // printed, or neither.
        const process::SignalsHeld held;
        switch (outputFile.commit()) {
            case fs::PendingFile::CommitResult::committed: break;
            case fs::PendingFile::CommitResult::notWritten:
                report("error: file not written: %s\r\n", target);
                return false;
            case fs::PendingFile::CommitResult::notPlaced: report("error: file not created\r\n"); return false;
        }
        report("%s converted.\n", target);
    }
    written_.push_back(Written{target, fs::inspectPath(target).id});
    output = target;
    return true;
}

}  // namespace foliant::hdb
