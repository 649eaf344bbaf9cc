// The mapped input file: exact bytes with a zero behind them, and a file cut
// short while mapped reads as zeros and is reported instead of killing the
// process.
#include "cli/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/slow_build.h"
#include "tests/support/temp_dir.h"

namespace quarry::cli {
namespace {

class MappedFileTest : public ::testing::Test {
  protected:
    void SetUp() override { page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

    // A file of `size` bytes that differ from page to page and are never 0.
    std::string Write(const std::string& name, size_t size) {
        std::string bytes(size, 'x');
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>('A' + (i * 7 + i / page_) % 26);
        }
        contents_ = bytes;
        return dir_.Write(name, bytes);
    }

    test::TempDir dir_{"quarry-map"};
    size_t page_ = 4096;
    std::string contents_;
};

TEST_F(MappedFileTest, HoldsTheExactBytesFollowedByAZero) {
    // A size that fills its last page exactly, one just over, one under.
    for (size_t size : {page_ * 3, page_ * 3 + 1, size_t{17}}) {
        const std::string path = Write("exact.txt", size);
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        MappedFile mapped;
        ASSERT_TRUE(mapped.Map(fd, static_cast<int64_t>(size)));
        close(fd);  // the mapping outlives the descriptor
        ASSERT_EQ(mapped.Length(), static_cast<int32_t>(size));
        EXPECT_EQ(std::string(mapped.Data(), size), contents_) << size;
        EXPECT_EQ(mapped.Data()[size], '\0') << size;
        EXPECT_FALSE(mapped.Shrank());
    }
}

// Former fault: the mapping began wherever the reservation for the file and
// its zero page fell, at any page, so the kernel mapped the page cache 64 KB
// per fault instead of a large folio at a time: 1,472 faults over 100 MB
// where 515 do, a tenth of a literal search's time.
TEST_F(MappedFileTest, BeginsOnTheBoundaryOfLargeFolios) {
    const size_t size = 5 * (size_t{1} << 20) + 123;
    const std::string path = Write("large.txt", size);
    for (int i = 0; i < 3; ++i) {
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        MappedFile mapped;
        ASSERT_TRUE(mapped.Map(fd, static_cast<int64_t>(size)));
        close(fd);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(mapped.Data()) % kMappingAlignment, 0u);
        EXPECT_EQ(std::memcmp(mapped.Data(), contents_.data(), size), 0);
        EXPECT_EQ(mapped.Data()[size], '\0');
    }
}

TEST_F(MappedFileTest, RefusesWhatItCannotHold) {
    const std::string path = Write("small.txt", 10);
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    MappedFile mapped;
    EXPECT_FALSE(mapped.Map(fd, 0));
    EXPECT_FALSE(mapped.Map(fd, int64_t{INT32_MAX}));
    EXPECT_FALSE(mapped.Map(-1, 10));
    EXPECT_EQ(mapped.Data(), nullptr);
    close(fd);
}

TEST_F(MappedFileTest, AFileCutShortReadsAsZerosAndIsReported) {
    const size_t size = page_ * 4 + 100;
    const std::string path = Write("shrinks.txt", size);
    const int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    MappedFile mapped;
    ASSERT_TRUE(mapped.Map(fd, static_cast<int64_t>(size)));
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(page_)), 0);
    close(fd);

    // Without the guard, the first read past the new end would end the
    // process with SIGBUS.
    const volatile char* data = mapped.Data();
    size_t nonZero = 0;
    for (size_t i = 0; i < size; ++i) {
        nonZero += data[i] != 0 ? 1 : 0;
    }
    EXPECT_EQ(nonZero, page_);  // the page that is still there
    EXPECT_TRUE(mapped.Shrank());

    // The next mapping starts with a clean record.
    const std::string other = Write("other.txt", 50);
    const int fd2 = open(other.c_str(), O_RDONLY);
    ASSERT_GE(fd2, 0);
    ASSERT_TRUE(mapped.Map(fd2, 50));
    close(fd2);
    EXPECT_EQ(std::string(mapped.Data(), 50), contents_);
    EXPECT_FALSE(mapped.Shrank());
}

TEST_F(MappedFileTest, ABusErrorElsewhereStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string ours = Write("ours.txt", page_ * 2);
    const std::string foreign = Write("foreign.txt", page_ * 2);
    EXPECT_EXIT(
        {
            const int fd = open(ours.c_str(), O_RDONLY);
            MappedFile mapped;
            if (fd < 0 || !mapped.Map(fd, static_cast<int64_t>(page_ * 2))) {
                std::_Exit(3);
            }
            // A mapping made without MappedFile, cut short and read.
            const int other = open(foreign.c_str(), O_RDWR);
            void* raw = mmap(nullptr, page_ * 2, PROT_READ, MAP_SHARED, other, 0);
            if (other < 0 || raw == MAP_FAILED || ftruncate(other, 0) != 0) {
                std::_Exit(3);
            }
            const volatile char* bytes = static_cast<const char*>(raw);
            std::_Exit(bytes[page_] == 'Q' ? 4 : 5);
        },
#if QUARRY_ADDRESS_SANITIZER
        // The earlier disposition is the sanitizer's, which reports and exits.
        ::testing::ExitedWithCode(1), "AddressSanitizer: BUS");
#else
        ::testing::KilledBySignal(SIGBUS), "");
#endif
}

}  // namespace
}  // namespace quarry::cli
