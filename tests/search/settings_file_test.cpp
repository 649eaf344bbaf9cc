// settings.dat: the byte layout, reading damaged files, and saving.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "search/code_page.h"
#include "search/settings_file.h"
#include "tests/support/temp_dir.h"

namespace quarry {
namespace {

using test::TempDir;

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

std::string Le32(uint32_t v) {
    return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)});
}

// A record with both empty histories and the given tail after the flags.
std::string EmptyHistoriesThen(const std::string& tail) {
    return Bytes({0, 0, 0, 0}) + tail;
}

SettingsRecord Sample() {
    SettingsRecord r = DefaultSettings(640, 300);
    r.searchHistory = {"(\\w+)=(\\d+)", "", "abc:2"};
    r.rewriteHistory = {"\\2=\\1"};
    r.limitOn = false;
    r.newFile = false;
    r.matchCase = true;
    r.limitValue = "12x";
    r.matchLineBreaks = true;
    return r;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(SettingsFormat, DefaultRecordIsTheThirtyThreeByteFile) {
    const std::string bytes = SerializeSettings(DefaultSettings(0x01020304, 250));
    EXPECT_EQ(bytes, Bytes({0, 0, 0, 0, 4, 3, 2, 1, 250, 0,   0,   0,   1, 0, 0, 0, 1,
                            0, 0, 0, 0, 0, 0, 0, 4, '1', '0', '2', '4', 0, 0, 0, 0}));
    EXPECT_EQ(bytes.size(), 33u);
    EXPECT_EQ(ParseSettings(bytes), DefaultSettings(0x01020304, 250));
}

TEST(SettingsFormat, RoundTripKeepsEveryField) {
    const SettingsRecord r = Sample();
    EXPECT_EQ(ParseSettings(SerializeSettings(r)), r);
    SettingsRecord negative = r;
    negative.width = -5;
    negative.height = INT32_MIN;
    EXPECT_EQ(ParseSettings(SerializeSettings(negative)), negative);
}

TEST(SettingsFormat, StringPrefixForms) {
    auto limitBytes = [](size_t length) {
        SettingsRecord r;
        r.limitValue = std::string(length, '7');
        const std::string all = SerializeSettings(r);
        EXPECT_EQ(ParseSettings(all), r) << length;
        // Two empty counts, size, three flags: the limit string starts at 24.
        return all.substr(24, all.size() - 24 - 4);
    };
    EXPECT_EQ(limitBytes(254).substr(0, 1), Bytes({0xFE}));
    EXPECT_EQ(limitBytes(254).size(), 1u + 254);
    EXPECT_EQ(limitBytes(255).substr(0, 3), Bytes({0xFF, 0xFF, 0x00}));
    EXPECT_EQ(limitBytes(255).size(), 3u + 255);
    EXPECT_EQ(limitBytes(0xFFFD).substr(0, 3), Bytes({0xFF, 0xFD, 0xFF}));
    EXPECT_EQ(limitBytes(0xFFFE).substr(0, 7), Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0, 0}));
    EXPECT_EQ(limitBytes(0x12345).substr(0, 7), Bytes({0xFF, 0xFF, 0xFF, 0x45, 0x23, 1, 0}));
}

TEST(SettingsFormat, CountForms) {
    SettingsRecord r;
    r.searchHistory.assign(0xFFFE, "a");
    std::string bytes = SerializeSettings(r);
    EXPECT_EQ(bytes.substr(0, 2), Bytes({0xFE, 0xFF}));
    EXPECT_EQ(ParseSettings(bytes), r);
    r.searchHistory.push_back("b");
    bytes = SerializeSettings(r);
    EXPECT_EQ(bytes.substr(0, 6), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(ParseSettings(bytes), r);
}

TEST(SettingsFormat, FlagsAreCheckedOnlyWhenExactlyOne) {
    const std::string tail =
        Le32(0) + Le32(0) + Le32(2) + Le32(1) + Le32(0xFFFFFFFF) + Bytes({0}) + Le32(0x101);
    const auto r = ParseSettings(EmptyHistoriesThen(tail));
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(r->limitOn);
    EXPECT_TRUE(r->newFile);
    EXPECT_FALSE(r->matchCase);
    EXPECT_EQ(r->limitValue, "");
    EXPECT_FALSE(r->matchLineBreaks);
}

TEST(SettingsFormat, EightBitTextUsesTheDocumentMap) {
    // 0xE4 is "ä", 0x80 the euro sign, 0x81 has no Windows-1252 character and
    // stands for itself.
    const std::string tail =
        Le32(1) + Le32(2) + Le32(1) + Le32(1) + Le32(1) + Bytes({3, 0xE4, 0x80, 0x81}) + Le32(0);
    const auto r = ParseSettings(EmptyHistoriesThen(tail));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->limitValue, "\xC3\xA4\xE2\x82\xAC\xC2\x81");
    // And back to the same bytes.
    EXPECT_EQ(SerializeSettings(*r), EmptyHistoriesThen(tail));
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(CharToByte(ByteToChar(static_cast<uint8_t>(b))), b);
    }
}

TEST(SettingsFormat, Utf16TextIsReadAndWrittenForCharactersBeyondTheMap) {
    // FF FE FF announces UTF-16; the second prefix counts characters.
    const std::string utf16 = Bytes({0xFF, 0xFE, 0xFF, 4, 'a', 0, 0x92, 0x03, 0x3D, 0xD8, 0x00,
                                     0xDE});  // "a", Greek capital beta, U+1F600
    const std::string tail = Le32(1) + Le32(2) + Le32(1) + Le32(1) + Le32(1) + utf16 + Le32(0);
    const auto r = ParseSettings(EmptyHistoriesThen(tail));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->limitValue, "a\xCE\x92\xF0\x9F\x98\x80");
    EXPECT_EQ(SerializeSettings(*r), EmptyHistoriesThen(tail));

    // Text the 8-bit map holds is read from UTF-16 and written as 8-bit bytes.
    const std::string narrowable = Bytes({0xFF, 0xFE, 0xFF, 2, 'h', 0, 0xAC, 0x20});
    const auto n = ParseSettings(
        EmptyHistoriesThen(Le32(1) + Le32(2) + Le32(1) + Le32(1) + Le32(1) + narrowable + Le32(0)));
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(n->limitValue, "h\xE2\x82\xAC");
    EXPECT_EQ(SerializeSettings(*n).substr(24, 3), Bytes({2, 'h', 0x80}));

    // An unpaired surrogate has no character of its own.
    const std::string lone = Bytes({0xFF, 0xFE, 0xFF, 2, 0x00, 0xD8, 'x', 0});
    const auto l = ParseSettings(
        EmptyHistoriesThen(Le32(1) + Le32(2) + Le32(1) + Le32(1) + Le32(1) + lone + Le32(0)));
    ASSERT_TRUE(l.has_value());
    EXPECT_EQ(l->limitValue, "\xEF\xBF\xBDx");
}

TEST(SettingsFormat, DamagedFilesKeepThePartsBeforeTheDamage) {
    const SettingsRecord sample = Sample();
    const std::string whole = SerializeSettings(sample);
    const SettingsRecord before = DefaultSettings(1, 2);
    int lastParts = 0;
    // Every truncation reads a prefix of the parts and leaves the rest alone.
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        SettingsRecord r = before;
        const int parts = ReadSettingsInto(std::string_view(whole).substr(0, cut), r);
        ASSERT_LT(parts, kSettingsPartCount) << cut;
        ASSERT_GE(parts, lastParts) << cut;
        lastParts = parts;
        EXPECT_EQ(r.searchHistory, parts > 0 ? sample.searchHistory : before.searchHistory);
        EXPECT_EQ(r.rewriteHistory, parts > 1 ? sample.rewriteHistory : before.rewriteHistory);
        EXPECT_EQ(r.width, parts > 2 ? sample.width : before.width);
        EXPECT_EQ(r.height, parts > 2 ? sample.height : before.height);
        EXPECT_EQ(r.matchCase, parts > 3 ? sample.matchCase : before.matchCase);
        EXPECT_EQ(r.limitOn, parts > 3 ? sample.limitOn : before.limitOn);
        EXPECT_EQ(r.limitValue, parts > 4 ? sample.limitValue : before.limitValue);
        EXPECT_EQ(r.matchLineBreaks, before.matchLineBreaks);
        EXPECT_FALSE(ParseSettings(std::string_view(whole).substr(0, cut)).has_value());
    }
    EXPECT_EQ(lastParts, kSettingsPartCount - 1);
    // Bytes after the record change nothing.
    EXPECT_EQ(ParseSettings(whole + "junk"), sample);
}

TEST(SettingsFormat, HugeCountsAndLengthsAreDamageNotAllocations) {
    SettingsRecord r = DefaultSettings(7, 8);
    // A count of four billion entries in a six-byte file.
    EXPECT_EQ(ReadSettingsInto(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), r), 0);
    // One entry claiming a 4 GiB length, and one claiming 2 G UTF-16 characters.
    EXPECT_EQ(ReadSettingsInto(Bytes({1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}), r), 0);
    EXPECT_EQ(
        ReadSettingsInto(
            Bytes({1, 0, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0}), r),
        0);
    // A second UTF-16 marker where the length should be.
    EXPECT_EQ(ReadSettingsInto(Bytes({1, 0, 0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0, 0}), r), 0);
    // An odd number of bytes left for a UTF-16 text.
    EXPECT_EQ(ReadSettingsInto(Bytes({1, 0, 0xFF, 0xFE, 0xFF, 2, 'a', 0, 'b'}), r), 0);
    EXPECT_EQ(r, DefaultSettings(7, 8));
}

TEST(SettingsFormat, MutatedFilesReadSafelyAndConsistently) {
    // Random byte changes, cuts and inserts of a sound record: reading never
    // fails badly, and whatever reads whole writes back to a file that reads
    // the same.
    SettingsRecord big = Sample();
    big.searchHistory.push_back(std::string(300, 'x'));
    big.rewriteHistory.push_back("\xCE\x92");
    const std::string whole = SerializeSettings(big);
    std::mt19937 random(12345);
    int complete = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string bytes = whole;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            const size_t at = random() % bytes.size();
            switch (random() % 3) {
                case 0:
                    bytes[at] = static_cast<char>(random());
                    break;
                case 1:
                    bytes.resize(at);
                    break;
                default:
                    bytes.insert(at, 1, static_cast<char>(random()));
                    break;
            }
        }
        SettingsRecord r = DefaultSettings();
        const int parts = ReadSettingsInto(bytes, r);
        ASSERT_GE(parts, 0);
        ASSERT_LE(parts, kSettingsPartCount);
        if (parts == kSettingsPartCount) {
            ++complete;
            ASSERT_EQ(ParseSettings(SerializeSettings(r)), r);
        }
    }
    // The mutations leave some records whole (a changed width, say).
    EXPECT_GT(complete, 0);
}

TEST(SettingsPath, BesideTheHelpFile) {
    EXPECT_EQ(SettingsPathBeside("/opt/quarry/bin/quarry.chm"), "/opt/quarry/bin/settings.dat");
    EXPECT_EQ(SettingsPathBeside("/quarry.chm"), "/settings.dat");
    EXPECT_EQ(SettingsPathBeside("quarry.chm"), "settings.dat");
    EXPECT_EQ(SettingsPathBeside("bin/"), "bin/settings.dat");
}

TEST(SettingsFile, SaveThenLoad) {
    TempDir dir;
    const std::string path = dir.File("settings.dat");
    SettingsRecord r = DefaultSettings();
    EXPECT_EQ(LoadSettingsFile(path, r), SettingsLoad::NotFound);
    EXPECT_EQ(r, DefaultSettings());

    std::string error;
    ASSERT_TRUE(SaveSettingsFile(path, Sample(), &error)) << error;
    EXPECT_EQ(ReadAll(path), SerializeSettings(Sample()));
    EXPECT_EQ(LoadSettingsFile(path, r), SettingsLoad::Complete);
    EXPECT_EQ(r, Sample());

    // Saving again replaces the file whole and leaves no temporary behind.
    ASSERT_TRUE(SaveSettingsFile(path, DefaultSettings(521, 250)));
    EXPECT_EQ(ReadAll(path).size(), 33u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    // A missing configuration folder is made.
    const std::string nested = dir.File("config/quarry/settings.dat");
    ASSERT_TRUE(SaveSettingsFile(nested, Sample(), &error)) << error;
    EXPECT_EQ(ReadAll(nested), SerializeSettings(Sample()));
}

TEST(SettingsFile, DamagedFileIsReportedAndReadUpToTheDamage) {
    TempDir dir;
    const std::string path = dir.File("settings.dat");
    const std::string whole = SerializeSettings(Sample());
    WriteAll(path, whole.substr(0, whole.size() - 2));
    SettingsRecord r = DefaultSettings(1, 1);
    EXPECT_EQ(LoadSettingsFile(path, r), SettingsLoad::Damaged);
    EXPECT_EQ(r.searchHistory, Sample().searchHistory);
    EXPECT_EQ(r.limitValue, Sample().limitValue);
    EXPECT_FALSE(r.matchLineBreaks);

    // Kept, since the next save replaces it.
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ReadAll(path + ".bak"), whole.substr(0, whole.size() - 2));

    // A folder where the file should be is not a file.
    const std::string folder = dir.File("folder");
    std::filesystem::create_directory(folder);
    EXPECT_EQ(LoadSettingsFile(folder, r), SettingsLoad::NotAFile);
}

// Former faults: 30 million empty history entries aborted the program with
// unsaved documents; a huge stored size gave a window never painted; a FIFO
// blocked the UI thread in its open.
TEST(SettingsFile, LoadingCapsHistoriesAndTextsAndOpensOnlyRegularFiles) {
    TempDir dir;
    const std::string path = dir.File("settings.dat");
    std::string many = Bytes({0xFF, 0xFF}) + Le32(1000000);
    many += std::string(1000000, '\0');  // a million empty entries
    SettingsRecord sample = Sample();
    sample.searchHistory.clear();
    sample.rewriteHistory = {std::string(40000, 'r')};
    many += SerializeSettings(sample).substr(2);  // the rest of a sound record
    WriteAll(path, many);
    SettingsRecord r;
    EXPECT_EQ(LoadSettingsFile(path, r), SettingsLoad::Complete);
    EXPECT_EQ(r.searchHistory, std::vector<std::string>(100, ""));
    EXPECT_EQ(r.rewriteHistory, std::vector<std::string>{std::string(32767, 'r')});
    EXPECT_EQ(r.limitValue, sample.limitValue) << "the parts behind the entries are read";

    const std::string fifo = dir.File("fifo.dat");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(LoadSettingsFile(fifo, r), SettingsLoad::NotAFile);
}

TEST(SettingsFile, UnwritableFolderFailsAndKeepsTheOldFile) {
    TempDir dir;
    std::string error;
    // A folder that can't exist: its parent is a file.
    const std::string blocker = dir.File("blocker");
    WriteAll(blocker, "x");
    EXPECT_FALSE(SaveSettingsFile(blocker + "/settings.dat", Sample(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ChooseSettingsPath(blocker + "/quarry.chm", "/home/u/.config/quarry"),
              "/home/u/.config/quarry/settings.dat");
    EXPECT_EQ(ChooseSettingsPath(dir.File("quarry.chm"), "/home/u/.config/quarry"),
              dir.File("settings.dat"));

    // A target that can't be replaced keeps what it was, with no temporary left.
    const std::string occupied = dir.File("occupied");
    std::filesystem::create_directories(occupied + "/inside");
    error.clear();
    EXPECT_FALSE(SaveSettingsFile(occupied, Sample(), &error));
    EXPECT_NE(error.find("occupied"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_directory(occupied + "/inside"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);

    // A read-only folder (root may write there anyway).
    const std::string path = dir.File("settings.dat");
    ASSERT_TRUE(SaveSettingsFile(path, Sample()));
    std::filesystem::permissions(
        dir.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (geteuid() != 0) {
        EXPECT_FALSE(SaveSettingsFile(path, DefaultSettings(), &error));
        EXPECT_NE(error.find("settings.dat"), std::string::npos) << error;
        EXPECT_EQ(ReadAll(path), SerializeSettings(Sample()));
        EXPECT_EQ(ChooseSettingsPath(dir.File("quarry.chm"), "/cfg/"), "/cfg/settings.dat");
    }
}

}  // namespace
}  // namespace quarry
