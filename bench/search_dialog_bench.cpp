// Replace All through the search dialog on a 1,000,000-line, 30 MB document
// (QUARRY_BENCH_LINES=3300000 makes it 100 MB), end to end (the button's
// command: copy the text out, replace on the search thread, put the result
// in), each of its steps on its own to find the slow one, and the longest
// pause of the user-interface thread's event loop over whole commands and
// over opening the file.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/document_text.h"
#include "app/editor_transfer.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "search/expression.h"
#include "search/stack_guard.h"
#include "search/text_buffer.h"
#include "search_dialog/search_dialog_link.h"
#include "search_dialog/search_replace_dlg.h"
#include "ui/expr_combo_box.h"

namespace {

using namespace quarry;

const int kLines = [] {
    const int lines = qEnvironmentVariableIntValue("QUARRY_BENCH_LINES");
    return lines > 0 ? lines : 1'000'000;
}();
constexpr const char* kSearch = R"((\w+)=(\d+))";
constexpr const char* kRewrite = R"(\2=\1)";

// 1,000,000 lines of 30 bytes each (29 characters and LF).
QByteArray BigFile() {
    QByteArray b;
    b.reserve(qsizetype(kLines) * 30);
    char line[32];
    for (int k = 0; k < kLines; ++k) {
        std::snprintf(line, sizeof line, "line %07d: key%05d=%06d\n", k, k % 99991, k);
        b.append(line, 29);
        b.append('\n');
    }
    return b;
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<CQuarryApp> app;
    CQuarryDoc* source = nullptr;
    CSearchReplaceDlg* dialog = nullptr;

    Fixture() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        OverrideSearchSettingsPath(QDir(dir.path()).filePath("settings.dat").toStdString());
        app = std::make_unique<CQuarryApp>();
        app->InitInstance({});
        InstallSearchDialog(*app->MainWnd(), app->HelpFilePath().toStdString());
        source = app->MainWnd()->ActiveView()->GetDocument();
        source->Text().LoadBytes(BigFile());
        QApplication::processEvents();
        dialog = ShowSearchDialog();
        dialog->SearchCombo()->setEditText(kSearch);
        dialog->RewriteCombo()->setEditText(kRewrite);
    }
    CQuarryView* SourceView() const { return source->Views().front(); }
    // Closes every document but the source, and brings the source forward.
    void CloseResults() {
        for (CQuarryDoc* doc : app->Documents()) {
            if (doc != source) {
                doc->SetModifiedFlag(false);
                app->CloseDocument(doc);
            }
        }
        // Their windows go now, not inside the next timed run.
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
};

Fixture& F() {
    static Fixture* f = new Fixture;
    return *f;
}

// The longest time between two ticks of a 5 ms timer: how long the window
// could not repaint or hear a click.
class GapWatch {
  public:
    GapWatch() {
        ticker_.setInterval(5);
        QObject::connect(&ticker_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            worst_ = std::max(worst_, now - last_);
            last_ = now;
        });
        clock_.start();
        ticker_.start();
    }
    double StopMs() {
        ticker_.stop();
        worst_ = std::max(worst_, clock_.nsecsElapsed() - last_);
        return worst_ / 1e6;
    }

  private:
    QElapsedTimer clock_;
    QTimer ticker_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
};

// Memory of the process in KiB: VmRSS now, or VmHWM, the peak since the
// last ResetPeak (Linux).
int64_t StatusKiB(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(int(std::strlen(key))).trimmed().split(' ').front().toLongLong();
        }
    }
    return -1;
}
void ResetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

// The peak growth of resident memory over some work, in MB.
class PeakWatch {
  public:
    PeakWatch() : before_(StatusKiB("VmRSS:")) { ResetPeak(); }
    double GrowthMb() const { return (StatusKiB("VmHWM:") - before_) / 1024.0; }

  private:
    int64_t before_;
};

// Handles events for a while: what comes after a command or an open (the
// windows' first paint of the new text) counts in the gaps too.
void HandleEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A command from start to end, result in place or in a new document, with
// the longest event-loop gap over it and the peak growth of memory (in
// multiples of the text's size).
void DialogCommand(benchmark::State& state, Command command, bool newFile, const char* expected,
                   const char* search = kSearch) {
    Fixture& f = F();
    f.dialog->Ui().newFile->setChecked(newFile);
    f.dialog->SearchCombo()->setEditText(search);
    double worstGapMs = 0;
    double worstGrowthMb = 0;
    for (auto _ : state) {
        PeakWatch memory;
        GapWatch watch;
        f.dialog->RunCommand(command);
        state.PauseTiming();
        HandleEventsFor(200);
        worstGapMs = std::max(worstGapMs, watch.StopMs());
        worstGrowthMb = std::max(worstGrowthMb, memory.GrowthMb());
        if (!f.dialog->StatusLine()->text().endsWith(QLatin1String(expected))) {
            // A skipped run must not resume its timing: the library aborts.
            state.SkipWithError(f.dialog->StatusLine()->text().toStdString().c_str());
            break;
        }
        if (!newFile) {
            f.SourceView()->SendScintilla(QsciScintillaBase::SCI_UNDO);
        }
        f.CloseResults();
        state.ResumeTiming();
    }
    f.dialog->Ui().newFile->setChecked(true);
    f.dialog->SearchCombo()->setEditText(kSearch);
    state.counters["event_loop_gap_ms"] = worstGapMs;
    state.counters["peak_growth_mb"] = worstGrowthMb;
    state.counters["peak_growth_x_text"] = worstGrowthMb * (1 << 20) / (double(kLines) * 30);
}

void BM_DialogReplaceAllInPlace(benchmark::State& state) {
    DialogCommand(state, Command::kReplaceAll, false, "matchings replaced");
}
void BM_DialogReplaceAllNewDocument(benchmark::State& state) {
    DialogCommand(state, Command::kReplaceAll, true, "matchings replaced");
}
void BM_DialogListMatchings(benchmark::State& state) {
    DialogCommand(state, Command::kListMatchings, true, "matchings listed");
}
// Every line listed whole: a listing as large as the text.
void BM_DialogListMatchingsWholeLines(benchmark::State& state) {
    DialogCommand(state, Command::kListMatchings, true, "matchings listed",
                  "line [0-9]+: key[0-9]+=[0-9]+");
}

// Opening the file as File Open does, until its text is in the editor; the
// gaps also over the first 0.2 s after, when its window first paints.
void BM_OpenFile(benchmark::State& state) {
    Fixture& f = F();
    const QString path = QDir(f.dir.path()).filePath("big.txt");
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(BigFile());
    }
    double worstGapMs = 0;
    double worstGrowthMb = 0;
    for (auto _ : state) {
        PeakWatch memory;
        GapWatch watch;
        CQuarryDoc* doc = f.app->OpenDocumentFile(path);
        state.PauseTiming();
        HandleEventsFor(200);
        worstGapMs = std::max(worstGapMs, watch.StopMs());
        worstGrowthMb = std::max(worstGrowthMb, memory.GrowthMb());
        if (doc == nullptr || doc->Text().ByteLength() != qint64(kLines) * 30) {
            state.SkipWithError("the file did not open whole");
            break;
        }
        f.CloseResults();
        state.ResumeTiming();
    }
    state.counters["event_loop_gap_ms"] = worstGapMs;
    state.counters["peak_growth_mb"] = worstGrowthMb;
}

void BM_DialogReplaceAll(benchmark::State& state) {
    Fixture& f = F();
    for (auto _ : state) {
        f.dialog->RunCommand(Command::kReplaceAll);
        state.PauseTiming();
        if (f.dialog->StatusLine()->text() != QStringLiteral("%1 matchings replaced").arg(kLines)) {
            state.SkipWithError(f.dialog->StatusLine()->text().toStdString().c_str());
            break;
        }
        f.CloseResults();
        state.ResumeTiming();
    }
}

void BM_StepStreamOut(benchmark::State& state) {
    Fixture& f = F();
    for (auto _ : state) {
        TextBuffer input;
        benchmark::DoNotOptimize(StreamOut(f.SourceView(), input));
    }
}

void BM_StepByteLength(benchmark::State& state) {
    Fixture& f = F();
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.source->Text().ByteLength());
    }
}

void BM_StepReplaceAll(benchmark::State& state) {
    Fixture& f = F();
    TextBuffer input;
    StreamOut(f.SourceView(), input);
    for (auto _ : state) {
        TextBuffer output(input.Length() + 5);
        int32_t n = 0;
        RunOnLargeStack(kSearchStackBytes, [&] {
            CExpression expression(kSearch);
            n = expression.ReplaceAll(input, output, kRewrite, false, 1024, true).count;
        });
        benchmark::DoNotOptimize(n);
    }
}

void BM_StepNewDocument(benchmark::State& state) {
    Fixture& f = F();
    TextBuffer input;
    StreamOut(f.SourceView(), input);
    for (auto _ : state) {
        f.app->NewDocumentFromText(input);
        state.PauseTiming();
        f.CloseResults();
        state.ResumeTiming();
    }
}

// The yardstick for Replace All: the editor loading the result text, as
// opening the result file does (a new document and its view, the bytes
// decoded and set as the document's text).
void BM_EditorLoadsTheResultText(benchmark::State& state) {
    Fixture& f = F();
    TextBuffer input;
    StreamOut(f.SourceView(), input);
    TextBuffer result(input.Length() + 5);
    RunOnLargeStack(kSearchStackBytes, [&] {
        CExpression expression(kSearch);
        expression.ReplaceAll(input, result, kRewrite, false, 1024, true);
    });
    const QByteArray bytes(result.Data(), result.Length());
    for (auto _ : state) {
        f.app->OnFileNew();
        f.app->MainWnd()->ActiveView()->GetDocument()->Text().LoadBytes(bytes);
        state.PauseTiming();
        f.CloseResults();
        state.ResumeTiming();
    }
}

// Inside the new document: the text going into a document that no editor
// shows.
void BM_StepNewDocumentWithoutEditor(benchmark::State& state) {
    Fixture& f = F();
    TextBuffer input;
    StreamOut(f.SourceView(), input);
    for (auto _ : state) {
        DocumentText text;
        text.StreamIn(input);
        benchmark::DoNotOptimize(text.ByteLength());
    }
}

// How long after Cancel the dialog is idle again, and the longest pause of the
// user-interface thread's event loop (a 5 ms timer's gaps): over the whole
// command, which streams the text out before the search thread starts, and
// while the search thread runs.
void BM_CancelLatencyAndEventLoopGap(benchmark::State& state) {
    Fixture& f = F();
    double worstCancelMs = 0;
    double worstGapMs = 0;
    double worstRunningGapMs = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        qint64 cancelledAt = -1;
        qint64 last = 0;
        qint64 worstGap = 0;
        qint64 worstRunningGap = 0;
        bool wasSearching = false;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            worstGap = std::max(worstGap, now - last);
            // Both ends of the gap inside the search thread's run.
            const bool searching = f.dialog->Runner().IsRunning();
            if (searching && wasSearching) {
                worstRunningGap = std::max(worstRunningGap, now - last);
            }
            wasSearching = searching;
            last = now;
            if (cancelledAt < 0 && now > 300'000'000) {
                cancelledAt = clock.nsecsElapsed();
                f.dialog->OnCancel();
            }
        });
        ticker.start();
        last = clock.nsecsElapsed();
        f.dialog->RunCommand(Command::kReplaceAll);
        const qint64 end = clock.nsecsElapsed();
        ticker.stop();
        if (f.dialog->StatusLine()->text() != "Cancelled") {
            state.SkipWithError("the run ended before Cancel");
        }
        worstCancelMs = std::max(worstCancelMs, (end - cancelledAt) / 1e6);
        worstGapMs = std::max(worstGapMs, worstGap / 1e6);
        worstRunningGapMs = std::max(worstRunningGapMs, worstRunningGap / 1e6);
        f.CloseResults();
    }
    state.counters["cancel_to_idle_ms"] = worstCancelMs;
    state.counters["event_loop_gap_ms"] = worstGapMs;
    state.counters["gap_while_searching_ms"] = worstRunningGapMs;
}

BENCHMARK(BM_CancelLatencyAndEventLoopGap)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DialogReplaceAll)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DialogReplaceAllInPlace)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DialogReplaceAllNewDocument)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DialogListMatchings)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DialogListMatchingsWholeLines)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenFile)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EditorLoadsTheResultText)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StepStreamOut)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StepByteLength)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StepReplaceAll)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StepNewDocument)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StepNewDocumentWithoutEditor)->Unit(benchmark::kMillisecond)->Iterations(3);

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
