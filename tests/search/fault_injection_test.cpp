// The search core under faults: buffers that can't grow, files too large for
// 32-bit lengths, a search stack too small for the recursion.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "search/expression.h"
#include "search/settings_file.h"
#include "search/stack_guard.h"
#include "search/text_buffer.h"
#include "test_support.h"
#include "tests/support/fault_support.h"
#include "tests/support/temp_dir.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

std::string Content(const TextBuffer& b) {
    return std::string(b.Data(), b.Length());
}

// What a buffer is, to tell whether a failed call left it alone.
struct Snapshot {
    explicit Snapshot(const TextBuffer& b)
        : data(b.data),
          capacity(b.capacity),
          length(b.length),
          growStep(b.growStep),
          content(Content(b)) {}
    bool operator==(const Snapshot&) const = default;
    const char* data;
    int32_t capacity, length, growStep;
    std::string content;
};

void PrintTo(const Snapshot& s, std::ostream* os) {
    *os << "{capacity " << s.capacity << ", length " << s.length << ", content \"" << s.content
        << "\"}";
}

using test::TempDir;

// A file of `size` bytes in dir that takes no disk space.
std::string Sparse(const TempDir& dir, const std::string& name, off_t size) {
    const std::string path = dir.File(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    return path;
}

// --- buffer growth that fails ---

TEST(FailingGrowth, ReserveAppendAndAppendFileLeaveTheBufferAsItWas) {
    TempDir dir;
    const std::string file = dir.Write("f.txt", std::string(5000, 'f'));
    TextBuffer b(16);
    ASSERT_TRUE(b.Append("kept", 4));
    const Snapshot before(b);
    {
        test::FailingGrowth growth(64);
        EXPECT_TRUE(b.Reserve(14)) << "room enough already";
        EXPECT_FALSE(b.Reserve(100));
        EXPECT_EQ(Snapshot(b), before);
        EXPECT_FALSE(b.Append(std::string(100, 'x').data(), 100));
        EXPECT_EQ(Snapshot(b), before);
        // Former fault: "no room" came back as 0, as for an empty file, and a
        // join went on without the file's text.
        EXPECT_EQ(b.AppendFile(file, JoinMode::kBinary), TextBuffer::kFileNoRoom);
        EXPECT_EQ(b.AppendFile(file, JoinMode::kText), TextBuffer::kFileNoRoom);
        EXPECT_EQ(Snapshot(b), before);
        EXPECT_EQ(b.data[b.length], 0);
        EXPECT_EQ(test::FailingGrowth::refused(), 4);
    }
    // Growth works again afterwards, on the same content.
    ASSERT_TRUE(b.Append("!", 1));
    EXPECT_EQ(Content(b), "kept!");

    // A first block that can't be had gives an empty, usable buffer.
    test::FailingGrowth none(0, test::FailingGrowth::kNewBlocksToo);
    TextBuffer empty(32);
    EXPECT_EQ(empty.capacity, 0);
    EXPECT_EQ(empty.Length(), 0);
    EXPECT_STREQ(empty.Data(), "");
    EXPECT_FALSE(empty.Append("x", 1));
    EXPECT_EQ(empty.Length(), 0);
}

// Each piece of a listing: the matching and CR LF.
std::vector<std::string> ListingPieces(const std::string& text, const std::string& pattern) {
    CExpression e(pattern.c_str());
    TextBuffer in, out;
    EXPECT_TRUE(in.Append(text.data(), static_cast<int32_t>(text.size())));
    e.ListMatchings(in, out, false, -1, false);
    std::vector<std::string> pieces;
    const std::string all = Content(out);
    for (size_t at = 0; at < all.size();) {
        const size_t end = all.find("\r\n", at) + 2;
        pieces.push_back(all.substr(at, end - at));
        at = end;
    }
    return pieces;
}

// True when s is the concatenation of the first k pieces for some k.
bool EndsAtAPieceBoundary(const std::string& s, const std::vector<std::string>& pieces) {
    std::string prefix;
    for (size_t k = 0;; ++k) {
        if (prefix == s) {
            return true;
        }
        if (k == pieces.size() || prefix.size() >= s.size()) {
            return false;
        }
        prefix += pieces[k];
    }
}

TEST(FailingGrowth, ListMatchingsStopsShortAtAWholeLine) {
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text += "word" + std::to_string(i) + " ";
    }
    const std::vector<std::string> pieces = ListingPieces(text, "[a-z]+[0-9]+");
    ASSERT_EQ(pieces.size(), 200u);
    // Every block size the output may stop at, so that the stop falls once
    // between a matching and its line break too.
    for (size_t largest = 16; largest <= 160; largest += 1) {
        CExpression e("[a-z]+[0-9]+");
        TextBuffer in, out(16);
        ASSERT_TRUE(in.Append(text.data(), static_cast<int32_t>(text.size())));
        LoopResult r;
        {
            test::FailingGrowth growth(largest);
            r = e.ListMatchings(in, out, false, -1, false);
        }
        const int32_t n = r.count;
        EXPECT_EQ(r.outcome, SearchOutcome::kOutputShort) << largest;
        EXPECT_LT(n, 200) << largest;
        EXPECT_LT(out.Length(), out.capacity);
        EXPECT_EQ(out.data[out.length], 0);
        EXPECT_TRUE(EndsAtAPieceBoundary(Content(out), pieces))
            << "block limit " << largest << ": \"" << Content(out) << "\"";
    }
}

TEST(FailingGrowth, ReplaceAllStopsShortAfterAWholeReplacement) {
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text.append("<").append(std::to_string(i)).append(">");
    }
    const char* pattern = "[0-9]+";
    // Pieces: the text before a matching with the matching's expansion.
    auto piecesFor = [&](const char* rewrite) {
        std::vector<std::string> pieces;
        CExpression e(pattern);
        TextBuffer expansion;
        const char* from = text.c_str();
        for (;;) {
            const int32_t at =
                e.Find(text.data(), static_cast<int32_t>(text.size()), from, false, -1, false);
            if (at < 0) {
                break;
            }
            e.Rewrite(rewrite, expansion);
            pieces.push_back(std::string(from, text.c_str() + at) + Content(expansion));
            from = text.c_str() + e.GroupEnd(0);
        }
        return pieces;
    };
    // A short rewrite: the output is what can't grow. A long one: the
    // expansion itself (a default buffer of 1 KB) can't.
    const std::string longRewrite = std::string(1500, '#') + "\\0";
    for (const std::string& rewrite : {std::string("[\\0\\0]"), longRewrite}) {
        const std::vector<std::string> pieces = piecesFor(rewrite.c_str());
        ASSERT_EQ(pieces.size(), 100u);
        size_t whole = 1;  // the ">" behind the last matching
        for (const std::string& piece : pieces) {
            whole += piece.size();
        }
        for (size_t largest = 16; largest <= 700; ++largest) {
            CExpression e(pattern);
            TextBuffer in, out(16);
            ASSERT_TRUE(in.Append(text.data(), static_cast<int32_t>(text.size())));
            LoopResult r;
            {
                test::FailingGrowth growth(largest);
                r = e.ReplaceAll(in, out, rewrite.c_str(), false, -1, false);
            }
            EXPECT_EQ(r.outcome, SearchOutcome::kOutputShort) << largest;
            EXPECT_LT(Content(out).size(), whole);
            EXPECT_EQ(out.data[out.length], 0);
            EXPECT_TRUE(EndsAtAPieceBoundary(Content(out), pieces))
                << "rewrite of " << rewrite.size() << " bytes, block limit " << largest << ": \""
                << Content(out) << "\"";
        }
    }
}

// --- files of 2 GiB and more ---

TEST(LargeFiles, AppendFileRefusesWhatThirtyTwoBitsCannotHoldWithoutReading) {
    TempDir dir;
    test::MessageRecorder recorder;
    // Exactly 2 GiB; 4 GiB + 5, whose low 32 bits would pass for 5 bytes;
    // and one that fits alone but not behind what the buffer holds.
    const std::string two = Sparse(dir, "two.bin", off_t{1} << 31);
    const std::string wraps = Sparse(dir, "wraps.bin", (off_t{1} << 32) + 5);
    const std::string nearly = Sparse(dir, "nearly.bin", INT32_MAX - 4);
    TextBuffer b;
    ASSERT_TRUE(b.Append("abc", 3));
    const Snapshot before(b);
    for (const std::string& path : {two, wraps, nearly}) {
        for (const JoinMode mode : {JoinMode::kBinary, JoinMode::kText}) {
            EXPECT_EQ(b.AppendFile(path, mode), TextBuffer::kFileNoRoom)
                << path << " mode " << int(mode);
            EXPECT_EQ(Snapshot(b), before) << path << " mode " << int(mode);
        }
    }
    EXPECT_TRUE(recorder.messages.empty()) << "refusing for size is the caller's to tell";
}

// --- settings.dat that can't be written or read ---

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t EntryCount(const std::string& folder) {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

SettingsRecord Stored() {
    SettingsRecord r = DefaultSettings(640, 300);
    r.searchHistory = {"stored", "expressions"};
    r.limitValue = 77;
    return r;
}

TEST(SettingsFaults, AFullDiskOrAReadOnlyFolderKeepsTheOldFileAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir.File("settings.dat");
    ASSERT_TRUE(SaveSettingsFile(path, Stored()));
    const std::string before = ReadWhole(path);
    SettingsRecord bigger = Stored();
    bigger.searchHistory.assign(100, std::string(200, 'h'));

    std::string error;
    {
        test::FileSizeLimit full(before.size() + 16);
        ASSERT_TRUE(full.holds());
        EXPECT_FALSE(SaveSettingsFile(path, bigger, &error));
    }
    EXPECT_NE(error.find("settings.dat"), std::string::npos) << error;
    EXPECT_EQ(ReadWhole(path), before);
    EXPECT_EQ(EntryCount(dir.Path()), 1u) << "the partial temporary is gone";

    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    {
        test::PermissionsHoldForRoot permissions;
        ASSERT_TRUE(permissions.holds());
        error.clear();
        EXPECT_FALSE(SaveSettingsFile(path, bigger, &error));
    }
    chmod(dir.Path().c_str(), 0755);
    EXPECT_NE(error.find("settings.dat"), std::string::npos) << error;
    EXPECT_EQ(ReadWhole(path), before);
    EXPECT_EQ(EntryCount(dir.Path()), 1u);
}

TEST(SettingsFaults, AnUnreadableFileIsTakenAsMissingAndLeavesTheDefaults) {
    TempDir dir;
    const std::string path = dir.File("settings.dat");
    ASSERT_TRUE(SaveSettingsFile(path, Stored()));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    test::PermissionsHoldForRoot permissions;
    ASSERT_TRUE(permissions.holds());
    SettingsRecord r = DefaultSettings(1, 2);
    EXPECT_EQ(LoadSettingsFile(path, r), SettingsLoad::NotFound);
    EXPECT_EQ(r, DefaultSettings(1, 2));
}

// --- the deepest recursion ---

// A loop over a group recurses once per repetition (unless every pass is one
// character, as in «(a|b)*») however the engine runs single-byte loops; a small search stack
// reaches its end over a text of a few hundred kilobytes.
TEST(StackGuard, LoopsOverAGroupReachTheEndOfTheStackAndAreReported) {
    test::MessageRecorder recorder;
    // The x at the end makes the runs over the «a»s worth trying.
    const std::string text = "ab " + std::string(1 << 20, 'a') + "x";
    SearchOutcome found = SearchOutcome::kFound;
    LoopResult replaced;
    LoopResult listed;
    ASSERT_TRUE(RunOnLargeStack(size_t{1} << 20, [&] {
        CExpression find("(a|{aa})*x");
        found = find.Search(text.data(), static_cast<int32_t>(text.size()), text.data() + 3, false,
                            -1, false);
        TextBuffer in, out;
        ASSERT_TRUE(in.Append(text.data(), static_cast<int32_t>(text.size())));
        CExpression replace("(.|{..})*");
        replaced = replace.ReplaceAll(in, out, "<\\1>", false, -1, false);
        out.Clear();
        CExpression list("(a|b)(a|b|{ab})*");
        listed = list.ListMatchings(in, out, false, -1, false);
    }));
    EXPECT_EQ(found, SearchOutcome::kStackExhausted);
    EXPECT_EQ(replaced.outcome, SearchOutcome::kStackExhausted);
    EXPECT_EQ(replaced.count, 0) << "the first attempt already runs out";
    EXPECT_EQ(listed.outcome, SearchOutcome::kStackExhausted);
    EXPECT_EQ(listed.count, 1) << "\"ab\" is listed, then the long run exhausts the stack";
    EXPECT_TRUE(recorder.messages.empty());
}

}  // namespace
}  // namespace quarry
