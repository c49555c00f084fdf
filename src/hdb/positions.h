// An index of positions in a sequence kept elsewhere, found by the hash of
// their key, and the hashes the converter's indexes use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"

namespace foliant::hdb {

// Open addressing, at most half full, 4 bytes a slot. A lookup visits the
// positions whose keys share its slot's run; the caller compares the keys.
class Positions {
public:
    // `hashOf` gives the hash of any position added before, for growing.
    template <typename HashOf>
    void add(std::uint32_t position, std::size_t hash, HashOf hashOf) {
        if ((size_ + 1) * 2 > slots_.size()) {
            std::vector<std::uint32_t> old =
                std::exchange(slots_, std::vector<std::uint32_t>(std::max<std::size_t>(16, slots_.size() * 2), FREE));
            size_ = 0;
            for (const std::uint32_t kept : old)
                if (kept != FREE) add(kept, hashOf(kept), hashOf);
        }
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = hash & mask;
        while (slots_[slot] != FREE) slot = (slot + 1) & mask;
        slots_[slot] = position;
        ++size_;
    }
    template <typename Visit>
    bool any(std::size_t hash, Visit visit) const {
        if (slots_.empty()) return false;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = hash & mask; slots_[slot] != FREE; slot = (slot + 1) & mask)
            if (visit(slots_[slot])) return true;
        return false;
    }
    void clear() { slots_.clear(), size_ = 0; }

private:
    static constexpr std::uint32_t FREE = ~std::uint32_t{0};
    std::vector<std::uint32_t> slots_;
    std::size_t size_ = 0;
};

// The hash of a name as a folder that ignores case compares it (FNV-1a over
// the name with ASCII letters folded), so that all its spellings meet.
inline std::size_t foldedHash(std::string_view name) {
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const char c : name) {
        const char folded = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        hash = (hash ^ static_cast<unsigned char>(folded)) * 0x100000001b3;
    }
    return static_cast<std::size_t>(hash);
}

inline std::size_t idHash(const fs::FileId& id) {
    std::uint64_t hash = (id.index ^ (id.volume * 0x9e3779b97f4a7c15)) * 0xbf58476d1ce4e5b9;
    return static_cast<std::size_t>(hash ^ (hash >> 31));
}

}  // namespace foliant::hdb
