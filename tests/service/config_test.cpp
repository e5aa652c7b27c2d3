// Configuration lines from raw bytes, text conversion of the send arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codepage.h"
#include "tavo2.h"

namespace {

std::vector<std::string> scanInChunks(const std::string& bytes, size_t chunk) {
    ConfigScanner scanner;
    for (size_t at = 0; at < bytes.size(); at += chunk)
        scanConfigBytes(scanner, bytes.data() + at, std::min(chunk, bytes.size() - at));
    finishConfigScan(scanner);
    return scanner.lines;
}

// Every chunking gives the same lines, a CR LF split across two reads included.
std::vector<std::string> scan(const std::string& bytes) {
    std::vector<std::string> whole = scanInChunks(bytes, bytes.size() + 1);
    for (size_t chunk : {1u, 2u, 3u, 7u}) EXPECT_EQ(scanInChunks(bytes, chunk), whole) << "chunk " << chunk;
    return whole;
}

using Lines = std::vector<std::string>;

TEST(ConfigScanTest, LineEndingsBlankLinesAndUnfinishedLastLine) {
    EXPECT_EQ(scan("cp.jar\r\njvm=17\r\n\r\noption=-Xmx64m\r\n"), (Lines{"cp.jar", "jvm=17", "option=-Xmx64m"}));
    EXPECT_EQ(scan("\n\ncp.jar\njvm=17\n\n\noption=-Xmx64m"), (Lines{"cp.jar", "jvm=17", "option=-Xmx64m"}));
    EXPECT_EQ(scan(""), Lines{});
    EXPECT_EQ(scan("\r\n\n\r\n"), Lines{});
}

TEST(ConfigScanTest, LoneCarriageReturnsStayInTheLine) {
    EXPECT_EQ(scan("a\rb\r\nc\r"), (Lines{"a\rb", "c\r"}));
    EXPECT_EQ(scan("\r\r\n"), Lines{"\r"});
}

TEST(ConfigScanTest, OnlyTheFirstTwentyNonEmptyLinesAreKept) {
    std::string bytes;
    for (int i = 0; i < 30; ++i) bytes += "line" + std::to_string(i) + "\n\n";
    Lines lines = scan(bytes);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines.front(), "line0");
    EXPECT_EQ(lines.back(), "line19");
}

TEST(ConfigScanTest, OverlongLinesKeepTheirFirst4095Bytes) {
    std::string longLine(5000, 'x');
    ConfigScanner scanner;
    std::string bytes = "cp\n" + longLine + "\nnext\n" + std::string(4095, 'y') + "\n";
    scanConfigBytes(scanner, bytes.data(), bytes.size());
    finishConfigScan(scanner);
    ASSERT_EQ(scanner.lines.size(), 4u);
    EXPECT_EQ(scanner.lines[1], std::string(4095, 'x'));
    EXPECT_EQ(scanner.lines[2], "next");
    EXPECT_EQ(scanner.lines[3], std::string(4095, 'y'));
    EXPECT_EQ(scanner.truncatedLines, std::vector<int>{1});
}

TEST(CodePageTest, Utf8BecomesUtf16AndMalformedBytesBecomeReplacements) {
    std::u16string out;
    const std::string text = "a\xC3\xA8\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e grave, euro, emoji
    ASSERT_TRUE(platform::systemCodePageToUtf16(text.data(), text.size(), out));
    EXPECT_EQ(out, (std::u16string{u'a', 0x00E8, 0x20AC, 0xD83D, 0xDE00}));
    // Truncated sequence, stray continuation, overlong NUL, encoded surrogate, beyond U+10FFFF.
    const std::string bad =
        "\xE2\x82"
        "b\x80"
        "\xC0\x80"
        "\xED\xA0\x80"
        "\xF4\x90\x80\x80";
    ASSERT_TRUE(platform::systemCodePageToUtf16(bad.data(), bad.size(), out));
    std::u16string expected = {0xFFFD, 0xFFFD, u'b', 0xFFFD, 0xFFFD, 0xFFFD};
    expected += std::u16string(3, 0xFFFD);
    expected += std::u16string(4, 0xFFFD);
    EXPECT_EQ(out, expected);
    ASSERT_TRUE(platform::systemCodePageToUtf16(nullptr, 0, out));
    EXPECT_TRUE(out.empty());
}

TEST(ModifiedUtf8Test, AcceptsOneToThreeByteFormsOnly) {
    EXPECT_TRUE(isModifiedUtf8("plain ASCII"));
    EXPECT_TRUE(isModifiedUtf8("\xC3\xA8\xE2\x82\xAC\xC0\x80"));
    EXPECT_FALSE(isModifiedUtf8("\xE8"));              // a single-byte code page letter
    EXPECT_FALSE(isModifiedUtf8("\xE2\x82"));          // cut short by the terminator
    EXPECT_FALSE(isModifiedUtf8("\xF0\x9F\x98\x80"));  // four-byte form
    EXPECT_FALSE(isModifiedUtf8("\x80"));
}

}  // namespace
