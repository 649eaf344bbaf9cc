#include "search/text_buffer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.h"
#include "tests/support/fault_support.h"
#include "tests/support/temp_dir.h"

namespace quarry {
namespace {

using test::TempDir;

std::string Content(const TextBuffer& b) {
    return std::string(b.Data(), b.Length());
}

// --- construction and growth ---

TEST(TextBuffer, DefaultAndSizedConstruction) {
    TextBuffer d;
    EXPECT_EQ(d.growStep, 1024);
    EXPECT_EQ(d.capacity, 1024);
    EXPECT_EQ(d.length, 0);
    EXPECT_EQ(d.data[0], 0);

    for (int32_t n : {0, -5}) {
        TextBuffer s(n);
        EXPECT_EQ(s.growStep, 1) << n;
        EXPECT_EQ(s.capacity, 1) << n;
        ASSERT_TRUE(s.Append("abc", 3));
        EXPECT_EQ(s.capacity, 5) << "grows one byte per step until capacity > length + 1";
        EXPECT_EQ(Content(s), "abc");
    }
}

TEST(TextBuffer, ReserveNeedsStrictlyMoreThanOneSpareByte) {
    TextBuffer b;  // capacity 1024
    ASSERT_TRUE(b.Reserve(1022));
    EXPECT_EQ(b.capacity, 1024);
    ASSERT_TRUE(b.Reserve(1023));
    EXPECT_EQ(b.capacity, 2048);

    TextBuffer s(10);
    ASSERT_TRUE(s.Reserve(8));
    EXPECT_EQ(s.capacity, 10) << "capacity n + 2 is enough";
    ASSERT_TRUE(s.Reserve(9));
    EXPECT_EQ(s.capacity, 20) << "capacity n + 1 is not";
    ASSERT_TRUE(s.Reserve(45));
    EXPECT_EQ(s.capacity, 50);
}

TEST(TextBuffer, AppendKeepsTerminatorAndEmbeddedZeros) {
    TextBuffer b(4);
    ASSERT_TRUE(b.Append("a\0b", 3));
    ASSERT_TRUE(b.Append("cd", 2));
    EXPECT_EQ(Content(b), std::string("a\0bcd", 5));
    EXPECT_EQ(b.data[b.length], 0);
    EXPECT_GT(b.capacity, b.length + 1);

    TextBuffer full(1);  // capacity 1 = length + 1
    ASSERT_TRUE(full.Append("", 0));
    EXPECT_EQ(full.capacity, 2) << "capacity equal to length + 1 grows even for 0 bytes";
    EXPECT_EQ(full.length, 0);
    EXPECT_EQ(full.data[0], 0);
}

TEST(TextBuffer, RefusesLengthsBeyondThirtyTwoBits) {
    TextBuffer b;
    ASSERT_TRUE(b.Append("abc", 3));
    EXPECT_FALSE(b.Reserve(INT32_MAX));
    EXPECT_FALSE(b.Append("x", INT32_MAX - 2));
    EXPECT_EQ(Content(b), "abc") << "a refused growth leaves the buffer as it was";
    EXPECT_EQ(b.capacity, 1024);
}

// Former fault: a buffer whose next growth step would pass INT32_MAX refused
// to grow at all, so a result that fits was reported as too large.
TEST(TextBuffer, GrowthNearTheLimitAsksForWhatFitsInsteadOfRefusing) {
    static size_t asked = 0;
    auto* const previous = textBufferAllocator;
    textBufferAllocator = [](void* block, size_t bytes) -> void* {
        if (bytes > (size_t{1} << 20)) {
            asked = bytes;
            return nullptr;  // a block this size is not made in a unit test
        }
        return std::realloc(block, bytes);
    };
    TextBuffer b(1024);
    b.growStep = INT32_MAX - 1000;
    EXPECT_FALSE(b.Reserve(INT32_MAX - 10));
    textBufferAllocator = previous;
    EXPECT_EQ(asked, size_t{INT32_MAX}) << "the step is cut to what a length can express";
    EXPECT_EQ(b.capacity, 1024);
}

// --- files ---

TEST(TextBufferFile, BinaryModeTurnsOnlyNewZerosIntoSpaces) {
    TempDir dir;
    const std::string f = dir.Write("bin", std::string("x\0y\r\n\x1Az\0", 8));
    TextBuffer b;
    ASSERT_TRUE(b.Append("a\0", 2));
    EXPECT_EQ(b.AppendFile(f, JoinMode::kBinary), 8);
    EXPECT_EQ(Content(b), std::string("a\0x y\r\n\x1Az ", 10));
}

TEST(TextBufferFile, TextModeJoinsCrLfAndStopsAtCtrlZ) {
    TempDir dir;
    TextBuffer b;
    EXPECT_EQ(
        b.AppendFile(dir.Write("t1", std::string("a\r\nb\rc\r\r\nd\0e\r", 13)), JoinMode::kText),
        11);
    EXPECT_EQ(Content(b), std::string("a\nb\rc\r\nd\0e\r", 11))
        << "lone CRs and NULs stay; only CR LF pairs become LF";

    TextBuffer z;
    EXPECT_EQ(z.AppendFile(dir.Write("t2",
                                     "ab\r\ncd\x1A"
                                     "ef\r\n"),
                           JoinMode::kText),
              5);
    EXPECT_EQ(Content(z), "ab\ncd");
}

TEST(TextBufferFile, TextModeJoinsPairsAcrossReadChunks) {
    TempDir dir;
    // Put CR LF pairs on every byte offset around the 64 KiB read chunks.
    std::string raw;
    std::string expected;
    while (raw.size() < 3 * 65536 + 10) {
        raw += "abc\r\n";
        expected += "abc\n";
    }
    TextBuffer b;
    const int32_t got = b.AppendFile(dir.Write("big", raw), JoinMode::kText);
    EXPECT_EQ(got, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(Content(b), expected);

    // A pair split exactly at the chunk boundary.
    std::string split(65535, 'x');
    split += "\r\nyz";
    TextBuffer s;
    s.AppendFile(dir.Write("split", split), JoinMode::kText);
    EXPECT_EQ(Content(s), std::string(65535, 'x') + "\nyz");
}

TEST(TextBufferFile, EmptyFileAppendsNothing) {
    TempDir dir;
    TextBuffer b;
    ASSERT_TRUE(b.Append("keep", 4));
    EXPECT_EQ(b.AppendFile(dir.Write("empty", ""), JoinMode::kText), 0);
    EXPECT_EQ(b.AppendFile(dir.Write("empty", ""), JoinMode::kBinary), 0);
    EXPECT_EQ(Content(b), "keep");
}

TEST(TextBufferFile, UnopenableFileShowsAccessDeniedAndReturnsMinusOne) {
    TempDir dir;
    test::MessageRecorder recorder;
    TextBuffer b;
    const std::string missing = dir.Path() + "/missing.txt";
    EXPECT_EQ(b.AppendFile(missing, JoinMode::kText), -1);
    EXPECT_EQ(b.AppendFile(dir.Path(), JoinMode::kBinary), -1) << "a folder is no file";
    ASSERT_EQ(recorder.messages.size(), 2u);
    EXPECT_EQ(recorder.messages[0].title, "Dateizugriff verweigert");
    EXPECT_EQ(recorder.messages[0].text,
              "Auf die Datei  \"" + missing +
                  "\"  kann nicht zugegriffen werden.\nSie wird möglicherweise von einer anderen "
                  "Anwedung verwendet");
    EXPECT_EQ(recorder.messages[0].style, MB_OK);
    EXPECT_EQ(b.length, 0);
}

// Former faults: opening a FIFO blocked until a writer came, for good in the
// desktop's join; a file whose size says 0 (/proc) was read as empty.
TEST(TextBufferFile, AFifoIsRefusedWithoutOpeningItAndAZeroSizeFileIsReadToItsEnd) {
    TempDir dir;
    test::MessageRecorder recorder;
    const std::string fifo = dir.Path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TextBuffer b;
    EXPECT_EQ(b.AppendFile(fifo, JoinMode::kText), TextBuffer::kFileNotRead);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text,
              "\"" + fifo + "\" is a FIFO (named pipe), not a file of text, and was not opened.");
    EXPECT_EQ(b.length, 0);

    for (const JoinMode textMode : {JoinMode::kBinary, JoinMode::kText}) {
        TextBuffer status;
        const int32_t got = status.AppendFile("/proc/self/status", textMode);
        EXPECT_GT(got, 100) << int(textMode);
        EXPECT_EQ(Content(status).rfind("Name:", 0), 0u) << int(textMode);
    }
}

TEST(TextBufferFile, UnreadableFileIsRefused) {
    test::PermissionsHoldForRoot permissions;
    ASSERT_TRUE(permissions.holds());
    TempDir dir;
    test::MessageRecorder recorder;
    const std::string f = dir.Write("locked", "secret");
    chmod(f.c_str(), 0);
    TextBuffer b;
    EXPECT_EQ(b.AppendFile(f, JoinMode::kText), -1);
    EXPECT_EQ(recorder.messages.size(), 1u);
}

}  // namespace
}  // namespace quarry
