// The document byte layer on a 1,000,000-line, 30 MB text: opening, whole-text
// transfer in both directions, and the position <-> byte-offset mapping at the
// end of the text, cold (first lookup after a load or an edit) and warm.
#include <QApplication>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

#include <benchmark/benchmark.h>

#include <string>

#include "app/document_text.h"
#include "search/text_buffer.h"

namespace {

constexpr int kLines = 1'000'000;

// 1,000,000 lines of 30 bytes each (29 characters and LF).
const QByteArray& BigFile() {
    static const QByteArray bytes = [] {
        QByteArray b;
        b.reserve(kLines * 30);
        char line[32];
        for (int k = 0; k < kLines; ++k) {
            std::snprintf(line, sizeof line, "line %07d: key%05d=%06d\n", k, k % 99991, k);
            b.append(line, 29);
            b.append('\n');
        }
        return b;
    }();
    return bytes;
}

quarry::DocumentText& LoadedDocument() {
    static quarry::DocumentText* doc = [] {
        auto* d = new quarry::DocumentText;
        d->LoadBytes(BigFile());
        // An editor on the text, as in the application: the document's layout
        // then works with the editor's width and no wrapping.
        auto* editor = new QPlainTextEdit;
        editor->setDocument(d->Document());
        editor->setLineWrapMode(QPlainTextEdit::NoWrap);
        editor->resize(800, 600);
        editor->show();
        QApplication::processEvents();
        return d;
    }();
    return *doc;
}

void BM_Open(benchmark::State& state) {
    for (auto _ : state) {
        quarry::DocumentText doc;
        doc.LoadBytes(BigFile());
        benchmark::DoNotOptimize(doc.Document()->blockCount());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * BigFile().size());
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_StreamOut(benchmark::State& state) {
    quarry::DocumentText& doc = LoadedDocument();
    quarry::TextBuffer buffer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(doc.StreamOut(buffer));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * buffer.length);
}
BENCHMARK(BM_StreamOut)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StreamIn(benchmark::State& state) {
    quarry::DocumentText doc;
    doc.LoadBytes(BigFile());
    quarry::TextBuffer buffer;
    doc.StreamOut(buffer);
    for (auto _ : state) {
        doc.StreamIn(buffer);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * buffer.length);
}
BENCHMARK(BM_StreamIn)->Unit(benchmark::kMillisecond)->Iterations(2);

// First lookup at the end after the text changed at its start: builds every
// checkpoint once.
void BM_OffsetAtEndCold(benchmark::State& state) {
    quarry::DocumentText& doc = LoadedDocument();
    const int end = doc.Document()->characterCount() - 1;
    QTextCursor cursor(doc.Document());
    for (auto _ : state) {
        state.PauseTiming();
        cursor.setPosition(0);
        cursor.insertText(QStringLiteral("x"));
        cursor.deletePreviousChar();
        state.ResumeTiming();
        benchmark::DoNotOptimize(doc.ByteOffset(end));
    }
}
BENCHMARK(BM_OffsetAtEndCold)->Unit(benchmark::kMillisecond)->Iterations(3);

// Caret moves at the end of the text: what a selection change costs.
void BM_OffsetAtEndWarm(benchmark::State& state) {
    quarry::DocumentText& doc = LoadedDocument();
    const int end = doc.Document()->characterCount() - 1;
    doc.ByteOffset(end);
    int k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(doc.ByteOffset(end - (k++ % 4096)));
    }
}
BENCHMARK(BM_OffsetAtEndWarm)->Unit(benchmark::kMicrosecond);

void BM_PositionOfEndWarm(benchmark::State& state) {
    quarry::DocumentText& doc = LoadedDocument();
    const int64_t bytes = doc.ByteLength();
    int k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(doc.PositionOf(bytes - (k++ % 4096)));
    }
}
BENCHMARK(BM_PositionOfEndWarm)->Unit(benchmark::kMicrosecond);

// Typing near the end, then the caret's offset: the edit drops only the
// checkpoints behind it. (Typing only: deleting from the widest line makes
// Qt's plain-text layout measure every line again, which is not ours.)
void BM_EditThenOffsetNearEnd(benchmark::State& state) {
    quarry::DocumentText& doc = LoadedDocument();
    QTextCursor cursor(doc.Document());
    doc.ByteOffset(doc.Document()->characterCount() - 1);
    for (auto _ : state) {
        const int pos = doc.Document()->characterCount() - 100;
        cursor.setPosition(pos);
        cursor.insertText(QStringLiteral("y"));
        benchmark::DoNotOptimize(doc.ByteOffset(pos + 1));
    }
}
BENCHMARK(BM_EditThenOffsetNearEnd)->Unit(benchmark::kMicrosecond);

// The same edit without a lookup, to tell the editor's own cost from the map's.
void BM_EditOnlyNearEnd(benchmark::State& state) {
    quarry::DocumentText& doc = LoadedDocument();
    QTextCursor cursor(doc.Document());
    for (auto _ : state) {
        const int pos = doc.Document()->characterCount() - 100;
        cursor.setPosition(pos);
        cursor.insertText(QStringLiteral("y"));
    }
}
BENCHMARK(BM_EditOnlyNearEnd)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
