// Converts text files into HDB files in the current directory.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"

namespace foliant::hdb {

// What the conversions of one run share: the outputs written so far, which
// no later input of the run may replace, and the folder, which is swept of
// earlier runs' debris before the first conversion and whose new names are
// made durable at the end.
class Session {
public:
    Session() = default;
    // `listing`: the current folder's entries, where the caller has read
    // them already ("all"); otherwise the folder is listed when needed.
    explicit Session(std::vector<std::string> listing) : listing_(std::move(listing)) {}

    // Converts the file named `inputName`. On success `output` holds the
    // name of the finished file (a bare name, relative to the current
    // directory) and the success line has been printed. On failure exactly
    // one message has been printed, no temporary file is left, and any
    // earlier file of the output's name is as it was.
    bool convertFile(const std::string& inputName, std::string& output);

    // Makes every name the run has given durable. False, with its message,
    // when the system says it could not.
    bool finish();

private:
    struct Written {
        std::string name;
        fs::FileId id;
    };
    void sweepOnce();
    // Whether `target`, an existing name, is an output this run wrote.
    bool wrote(const std::string& target, const fs::FileId& id) const;

    std::optional<std::vector<std::string>> listing_;
    bool swept_ = false;
    std::vector<Written> written_;
};

// One conversion as a whole run.
bool convertFile(const std::string& inputName, std::string& output);

}  // namespace foliant::hdb
