// The outputs written so far, and whether a name reaches one of them: a run
// never replaces an output it wrote, nor the launcher one of an earlier run
// it made, whatever name reaches it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "hdb/positions.h"
#include "platform/file_system.h"

namespace foliant::hdb {

class WrittenOutputs {
public:
    struct Output {
        std::string name;
        fs::FileId id;           // none (0) where the system gave none
        bool overAFile = false;  // its name held a file when it took it
    };
    // Whether two names in the current folder name one entry.
    using SameEntry = std::function<bool(std::string_view a, std::string_view b)>;

    void add(Output output);
    // Whether `target`, a name that holds the file `there`, reaches one of
    // them. By the file first: a name that reaches an output (its short 8.3
    // name, another spelling where the folder folds case) is that output.
    // Then by `sameEntry`, for folders whose driver numbers a file once per
    // spelling. Either way the output's own name must still hold it: another
    // run may have replaced it since, and a new file may have its old number.
    bool reached(const std::string& target, const fs::PathStatus& there, const SameEntry& sameEntry) const;
    const std::vector<Output>& all() const { return outputs_; }

private:
    std::vector<Output> outputs_;
    Positions byId_;
    Positions byName_;  // by the name as the folder compares names: ASCII case folded
};

}  // namespace foliant::hdb
