// The document's text on a 1,000,000-line, 30 MB file: opening it into the
// editor (time, and the memory the process grows by), whole-text transfer in
// both directions, and the byte offset of the caret at the end of the text,
// and the same for one 20 MB line; the first paint of a view on either.
#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include <Qsci/qsciscintilla.h>

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

// 20 MB without a line break.
const QByteArray& LongLine() {
    static const QByteArray bytes = [] {
        QByteArray b;
        b.reserve(20 << 20);
        while (b.size() < (20 << 20)) {
            b.append("key=value; ");
        }
        return b;
    }();
    return bytes;
}

// Resident memory of the process in KiB (Linux).
int64_t ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            int64_t kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

void Open(benchmark::State& state, const QByteArray& bytes) {
    int64_t grown = 0;
    for (auto _ : state) {
        const int64_t before = ResidentKiB();
        auto* doc = new quarry::DocumentText;
        doc->LoadBytes(bytes);
        benchmark::DoNotOptimize(doc->ByteLength());
        grown = ResidentKiB() - before;
        state.PauseTiming();
        delete doc;
        state.ResumeTiming();
    }
    state.counters["MiB_grown"] = double(grown) / 1024.0;
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

void BM_Open(benchmark::State& state) {
    Open(state, BigFile());
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_OpenLongLine(benchmark::State& state) {
    Open(state, LongLine());
}
BENCHMARK(BM_OpenLongLine)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_StreamOut(benchmark::State& state) {
    quarry::DocumentText doc;
    doc.LoadBytes(BigFile());
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

// The same text replacing the whole in 2 MiB pieces, as a search result goes
// in; with a view on the document when the argument is 1. The longest piece
// shows whether a piece costs by its own size or by the text before it.
void BM_ReplacementInPieces(benchmark::State& state) {
    quarry::DocumentText doc;
    doc.LoadBytes(BigFile());
    std::unique_ptr<QsciScintilla> view;
    if (state.range(0) == 1) {
        view = std::make_unique<QsciScintilla>();
        doc.AttachView(view.get());
        view->resize(800, 600);
    }
    const std::string_view bytes(BigFile().constData(), size_t(BigFile().size()));
    double slowestMs = 0;
    for (auto _ : state) {
        doc.BeginReplacement(BigFile().size());
        for (size_t done = 0; done < bytes.size(); done += 2 << 20) {
            QElapsedTimer clock;
            clock.start();
            doc.AppendReplacement(bytes.substr(done, 2 << 20));
            slowestMs = std::max(slowestMs, clock.nsecsElapsed() / 1e6);
        }
        doc.EndReplacement(true);
    }
    if (view) {
        quarry::DocumentText::DetachView(view.get());
    }
    state.counters["slowest_piece_ms"] = slowestMs;
}
BENCHMARK(BM_ReplacementInPieces)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

// The first paint of a view on the text: what opening a file costs beyond
// reading it. Wrap off, as a new window starts.
void Show(benchmark::State& state, const QByteArray& bytes, bool caretAtEnd) {
    quarry::DocumentText doc;
    doc.LoadBytes(bytes);
    for (auto _ : state) {
        QsciScintilla view;
        doc.AttachView(&view);
        view.SendScintilla(QsciScintillaBase::SCI_SETLAYOUTCACHE,
                           static_cast<unsigned long>(QsciScintillaBase::SC_CACHE_PAGE));
        view.resize(800, 600);
        if (caretAtEnd) {
            view.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
        }
        benchmark::DoNotOptimize(view.grab().size());
        quarry::DocumentText::DetachView(&view);
    }
}

void BM_ShowBigFile(benchmark::State& state) {
    Show(state, BigFile(), false);
}
BENCHMARK(BM_ShowBigFile)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ShowLongLine(benchmark::State& state) {
    Show(state, LongLine(), false);
}
BENCHMARK(BM_ShowLongLine)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ShowLongLineAtItsEnd(benchmark::State& state) {
    Show(state, LongLine(), true);
}
BENCHMARK(BM_ShowLongLineAtItsEnd)->Unit(benchmark::kMillisecond)->Iterations(1);

// Caret moves at the end of the text: what a selection change costs.
void BM_SelectionAtEnd(benchmark::State& state) {
    quarry::DocumentText doc;
    doc.LoadBytes(BigFile());
    const int64_t end = doc.ByteLength();
    int k = 0;
    for (auto _ : state) {
        const int64_t at = end - (k++ % 4096);
        quarry::SetSelectionBytes(doc.Buffer(), at, at);
        int64_t start = 0;
        int64_t stop = 0;
        quarry::GetSelectionBytes(doc.Buffer(), start, stop);
        benchmark::DoNotOptimize(stop);
    }
}
BENCHMARK(BM_SelectionAtEnd)->Unit(benchmark::kMicrosecond);

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
