// Any name through the naming rules of both platforms.
#include <cstdlib>
#include <string>
#include <string_view>

#include "hdb/file_names.h"

using namespace foliant::hdb;

namespace {

std::size_t doubleByteLength(std::string_view name, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(name[pos]);
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    return lead && pos + 1 < name.size() ? 2 : 1;
}

void require(bool condition) {
    if (!condition) std::abort();
}

void check(std::string_view name, const PathSyntax& syntax, std::size_t longestCharacter) {
    const std::string_view base = baseName(name, syntax);
    require(name.ends_with(base));
    // No separator is left, except as the second byte of a character.
    for (std::size_t pos = 0; pos < base.size();) {
        const std::size_t length = syntax.characterLength(base, pos);
        require(length > 1 || (base[pos] != '/' && (!syntax.backslashSeparates || base[pos] != '\\')));
        pos += length;
    }
    const std::string_view header = headerName(base, syntax);
    require(base.starts_with(header) && header.size() <= 31);
    // Only a character that would cross byte 31 is left out.
    if (base.size() > 31) require(header.size() + longestCharacter > 31);
    const std::string output = outputName(base, syntax);
    require(output.ends_with(".hdb"));
    // Either ".hdb" is appended, or a '.' and what follows it are replaced.
    const std::string_view kept = std::string_view(output).substr(0, output.size() - 4);
    require(base.starts_with(kept));
    require(kept.size() == base.size() || (base[kept.size()] == '.' && base.size() - kept.size() >= 4));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    check(name, posixPathSyntax(), 4);
    check(name, windowsPathSyntax(doubleByteLength), 2);
    return 0;
}
