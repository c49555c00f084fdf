// Converts text files into HDB files in the current directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hdb/positions.h"
#include "hdb/written_outputs.h"
#include "platform/file_system.h"

namespace foliant::hdb {

// What the conversions of one run share: the outputs written so far, which
// no later input of the run may replace; the outputs still pending, which
// take their names together once one flush has made them all durable; and
// the folder, which is swept of earlier runs' debris before the first
// conversion and whose new names are made durable at the end.
class Session {
public:
    Session() = default;
    // `listing`: the current folder's entries, where the caller has read
    // them already ("all"); it must outlive the session. Otherwise the
    // folder is listed when needed.
    explicit Session(const std::vector<std::string>& listing) : given_(&listing), listing_(&listing) {}
    explicit Session(std::vector<std::string>&&) = delete;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() = default;

    // Converts the file named `inputName` into an output that takes its name,
    // and has its success line printed, when its batch is complete: at the
    // latest in finish(). `output` is that name (bare, relative to the
    // current directory). On failure the outputs of earlier inputs are in
    // place with their lines, then exactly one message has been printed, no
    // temporary file is left, and any earlier file of this output's name is
    // as it was.
    bool convertFile(const std::string& inputName, std::string& output);
    // The same for `listedName`, a name as the folder's listing gave it,
    // opened as exactly that entry.
    bool convertEntry(const std::string& listedName, std::string& output);

    // Gives every pending output its name, then makes every name the run has
    // given durable. False, with its message, when that fails.
    bool finish();

private:
    bool convert(const std::string& inputName, const std::string& path, std::string& output);
    // Prints `message` after completing the batch, whose lines come first;
    // if the batch fails, its message stands instead.
    bool fail(std::string_view message, const std::string& name = {});
    // Ends the run's part after a failure: makes the names given so far
    // durable, and says false.
    bool failed();
    // Makes the pending outputs durable with one flush, then names them in
    // input order, each followed by its line.
    bool completeBatch();
    void sweepOnce();
    void recordOutput(const std::string& name, fs::FileId id, bool overAFile);
    // Whether `target`, a name that holds the file `there`, reaches an
    // output this run wrote.
    bool wrote(const std::string& target, const fs::PathStatus& there);
    // Whether a pending output's name may be `name`'s entry.
    bool pendingAs(std::string_view name) const;
    // Whether two names in the current folder name one entry.
    bool sameEntry(std::string_view a, std::string_view b);
    // Whether the folder lists `name`, as a listing would now; empty when
    // the folder cannot be listed.
    std::optional<bool> listed(std::string_view name);
    // Makes the ".hdb" names among `names`, a listing just taken, the ones
    // listed.
    void keepOutputNames(std::vector<std::string>& names);
    const std::string& snapshotName(std::uint32_t position) const;
    void addToSnapshot(std::uint32_t position);
    void indexSnapshot();
    bool inSnapshot(std::string_view name) const;

    bool swept_ = false;
    WrittenOutputs written_;
    // The batch: outputs complete but not yet named, in input order.
    std::vector<std::string> pendingNames_;
    Positions pendingByName_;
    std::vector<fs::PendingFile> pendingFiles_;
    std::uint64_t pendingBytes_ = 0;
    std::size_t batchLimit_ = 0;

    // The folder's names as one listing gave them, brought up to date with
    // the names this run has given since; only names that end in ".hdb", in
    // any case, are asked about.
    const std::vector<std::string>* given_ = nullptr;  // the caller's listing
    const std::vector<std::string>* listing_ = nullptr;
    std::vector<std::string> ownListing_;  // a listing of our own: its ".hdb" names
    bool listingFailed_ = false;
    // Its ".hdb" names by folded name: positions in *listing_, indexed when
    // first asked, or ADDED and a position in written_.
    Positions snapshot_;
    bool snapshotIndexed_ = false;
    std::size_t snapshotUpTo_ = 0;  // the outputs written_[0, snapshotUpTo_) are in it
};

// One conversion as a whole run.
bool convertFile(const std::string& inputName, std::string& output);

}  // namespace foliant::hdb
