#include "platform/windows_text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "hdb/file_names.h"
#include "platform/directory_listing.h"
#include "platform/file_system.h"

namespace foliant::win {
namespace {

constexpr unsigned WESTERN = 1252;
constexpr unsigned JAPANESE = 932;  // double-byte: a trail byte may be '\'

TEST(WindowsText, ToCodePageWithoutBestFit) {
    const struct {
        unsigned codePage;
        std::wstring wide;
        std::string bytes;
    } cases[] = {
        {WESTERN, L"\u65E5\u672C.txt", "??.txt"},
        {WESTERN, L"\u03A9mega notes.txt", "?mega notes.txt"},
        {WESTERN, L"R\u00E9sum\u00E9.txt", "\x52\xE9\x73\x75\x6D\xE9\x2E\x74\x78\x74"},
        // Best fit would make these a quote and a backslash.
        {WESTERN, L"a\uFF02b\uFF3C.txt", "a?b?.txt"},
        {WESTERN, L"\xD800.txt", "?.txt"},
        {JAPANESE, L"\u65E5\u672C.txt", "\x93\xFA\x96\x7B.txt"},
        {JAPANESE, L"\u03A9mega", "\x83\xB6mega"},
        {JAPANESE, L"\u8868.txt", "\x95\x5C.txt"},          // 表: its trail byte is '\'
        {JAPANESE, L"R\u00E9sum\u00E9.txt", "R?sum?.txt"},  // not "Resume"
        {JAPANESE, L"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(toCodePage(c.wide, c.codePage), c.bytes) << c.codePage;
}

TEST(WindowsText, HeaderNameKeepsWholeDoubleByteCharacters) {
    const std::string a30(30, 'a');
    const std::string nichi = "\xE6\x97\xA5";  // 日, two bytes in 932
    std::string sixteenNichi;
    for (int i = 0; i < 16; ++i) sixteenNichi += nichi;
    std::string fifteenInJapanese;
    for (int i = 0; i < 15; ++i) fifteenInJapanese += "\x93\xFA";
    const struct {
        unsigned codePage;
        std::string base;
        std::string header;
    } cases[] = {
        {WESTERN, "\xE6\x97\xA5\xE6\x9C\xAC.txt", "??.txt"},
        {WESTERN, std::string(40, 'a'), std::string(31, 'a')},
        {WESTERN, a30 + "\xC3\xA9\xC3\xA9", a30 + "\xE9"},  // é is one byte here
        {JAPANESE, a30 + nichi, a30},                       // the character would cross byte 31
        {JAPANESE, "a" + a30 + nichi, "a" + a30},
        {JAPANESE, sixteenNichi, fifteenInJapanese},
        {JAPANESE, "a" + sixteenNichi, "a" + fifteenInJapanese},
        {JAPANESE, std::string(29, 'a') + "\xE8\xA1\xA8" + "b", std::string(29, 'a') + "\x95\x5C"},
    };
    for (const auto& c : cases) {
        const std::string header = hdb::headerNameInCodePage(c.base, c.codePage);
        EXPECT_EQ(header, c.header) << c.codePage << " " << c.base;
        EXPECT_LE(header.size(), 31u);
    }
}

TEST(WindowsText, CodePageCharacterLength) {
    EXPECT_EQ(codePageCharacterLength("\x93\xFA\x93\xFA", 0, JAPANESE), 2u);
    EXPECT_EQ(codePageCharacterLength("\x95\x5C", 0, JAPANESE), 2u);  // the trail byte is '\'
    EXPECT_EQ(codePageCharacterLength("ab\x93", 2, JAPANESE), 1u);    // a lone lead byte at the end is one byte
    EXPECT_EQ(codePageCharacterLength("\x93\xFA", 0, WESTERN), 1u);
}

TEST(WindowsText, LongPathForm) {
    const std::wstring folder = L"C:\\" + std::wstring(200, L'd') + L"\\";
    const std::wstring short259 = folder + std::wstring(259 - folder.size(), L'n');
    const std::wstring long260 = short259 + L"n";
    const std::wstring unc = L"\\\\server\\share\\" + std::wstring(250, L'u');
    const struct {
        std::wstring full;
        std::wstring form;
    } cases[] = {
        {L"C:\\texts\\book.txt", L"C:\\texts\\book.txt"},
        {short259, short259},
        {long260, L"\\\\?\\" + long260},
        {L"\\\\server\\share\\a.txt", L"\\\\server\\share\\a.txt"},
        {unc, L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'u')},
        {L"\\\\?\\" + long260, L"\\\\?\\" + long260},  // already verbatim
        {L"\\\\.\\" + std::wstring(300, L'p'), L"\\\\.\\" + std::wstring(300, L'p')},
    };
    for (const auto& c : cases) EXPECT_EQ(longPathForm(c.full), c.form) << c.full.size();
}

TEST(WindowsText, SystemPathIsNormalisedBeforeItIsVerbatim) {
    wchar_t current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
    std::wstring folder = current;
    if (!folder.ends_with(L'\\')) folder += L'\\';
    // Over 260 characters, whatever the current folder.
    const std::string deep = std::string(200, 'd') + "/" + std::string(200, 'e');
    const std::wstring wideDeep = std::wstring(200, L'd') + L"\\" + std::wstring(200, L'e');
    const struct {
        std::string name;
        std::wstring path;
    } cases[] = {
        {"a.txt", folder + L"a.txt"},
        {"sub/../a.txt. ", folder + L"a.txt"},  // as Windows itself reads the name
        {"\xE6\x97\xA5.txt", folder + L"\u65E5.txt"},
        {deep + "/f/../x.txt.", L"\\\\?\\" + folder + wideDeep + L"\\x.txt"},
        {deep + "/x.txt", L"\\\\?\\" + folder + wideDeep + L"\\x.txt"},
        {"\\\\?\\C:\\kept.txt.", L"\\\\?\\C:\\kept.txt."},  // a verbatim name is the user's choice
        {"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(systemPath(c.name), c.path) << c.name;
}

TEST(WindowsPaths, ListedEntryAtADriveRootAndInAFolder) {
    wchar_t current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 3u);
    const std::wstring folder = current;
    const std::wstring root = folder.substr(0, 3);  // C:\ of the drive the tests run on
    const struct {
        std::wstring folder;
        std::wstring path;
    } cases[] = {
        {root, L"\\\\?\\" + root + L"a.txt"},
        {folder, L"\\\\?\\" + folder + (folder.ends_with(L'\\') ? L"" : L"\\") + L"a.txt"},
    };
    for (const auto& c : cases) {
        ASSERT_NE(SetCurrentDirectoryW(c.folder.c_str()), 0);
        EXPECT_EQ(widen(fs::entryPath("a.txt")), c.path);
    }
    SetCurrentDirectoryW(folder.c_str());
}

TEST(WindowsPaths, ANameMayHave255Utf16Units) {
    std::string units84;  // 日 is three bytes in UTF-8, one unit in UTF-16
    for (int i = 0; i < 84; ++i) units84 += "\xE6\x97\xA5";
    const std::string units251 = units84 + units84 + units84.substr(0, 83 * 3);
    const struct {
        std::string name;
        fs::PathKind kind;
    } cases[] = {
        {units84 + "xx.hdb", fs::PathKind::missing},  // 90 units, 258 bytes
        {units251 + ".hdb", fs::PathKind::missing},   // 255 units
        {units251 + "x.hdb", fs::PathKind::impossibleName},
        {std::string(251, 'n') + ".hdb", fs::PathKind::missing},
        {std::string(252, 'n') + ".hdb", fs::PathKind::impossibleName},
    };
    for (const auto& c : cases) EXPECT_EQ(fs::inspectPath(c.name).kind, c.kind) << c.name.size();
}

}  // namespace
}  // namespace foliant::win
