#include "hdb/file_names.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/utf16.h"

namespace foliant::hdb {
namespace {

// A double-byte code page in the manner of Shift-JIS: trail bytes may be '\'.
std::size_t shiftJisLikeLength(std::string_view name, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(name[pos]);
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    return lead && pos + 1 < name.size() ? 2 : 1;
}

TEST(FileNames, OutputName) {
    const PathSyntax posix = posixPathSyntax();
    const PathSyntax windows = windowsPathSyntax(text::utf8CharacterLength);
    const struct {
        const char* base;
        const char* output;
    } bothPlatforms[] = {
        {"book.txt", "book.hdb"},
        {"BOOK.TXT", "BOOK.hdb"},
        {"notes.txt.bak", "notes.txt.hdb"},
        {"a.txt5", "a.txt5.hdb"},
        {"ab", "ab.hdb"},
        {".txt", ".hdb"},
        {"a.txt.hdb", "a.txt.hdb"},
        {"notes.doc", "notes.hdb"},
        {"x.TXTfile", "x.TXTfile.hdb"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xE6\x97\xA5\xE6\x9C\xAC.hdb"},  // 日本.txt
        {"R\xC3\xA9sum\xC3\xA9.txt", "R\xC3\xA9sum\xC3\xA9.hdb"},
    };
    for (const auto& c : bothPlatforms) {
        EXPECT_EQ(outputName(c.base, posix), c.output) << c.base;
        EXPECT_EQ(outputName(c.base, windows), c.output) << c.base;
    }
    // Windows counts the characters of the Unicode name, as it counted those
    // of an ANSI name; POSIX counts bytes.
    const struct {
        const PathSyntax& syntax;
        const char* base;
        const char* output;
    } perPlatform[] = {
        {windows, "x.\xE6\x97\xA5", "x.\xE6\x97\xA5.hdb"},  // x.日 has three characters
        {posix, "x.\xE6\x97\xA5", "x.hdb"},                 // and five bytes
        {windows, "ab.\xC3\xA9", "ab.\xC3\xA9.hdb"},
        {windows, "a.\xC3\xA9yz", "a.hdb"},
        {posix, "a.\xC3\xA9yz", "a.\xC3\xA9yz.hdb"},
        {windows, ".\xF0\x9F\x98\x80x", ".\xF0\x9F\x98\x80x.hdb"},  // one character, not two
        {windows, "\xF0\x9F\x98\x80.abc", "\xF0\x9F\x98\x80.hdb"},
    };
    for (const auto& c : perPlatform) EXPECT_EQ(outputName(c.base, c.syntax), c.output) << c.base;
}

TEST(FileNames, BaseNameOnEachPlatform) {
    const PathSyntax posix = posixPathSyntax();
    const PathSyntax windows = windowsPathSyntax(shiftJisLikeLength);
    const struct {
        const PathSyntax& syntax;
        std::string name;
        std::string base;
    } cases[] = {
        {posix, "book.txt", "book.txt"},
        {posix, "texts/sub/book.txt", "book.txt"},
        {posix, "C:\\texts\\book.txt", "C:\\texts\\book.txt"},  // '\' is an ordinary byte here
        {windows, "C:\\texts\\book.txt", "book.txt"},
        {windows, "C:/texts/book.txt", "book.txt"},
        {windows, "C:book.txt", "book.txt"},
        {windows, "..\\a/b\\c.txt", "c.txt"},
        {windows, "\\\\server\\share\\c.txt", "c.txt"},
        {windows, "\x95\\.txt", "\x95\\.txt"},  // 0x95 0x5C is one character
        {windows, "dir\\\x95\\.txt", "\x95\\.txt"},
        {posix, "dir\xC0/b.txt", "b.txt"},  // C0 starts no character, so '/' is no trail byte
        {posix, "dir\xE2\x82/b.txt", "b.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(baseName(c.name, c.syntax), c.base) << c.name;
}

TEST(FileNames, HeaderNameKeepsWholeCharacters) {
    const PathSyntax posix = posixPathSyntax();
    const PathSyntax windows = windowsPathSyntax(shiftJisLikeLength);
    const std::string a30(30, 'a');
    const struct {
        const PathSyntax& syntax;
        std::string base;
        std::string header;
    } cases[] = {
        {posix, a30 + "b", a30 + "b"},
        {posix, a30 + "bc.txt", a30 + "b"},
        {posix, a30 + "\xC3\xA9.txt", a30},  // é would be split
        {posix, "a" + a30 + "\xC3\xA9", "a" + a30},
        {posix, a30 + "\xE2\x82\xAC", a30},  // so would €
        {posix,
         a30 + "\xC3"
               "x",
         a30 + "\xC3"},  // a stray lead byte is one byte
        // C0 and C1 would only spell ASCII the long way, so they are never valid.
        {posix, a30 + "\xC0\x80", a30 + "\xC0"},
        {posix, a30 + "\xC1\xBF", a30 + "\xC1"},
        {posix, a30 + "\xC2\x80", a30},  // C2 is the first real lead byte
        // A lead byte followed by another lead byte is malformed.
        {posix, a30 + "\xC3\xC3", a30 + "\xC3"},
        {posix, a30 + "\xE2\x82", a30 + "\xE2"},  // cut off by the end of the name
        {posix, std::string(29, 'a') + "\xE2\x82\xC3", std::string(29, 'a') + "\xE2\x82"},
        {posix, std::string(28, 'a') + "\xF0\x9F\x98\xC3", std::string(28, 'a') + "\xF0\x9F\x98"},
        // F4 is the last lead byte of four; F5 and above start nothing.
        {posix, std::string(28, 'a') + "\xF4\x8F\xBF\xBF", std::string(28, 'a')},
        {posix, std::string(28, 'a') + "\xF5\x80\x80\x80", std::string(28, 'a') + "\xF5\x80\x80"},
        {windows, a30 + "\x95\\", a30},
        {windows, "\x95\\" + a30, "\x95\\" + std::string(29, 'a')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(headerName(c.base, c.syntax), c.header) << c.base;
        EXPECT_LE(headerName(c.base, c.syntax).size(), 31u);
    }
}

}  // namespace
}  // namespace foliant::hdb
