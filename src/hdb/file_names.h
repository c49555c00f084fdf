// How an input name becomes the header's name field and the output name.
// The rules depend on the platform's path syntax, which is passed in so that
// both platforms' rules can be tested on either build.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace foliant::hdb {

// Bytes of the character that starts at `pos` (at least 1, never past the end).
using CharacterLength = std::function<std::size_t(std::string_view name, std::size_t pos)>;

struct PathSyntax {
    bool backslashSeparates = false;
    bool driveLetterPrefix = false;  // "C:book.txt" names book.txt on drive C
    CharacterLength characterLength;
    // The output rule's "fourth-last character": Windows counts characters
    // of the Unicode name; POSIX counts bytes, as it always has.
    bool outputRuleCountsCharacters = false;
};

// '/' separates; names are UTF-8.
PathSyntax posixPathSyntax();
// '\', '/' and a drive prefix separate. The tool carries Windows names as
// UTF-8, but `characterLength` may also be a double-byte code page's, whose
// trail byte may look like '\'.
PathSyntax windowsPathSyntax(CharacterLength characterLength);
// The syntax of the platform this build runs on.
PathSyntax nativePathSyntax();
// The header's name field for `base` on this platform: the longest front
// that fits 31 bytes, on Windows in the ANSI code page.
std::string nativeHeaderName(std::string_view base);
// Windows builds: the header's name field for a UTF-8 base name, in
// `codePage` (0 for the ANSI code page).
std::string headerNameInCodePage(std::string_view utf8Base, unsigned codePage);

// The part after the last directory separator (the whole name if none).
std::string_view baseName(std::string_view name, const PathSyntax& syntax);

// The longest front of `base` that fits the header's 31 name bytes without
// splitting a character.
std::string_view headerName(std::string_view base, const PathSyntax& syntax);

// "x.abc" -> "x.hdb"; otherwise ".hdb" is appended: "ab" -> "ab.hdb".
std::string outputName(std::string_view base, const PathSyntax& syntax);

// True when `name` contains ".txt" or ".TXT" anywhere; other spellings
// such as ".Txt" do not count.
bool namesTextFile(std::string_view name);

// Equal but for the case of ASCII letters, as a folder that ignores case
// compares names at the least.
bool equalIgnoringCase(std::string_view a, std::string_view b);

// Ends in ".hdb" in any case: an output, not a text, wherever case is ignored.
bool endsWithHdb(std::string_view name);

}  // namespace foliant::hdb
