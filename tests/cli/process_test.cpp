// Runs the real quarry-cli binary in a temporary directory and compares its
// standard output bytes, standard error text and exit status exactly.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "search/host.h"
#include "tests/support/slow_build.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kTryHelp = "Try 'quarry-cli --help' for more information.\n";

std::string AccessDenied(const std::string& path) {
    return "Dateizugriff verweigert\nAuf die Datei  \"" + path +
           "\"  kann nicht zugegriffen werden.\nSie wird möglicherweise von einer anderen "
           "Anwedung verwendet\n";
}

std::string Visible(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n\n";
        } else if (c < 32 || c == 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

struct Outcome {
    std::string command;
    int exitCode = -1;  // -1: ended by a signal
    int signal = 0;
    std::string out;
    std::string err;

    std::string Describe() const {
        std::ostringstream s;
        s << "command: " << command << "\nexit: " << exitCode;
        if (signal != 0) {
            s << " (signal " << signal << ")";
        }
        s << "\n--- stdout (" << out.size() << " bytes) ---\n"
          << (out.size() > 2000 ? Visible(out.substr(0, 2000)) + "..." : Visible(out))
          << "\n--- stderr ---\n"
          << Visible(err) << "\n---";
        return s.str();
    }
};

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CliProcess : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream out(Path(name), std::ios::binary);
        out << bytes;
        return Path(name);
    }

    // Starts the binary with stdin from stdinPath (none: /dev/null), stdout
    // and stderr into files of the temporary directory, or stdout onto
    // stdoutFd when given.
    pid_t Spawn(const std::vector<std::string>& args, const std::string& stdinPath = "",
                int stdoutFd = -1, int stdinFd = -1, bool stderrToStdout = false) {
        command_ = "quarry-cli";
        for (const std::string& arg : args) {
            command_ += " '" + arg + "'";
        }
        if (!stdinPath.empty()) {
            command_ += " < " + stdinPath;
        }
        std::vector<std::string> all{QUARRY_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const std::string in = stdinPath.empty() ? "/dev/null" : stdinPath;
        const std::string out = Path("stdout.bin");
        const std::string err = Path("stderr.txt");

        pid_t pid = fork();
        if (pid == 0) {
            int inFd = stdinFd >= 0 ? stdinFd : open(in.c_str(), O_RDONLY);
            int outFd =
                stdoutFd >= 0 ? stdoutFd : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (inFd < 0 || outFd < 0 || errFd < 0) {
                _exit(99);
            }
            dup2(inFd, 0);
            dup2(outFd, 1);
            dup2(stderrToStdout ? outFd : errFd, 2);
            // Whatever the test runner inherited, the binary starts as from a shell.
            signal(SIGINT, SIG_DFL);
            signal(SIGPIPE, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            if (addressSpaceLimit_ > 0) {
                rlimit limit{addressSpaceLimit_, addressSpaceLimit_};
                setrlimit(RLIMIT_AS, &limit);
            }
            execv(argv[0], argv.data());
            _exit(98);
        }
        return pid;
    }

    Outcome Finish(pid_t pid) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return Collect(status);
    }

    // The outcome of a process already waited for.
    Outcome Collect(int status) {
        Outcome outcome;
        outcome.command = command_;
        if (WIFEXITED(status)) {
            outcome.exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            outcome.signal = WTERMSIG(status);
        }
        outcome.out = ReadWhole(Path("stdout.bin"));
        outcome.err = ReadWhole(Path("stderr.txt"));
        return outcome;
    }

    Outcome Run(const std::vector<std::string>& args, const std::string& stdinPath = "") {
        return Finish(Spawn(args, stdinPath));
    }

    // Runs with the given bytes on standard input (from a file).
    Outcome RunWithInput(const std::vector<std::string>& args, const std::string& input) {
        return Run(args, WriteFile("stdin.bin", input));
    }

    quarry::test::TempDir dir_{"quarry-cli-test"};
    std::string command_;
    rlim_t addressSpaceLimit_ = 0;  // for the child; 0: inherited
};

// Large outputs are compared without printing them whole; the trace shows
// their beginning.
void ExpectBytes(const std::string& actual, const std::string& expected) {
    if (actual.size() + expected.size() < 8192) {
        EXPECT_EQ(actual, expected);
        return;
    }
    EXPECT_EQ(actual.size(), expected.size());
    const auto diverge =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    EXPECT_TRUE(actual == expected)
        << "stdout first differs at byte " << (diverge.first - actual.begin());
}

#define EXPECT_OUTCOME(outcome, code, stdoutBytes, stderrText) \
    do {                                                       \
        const Outcome& o_ = (outcome);                         \
        SCOPED_TRACE(o_.Describe());                           \
        EXPECT_EQ(o_.exitCode, (code));                        \
        ExpectBytes(o_.out, (stdoutBytes));                    \
        EXPECT_EQ(o_.err, (stderrText));                       \
    } while (0)

TEST_F(CliProcess, ListsEachMatchingWithLfOrCrLf) {
    const std::string file = WriteFile("in.txt", "xaaybz a");
    EXPECT_OUTCOME(Run({"a+", file}), 0, "aa\na\n", "2 matchings listed\n");
    // The same text through standard input, and in whole-text mode.
    EXPECT_OUTCOME(RunWithInput({"a+"}, "xaaybz a"), 0, "aa\na\n", "2 matchings listed\n");
    EXPECT_OUTCOME(Run({"--match-linebreaks", "a+", file}), 0, "aa\na\n", "2 matchings listed\n");
    // --crlf writes the separators as the desktop's listing does; --lf is
    // accepted.
    EXPECT_OUTCOME(Run({"--crlf", "a+", file}), 0, "aa\r\na\r\n", "2 matchings listed\n");
    EXPECT_OUTCOME(Run({"--lf", "a+", file}), 0, "aa\na\n", "2 matchings listed\n");
    // One matching is still "matchings".
    EXPECT_OUTCOME(RunWithInput({"y"}, "xaaybz a"), 0, "y\n", "1 matchings listed\n");
}

TEST_F(CliProcess, ListingKeepsLineBreaksInsideMatchings) {
    const std::string crlf = WriteFile("crlf.txt", "ab\r\ncd");
    // Line mode never crosses a line break; whole-text mode does.
    EXPECT_OUTCOME(Run({"b\\r\\nc", crlf}), 1, "", "No matching found\n");
    EXPECT_OUTCOME(Run({"--match-linebreaks", "b\\r\\nc", crlf}), 0, "b\r\nc\n",
                   "1 matchings listed\n");
    // With CR LF separators a matching that ends in CR gets its LF before
    // the separator.
    EXPECT_OUTCOME(RunWithInput({"--match-linebreaks", "--crlf", "x\\r"}, "x\r\n"), 0, "x\r\n\r\n",
                   "1 matchings listed\n");
    // Former fault: --lf turned every CR LF of the output into LF, also the
    // one a matching ends with, so the matching lost its CR.
    EXPECT_OUTCOME(RunWithInput({"--match-linebreaks", "--lf", "x\\r"}, "x\r\n"), 0, "x\r\n",
                   "1 matchings listed\n");
}

TEST_F(CliProcess, EmptyFirstMatchingIsCountedAndEndsTheRun) {
    EXPECT_OUTCOME(RunWithInput({"a*"}, "baa"), 0, "", "1 matchings listed\n");
    EXPECT_OUTCOME(RunWithInput({"--rewrite", "y", "x*"}, "abc"), 0, "abc",
                   "1 matchings replaced\n");
    // An empty text: line mode has no line to try, whole-text mode tries offset 0.
    EXPECT_OUTCOME(RunWithInput({"x*"}, ""), 1, "", "No matching found\n");
    EXPECT_OUTCOME(RunWithInput({"--match-linebreaks", "x*"}, ""), 0, "", "1 matchings listed\n");
}

TEST_F(CliProcess, ReplaceAllPrintsTheWholeText) {
    EXPECT_OUTCOME(RunWithInput({"--rewrite", "0", "o"}, "foo"), 0, "f00",
                   "2 matchings replaced\n");
    EXPECT_OUTCOME(RunWithInput({"--rewrite=<\\0>", "b"}, "abc\r\nbb\r\n"), 0,
                   "a<b>c\r\n<b><b>\r\n", "3 matchings replaced\n");
    // Nothing matched: the text comes out unchanged, and the status is 1.
    EXPECT_OUTCOME(RunWithInput({"--rewrite", "x", "q"}, "abc\r\n\0def"s), 1, "abc\r\n\0def"s,
                   "No matching found\n");
    // A rewrite leaves the bytes between matchings alone, --lf or not.
    EXPECT_OUTCOME(RunWithInput({"--lf", "--rewrite", "X", "b"}, "ab\r\ncb\r\n"), 0, "aX\r\ncX\r\n",
                   "2 matchings replaced\n");
    // An empty rewrite deletes.
    EXPECT_OUTCOME(RunWithInput({"--rewrite", "", "\\d"}, "a1b22"), 0, "ab",
                   "3 matchings replaced\n");
}

TEST_F(CliProcess, RunsTheShippedSample) {
    const fs::path sample = fs::path(QUARRY_SOURCE_DIR) / "samples" / "settings.txt";
    Outcome outcome = Run({"--rewrite", "\\2=\\1", "(\\w+)=(\\d+)", sample.string()});
    SCOPED_TRACE(outcome.Describe());
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_NE(outcome.out.find("80=width"), std::string::npos);
    EXPECT_EQ(outcome.out.find("width=80"), std::string::npos);
    // Swapping the two sides keeps the length.
    EXPECT_EQ(outcome.out.size(), fs::file_size(sample));
    const std::string tail = " matchings replaced\n";
    ASSERT_GT(outcome.err.size(), tail.size());
    EXPECT_EQ(outcome.err.substr(outcome.err.size() - tail.size()), tail);
    EXPECT_GT(std::atoi(outcome.err.c_str()), 0);
}

TEST_F(CliProcess, OptionsReachTheSearch) {
    const std::string file = WriteFile("case.txt", "aA a12b a1234567b");
    EXPECT_OUTCOME(Run({"A", file}), 0, "a\nA\na\na\n", "4 matchings listed\n");
    EXPECT_OUTCOME(Run({"--match-case", "A", file}), 0, "A\n", "1 matchings listed\n");
    // The search-depth limit caps the span of one matching.
    EXPECT_OUTCOME(Run({"--limit", "6", "a\\d.*b", file}), 0, "a12b\n", "1 matchings listed\n");
    EXPECT_OUTCOME(Run({"--limit=100", "a\\d.*b", file}), 0, "a12b a1234567b\n",
                   "1 matchings listed\n");
    EXPECT_OUTCOME(Run({"--no-limit", "a\\d.*b", file}), 0, "a12b a1234567b\n",
                   "1 matchings listed\n");
}

TEST_F(CliProcess, DoubleDashLetsTheExpressionStartWithADash) {
    const std::string file = WriteFile("dash.txt", "a-xb -x");
    EXPECT_OUTCOME(Run({"--", "-x", file}), 0, "-x\n-x\n", "2 matchings listed\n");
    EXPECT_OUTCOME(Run({"-x", file}), 2, "", "quarry-cli: unknown option '-x'\n" + kTryHelp);
}

TEST_F(CliProcess, RefusesBadExpressionsAndCommandLines) {
    const std::string file = WriteFile("in.txt", "abc");
    // Each refusal says why and where, after the words the dialog uses too.
    EXPECT_OUTCOME(Run({"", file}), 2, "",
                   "Invalid expression\nquarry-cli: invalid expression '': there is nothing to "
                   "search for\n");
    EXPECT_OUTCOME(Run({"*a", file}), 2, "",
                   "Invalid expression\nquarry-cli: invalid expression '*a': an operator has "
                   "nothing before it to apply to (at offset 0)\n");
    EXPECT_OUTCOME(Run({"--rewrite", "x", "a()", file}), 2, "",
                   "Invalid expression\nquarry-cli: invalid expression 'a()': a group is empty "
                   "(at offset 2)\n");
    EXPECT_OUTCOME(Run({}), 2, "", "quarry-cli: missing EXPRESSION\n" + kTryHelp);
    EXPECT_OUTCOME(
        Run({"--limit", "x", "a", file}), 2, "",
        "quarry-cli: option '--limit' needs a number from 0 to 2147483647, not 'x'\n" + kTryHelp);
    // An invalid expression is reported before any file is looked at.
    EXPECT_OUTCOME(Run({"*a", Path("missing.txt")}), 2, "",
                   "Invalid expression\nquarry-cli: invalid expression '*a': an operator has "
                   "nothing before it to apply to (at offset 0)\n");
}

TEST_F(CliProcess, HelpAndVersion) {
    Outcome help = Run({"--help"});
    SCOPED_TRACE(help.Describe());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: quarry-cli ", 0), 0u);
    EXPECT_EQ(help.err, "");
    EXPECT_OUTCOME(Run({"--version"}), 0, std::string("quarry-cli ") + QUARRY_VERSION + "\n", "");
}

TEST_F(CliProcess, SingleFileAndStandardInputAreSearchedAsExactBytes) {
    const std::string bytes =
        "a\r\nb\0c\x1A"
        "d\r\n"s;
    const std::string file = WriteFile("raw.bin", bytes);
    EXPECT_OUTCOME(Run({"--rewrite", "x", "zzz", file}), 1, bytes, "No matching found\n");
    EXPECT_OUTCOME(RunWithInput({"--rewrite", "x", "zzz"}, bytes), 1, bytes, "No matching found\n");
    // NUL and 0x1A are ordinary bytes of the text.
    EXPECT_OUTCOME(Run({"--rewrite", "<\\0>", "c.d", file}), 0,
                   "a\r\nb\0<c\x1A"
                   "d>\r\n"s,
                   "1 matchings replaced\n");
}

TEST_F(CliProcess, StandardInputMayBeAPipe) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "line " + std::to_string(i) + "\r\n";
    }
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    pid_t pid = Spawn({"--rewrite", "L", "line"}, "", -1, fds[0]);
    close(fds[0]);
    std::thread writer([&] {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        close(fds[1]);
    });
    Outcome outcome = Finish(pid);
    writer.join();
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        expected += "L " + std::to_string(i) + "\r\n";
    }
    EXPECT_OUTCOME(outcome, 0, expected, "20000 matchings replaced\n");
}

TEST_F(CliProcess, JoinsSeveralFilesInTextMode) {
    const std::string one = WriteFile("one.txt", "one\r\ntwo\x1Ahidden\r\n");
    const std::string two = WriteFile("two.txt", "nul\0byte\r\nlast"s);
    const std::string empty = WriteFile("empty.txt", "");
    // CR LF read as LF, 0x1A ends a file, NUL stays, one LF behind each file.
    EXPECT_OUTCOME(Run({"--rewrite", "x", "zzz", one, empty, two}), 1,
                   "one\ntwo\n\nnul\0byte\nlast\n"s, "No matching found\n");
    EXPECT_OUTCOME(Run({"--match-linebreaks", "two\\n\\nnul", one, empty, two}), 0, "two\n\nnul\n",
                   "1 matchings listed\n");
}

TEST_F(CliProcess, JoinsSeveralFilesInBinaryMode) {
    const std::string one = WriteFile("one.txt", "one\r\ntwo\x1Ahidden\r\n");
    const std::string two = WriteFile("two.txt", "nul\0byte\0\r\nlast"s);
    // Untranslated, except that NUL bytes become spaces.
    EXPECT_OUTCOME(Run({"--binary", "--rewrite", "x", "zzz", one, two}), 1,
                   "one\r\ntwo\x1Ahidden\r\n\nnul byte \r\nlast\n", "No matching found\n");
    EXPECT_OUTCOME(Run({"--binary", "l b", one, two}), 0, "l b\n", "1 matchings listed\n");
}

TEST_F(CliProcess, UnreadableInputStopsBeforeTheSearch) {
    const std::string missing = Path("missing.txt");
    const std::string good = WriteFile("good.txt", "a");
    EXPECT_OUTCOME(
        Run({"a", missing}), 2, "",
        AccessDenied(missing) + "quarry-cli: " + missing + ": No such file or directory\n");
    // In a join, one bad file stops the whole run: nothing is listed.
    EXPECT_OUTCOME(
        Run({"a", good, missing}), 2, "",
        AccessDenied(missing) + "quarry-cli: " + missing + ": No such file or directory\n");
    EXPECT_OUTCOME(Run({"a", dir_.Path()}), 2, "",
                   AccessDenied(dir_.Path()) + "quarry-cli: " + dir_.Path() + ": Is a directory\n");
    EXPECT_OUTCOME(Run({"a", good, dir_.Path()}), 2, "",
                   AccessDenied(dir_.Path()) + "quarry-cli: " + dir_.Path() + ": Is a directory\n");
    if (geteuid() != 0) {  // root reads everything
        const std::string locked = WriteFile("locked.txt", "a");
        chmod(locked.c_str(), 0);
        EXPECT_OUTCOME(Run({"a", locked}), 2, "",
                       AccessDenied(locked) + "quarry-cli: " + locked + ": Permission denied\n");
    }
}

TEST_F(CliProcess, RefusesInputsOfTwoGibibytesBeforeReading) {
    // Sparse files: they take no disk space.
    const std::string big = Path("big.bin");
    const std::string half = Path("half.bin");
    {
        int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t{1} << 31), 0);
        close(fd);
        fd = open(half.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t{1} << 30), 0);
        close(fd);
    }
    EXPECT_OUTCOME(Run({"a", big}), 2, "",
                   "quarry-cli: " + big +
                       " is too large: 2147483648 bytes, but at most 2147483645 bytes (just "
                       "under 2 GiB) can be searched\n");
    EXPECT_OUTCOME(Run({"a"}, big), 2, "",
                   "quarry-cli: standard input is too large: 2147483648 bytes, but at most "
                   "2147483645 bytes (just under 2 GiB) can be searched\n");
    EXPECT_OUTCOME(Run({"a", half, half}), 2, "",
                   "quarry-cli: the joined files are too large: 2147483650 bytes with their "
                   "line breaks, but at most 2147483645 bytes (just under 2 GiB) can be "
                   "searched\n");
}

TEST_F(CliProcess, UnlimitedGreedySearchesGetALargeStack) {
    // One matching of a loop over a group across 256 KB nests a quarter of a
    // million matcher calls: far more than an ordinary thread's stack holds.
    // Instrumented frames are ten times larger, and the remembering walk's
    // (once the memo is on) took 64 KB to the edge of the 512 MiB stack: 32 KB
    // there, still far past an ordinary stack.
    std::string text;
    for (int i = 0; i < (QUARRY_SLOW_BUILD ? 512 : 4096); ++i) {
        text += std::string(63, 'x') + "\n";
    }
    const std::string file = WriteFile("mega.txt", text);
    // The whole text, then the empty matching at its end.
    EXPECT_OUTCOME(Run({"--no-limit", "--match-linebreaks", "(.|{..})*", file}), 0, text + "\n",
                   "2 matchings listed\n");
}

#if !QUARRY_ADDRESS_SANITIZER  // the sanitizer needs far more address space
TEST_F(CliProcess, ReportsASearchThreadThatCannotBeMade) {
    // Too little address space for the search thread's stack.
    addressSpaceLimit_ = rlim_t{256} << 20;
    EXPECT_OUTCOME(RunWithInput({"a"}, "abc"), 2, "",
                   "quarry-cli: can't start the search thread with its 512 MiB stack\n");
}
#endif

// Former fault: the run ended where the stack ran out as if nothing more was
// there, exited 0 or 1 and wrote a partial listing, or the text unchanged.
TEST_F(CliProcess, StackExhaustionWritesNothingAndIsAnError) {
    // 32 MB in one greedy loop over a group, which nests once per repetition,
    // is beyond any stack the search is given.
    const std::string file = Path("huge.txt");
    {
        std::ofstream out(file, std::ios::binary);
        const std::string line = std::string(63, 'x') + "\n";
        for (int i = 0; i < 32 * 16384; ++i) {
            out << line;
        }
    }
    EXPECT_OUTCOME(Run({"--no-limit", "--match-linebreaks", "(.|{..})*", file}), 2, "",
                   "Stack Overflow\n" + std::string(quarry::kStackOverflowText) +
                       "\nquarry-cli: the search ran out of stack; nothing was written\n");
}

TEST_F(CliProcess, LoopsOverAGroupExhaustingASmallStackWriteNothing) {
    // A loop over a group recurses once per repetition (unless every pass is
    // one character, as in «(a|b)*»), however single-byte
    // loops are run; a 1 MiB search stack ends within a megabyte of text.
    const std::string file = WriteFile("deep.txt", "ab " + std::string(1 << 20, 'a'));
    const std::string overflow = "Stack Overflow\n" + std::string(quarry::kStackOverflowText) +
                                 "\nquarry-cli: the search ran out of stack; nothing was written\n";
    setenv("QUARRY_SEARCH_STACK_KIB", "1024", 1);
    // "ab" is listed before the long run, and "ab" and " " found before it:
    // none of it may pass for the whole result.
    const Outcome listed = Run({"--no-limit", "(a|b)(a|b|{ab})*", file});
    const Outcome replaced = Run({"--no-limit", "--rewrite", "<\\1>", "(.|{..})*", file});
    const Outcome found = Run({"--no-limit", "(a|{aa})*[^a]", file});
    unsetenv("QUARRY_SEARCH_STACK_KIB");
    EXPECT_OUTCOME(listed, 2, "", overflow);
    EXPECT_OUTCOME(replaced, 2, "", overflow);
    EXPECT_OUTCOME(found, 2, "", overflow);
}

// A line-mode result goes to a regular file while the search runs, on one
// thread or several. A run that fails afterwards must not leave what was
// written: the file is cut back to where the result began, so one opened
// for appending keeps just what it held.
TEST_F(CliProcess, AResultWrittenDuringTheSearchIsCutBackWhenTheRunFails) {
    // Four pieces of a megabyte; the last line nests a walk per byte, more
    // than a 1 MiB search stack holds.
    std::string lines;
    while (lines.size() < (size_t{3} << 20)) {
        lines += "ab ba abba b a\n";
    }
    const std::string good = WriteFile("good.txt", lines);
    const std::string bad = WriteFile("bad.txt", lines + std::string(1 << 20, 'a') + "\n");
    const Outcome one = Run({"--threads", "1", "--no-limit", "(a|b)(a|b|{ab})*", good});
    const Outcome two = Run({"--threads", "2", "--no-limit", "(a|b)(a|b|{ab})*", good});
    EXPECT_EQ(two.exitCode, 0);
    EXPECT_TRUE(two.out == one.out);

    for (const char* threads : {"1", "2"}) {
        const std::string appended = WriteFile("appended.txt", "kept\n");
        const int fd = open(appended.c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        setenv("QUARRY_SEARCH_STACK_KIB", "1024", 1);
        const Outcome failed =
            Finish(Spawn({"--threads", threads, "--no-limit", "(a|b)(a|b|{ab})*", bad}, "", fd));
        unsetenv("QUARRY_SEARCH_STACK_KIB");
        close(fd);
        EXPECT_EQ(failed.exitCode, 2) << threads << " threads";
        const std::string after = ReadWhole(appended);
        EXPECT_TRUE(after == "kept\n")
            << threads << " threads: the file holds " << after.size() << " bytes";
    }

    // With standard error in the same file ("2>&1"), cutting it back would
    // take the messages too: the result is then held back until whole.
    const std::string both = WriteFile("both.txt", "");
    const int bothFd = open(both.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(bothFd, 0);
    setenv("QUARRY_SEARCH_STACK_KIB", "1024", 1);
    const Outcome told = Finish(
        Spawn({"--threads", "2", "--no-limit", "(a|b)(a|b|{ab})*", bad}, "", bothFd, -1, true));
    unsetenv("QUARRY_SEARCH_STACK_KIB");
    close(bothFd);
    EXPECT_EQ(told.exitCode, 2);
    const std::string messages = ReadWhole(both);
    EXPECT_TRUE(
        messages.starts_with("Stack Overflow\n") &&
        messages.ends_with("quarry-cli: the search ran out of stack; nothing was written\n"))
        << messages.substr(0, 200);
}

// Former fault: a rewrite no matching can expand turned every matching into
// nothing, and the run reported "2 matchings replaced" with status 0.
TEST_F(CliProcess, ARewriteThatCannotExpandIsRefusedBeforeAnythingIsWritten) {
    const std::string file = WriteFile("kv.txt", "name=alice\nid=42\n");
    const std::string refused = "quarry-cli: invalid rewrite expression '";
    EXPECT_OUTCOME(Run({"--rewrite", "\\9", "(\\w+)=(\\w+)", file}), 2, "",
                   refused +
                       "\\\\9': refers to group 9 at offset 0, which the search "
                       "expression does not have\n");
    EXPECT_OUTCOME(Run({"--rewrite", "x\\", "(\\w+)=(\\w+)", file}), 2, "",
                   refused + "x\\\\': ends with a backslash\n");
    EXPECT_OUTCOME(Run({"--rewrite", "\\x4", "(\\w+)", file}), 2, "",
                   refused + "\\\\x4': incomplete numeric escape at offset 0\n");
    EXPECT_OUTCOME(Run({"--rewrite", "\\d99", "(\\w+)", file}), 2, "",
                   refused + "\\\\d99': incomplete numeric escape at offset 0\n");
    // Groups that exist but took no part in a matching still expand to
    // nothing there, as the rewrite language defines.
    EXPECT_OUTCOME(Run({"--rewrite", "[\\2]", "(a)|(b)", WriteFile("ab.txt", "ab")}), 0, "[b]",
                   "2 matchings replaced\n");
}

#if !QUARRY_ADDRESS_SANITIZER  // the sanitizer needs far more address space
// Former fault: an expansion that ran out of memory was dropped, and the run
// reported "1 matchings replaced" with the matching missing from the output.
TEST_F(CliProcess, ARewriteThatRunsOutOfMemoryWritesNothing) {
    const std::string file = WriteFile("run.txt", std::string(1 << 20, 'a'));
    std::string rewrite;
    for (int i = 0; i < 1000; ++i) {
        rewrite += "\\0";
    }
    // A gigabyte of expansion against 400 MiB of address space; the search
    // thread's stack is kept small so that it still fits.
    addressSpaceLimit_ = rlim_t{400} << 20;
    setenv("QUARRY_SEARCH_STACK_KIB", "4096", 1);
    const Outcome outcome = Run({"--no-limit", "--rewrite", rewrite, "a+", file});
    unsetenv("QUARRY_SEARCH_STACK_KIB");
    EXPECT_OUTCOME(outcome, 2, "",
                   "quarry-cli: not enough memory for the whole result; nothing was written\n");
}
#endif

// Former fault: file names went to standard error as they were, so a line
// feed in a name could fake a line of the report.
TEST_F(CliProcess, ControlCharactersInFileNamesAreEscaped) {
    const std::string name = Path("two\nlines.txt");
    const std::string shown = Path("two\\nlines.txt");
    EXPECT_OUTCOME(Run({"a", name}), 2, "",
                   AccessDenied(shown) + "quarry-cli: " + shown + ": No such file or directory\n");
}

// Former fault: a FIFO among joined files blocked quarry-cli in open() for
// good; alone, a named pipe is how a shell passes text, and is read.
TEST_F(CliProcess, AFifoIsRefusedInAJoinAndReadWhenItIsTheOnlyInput) {
    const std::string one = WriteFile("one.txt", "abc");
    const std::string fifo = Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_OUTCOME(Run({"a", one, fifo}), 2, "",
                   "quarry-cli: " + fifo + ": only regular files can be joined\n");

    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        if (fd >= 0) {
            const char text[] = "banana";
            EXPECT_EQ(write(fd, text, 6), 6);
            close(fd);
        }
    });
    const Outcome read = Run({"an", fifo});
    writer.join();
    EXPECT_OUTCOME(read, 0, "an\nan\n", "2 matchings listed\n");
}

// Former fault: the engine took every byte for a character, so «caf.» took
// half of «é» and Replace All wrote half a character.
TEST_F(CliProcess, UtfEightTextIsSearchedByCharactersAndBytesModeKeepsTheOldWay) {
    const std::string cafe = WriteFile("cafe.txt", "caf\xC3\xA9=1\n");
    EXPECT_OUTCOME(Run({"--rewrite", "[\\0]", "caf.", cafe}), 0, "[caf\xC3\xA9]=1\n",
                   "1 matchings replaced\n");
    EXPECT_OUTCOME(Run({"--bytes", "--rewrite", "[\\0]", "caf.", cafe}), 0, "[caf\xC3]\xA9=1\n",
                   "1 matchings replaced\n");
    EXPECT_OUTCOME(RunWithInput({"--rewrite", "X", "."}, "h\xC3\xA4t"), 0, "XXX",
                   "3 matchings replaced\n");
    EXPECT_OUTCOME(RunWithInput({"[\xC3\xA4\xC3\xB6\xC3\xBC]"}, "B\xC3\xA4r \xC3\xB6l"), 0,
                   "\xC3\xA4\n\xC3\xB6\n", "2 matchings listed\n");
    EXPECT_OUTCOME(RunWithInput({"\\w+"}, "Bin\xC3\xA4rmodus"), 0, "Bin\xC3\xA4rmodus\n",
                   "1 matchings listed\n");
    // Without case, Greek capitals find small letters, final sigma too.
    EXPECT_OUTCOME(RunWithInput({"\xCF\x83\xCE\xB1\xCF\x82"}, "\xCE\xA3\xCE\x91\xCE\xA3"), 0,
                   "\xCE\xA3\xCE\x91\xCE\xA3\n", "1 matchings listed\n");
    // A byte that begins no character is a character of its own.
    EXPECT_OUTCOME(RunWithInput({"a.b"},
                                "a\xFF"
                                "b"),
                   0,
                   "a\xFF"
                   "b\n",
                   "1 matchings listed\n");
}

TEST_F(CliProcess, AFailedWriteIsAnError) {
    const std::string file = WriteFile("in.txt", "aaa");
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    close(fds[0]);  // nobody reads: the write fails with EPIPE
    pid_t pid = Spawn({"a", file}, "", fds[1]);
    close(fds[1]);
    EXPECT_OUTCOME(Finish(pid), 2, "", "quarry-cli: can't write the output: Broken pipe\n");
}

// The wait status once pid has ended, or nothing when it is still running
// after `limit`: a guard against hanging the suite, not a measurement.
std::optional<int> WaitWithin(pid_t pid, std::chrono::steady_clock::duration limit) {
    const auto stop = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < stop) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

// Reads a field such as "pos:" from /proc/<pid>/fdinfo/<fd>.
std::optional<long long> FdPosition(pid_t pid, int fd) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/fdinfo/" + std::to_string(fd));
    std::string key;
    long long value = 0;
    while (in >> key >> value) {
        if (key == "pos:") {
            return value;
        }
    }
    return std::nullopt;
}

size_t ThreadCount(pid_t pid) {
    std::error_code error;
    size_t count = 0;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return count;
}

TEST_F(CliProcess, CtrlCCancelsAndWritesNothing) {
    // 50 MB of lines on which the expression backtracks hard and never matches
    // (a class of many bytes, not a literal, at its end, so that no scan for a required
    // literal rules the lines out at once). Each attempt stays short
    // (cancelling is polled between attempts), but all of them together take
    // minutes.
    const std::string line = std::string(99, 'a') + "\n";
    const std::string input = Path("large.txt");
    {
        std::ofstream out(input, std::ios::binary);
        for (int i = 0; i < 500000; ++i) {
            out << line;
        }
    }
    const long long size = static_cast<long long>(fs::file_size(input));
    pid_t pid = Spawn({"a*a*a*[!-/]"}, input);
    ASSERT_GT(pid, 0);
    // Once standard input is read to its end and the search thread is up,
    // the search is running. This only waits for that state; a generous guard
    // keeps a broken binary from hanging the suite.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    bool searching = false;
    while (std::chrono::steady_clock::now() < giveUp) {
        std::optional<long long> pos = FdPosition(pid, 0);
        if (pos && *pos == size && ThreadCount(pid) >= 2) {
            searching = true;
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            FAIL() << "quarry-cli ended before it was interrupted";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!searching) {
        kill(pid, SIGKILL);
        Finish(pid);
        FAIL() << "quarry-cli never reached its search";
    }
    ASSERT_EQ(kill(pid, SIGINT), 0);
    // A binary that ignored the interrupt would search for hours: give up on
    // it rather than hang the suite.
    std::optional<int> status = WaitWithin(pid, std::chrono::minutes(2));
    if (!status) {
        kill(pid, SIGKILL);
        Finish(pid);
        FAIL() << "quarry-cli went on searching after SIGINT";
    }
    Outcome outcome = Collect(*status);
    EXPECT_OUTCOME(outcome, 130, "", "Cancelled\n");
}

// True while the process sits in read(0, ...): /proc gives the system call
// number (0 on x86-64, 63 on arm64) and its first argument.
bool ReadingStandardInput(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    std::string number, fd;
    in >> number >> fd;
#if defined(__aarch64__)
    return number == "63" && fd == "0x0";
#else
    return number == "0" && fd == "0x0";
#endif
}

TEST_F(CliProcess, CtrlCWhileWaitingForStandardInput) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    ASSERT_EQ(write(fds[1], "abc", 3), 3);  // some input, but no end of it
    pid_t pid = Spawn({"a"}, "", -1, fds[0]);
    close(fds[0]);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!ReadingStandardInput(pid) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Delivered while the read waits, it must end the wait.
    kill(pid, SIGINT);
    std::optional<int> status = WaitWithin(pid, std::chrono::minutes(2));
    close(fds[1]);
    if (!status) {
        Finish(pid);
        FAIL() << "quarry-cli went on waiting for input after SIGINT";
    }
    EXPECT_OUTCOME(Collect(*status), 130, "", "Cancelled\n");
}

}  // namespace
