#include "cli/options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <string>
#include <vector>

namespace quarry::cli {
namespace {

std::string Joined(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        text += " [" + arg + "]";
    }
    return text;
}

// Every field of the options in one line, so that a table row can state them.
std::string Describe(const CliOptions& o) {
    std::string text = "expr=[" + o.expression + "]";
    if (o.rewrite) {
        text += " rewrite=[" + *o.rewrite + "]";
    }
    text += o.matchCase ? " case" : "";
    text += " limit=" + std::to_string(o.searchLimit);
    text += o.lineMode ? "" : " whole";
    text += o.binaryJoin ? " binary" : "";
    text += o.crlfSeparators ? " crlf" : "";
    text += o.bytes ? " bytes" : "";
    text += " files=" + Joined(o.files);
    return text;
}

TEST(ParseArguments, AcceptsGoodCommandLines) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> lines = {
        {{"a"}, "expr=[a] limit=1024 files="},
        {{"--rewrite", "\\2=\\1", "(\\w+)=(\\d+)", "f.txt"},
         "expr=[(\\w+)=(\\d+)] rewrite=[\\2=\\1] limit=1024 files= [f.txt]"},
        {{"--rewrite=x=y", "p"}, "expr=[p] rewrite=[x=y] limit=1024 files="},
        {{"--rewrite", "", "p"}, "expr=[p] rewrite=[] limit=1024 files="},
        {{"--rewrite=", "p"}, "expr=[p] rewrite=[] limit=1024 files="},
        {{"--rewrite", "-x", "p"}, "expr=[p] rewrite=[-x] limit=1024 files="},
        {{"--rewrite", "--", "p"}, "expr=[p] rewrite=[--] limit=1024 files="},
        {{"--match-case", "--limit", "7", "p"}, "expr=[p] case limit=7 files="},
        {{"--limit=0", "p"}, "expr=[p] limit=0 files="},
        {{"--limit", "2147483647", "p"}, "expr=[p] limit=2147483647 files="},
        {{"--no-limit", "p"}, "expr=[p] limit=-1 files="},
        {{"--no-limit", "--limit", "9", "p"}, "expr=[p] limit=9 files="},
        {{"--limit=9", "--no-limit", "p"}, "expr=[p] limit=-1 files="},
        {{"--match-linebreaks", "--binary", "--crlf", "p", "a", "b"},
         "expr=[p] limit=1024 whole binary crlf files= [a] [b]"},
        // --lf is accepted and changes nothing: LF is the default.
        {{"--lf", "--bytes", "p"}, "expr=[p] limit=1024 bytes files="},
        // "--" ends the options, so an expression may start with '-'.
        {{"--", "-x", "f"}, "expr=[-x] limit=1024 files= [f]"},
        {{"--", "--", "f"}, "expr=[--] limit=1024 files= [f]"},
        {{"--match-case", "--", "--limit"}, "expr=[--limit] case limit=1024 files="},
        {{"-", "f"}, "expr=[-] limit=1024 files= [f]"},
        // Options end at the expression: what follows is all file names.
        {{"p", "--match-case", "-x", "--"}, "expr=[p] limit=1024 files= [--match-case] [-x] [--]"},
        {{""}, "expr=[] limit=1024 files="},
    };
    for (const auto& [args, expected] : lines) {
        SCOPED_TRACE("arguments:" + Joined(args));
        ParseResult result = ParseArguments(args);
        ASSERT_EQ(result.action, CliAction::kRun) << result.error;
        EXPECT_EQ(Describe(result.options), expected);
    }
}

TEST(ParseArguments, RefusesBadCommandLines) {
    const std::string badLimit = "option '--limit' needs a number from 0 to 2147483647, not ";
    const std::vector<std::pair<std::vector<std::string>, std::string>> lines = {
        {{}, "missing EXPRESSION"},
        {{"--match-case"}, "missing EXPRESSION"},
        {{"--"}, "missing EXPRESSION"},
        {{"--rewrite", "x"}, "missing EXPRESSION"},
        {{"--bogus", "p"}, "unknown option '--bogus'"},
        {{"--Match-Case", "p"}, "unknown option '--Match-Case'"},
        {{"-x", "p"}, "unknown option '-x'"},
        {{"--bogus=1", "p"}, "option '--bogus' takes no value"},
        {{"--match-case=yes", "p"}, "option '--match-case' takes no value"},
        {{"--limit"}, "option '--limit' needs a value"},
        {{"--rewrite"}, "option '--rewrite' needs a value"},
        {{"--limit", "abc", "p"}, badLimit + "'abc'"},
        {{"--limit", "-1", "p"}, badLimit + "'-1'"},
        {{"--limit", "+5", "p"}, badLimit + "'+5'"},
        {{"--limit", "12x", "p"}, badLimit + "'12x'"},
        {{"--limit", " 12", "p"}, badLimit + "' 12'"},
        {{"--limit=", "p"}, badLimit + "''"},
        {{"--limit", "2147483648", "p"}, badLimit + "'2147483648'"},
        {{"--limit", "99999999999999999999", "p"}, badLimit + "'99999999999999999999'"},
    };
    for (const auto& [args, error] : lines) {
        SCOPED_TRACE("arguments:" + Joined(args));
        ParseResult result = ParseArguments(args);
        EXPECT_EQ(result.action, CliAction::kUsageError);
        EXPECT_EQ(result.error, error);
    }
}

TEST(ParseArguments, HelpAndVersionWinOverWhatFollows) {
    EXPECT_EQ(ParseArguments({"--help"}).action, CliAction::kHelp);
    EXPECT_EQ(ParseArguments({"-h", "--bogus"}).action, CliAction::kHelp);
    EXPECT_EQ(ParseArguments({"--match-case", "--version", "--limit"}).action, CliAction::kVersion);
    EXPECT_EQ(ParseArguments({"-V"}).action, CliAction::kVersion);
    // ...but not over what went wrong before them, nor once options have ended.
    EXPECT_EQ(ParseArguments({"--bogus", "--help"}).action, CliAction::kUsageError);
    EXPECT_EQ(ParseArguments({"p", "--help"}).action, CliAction::kRun);
    EXPECT_EQ(ParseArguments({"--", "--version"}).action, CliAction::kRun);
}

// The man page is made from the manual, apart from --help: an option added
// to one and not the other is caught here.
TEST(UsageText, TheManPageDocumentsEveryOptionOfTheHelp) {
    std::ifstream in(QUARRY_MAN_PAGE);
    ASSERT_TRUE(in) << QUARRY_MAN_PAGE;
    const std::string man((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string usage = UsageText();
    size_t options = 0;
    for (size_t at = usage.find("  --"); at != std::string::npos; at = usage.find("  --", at + 1)) {
        const size_t end = usage.find_first_of(" ,=\n", at + 2);
        const std::string option = usage.substr(at + 2, end - at - 2);
        // roff writes a minus sign as "\-" only where asked; ours are plain.
        EXPECT_NE(man.find(option), std::string::npos) << option;
        ++options;
    }
    EXPECT_GE(options, 9u);
}

TEST(UsageText, DocumentsEveryOption) {
    const std::string usage = UsageText();
    for (const char* option :
         {"--rewrite", "--match-case", "--limit", "--no-limit", "--match-linebreaks", "--binary",
          "--lf", "--crlf", "--bytes", "--help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(VersionText(), std::string("quarry-cli ") + QUARRY_VERSION + "\n");
}

}  // namespace
}  // namespace quarry::cli
