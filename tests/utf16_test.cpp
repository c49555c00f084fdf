#include "platform/utf16.h"

#include <gtest/gtest.h>

#include <string>

namespace foliant::text {
namespace {

TEST(Utf16, RoundTrips) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"book.txt", u"book.txt"},
        {"R\xC3\xA9sum\xC3\xA9.txt", u"R\u00E9sum\u00E9.txt"},
        {"\xCE\xA9mega notes.txt", u"\u03A9mega notes.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", u"\u65E5\u672C.txt"},
        {"\xEF\xBF\xBF", u"\uFFFF"},
        // Four bytes are one surrogate pair.
        {"\xF0\x9F\x98\x80.txt", u"\xD83D\xDE00.txt"},
        {"\xF0\x90\x80\x80", u"\xD800\xDC00"},                      // U+10000, the first
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},                      // U+10FFFF, the last
        {"a\xC2\x80\xDF\xBF\xE0\xA0\x80", u"a\u0080\u07FF\u0800"},  // the edges of each length
        // Windows allows an unpaired surrogate in a name; it is carried as
        // its three-byte form and comes back unchanged.
        {"\xED\xA0\x80.txt", u"\xD800.txt"},
        {"\xED\xBF\xBF", u"\xDFFF"},
        {"x\xED\xAF\xBF", u"x\xDBFF"},                  // a high one at the end
        {"\xED\xB0\x80\xED\xA0\x80", u"\xDC00\xD800"},  // low before high is no pair
        {"\xED\xA0\x80z", u"\xD800z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
    }
}

TEST(Utf16, MalformedBytesBecomeReplacementCharacters) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"a\x80z", u"a\uFFFDz"},  // a continuation byte alone
        {"\xC3", u"\uFFFD"},      // cut short at the end
        {"\xE6\x97", u"\uFFFD\uFFFD"},
        {"\xE6\x97z", u"\uFFFD\uFFFDz"},  // cut short by an ASCII byte, which stays
        {"\xC0\xAF", u"\uFFFD\uFFFD"},    // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xF5\x80", u"\uFFFD\uFFFD"},
        {"\xFF.txt", u"\uFFFD.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
}

}  // namespace
}  // namespace foliant::text
