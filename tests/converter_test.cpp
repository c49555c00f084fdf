#include "hdb/converter.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "hdb_reader.h"
#include "scratch_folder.h"

namespace foliant::hdb {
namespace {

class ConverterTest : public ScratchFolderTest {};

void append(Bytes& bytes, std::initializer_list<int> values) {
    for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
}

TEST_F(ConverterTest, WorkedExampleByteForByte) {
    Bytes text(2500);
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>(i * 7 + 3);
    write("book.txt", text);

    Bytes expected;
    append(expected, {0x62, 0x6F, 0x6F, 0x6B, 0x2E, 0x74, 0x78, 0x74, 0x00});
    expected.resize(32);  // the bytes the layout leaves open are zero
    append(expected, {0x2E, 0x6F, 0x30, 0x4F, 0x30, 0x6F, 0x2E, 0x00});
    expected.resize(64);
    append(expected, {0x38, 0x89, 0x00, 0x00});
    expected.resize(88);
    append(expected, {0x04, 0x00, 0x00, 0x00});
    for (int lowByte : {0x9C, 0xAD}) append(expected, {lowByte, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
    append(expected, {0xAF, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
    append(expected, {0xB1, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
    append(expected,
           {0x21, 0x01, 0x00, 0x00, 0x00, 0xC4, 0x09, 0x00, 0x00, 0x03, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00});
    ASSERT_EQ(expected.size(), 173u);
    const struct {
        std::uint8_t prefix[2];
        std::size_t start;
    } blocks[] = {{{0x00, 0x11}, 0}, {{0x00, 0x11}, 1024}, {{0x88, 0x07}, 2048}};
    for (const auto& [prefix, start] : blocks) {
        expected.insert(expected.end(), std::begin(prefix), std::end(prefix));
        expected.insert(expected.end(), text.begin() + static_cast<std::ptrdiff_t>(start),
                        text.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(start + 1024, 2500)));
    }
    ASSERT_EQ(expected.size(), 2679u);

    std::string output;
    bool converted = false;
    const std::string printed = printedBy([&] { converted = convertFile("book.txt", output); });
    ASSERT_TRUE(converted);
    EXPECT_EQ(output, "book.hdb");
    EXPECT_EQ(printed, "book.hdb converted.\n");
    EXPECT_EQ(read("book.hdb"), expected);
}

// Sizes at the block boundaries and at the edges of the chunks the text is
// streamed in, read back by the tests' own reader.
TEST_F(ConverterTest, EveryTextReadsBack) {
    for (const std::size_t size : {0, 1, 127, 128, 1023, 1024, 1025, 2048, 2049, 262143, 262144, 262145, 600000}) {
        Bytes text(size);
        for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<std::uint8_t>((i * 31 + (i >> 10)) % 251);
        write("t.txt", text);
        std::string output;
        ASSERT_TRUE(convertFile("t.txt", output)) << size;
        const testing::ReadHdb hdb = testing::readHdb(read("t.hdb"));
        EXPECT_EQ(hdb.error, "") << size;
        EXPECT_EQ(hdb.name, "t.txt") << size;
        EXPECT_EQ(hdb.text, text) << size;
    }
}

TEST_F(ConverterTest, EmptyTextIsOneEmptyBlock) {
    write("empty.txt", {});
    std::string output;
    ASSERT_TRUE(convertFile("empty.txt", output));
    const Bytes hdb = read("empty.hdb");
    ASSERT_EQ(hdb.size(), 142u);
    EXPECT_EQ(hdb[88], 2);        // recordCount
    EXPECT_EQ(hdb.back(), 0x01);  // prefix of a 0-byte payload
    EXPECT_EQ(hdb[124 + 5], 0);   // textSize
    EXPECT_EQ(hdb[124 + 9], 1);   // textBlockCount
}

TEST_F(ConverterTest, FailuresPrintOneMessageAndLeaveNoFile) {
    stdfs::create_directory("folder.txt");
    write("same.txt.hdb", {'x'});
    const struct {
        const char* input;
        const char* message;
    } cases[] = {
        {"missing.txt", "error: file not found: missing.txt\r\n"},
        {"folder.txt", "error: file not found: folder.txt\r\n"},
        {"same.txt.hdb", "error: input and output are the same file: same.txt.hdb\r\n"},
    };
    for (const auto& c : cases) {
        std::string output;
        bool converted = true;
        EXPECT_EQ(printedBy([&] { converted = convertFile(c.input, output); }), c.message);
        EXPECT_FALSE(converted);
    }
    EXPECT_EQ(read("same.txt.hdb"), Bytes{'x'});
    EXPECT_EQ(std::distance(stdfs::directory_iterator("."), {}), 2);
}

// A second name of an output written in this run (an 8.3 short name, a
// link) is that output: the later text is refused, the first output kept.
TEST_F(ConverterTest, AnotherNameOfAnOutputIsThatOutput) {
    write("long file name.txt", {'a'});
    write("LONGFI~1.TXT", {'b'});
    Session session;
    std::string output;
    const std::string printed = printedBy([&] {
        ASSERT_TRUE(session.convertFile("long file name.txt", output));
        ASSERT_TRUE(session.finish());
        stdfs::create_hard_link("long file name.hdb", "LONGFI~1.hdb");
        EXPECT_FALSE(session.convertFile("LONGFI~1.TXT", output));
    });
    EXPECT_EQ(printed, "long file name.hdb converted.\nerror: output already written in this run: LONGFI~1.hdb\r\n");
    EXPECT_EQ(testing::readHdb(read("long file name.hdb")).text, Bytes{'a'});
}

// Each output this run wrote holds its name against later texts while its
// name holds it, also when another run replaced an earlier output of that
// name, which this run then wrote again.
TEST_F(ConverterTest, EveryOutputOfANameCounts) {
    write("x.txt.bak", {'a'});
    write("x.txt.old", {'b'});
    write("x.txt.new", {'c'});
    Session session;
    std::string output;
    const std::string printed = printedBy([&] {
        ASSERT_TRUE(session.convertFile("x.txt.bak", output) && session.finish());
        write("other run", {'o'});
        stdfs::rename("other run", "x.txt.hdb");
        ASSERT_TRUE(session.convertFile("x.txt.old", output) && session.finish());
        EXPECT_FALSE(session.convertFile("x.txt.new", output));
    });
    EXPECT_EQ(printed,
              "x.txt.hdb converted.\nx.txt.hdb converted.\nerror: output already written in this run: x.txt.hdb\r\n");
    EXPECT_EQ(testing::readHdb(read("x.txt.hdb")).text, Bytes{'b'});
}

// The folder is listed once, before the first text; an output named since
// counts as listed. Where the folder tells case apart, an earlier file
// under the other spelling is another entry, replaced as usual.
TEST_F(ConverterTest, AnOutputNamedSinceTheListingIsListed) {
    write("X.TXT.hdb", {'o'});
    const bool foldsCase = stdfs::exists("x.txt.hdb");
    write("x.txt.bak", {'a'});
    write("X.TXT.old", {'b'});
    Session session;
    std::string output;
    const std::string printed = printedBy([&] {
        ASSERT_TRUE(session.convertFile("x.txt.bak", output) && session.finish());
        EXPECT_EQ(session.convertFile("X.TXT.old", output) && session.finish(), !foldsCase);
    });
    EXPECT_EQ(printed, foldsCase ? "x.txt.hdb converted.\nerror: output already written in this run: X.TXT.hdb\r\n"
                                 : "x.txt.hdb converted.\nX.TXT.hdb converted.\n");
    EXPECT_EQ(testing::readHdb(read("x.txt.hdb")).text, Bytes{'a'});
}

}  // namespace
}  // namespace foliant::hdb
