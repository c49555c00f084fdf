#include "hdb/printable_name.h"

#include <gtest/gtest.h>

namespace foliant::hdb {
namespace {

TEST(PrintableName, QuotesOnlyNamesWithControlBytes) {
    const struct {
        std::string name;
        const char* shown;
    } cases[] = {
        {"book.txt", "book.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC R\xC3\xA9sum\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC R\xC3\xA9sum\xC3\xA9.txt"},
        {"say \"hi\" \\ there.txt", "say \"hi\" \\ there.txt"},  // no control byte: as it is
        {"b\nfake.hdb converted.\nc.txt", "\"b\\nfake.hdb converted.\\nc.txt\""},
        {"a\tb\rc\ad\be\ff\vg.txt", "\"a\\tb\\rc\\ad\\be\\ff\\vg.txt\""},
        {"\x1b[31mred.txt", "\"\\033[31mred.txt\""},
        {"del\x7f.txt", "\"del\\177.txt\""},
        {"\x01\x1f.txt", "\"\\001\\037.txt\""},
        {"q\"\x01.txt", "\"q\\\"\\001.txt\""},
        {"back\\slash\n.txt", "\"back\\\\slash\\n.txt\""},
        {"\xC3\xA9\t.txt", "\"\xC3\xA9\\t.txt\""},  // UTF-8 kept inside quotes too
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(printableName(c.name), c.shown) << c.name;
}

TEST(PrintableUtf8Name, QuotesNamesThatAreNotUtf8Too) {
    const struct {
        std::string name;
        const char* shown;
    } cases[] = {
        {"R\xC3\xA9sum\xC3\xA9.txt", "R\xC3\xA9sum\xC3\xA9.txt"},
        {"R\xE9sum\xE9.txt", "\"R\\351sum\\351.txt\""},                            // Latin-1
        {"\xC0\xAF.txt", "\"\\300\\257.txt\""},                                    // an overlong '/'
        {"\xED\xA0\x80.txt", "\"\\355\\240\\200.txt\""},                           // a surrogate
        {"\xF0\x9F\x98\x80 \xF0\x9F.txt", "\"\xF0\x9F\x98\x80 \\360\\237.txt\""},  // cut short
        {"\xF4\x90\x80\x80", "\"\\364\\220\\200\\200\""},                          // past U+10FFFF
        {"say \"\xE9\".txt", "\"say \\\"\\351\\\".txt\""},
        {"\xE9\n", "\"\\351\\n\""},
    };
    for (const auto& c : cases) EXPECT_EQ(printableUtf8Name(c.name), c.shown) << c.name;
    // foliant's own messages keep such bytes as they are.
    EXPECT_EQ(printableName("R\xE9sum\xE9.txt"), "R\xE9sum\xE9.txt");
}

}  // namespace
}  // namespace foliant::hdb
