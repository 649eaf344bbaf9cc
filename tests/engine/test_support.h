// Helpers shared by the engine tests: an owning handle for compiled programs
// and a compact notation for expected group tables.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include <vector>

#include <gtest/gtest.h>

#include "engine/expr_node.h"
#include "engine/matcher.h"
#include "engine/program_info.h"

namespace quarry::test {

// Owns a compiled program for the span of a test.
class Program {
  public:
    explicit Program(const std::string& text, TextMode mode = TextMode::kBytes)
        : node_(CompileExpression(text.c_str(), mode)) {}
    ~Program() { FreeExpression(node_); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const ExprNode* get() const { return node_; }
    explicit operator bool() const { return node_ != nullptr; }

  private:
    ExprNode* node_;
};

using GroupTable = std::array<int32_t, kGroupSlots>;

// Builds a group table from "g=start,end g=start,end ..."; every entry not
// named is -1. "0=2,5 1=-1,3" sets groups[0]=2, groups[64]=5, groups[65]=3.
inline GroupTable ParseGroups(const std::string& notation) {
    GroupTable table;
    table.fill(-1);
    size_t at = 0;
    while (at < notation.size()) {
        while (at < notation.size() && notation[at] == ' ') {
            ++at;
        }
        if (at >= notation.size()) {
            break;
        }
        int group = 0;
        int start = 0;
        int end = 0;
        int used = 0;
        if (std::sscanf(notation.c_str() + at, "%d=%d,%d%n", &group, &start, &end, &used) != 3 ||
            group < 0 || group >= kGroupSlots / 2) {
            table.fill(-2);  // a malformed expectation never matches a real table
            return table;
        }
        table[group] = start;
        table[kGroupSlots / 2 + group] = end;
        at += static_cast<size_t>(used);
    }
    return table;
}

// The inverse of ParseGroups, for failure messages.
inline std::string FormatGroups(const int32_t* groups) {
    std::string out;
    for (int g = 0; g < kGroupSlots / 2; ++g) {
        if (groups[g] == -1 && groups[kGroupSlots / 2 + g] == -1) {
            continue;
        }
        if (!out.empty()) {
            out += ' ';
        }
        out += std::to_string(g) + '=' + std::to_string(groups[g]) + ',' +
               std::to_string(groups[kGroupSlots / 2 + g]);
    }
    return out.empty() ? "(none)" : out;
}

// Shows control and high bytes of a text as \xHH so failure messages stay
// readable.
inline std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

// One row of a matcher table: {expression, text, start, case option, search
// limit} with the expected result and the whole group table.
struct MatchCase {
    std::string expression;
    std::string text;
    int from;
    int caseSensitive;
    int limit;
    int result;
    std::string groups;  // see ParseGroups; "" = every entry -1
};

inline const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Runs each row and compares the result and all 128 group entries.
inline void ExpectMatches(const std::vector<MatchCase>& cases, TextMode mode = TextMode::kBytes,
                          bool lineMode = false) {
    for (const MatchCase& c : cases) {
        SCOPED_TRACE("«" + Printable(c.expression) + "» on \"" + Printable(c.text) + "\" from " +
                     std::to_string(c.from) + " case " + std::to_string(c.caseSensitive) +
                     " limit " + std::to_string(c.limit));
        Program program(c.expression, mode);
        if (!program) {
            ADD_FAILURE() << "does not compile";
            continue;
        }
        GroupTable groups;
        groups.fill(12345);
        const unsigned char* text = Bytes(c.text);
        const ProgramInfo info = AnalyseProgram(program.get());
        const int result =
            ExecExpression(info, text, static_cast<int32_t>(c.text.size()), text + c.from,
                           groups.data(), c.caseSensitive, c.limit, lineMode);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(FormatGroups(groups.data()), FormatGroups(ParseGroups(c.groups).data()));
    }
}

}  // namespace quarry::test
