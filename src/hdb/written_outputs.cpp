#include "hdb/written_outputs.h"

#include <utility>

namespace foliant::hdb {

void WrittenOutputs::add(Output output) {
    const auto position = static_cast<std::uint32_t>(outputs_.size());
    outputs_.push_back(std::move(output));
    const Output& added = outputs_.back();
    // A file number of 0 is none: it reaches no output by the file.
    if (added.id != fs::FileId{})
        byId_.add(position, idHash(added.id), [this](std::uint32_t kept) { return idHash(outputs_[kept].id); });
    byName_.add(position, foldedHash(added.name),
                [this](std::uint32_t kept) { return foldedHash(outputs_[kept].name); });
}

bool WrittenOutputs::reached(const std::string& target, const fs::PathStatus& there, const SameEntry& sameEntry) const {
    if (there.kind == fs::PathKind::missing) return false;
    const auto stillHolds = [this](std::uint32_t position) {
        const Output& earlier = outputs_[position];
        return fs::inspectPath(earlier.name).id == earlier.id;
    };
    if (there.id != fs::FileId{} && byId_.any(idHash(there.id), [&](std::uint32_t position) {
            return outputs_[position].id == there.id && stillHolds(position);
        }))
        return true;
    return byName_.any(foldedHash(target), [&](std::uint32_t position) {
        return sameEntry(outputs_[position].name, target) && stillHolds(position);
    });
}

}  // namespace foliant::hdb
