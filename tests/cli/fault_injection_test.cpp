// quarry-cli's run when its result can't be held whole: nothing may reach the
// output, and the exit status says so.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/options.h"
#include "cli/run.h"
#include "tests/support/fault_support.h"
#include "tests/support/temp_dir.h"

namespace quarry::cli {
namespace {

class CliShortResult : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string text;
        for (int i = 0; i < 4096; ++i) {
            text += "line " + std::to_string(i) + "\n";
        }
        input_ = dir_.Write("in.txt", text);
        inputSize_ = text.size();
    }

    struct Result {
        int status;
        std::string out, err;
    };

    // Runs with every buffer growth beyond `largest` bytes refused.
    Result RunFailing(CliOptions options, size_t largest) {
        options.files = {input_};
        const std::string outPath = dir_.File("out.bin");
        const std::string errPath = dir_.File("err.txt");
        RunIo io;
        io.in = open("/dev/null", O_RDONLY);
        io.out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        io.err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const std::atomic<bool> interrupted{false};
        Result r{};
        {
            test::FailingGrowth growth(largest);
            r.status = quarry::cli::Run(options, io, interrupted);
        }
        close(io.in);
        close(io.out);
        close(io.err);
        r.out = Read(outPath);
        r.err = Read(errPath);
        return r;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    test::TempDir dir_{"quarry-cli-fault"};
    std::string input_;
    size_t inputSize_ = 0;
};

TEST_F(CliShortResult, WritesNothingAndExitsWithTheErrorStatus) {
    const std::string refused =
        "quarry-cli: not enough memory for the whole result; nothing was written\n";
    CliOptions replace;
    replace.expression = "[a-z]+";
    replace.rewrite = "\\0\\0\\0";  // the result outgrows the input
    CliOptions list;
    list.expression = ".";  // every byte becomes a line of three
    for (const CliOptions& options : {replace, list}) {
        // The input's own blocks are had; the result can't grow far beyond it.
        const Result r = RunFailing(options, inputSize_ + inputSize_ / 2);
        EXPECT_EQ(r.status, kExitError) << options.expression;
        EXPECT_EQ(r.out, "") << options.expression;
        EXPECT_EQ(r.err, refused) << options.expression;
        EXPECT_GT(test::FailingGrowth::refused(), 0);
    }
    // Without the fault the same runs succeed.
    const Result whole = RunFailing(replace, SIZE_MAX);
    EXPECT_EQ(whole.status, kExitMatched);
    EXPECT_GT(whole.out.size(), inputSize_);
}

}  // namespace
}  // namespace quarry::cli
