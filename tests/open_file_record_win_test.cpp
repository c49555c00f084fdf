#include "platform/open_file_record_win.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace foliant::desktop {
namespace {

TEST(OpenFileRecord, FieldByField) {
    std::vector<wchar_t> file(FILE_BUFFER_SIZE, L'x');
    std::vector<wchar_t> fileTitle(FILE_TITLE_BUFFER_SIZE, L'x');
    OPENFILENAMEW record;
    std::memset(&record, 0xA5, sizeof record);
    fillOpenFileRecord(record, file.data(), fileTitle.data());

    // The record as Windows NT 4 knew it: up to lpTemplateName, and more than
    // the 76 bytes of a 32-bit build in this 64-bit one.
    EXPECT_EQ(record.lStructSize, offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR));
    EXPECT_EQ(record.lStructSize, sizeof(void*) == 4 ? 76u : 136u);
    EXPECT_EQ(record.hwndOwner, nullptr);
    EXPECT_EQ(record.hInstance, nullptr);
    // Two pairs, each string zero-terminated, and one more zero at the end
    // (the literal's own).
    constexpr wchar_t filter[] = L"Text Document Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
    static_assert(sizeof filter / sizeof filter[0] == 55);
    EXPECT_EQ(std::wstring(record.lpstrFilter, 55), std::wstring(filter, 55));
    EXPECT_EQ(record.lpstrCustomFilter, nullptr);
    EXPECT_EQ(record.nMaxCustFilter, 0u);
    EXPECT_EQ(record.nFilterIndex, 1u);
    EXPECT_EQ(record.lpstrFile, file.data());
    EXPECT_EQ(file[0], L'\0');
    // Any path fits, however long: 32,767 characters and the terminator.
    EXPECT_EQ(record.nMaxFile, 32768u);
    EXPECT_EQ(record.lpstrFileTitle, fileTitle.data());
    EXPECT_EQ(fileTitle[0], L'\0');
    EXPECT_EQ(record.nMaxFileTitle, 260u);
    EXPECT_EQ(record.lpstrInitialDir, nullptr);
    EXPECT_EQ(record.lpstrTitle, nullptr);
    EXPECT_EQ(record.Flags, 0x2004u);
    EXPECT_EQ(record.nFileOffset, 0);
    EXPECT_EQ(record.nFileExtension, 0);
    EXPECT_EQ(std::wstring(record.lpstrDefExt), L"txt");
    EXPECT_EQ(record.lCustData, 0);
    EXPECT_EQ(record.lpfnHook, nullptr);
    EXPECT_EQ(record.lpTemplateName, nullptr);
}

}  // namespace
}  // namespace foliant::desktop
