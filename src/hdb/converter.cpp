#include "hdb/converter.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "hdb/file_names.h"
#include "hdb/hdb_format.h"
#include "hdb/printable_name.h"
#include "hdb/same_entry.h"
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

// A batch of pending outputs is made durable, and named, once it holds this
// many bytes: a flush then has a bounded amount to write, and an
// interrupted run loses at most this much work.
constexpr std::uint64_t MAX_PENDING_BYTES = 64 << 20;

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
    // A text must end where it was measured: one under /proc reports no
    // size, and one still growing would be cut.
    return input.atEnd() ? StreamResult::done : StreamResult::readFailed;
}

// In the snapshot's positions: an output of this run named since the listing.
constexpr std::uint32_t ADDED = std::uint32_t{1} << 31;

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
    if (given_ != nullptr) {
        fs::sweepDebris(*given_);
        return;
    }
    std::vector<std::string> names;
    if (!fs::listCurrentDirectory(names)) return;
    fs::sweepDebris(names);
    keepOutputNames(names);
}

void Session::keepOutputNames(std::vector<std::string>& names) {
    // The question whether the folder lists a name is asked only about
    // outputs' names.
    for (std::string& name : names)
        if (endsWithHdb(name)) ownListing_.push_back(std::move(name));
    listing_ = &ownListing_;
    snapshotIndexed_ = false;
}

const std::string& Session::snapshotName(std::uint32_t position) const {
    return (position & ADDED) != 0 ? written_.all()[position & ~ADDED].name : (*listing_)[position];
}

void Session::addToSnapshot(std::uint32_t position) {
    snapshot_.add(position, foldedHash(snapshotName(position)),
                  [this](std::uint32_t kept) { return foldedHash(snapshotName(kept)); });
}

bool Session::inSnapshot(std::string_view name) const {
    return snapshot_.any(foldedHash(name), [&](std::uint32_t position) { return snapshotName(position) == name; });
}

void Session::indexSnapshot() {
    if (snapshotIndexed_) return;
    snapshotIndexed_ = true;
    for (std::size_t i = 0; i < listing_->size(); ++i)
        if (endsWithHdb((*listing_)[i])) addToSnapshot(static_cast<std::uint32_t>(i));
}

std::optional<bool> Session::listed(std::string_view name) {
    if (listing_ != nullptr) indexSnapshot();
    // The names this run has given since the listing count as listed, as a
    // new listing would show them.
    const std::vector<WrittenOutputs::Output>& written = written_.all();
    for (; listing_ != nullptr && snapshotUpTo_ < written.size(); ++snapshotUpTo_) {
        const WrittenOutputs::Output& output = written[snapshotUpTo_];
        if (inSnapshot(output.name)) continue;
        // It replaced a file that the listing shows under another spelling,
        // or not at all: which spelling the folder keeps, only a new listing
        // tells.
        if (output.overAFile) listing_ = nullptr;
        else addToSnapshot(ADDED | static_cast<std::uint32_t>(snapshotUpTo_));
    }
    if (listing_ == nullptr) {
        // One that failed is tried again once the run has given a name.
        if (listingFailed_ && snapshotUpTo_ == written.size()) return std::nullopt;
        snapshot_.clear();
        ownListing_.clear();
        snapshotUpTo_ = written.size();
        std::vector<std::string> names;
        listingFailed_ = !fs::listCurrentDirectory(names);
        if (listingFailed_) return std::nullopt;
        keepOutputNames(names);
        indexSnapshot();
    }
    return inSnapshot(name);
}

bool Session::sameEntry(std::string_view a, std::string_view b) {
    return hdb::sameEntry(a, b, [this](std::string_view name) { return listed(name); });
}

void Session::recordOutput(const std::string& name, fs::FileId id, bool overAFile) {
    written_.add(WrittenOutputs::Output{name, id, overAFile});
}

bool Session::wrote(const std::string& target, const fs::PathStatus& there) {
    return written_.reached(target, there, [this](std::string_view a, std::string_view b) { return sameEntry(a, b); });
}

bool Session::pendingAs(std::string_view name) const {
    return pendingByName_.any(foldedHash(name),
                              [&](std::uint32_t position) { return equalIgnoringCase(pendingNames_[position], name); });
}

bool Session::completeBatch() {
    if (pendingNames_.empty()) return true;
    // Taken out first: whatever happens, the session's batch is empty after
    // this, and what is not named here is removed when these go.
    const std::vector<std::string> names = std::exchange(pendingNames_, {});
    std::vector<fs::PendingFile> files = std::exchange(pendingFiles_, {});
    pendingByName_.clear();
    pendingBytes_ = 0;
    const std::size_t durable = fs::makeDurable(files);
    if (durable != files.size()) {
        files.clear();
        report("error: file not written: %s\r\n", names[durable]);
        return failed();
    }
    // A run stopped from here on has each output in place with its line
    // printed, or neither: a signal waits until the batch is named.
    const process::SignalsHeld held;
    for (std::size_t i = 0; i < files.size(); ++i) {
        fs::FileId id;
        (void)files[i].id(id);
        // Checked again as it takes its name: an earlier output of the batch
        // may have made the name another spelling of itself.
        bool overAFile = false;
        const auto result = files[i].takeName([&](const fs::PathStatus& there) {
            overAFile = there.kind != fs::PathKind::missing;
            return !wrote(names[i], there);
        });
        if (result != fs::PendingFile::CommitResult::committed) {
            files.clear();
            if (result == fs::PendingFile::CommitResult::refused)
                report("error: output already written in this run: %s\r\n", names[i]);
            else report("error: file not created\r\n");
            return failed();
        }
        report("%s converted.\n", names[i]);
        recordOutput(names[i], id, overAFile);
    }
    return true;
}

bool Session::fail(std::string_view message, const std::string& name) {
    if (!completeBatch()) return false;
    if (message.find("%s") == std::string_view::npos) report(message);
    else report(message, name);
    return failed();
}

bool Session::failed() {
    // Every output announced keeps its name through a power cut, also when
    // the run ends with a failure; that failure's message is the one said.
    if (!written_.all().empty()) (void)fs::syncCurrentFolder(written_.all().back().name);
    return false;
}

bool Session::finish() {
    if (!completeBatch()) return false;
    const std::vector<WrittenOutputs::Output>& written = written_.all();
    if (written.empty() || fs::syncCurrentFolder(written.back().name) == fs::FolderSync::synced) return true;
    // The outputs are complete and in place; only their names may not
    // survive a power cut.
    report("error: folder not synced\r\n");
    return false;
}

bool convertFile(const std::string& inputName, std::string& output) {
    Session session;
    return session.convertFile(inputName, output) && session.finish();
}

bool Session::convertFile(const std::string& inputName, std::string& output) {
    return convert(inputName, inputName, output);
}

bool Session::convertEntry(const std::string& listedName, std::string& output) {
    return convert(listedName, fs::entryPath(listedName), output);
}

bool Session::convert(const std::string& inputName, const std::string& path, std::string& output) {
    sweepOnce();
    const PathSyntax syntax = nativePathSyntax();
    const std::string_view base = baseName(inputName, syntax);
    const std::string target = outputName(base, syntax);
    // An input or output that may be a pending output of this run is judged
    // with that output in place, as one conversion after another would be.
    if ((pendingAs(base) || pendingAs(target)) && !completeBatch()) return false;

    // Opened to be measured, and closed at once.
    fs::FileFacts measured;
    if (!fs::File().openForReading(path, &measured)) return fail("error: file not found: %s\r\n", inputName);
    const std::uint64_t textSize = measured.size;
    const fs::FileId inputId = measured.id;
    if (textSize > MAX_TEXT_SIZE) return fail("error: file too large: %s\r\n", inputName);

    const BlockPlan plan(textSize);
    std::vector<std::uint8_t> front = encodeFront(nativeHeaderName(base), plan);

    fs::File input;
    fs::FileFacts reopened;
    if (!input.openForReading(path, &reopened)) return fail("error: file not found\r\n");

    // An impossible name is refused here too, before the text is copied.
    const fs::PathStatus existing = fs::inspectPath(target);
    if (existing.kind != fs::PathKind::missing) {
        if (existing.id == inputId || existing.id == reopened.id ||
            (inCurrentFolder(inputName, base) && sameEntry(base, target)))
            return fail("error: input and output are the same file: %s\r\n", inputName);
        // Two inputs of one run with one output name: the second would
        // silently replace the first's conversion.
        if (wrote(target, existing)) return fail("error: output already written in this run: %s\r\n", target);
        // Moving a file into place would replace these too; refuse as
        // creating the file over them would.
        if (existing.kind != fs::PathKind::regularFile || existing.readOnly) return fail("error: file not created\r\n");
    }

    fs::PendingFile outputFile;
    if (!outputFile.create(target, existing.kind != fs::PathKind::missing)) return fail("error: file not created\r\n");
    const StreamResult streamed = writeBlocks(plan, std::move(front), input, outputFile);
    input.close();
    if (streamed != StreamResult::done) {
        outputFile.discard();
        if (streamed == StreamResult::readFailed) return fail("error: file not read: %s\r\n", inputName);
        return fail("error: file not written: %s\r\n", target);
    }
    pendingBytes_ += outputFile.size();
    pendingByName_.add(static_cast<std::uint32_t>(pendingNames_.size()), foldedHash(target),
                       [this](std::uint32_t kept) { return foldedHash(pendingNames_[kept]); });
    pendingNames_.push_back(target);
    pendingFiles_.push_back(std::move(outputFile));
    output = target;
    if (batchLimit_ == 0) batchLimit_ = fs::pendingFilesAtOnce();
    if (pendingFiles_.size() >= batchLimit_ || pendingBytes_ >= MAX_PENDING_BYTES) return completeBatch();
    return true;
}

}  // namespace foliant::hdb
