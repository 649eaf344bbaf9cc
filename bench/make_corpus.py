#!/usr/bin/env python3
"""Writes the benchmark corpus: mixed text, CR LF line ends, the same bytes for
the same seed and size on every machine (Python's Mersenne Twister and the
choices() algorithm are fixed).

The mix: English-like prose with names and -ing words, key=value lines (some
keys with underscores, which our \\w does not cover), source-like lines with
<tags>, an occasional line of several kilobytes, blank lines, and words with
bytes >= 128 (UTF-8 and stray Latin-1). The first line starts with a word so
that an expression anchored at the text start matches once.

With --utf8 every byte >= 128 belongs to valid UTF-8: German, French and
Greek words in the prose, and whole lines of Greek and of Chinese, for the
character-mode comparison.

Usage: make_corpus.py [--seed N] [--size BYTES[K|M]] [--utf8] [OUTPUT]
"""

import argparse
import hashlib
import os
import random
import sys

UTF8 = False
DEFAULT_OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "corpus.txt")

NAMES = [
    "Holmes", "Watson", "Sherlock", "Lestrade", "Hudson", "Moriarty", "Tom", "Sawyer",
    "Finn", "Huck", "Becky", "Polly", "Jim", "Thatcher", "Tomlinson", "Finnegan",
]
WORDS = (
    "the of and to a in that it was he for on his with as I had at by not be this "
    "but from which have or one all were her they an said there would so what when "
    "up out no into them could if then more some time very about my than upon only "
    "door street room window letter house night morning river island cave fence "
    "friend matter case doctor inspector window chair table paper pipe violin hat "
    "little great old young small long strange curious singular remarkable quiet "
    "looked came went knew thought found made seemed took told asked turned stood "
    "again never always perhaps already indeed however certainly presently "
    "next box six text example explain extra"
).split()
ING_WORDS = (
    "going being nothing something thing morning evening looking coming saying "
    "standing walking thinking singing ringing bring string king during building "
    "running sitting writing reading waiting hoping talking whispering painting"
).split()
# Bytes >= 128: UTF-8 sequences and a few single Latin-1 bytes, held as
# Latin-1 code points so that encoding with latin-1 gives exactly these bytes.
HIGH_WORDS = [
    w.encode("utf-8").decode("latin-1")
    for w in ["café", "naïve", "Müller", "façade", "déjà", "Straße", "Zürich", "€5", "—"]
] + [b"\xe9t\xe9".decode("latin-1"), b"gar\xe7on".decode("latin-1"), b"\xa0".decode("latin-1")]
# The --utf8 corpus: valid UTF-8 only, in the same Latin-1 holding form.
UTF8_WORDS = [
    w.encode("utf-8").decode("latin-1")
    for w in ["café", "naïve", "Müller", "façade", "déjà", "Straße", "Zürich", "€5", "—",
              "Ärger", "Öl", "über", "ΣΟΦΙΑ", "σοφία", "λόγος", "Ωμέγα"]
]
GREEK = "και το της η του να με σε για από είναι λόγος σοφία θάλασσα ήλιος Αθήνα".split()
CHINESE = "我们 的 是 在 不 了 有 和 人 这 中 大 为 上 个 国 文字 正则 表达式 搜索".split()
PUNCT = [",", ",", ";", ":", "!", "?", "'s", "--"]
KEYS = ["key", "count", "size", "id", "port", "mode_x", "level", "row", "col", "retry", "max_len"]
TAGS = ["div", "span", "p", "a", "td", "tr", "li", "b", "em", "code"]
CODE_TEMPLATES = [
    "    <{t} class=\"{w}\">{w} {w}</{t}>",
    "    if (count{n} < {n}) {{ return {w}({n}); }}",
    "<{t}>{W} {w} <{t} id=\"x{n}\"/> {w}</{t}>",
    "  for (int i = 0; i < {n}; ++i) sum += value[i] * {n}; // {w}",
    "#define {W}_MAX {n}",
    "  std::vector<int> {w}{n} = make<{t}>({n}, \"{w}\");",
]


def prose_word(rng):
    r = rng.random()
    if r < 0.06:
        return rng.choice(NAMES)
    if r < 0.13:
        return rng.choice(ING_WORDS)
    if r < 0.135:
        return rng.choice(UTF8_WORDS if UTF8 else HIGH_WORDS)
    if r < 0.14:
        return str(rng.randrange(1, 2000))
    return rng.choice(WORDS)


def sentence(rng):
    n = rng.randrange(4, 16)
    words = [prose_word(rng) for _ in range(n)]
    if not (UTF8 and words[0][:1] >= "\x80"):  # upper() would break a UTF-8 sequence
        words[0] = words[0][:1].upper() + words[0][1:]
    if rng.random() < 0.3:
        i = rng.randrange(1, n)
        words[i] = words[i] + rng.choice(PUNCT)
    return " ".join(words) + rng.choice([".", ".", ".", "!", "?"])


def prose_line(rng, target):
    parts = []
    length = 0
    while length < target:
        s = sentence(rng)
        parts.append(s)
        length += len(s) + 1
    return " ".join(parts)


def keyvalue_line(rng):
    pairs = []
    for _ in range(rng.randrange(1, 6)):
        key = rng.choice(KEYS)
        if rng.random() < 0.5:
            key += str(rng.randrange(100))
        value = str(rng.randrange(0, 10 ** rng.randrange(1, 7)))
        if rng.random() < 0.1:
            value = rng.choice(WORDS)  # not a number: no matching for key=digits
        pairs.append(key + "=" + value)
    return " ".join(pairs)


def code_line(rng):
    template = rng.choice(CODE_TEMPLATES)
    word = rng.choice(WORDS)
    return template.format(t=rng.choice(TAGS), w=word, W=word.upper(), n=rng.randrange(1, 500))


def foreign_line(rng):
    words = GREEK if rng.random() < 0.5 else CHINESE
    joiner = " " if words is GREEK else ""
    line = joiner.join(rng.choice(words) for _ in range(rng.randrange(5, 30)))
    return line.encode("utf-8").decode("latin-1")


def make_line(rng):
    r = rng.random()
    if UTF8 and r < 0.06:
        return foreign_line(rng)
    if r < 0.66:
        return prose_line(rng, rng.randrange(30, 110))
    if r < 0.78:
        return keyvalue_line(rng)
    if r < 0.92:
        return code_line(rng)
    if r < 0.995:
        return ""
    return prose_line(rng, rng.randrange(2000, 9000))  # a long line


def parse_size(text):
    text = text.strip().upper()
    factor = 1
    if text.endswith("K"):
        factor, text = 1 << 10, text[:-1]
    elif text.endswith("M"):
        factor, text = 1 << 20, text[:-1]
    value = int(text) * factor
    if value <= 0:
        raise argparse.ArgumentTypeError("size must be positive")
    return value


def write_corpus(path, seed, size):
    rng = random.Random(seed)
    digest = hashlib.sha256()
    written = 0
    directory = os.path.dirname(path)
    if directory:
        os.makedirs(directory, exist_ok=True)
    with open(path, "wb") as out:
        lines = ["Quarry benchmark corpus, seed %d" % seed]
        chunk_len = len(lines[0]) + 2
        while written + chunk_len < size:
            line = make_line(rng)
            lines.append(line)
            chunk_len += len(line) + 2
            if chunk_len >= 1 << 20:
                data = ("\r\n".join(lines) + "\r\n").encode("latin-1")
                out.write(data)
                digest.update(data)
                written += len(data)
                lines, chunk_len = [], 0
        if lines:
            data = ("\r\n".join(lines) + "\r\n").encode("latin-1")
            out.write(data)
            digest.update(data)
            written += len(data)
    return written, digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description="Write the benchmark corpus.")
    parser.add_argument("output", nargs="?", default=DEFAULT_OUTPUT)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--size", type=parse_size, default=100 << 20,
                        help="approximate size in bytes, K or M suffix allowed (default 100M)")
    parser.add_argument("--utf8", action="store_true",
                        help="valid UTF-8 only, with Greek and Chinese lines")
    args = parser.parse_args()
    global UTF8
    UTF8 = args.utf8
    written, checksum = write_corpus(args.output, args.seed, args.size)
    print("%s: %d bytes, seed %d, sha256 %s" % (args.output, written, args.seed, checksum))
    return 0


if __name__ == "__main__":
    sys.exit(main())
