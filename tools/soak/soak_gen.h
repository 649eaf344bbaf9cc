// Random inputs for the desktop soak: documents of mixed encodings and line
// ends, valid search expressions of our language, and rewrite expressions.
// Everything comes from one seeded generator, so a seed replays a run.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace quarry::soak {

class Random {
  public:
    explicit Random(uint64_t seed) : engine_(seed) {}
    // A number in [0, n); n > 0.
    uint64_t Below(uint64_t n) { return engine_() % n; }
    bool Chance(int percent) { return int(Below(100)) < percent; }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }

  private:
    std::mt19937_64 engine_;
};

enum class DocKind { kAscii, kUtf8, kEightBit };

struct Document {
    std::string bytes;
    DocKind kind = DocKind::kAscii;
};

// A document of up to a few kilobytes, now and then empty or with a line of
// tens of kilobytes; its line ends are LF, CR LF, CR or a mixture.
Document MakeDocument(Random& rng);
// A text of about `bytes` bytes made of repeated random lines, for a run
// long enough to be cancelled.
std::string MakeLongText(Random& rng, size_t bytes);

// A search expression, as UTF-8 characters the user would type, with the
// number of capturing groups it has. Non-ASCII characters appear only when
// allowUnicode (the document's encoding may map them; an 8-bit document
// gets them through numeric escapes instead).
struct Expression {
    std::string text;
    int groups = 0;
};
Expression MakeExpression(Random& rng, bool allowUnicode);

// A rewrite expression; it refers mostly to groups the expression has, now
// and then to one it lacks (a refused rewrite), and is now and then faulty
// in other ways the commands must refuse or expand to nothing.
std::string MakeRewrite(Random& rng, int groups, bool allowUnicode);

// Bytes shown readably in a report: printable ASCII as is, the rest as \xHH.
std::string Printable(const std::string& bytes, size_t max = 200);

}  // namespace quarry::soak
