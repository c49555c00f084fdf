// Converts text files into HDB files in the current directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
    // them already ("all"); otherwise the folder is listed when needed.
    explicit Session(std::vector<std::string> listing) : listing_(std::move(listing)) {}
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
    struct Written {
        std::string name;
        fs::FileId id;
    };
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
    // Whether `target`, a name that holds the file `there`, reaches an
    // output this run wrote.
    bool wrote(const std::string& target, const fs::PathStatus& there) const;
    // Whether a pending output's name may be `name`'s entry.
    bool pendingAs(std::string_view name) const;

    std::optional<std::vector<std::string>> listing_;
    bool swept_ = false;
    std::vector<Written> written_;
    // The batch: outputs complete but not yet named, in input order.
    std::vector<std::string> pendingNames_;
    std::vector<fs::PendingFile> pendingFiles_;
    std::uint64_t pendingBytes_ = 0;
    std::size_t batchLimit_ = 0;
};

// One conversion as a whole run.
bool convertFile(const std::string& inputName, std::string& output);

}  // namespace foliant::hdb
