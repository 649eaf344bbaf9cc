// The editor's byte layer against a plain reference computed from the file's
// bytes: opening and saving gives the same bytes, the stream form has every
// line break as CR LF and everything else as in the file, and the position <->
// byte offset map agrees with a walk over the file, character by character.
// Streaming the text back in gives the same document again.

#include <QGuiApplication>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/document_text.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        abort();
    }
}

int Utf8Length(uint8_t lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xF0) {
        return 4;
    }
    return lead >= 0xE0 ? 3 : 2;
}

struct Reference {
    std::string stream;
    // Stream offset of every editor position, one past the end included; the
    // low half of a surrogate pair has the pair's offset.
    std::vector<int64_t> offsets;
    // Editor position that each stream byte belongs to.
    std::vector<int> owner;
};

Reference Walk(const QByteArray& file, const quarry::DocFormat& format) {
    Reference ref;
    const auto* p = reinterpret_cast<const uint8_t*>(file.constData());
    const qsizetype n = file.size();
    auto add = [&](const uint8_t* bytes, int count, int positions) {
        const int pos = static_cast<int>(ref.offsets.size());
        for (int k = 0; k < positions; ++k) {
            ref.offsets.push_back(static_cast<int64_t>(ref.stream.size()));
        }
        for (int k = 0; k < count; ++k) {
            ref.stream += static_cast<char>(bytes[k]);
            ref.owner.push_back(pos);
        }
    };
    static const uint8_t kCrLf[2] = {'\r', '\n'};
    for (qsizetype i = 0; i < n;) {
        const bool crlf = i + 1 < n && p[i] == '\r' && p[i + 1] == '\n';
        if ((format.lineEnd == quarry::LineEndStyle::CrLf && crlf) ||
            (format.lineEnd == quarry::LineEndStyle::Lf && p[i] == '\n') ||
            (format.lineEnd == quarry::LineEndStyle::Cr && p[i] == '\r')) {
            add(kCrLf, 2, 1);
            i += format.lineEnd == quarry::LineEndStyle::CrLf ? 2 : 1;
            continue;
        }
        if (p[i] == '\r' || p[i] == '\n') {
            Check(format.strayBreaks);  // any other break byte is kept as it is
            add(p + i, 1, 1);
            ++i;
            continue;
        }
        if (format.encoding == quarry::TextEncoding::Bytes8) {
            add(p + i, 1, 1);
            ++i;
            continue;
        }
        const int len = Utf8Length(p[i]);
        Check(i + len <= n);
        add(p + i, len, len == 4 ? 2 : 1);
        i += len;
    }
    ref.offsets.push_back(static_cast<int64_t>(ref.stream.size()));
    return ref;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) {
        return 0;
    }
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    quarry::DocumentText doc;
    doc.LoadBytes(file);
    const quarry::DocFormat format = doc.Format();
    Check(doc.SaveBytes() == file);

    const Reference ref = Walk(file, format);
    std::string stream;
    doc.AppendStream(stream);
    Check(stream == ref.stream);
    Check(doc.ByteLength() == static_cast<int64_t>(ref.stream.size()));

    const int positions = static_cast<int>(ref.offsets.size()) - 1;
    Check(doc.Document()->characterCount() - 1 == positions);
    for (int pos = 0; pos <= positions; ++pos) {
        Check(doc.ByteOffset(pos) == ref.offsets[pos]);
    }
    Check(doc.ByteOffset(-5) == 0);
    Check(doc.ByteOffset(positions + 5) == ref.offsets[positions]);

    const auto total = static_cast<int64_t>(ref.stream.size());
    for (int64_t byte = 0; byte < total; ++byte) {
        int expected = ref.owner[byte];
        // Between the CR and LF of a break: the line's end, the break itself.
        const int got = doc.PositionOf(byte);
        if (got != expected) {
            abort();
        }
    }
    Check(doc.PositionOf(total) == positions);
    Check(doc.PositionOf(total + 7) == positions);
    Check(doc.PositionOf(-3) == 0);

    // The stream form read back gives the same document.
    quarry::DocumentText again;
    again.SetFormat(format);
    again.StreamIn(std::string_view(stream));
    Check(again.SaveBytes() == file);
    return 0;
}
