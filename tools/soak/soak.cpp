// The desktop soak: drives the real main frame, documents and search dialog
// in-process for a while (open, search, replace, replace all, list, undo, redo,
// cancel, save) over random documents and expressions, and checks after each
// step that the document, and after each save the saved file, holds the
// bytes quarry-cli gives for the same steps on the same input. Where
// quarry-cli has no such step (Search and Replace at the caret, a listing
// ended by CR), the expected bytes come from the search core itself.
//
//   quarry_soak [--seconds N] [--seed S] [--steps N] [--keep DIR] [--cli PATH]
//               [--verbose]
//
// Every divergence is printed with the seed and the step; --seed S --steps N
// replays the same steps (only where a Cancel lands can differ). --keep DIR
// writes the document before the step, the expected and the actual bytes.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "res/command_ids.h"
#include "search/expression.h"
#include "search/host.h"
#include "search/settings_file.h"
#include "search/stack_guard.h"
#include "search/text_buffer.h"
#include "search_dialog/search_dialog_link.h"
#include "search_dialog/search_replace_dlg.h"
#include "search_dialog/search_runner.h"
#include "tools/soak/soak_gen.h"
#include "ui/expr_combo_box.h"
#include "ui/message_dlg.h"

extern "C" char** environ;

namespace quarry::soak {
namespace {

struct CliResult {
    int status = -1;  // exit status; -1 when it did not end in time
    std::string out;
    std::string err;
};

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            bytes.append(buf, n);
        }
        std::fclose(f);
    }
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Runs quarry-cli with arguments as raw bytes (an 8-bit expression is no
// valid text in the locale), output into files, within a time limit.
CliResult RunCli(const std::string& cli, const std::vector<std::string>& args,
                 const std::string& dir) {
    const std::string outPath = dir + "/cli.out";
    const std::string errPath = dir + "/cli.err";
    std::vector<std::string> all{cli};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    CliResult result;
    const int spawned = posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.err = "could not start " + cli;
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            result.err = "timed out";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.out = ReadFileBytes(outPath);
    result.err = ReadFileBytes(errPath);
    return result;
}

// The leading number of a status line or of quarry-cli's outcome ("3
// matchings replaced"); -1 when there is none.
long LeadingCount(const std::string& text) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return -1;
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

struct Options {
    bool matchCase = false;
    bool lineMode = true;
    bool limitOn = true;
    int limit = 1024;
    bool newFile = true;
};

std::string Describe(const Options& o) {
    return std::string(o.matchCase ? "case" : "nocase") + (o.lineMode ? " lines" : " whole") +
           (o.limitOn ? " limit=" + std::to_string(o.limit) : " nolimit") +
           (o.newFile ? " newfile" : " inplace");
}

// What the search core gives for Search at selectionEnd: the span found (or
// none) and the substitution, as the dialog's Search must show them.
struct ModelledSearch {
    SearchOutcome outcome = SearchOutcome::kNone;
    int64_t start = -1;
    int64_t end = -1;
    std::string substitution;
};

class Soak {
  public:
    Soak(uint64_t seed, std::string cli, QString keep)
        : seed_(seed), rng_(seed), cli_(std::move(cli)), keep_(std::move(keep)) {}

    bool Start();
    void Run(double seconds, long maxSteps);
    bool verbose_ = false;
    int Finish();

  private:
    enum class Op { kOpen, kSearch, kReplace, kReplaceAll, kList, kUndo, kRedo, kCancel, kSave };

    // The document the steps work on, as the soak expects it to be.
    struct Model {
        CQuarryDoc* doc = nullptr;
        std::string bytes;
        std::vector<std::string> undo;
        std::vector<std::string> redo;  // what Redo gives back, last first
        std::string path;               // empty until saved
    };

    CQuarryView* Active() const { return frame_->ActiveView(); }
    std::string ActualBytes() const;
    std::string Dir() const { return dir_.path().toStdString(); }
    std::string NewPath(const char* what);

    void Divergence(const std::string& what, const std::string& expected,
                    const std::string& actual);
    void CheckBytes(const char* what);

    void PickInputs(bool force);
    void ApplyInputs();
    std::vector<std::string> CliArgs(bool list, const std::string& pattern);
    std::optional<std::string> Pattern() const;
    std::optional<std::string> RewriteBytes() const;
    bool CurrentlyBytes() const { return frame_->Mode() == TextMode::kBytes; }
    void Click(QPushButton* button);

    void DoOpen(const std::string& bytes, const char* what);
    void DoSearch();
    void DoReplace();
    void DoBulk(bool list, bool cancel);
    // Undo, or Redo, by its key.
    void DoHistoryStep(bool redo);
    void DoCancel();
    void DoSave();
    void CloseExtraDocuments();
    ModelledSearch ModelSearch(const std::string& pattern, const std::string& rewrite,
                               int64_t from);

    uint64_t seed_;
    Random rng_;
    std::string cli_;
    QString keep_;
    QTemporaryDir dir_;
    std::unique_ptr<CQuarryApp> app_;
    CMainFrame* frame_ = nullptr;
    CSearchReplaceDlg* dlg_ = nullptr;
    std::vector<std::string> messages_;

    Model model_;
    Expression expr_;
    std::string rewrite_;
    Options options_;
    // The substitution the last Search left, and the document it ran on.
    std::optional<std::string> substitution_;
    CQuarryDoc* substitutionDoc_ = nullptr;
    bool resync_ = false;
    bool leaveLong_ = false;
    std::string before_;  // the document's bytes as the step began

    long step_ = 0;
    long files_ = 0;
    long savesCompared_ = 0;
    long cancelsHeard_ = 0;
    std::map<std::string, long> counts_;
    std::vector<std::string> divergences_;
    std::string current_;  // what the current step does, for reports
};

bool Soak::Start() {
    if (!dir_.isValid()) {
        return false;
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
    OverrideSearchSettingsPath(QDir(dir_.path()).filePath("settings.dat").toStdString());
    app_ = std::make_unique<CQuarryApp>();
    if (!app_->InitInstance({})) {
        return false;
    }
    InstallSearchDialog(*app_->MainWnd(), app_->HelpFilePath().toStdString());
    // Messages (the stack one, above all) are taken as their OK, and kept.
    SetMessageHandler(OnUiThread(
        [this](const std::string& text, const MessageTitle&, const std::vector<std::string>&, int) {
            messages_.push_back(text);
            return int(IDOK);
        }));
    frame_ = app_->MainWnd();
    frame_->Command(ID_EDIT_FIND)->trigger();
    dlg_ = SearchDialogWindow();
    if (dlg_ == nullptr) {
        return false;
    }
    QApplication::processEvents();
    return true;
}

std::string Soak::ActualBytes() const {
    std::string out;
    if (model_.doc != nullptr) {
        model_.doc->Text().AppendBytes(out);
    }
    return out;
}

std::string Soak::NewPath(const char* what) {
    return Dir() + "/" + what + std::to_string(++files_) + ".txt";
}

void Soak::Divergence(const std::string& what, const std::string& expected,
                      const std::string& actual) {
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) {
        ++at;
    }
    const size_t from = at > 20 ? at - 20 : 0;
    std::string report =
        "DIVERGENCE seed=" + std::to_string(seed_) + " step=" + std::to_string(step_) + " " +
        current_ + ": " + what + "\n  expression «" + Printable(expr_.text) + "» rewrite «" +
        Printable(rewrite_) + "» " + Describe(options_) + (CurrentlyBytes() ? " 8-bit" : " utf-8") +
        "\n  expected " + std::to_string(expected.size()) + " bytes, actual " +
        std::to_string(actual.size()) + ", first difference at " + std::to_string(at) +
        "\n  expected …" + Printable(expected.substr(from, 80)) + "\n  actual   …" +
        Printable(actual.substr(std::min(from, actual.size()), 80));
    std::printf("%s\n", report.c_str());
    std::fflush(stdout);
    divergences_.push_back(report);
    if (!keep_.isEmpty()) {
        QDir().mkpath(keep_);
        const std::string base =
            keep_.toStdString() + "/seed" + std::to_string(seed_) + "-step" + std::to_string(step_);
        WriteFileBytes(base + "-before.bin", before_);
        WriteFileBytes(base + "-expected.bin", expected);
        WriteFileBytes(base + "-actual.bin", actual);
    }
    // The model is no longer that document's: go on with a fresh one.
    resync_ = true;
}

void Soak::CheckBytes(const char* what) {
    if (model_.doc == nullptr || resync_) {
        return;
    }
    const std::string actual = ActualBytes();
    if (actual != model_.bytes) {
        Divergence(std::string("document bytes after ") + what, model_.bytes, actual);
    }
}

void Soak::PickInputs(bool force) {
    const bool unicode = !CurrentlyBytes() || rng_.Chance(10);
    if (force || rng_.Chance(35)) {
        expr_ = MakeExpression(rng_, unicode);
    }
    if (force || rng_.Chance(35)) {
        rewrite_ = MakeRewrite(rng_, expr_.groups, unicode);
    }
    if (force || rng_.Chance(25)) {
        options_.matchCase = rng_.Chance(30);
        options_.lineMode = rng_.Chance(75);
        const int limitRoll = int(rng_.Below(100));
        options_.limitOn = limitRoll < 85;
        options_.limit = limitRoll < 60 ? 1024 : int(rng_.Below(limitRoll < 75 ? 8 : 200));
        options_.newFile = rng_.Chance(50);
    }
}

void Soak::ApplyInputs() {
    dlg_->SearchCombo()->setEditText(QString::fromUtf8(expr_.text));
    dlg_->RewriteCombo()->setEditText(QString::fromUtf8(rewrite_));
    dlg_->Ui().matchCase->setChecked(options_.matchCase);
    dlg_->Ui().matchLineBreaks->setChecked(!options_.lineMode);
    dlg_->Ui().limitOn->setChecked(options_.limitOn);
    dlg_->Ui().limitValue->setText(QString::number(options_.limit));
    dlg_->Ui().newFile->setChecked(options_.newFile);
}

std::optional<std::string> Soak::Pattern() const {
    return frame_->ToDocumentBytes(QString::fromUtf8(expr_.text));
}

std::optional<std::string> Soak::RewriteBytes() const {
    return frame_->ToDocumentBytes(QString::fromUtf8(rewrite_));
}

std::vector<std::string> Soak::CliArgs(bool list, const std::string& pattern) {
    std::vector<std::string> args;
    if (!list) {
        args.push_back("--rewrite=" + *RewriteBytes());
    } else if (frame_->LineBreak() == "\r\n") {
        args.push_back("--crlf");
    }
    if (options_.matchCase) {
        args.push_back("--match-case");
    }
    if (!options_.lineMode) {
        args.push_back("--match-linebreaks");
    }
    args.push_back(options_.limitOn ? "--limit=" + std::to_string(options_.limit) : "--no-limit");
    if (CurrentlyBytes()) {
        args.push_back("--bytes");
    }
    args.push_back("--");
    args.push_back(pattern);
    return args;
}

void Soak::Click(QPushButton* button) {
    // A command that runs away is cancelled: reported, never waited for.
    bool watchdog = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (dlg_->running) {
            watchdog = true;
            QTest::mouseClick(dlg_->Ui().close, Qt::LeftButton);
        }
    });
    timer.start(60000);
    QTest::mouseClick(button, Qt::LeftButton);
    if (watchdog) {
        std::printf(
            "note: seed=%llu step=%ld %s ran over a minute and was cancelled: «%s» %s, "
            "%zu bytes\n",
            static_cast<unsigned long long>(seed_), step_, current_.c_str(),
            Printable(expr_.text).c_str(), Describe(options_).c_str(), model_.bytes.size());
        std::fflush(stdout);
        if (!keep_.isEmpty()) {
            QDir().mkpath(keep_);
            WriteFileBytes(keep_.toStdString() + "/seed" + std::to_string(seed_) + "-step" +
                               std::to_string(step_) + "-slow.bin",
                           before_);
        }
    }
}

void Soak::CloseExtraDocuments() {
    // A few documents stay open besides the model's, the oldest go.
    while (app_->Documents().size() > 3) {
        CQuarryDoc* oldest = nullptr;
        for (CQuarryDoc* doc : app_->Documents()) {
            if (doc != model_.doc) {
                oldest = doc;
                break;
            }
        }
        if (oldest == nullptr) {
            break;
        }
        oldest->SetModifiedFlag(false);
        app_->CloseDocument(oldest);
    }
}

void Soak::DoOpen(const std::string& bytes, const char* what) {
    const std::string path = NewPath(what);
    WriteFileBytes(path, bytes);
    CQuarryDoc* doc = app_->OpenDocumentFile(QString::fromStdString(path));
    QApplication::processEvents();
    model_ = Model{};
    model_.doc = doc;
    model_.bytes = bytes;
    model_.path = path;
    resync_ = false;
    if (doc == nullptr || Active() == nullptr || Active()->GetDocument() != doc) {
        divergences_.push_back("seed=" + std::to_string(seed_) + " step=" + std::to_string(step_) +
                               ": the file did not open as the active "
                               "document");
        std::printf("DIVERGENCE %s\n", divergences_.back().c_str());
        resync_ = true;
        return;
    }
    CheckBytes("opening the file");
    CloseExtraDocuments();
}

ModelledSearch Soak::ModelSearch(const std::string& pattern, const std::string& rewrite,
                                 int64_t from) {
    ModelledSearch m;
    const std::string& text = model_.bytes;
    RunOnLargeStack(SearchStackBytes(), [&] {
        CExpression expression(pattern.c_str(), nullptr, frame_->Mode());
        expression.ClearGroups();
        const auto length = int32_t(text.size());
        const int64_t start = std::clamp<int64_t>(from, 0, length);
        m.outcome =
            expression.Search(text.c_str(), length, text.c_str() + start, options_.matchCase,
                              options_.limitOn ? options_.limit : -1, options_.lineMode);
        if (m.outcome == SearchOutcome::kFound) {
            m.start = expression.GroupStart(0);
            m.end = expression.GroupEnd(0);
        } else {
            expression.ClearGroups();
        }
        TextBuffer out;
        if (expression.Rewrite(rewrite.c_str(), out)) {
            m.substitution.assign(out.Data(), size_t(out.Length()));
        }
    });
    return m;
}

void Soak::DoSearch() {
    int64_t start = 0;
    int64_t end = 0;
    Active()->GetSel(start, end);
    const std::optional<std::string> pattern = Pattern();
    const std::optional<std::string> rewrite = RewriteBytes();
    ApplyInputs();
    Click(dlg_->Ui().search);
    const std::string status = dlg_->StatusLine()->text().toStdString();
    int64_t s = 0;
    int64_t e = 0;
    Active()->GetSel(s, e);
    if (!pattern || !rewrite) {
        if (status != "Invalid expression") {
            Divergence("status «" + status + "» for an expression the document cannot hold", "",
                       "");
        }
        return;
    }
    CExpression compiled(pattern->c_str(), nullptr, frame_->Mode());
    if (compiled.m_nState == CExpression::kInvalid) {
        if (status != "Invalid expression") {
            Divergence("status «" + status + "» for an invalid expression", "", "");
        }
        return;
    }
    if (compiled.CheckRewrite(rewrite->c_str()).fault != RewriteFault::kNone) {
        if (status.rfind("Invalid rewrite expression", 0) != 0 || s != start || e != end) {
            Divergence("a refused rewrite gave status «" + status + "»", "", "");
        }
        return;
    }
    const ModelledSearch m = ModelSearch(*pattern, *rewrite, end);
    if (status == "Cancelled") {
        return;  // only the watchdog cancels a Search
    }
    const bool found = m.outcome == SearchOutcome::kFound;
    const std::string expectedStatus = found ? "Ready"
                                       : m.outcome == SearchOutcome::kStackExhausted
                                           ? "Stack Overflow"
                                           : "No matching found";
    if (status != expectedStatus) {
        Divergence("Search status «" + status + "», the search core says «" + expectedStatus + "»",
                   "", "");
        return;
    }
    const int64_t wantStart = found ? m.start : start;
    const int64_t wantEnd = found ? m.end : end;
    if (s != wantStart || e != wantEnd) {
        Divergence("Search selected " + std::to_string(s) + ".." + std::to_string(e) +
                       ", the search core found " + std::to_string(wantStart) + ".." +
                       std::to_string(wantEnd),
                   model_.bytes.substr(size_t(wantStart), size_t(wantEnd - wantStart)),
                   model_.bytes.substr(size_t(std::min<int64_t>(s, int64_t(model_.bytes.size()))),
                                       size_t(std::max<int64_t>(e - s, 0))));
        return;
    }
    const QString shown = dlg_->SubstitutionLine()->text();
    if (shown != frame_->FromDocumentBytes(m.substitution)) {
        Divergence("Search's substitution line", m.substitution,
                   frame_->ToDocumentBytes(shown).value_or("(not representable)"));
        return;
    }
    substitution_ = m.substitution;
    substitutionDoc_ = model_.doc;
}

void Soak::DoReplace() {
    int64_t start = 0;
    int64_t end = 0;
    Active()->GetSel(start, end);
    const std::optional<std::string> pattern = Pattern();
    const std::optional<std::string> rewrite = RewriteBytes();
    Click(dlg_->Ui().replace);
    const std::string status = dlg_->StatusLine()->text().toStdString();
    const bool valid =
        pattern && rewrite &&
        CExpression(pattern->c_str(), nullptr, frame_->Mode()).m_nState != CExpression::kInvalid;
    if (!valid) {
        if (status != "Invalid expression") {
            Divergence("Replace status «" + status + "» for an invalid expression", "", "");
        }
        CheckBytes("a refused Replace");
        return;
    }
    // The substitution goes in place of the selection and is selected.
    const std::string& sub = *substitution_;
    const std::string before = model_.bytes;
    model_.bytes.replace(size_t(start), size_t(end - start), sub);
    // An edit that removes and inserts nothing leaves no undo step.
    if (end > start || !sub.empty()) {
        model_.undo.push_back(before);
        model_.redo.clear();
    }
    CheckBytes("Replace");
    int64_t s = 0;
    int64_t e = 0;
    Active()->GetSel(s, e);
    if (!resync_ && (s != start || e != start + int64_t(sub.size()))) {
        Divergence("Replace left the selection at " + std::to_string(s) + ".." + std::to_string(e) +
                       ", not on the inserted text",
                   "", "");
    }
}

void Soak::DoBulk(bool list, bool cancel) {
    const std::optional<std::string> pattern = Pattern();
    const std::optional<std::string> rewrite = RewriteBytes();
    const auto docsBefore = app_->Documents().size();
    const std::string lineBreak = frame_->LineBreak();
    const bool bytesMode = CurrentlyBytes();
    ApplyInputs();
    // Cancel is clicked once the search runs, after a random delay.
    int delay = int(rng_.Below(40));
    QTimer poll;
    bool clicked = false;
    if (cancel) {
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (dlg_->running && dlg_->Runner().IsRunning() && !clicked && delay-- <= 0) {
                clicked = true;
                QTest::mouseClick(dlg_->Ui().close, Qt::LeftButton);
            }
        });
        poll.start(1);
    }
    Click(list ? dlg_->Ui().listMatchings : dlg_->Ui().replaceAll);
    poll.stop();
    const std::string status = dlg_->StatusLine()->text().toStdString();
    const bool newDoc = app_->Documents().size() > docsBefore;
    const char* what = list ? "List Matchings" : "Replace All";

    if (!pattern || !rewrite ||
        CExpression(pattern->c_str(), nullptr, frame_->Mode()).m_nState == CExpression::kInvalid) {
        if (status != "Invalid expression" || newDoc) {
            Divergence(std::string(what) + " status «" + status + "» for an invalid expression", "",
                       "");
        }
        CheckBytes(what);
        return;
    }
    if (status == "Cancelled") {
        ++cancelsHeard_;
        if (newDoc || Active()->GetDocument() != model_.doc) {
            Divergence(std::string("a cancelled ") + what + " made a document", "", "");
        }
        CheckBytes("a cancelled command");
        return;
    }
    // The expected result: quarry-cli's over the same bytes, or for a listing
    // ended by CR (quarry-cli ends lines with LF or CR LF only) the search
    // core's list loop with that separator.
    int expectStatus = 0;
    std::string expected;
    long expectCount = -1;
    if (list && lineBreak != "\n" && lineBreak != "\r\n") {
        LoopResult loop;
        TextBuffer out;
        RunOnLargeStack(SearchStackBytes(), [&] {
            CExpression expression(pattern->c_str(), nullptr,
                                   bytesMode ? TextMode::kBytes : TextMode::kUtf8);
            loop = expression.ListMatchings(
                model_.bytes.c_str(), int32_t(model_.bytes.size()), out, options_.matchCase,
                options_.limitOn ? options_.limit : -1, options_.lineMode, lineBreak);
        });
        expected.assign(out.Data(), size_t(std::max(out.Length(), 0)));
        expectCount = loop.count;
        expectStatus = loop.outcome == SearchOutcome::kFound  ? 0
                       : loop.outcome == SearchOutcome::kNone ? 1
                                                              : 2;
    } else {
        const std::string input = Dir() + "/input.bin";
        WriteFileBytes(input, model_.bytes);
        std::vector<std::string> args = CliArgs(list, *pattern);
        args.push_back(input);
        const CliResult r = RunCli(cli_, args, Dir());
        if (r.status < 0) {
            std::printf("note: seed=%llu step=%ld quarry-cli: %s; step not compared\n",
                        static_cast<unsigned long long>(seed_), step_, r.err.c_str());
            resync_ = true;
            return;
        }
        expectStatus = r.status;
        expected = r.out;
        expectCount = LeadingCount(r.err);
    }
    if (expectStatus == 0) {
        if (LeadingCount(status) != expectCount) {
            Divergence(std::string(what) + " status «" + status + "», expected count " +
                           std::to_string(expectCount),
                       "", "");
            return;
        }
        if (newDoc) {
            // The result is a new document: the steps go on there.
            model_ = Model{};
            model_.doc = Active() != nullptr ? Active()->GetDocument() : nullptr;
            model_.bytes = expected;
            CheckBytes(what);
            // Saved under a name of its own, and compared as saved.
            if (!resync_ && model_.doc != nullptr) {
                const std::string path = NewPath("result");
                model_.doc->DoSave(QString::fromStdString(path));
                model_.path = path;
                ++savesCompared_;
                const std::string saved = ReadFileBytes(path);
                if (saved != expected) {
                    Divergence(std::string("the saved result of ") + what, expected, saved);
                }
            }
            CloseExtraDocuments();
        } else if (!options_.newFile) {
            // An empty text replaced by an empty result is no edit at all.
            if (!model_.bytes.empty() || !expected.empty()) {
                model_.undo.push_back(model_.bytes);
                model_.redo.clear();
            }
            model_.bytes = expected;
            CheckBytes(what);
        } else {
            Divergence(std::string(what) + " into a new document made none", expected,
                       ActualBytes());
        }
        return;
    }
    // Nothing matched, or the command was refused: nothing changes.
    if (newDoc) {
        Divergence(std::string(what) + " made a document where quarry-cli exits with " +
                       std::to_string(expectStatus),
                   "", "");
    }
    CheckBytes(what);
}

void Soak::DoHistoryStep(bool redo) {
    QApplication::processEvents();
    const char* what = redo ? "Redo" : "Undo";
    // The document's own history, whatever copy its view may show.
    QsciScintilla* history = model_.doc->Text().Buffer();
    const bool available = redo ? history->isRedoAvailable() : history->isUndoAvailable();
    // The toolbar's button shows the command's state as it stands.
    if (frame_->Command(redo ? ID_EDIT_REDO : ID_EDIT_UNDO)->isEnabled() != available) {
        Divergence(std::string("the ") + what + " command is " +
                       (available ? "disabled" : "enabled") + " while the editor " +
                       (available ? "can" : "cannot") + " act",
                   "", "");
    }
    std::vector<std::string>& from = redo ? model_.redo : model_.undo;
    std::vector<std::string>& to = redo ? model_.undo : model_.redo;
    if (from.empty()) {
        if (available) {
            Divergence(std::string(what) + " is available where no step was expected", "", "");
        }
        return;
    }
    if (!available) {
        Divergence(std::string(what) + " is not available after a step", from.back(),
                   ActualBytes());
        return;
    }
    // As the user does it: a key, matched against the shortcuts (Redo has two).
    if (!redo) {
        QTest::keyClick(Active(), Qt::Key_Z, Qt::ControlModifier);
    } else if (rng_.Chance(50)) {
        QTest::keyClick(Active(), Qt::Key_Y, Qt::ControlModifier);
    } else {
        QTest::keyClick(Active(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    }
    QApplication::processEvents();
    to.push_back(model_.bytes);
    model_.bytes = from.back();
    from.pop_back();
    CheckBytes(what);
}

void Soak::DoCancel() {
    // A text long enough for a run that the click can land in.
    DoOpen(MakeLongText(rng_, size_t(1 + rng_.Below(4)) << 20), "long");
    if (resync_) {
        return;
    }
    static const char* const kSlow[] = {"(\\w+)=(\\w+)", "<(\\w)(\\w*)>", "\\d+", "(.)(.)"};
    expr_.text = rng_.Pick(kSlow);
    expr_.groups = 2;
    rewrite_ = "\\2=\\1";
    DoBulk(rng_.Chance(40), true);
    DoSave();
    // The next step opens a document of ordinary size again.
    leaveLong_ = true;
}

void Soak::DoSave() {
    if (model_.doc == nullptr || resync_) {
        return;
    }
    if (model_.path.empty()) {
        model_.path = NewPath("saved");
        model_.doc->DoSave(QString::fromStdString(model_.path));
    } else {
        model_.doc->SetModifiedFlag(true);
        frame_->Command(ID_FILE_SAVE)->trigger();
    }
    QApplication::processEvents();
    ++savesCompared_;
    const std::string saved = ReadFileBytes(model_.path);
    if (saved != model_.bytes) {
        Divergence("the saved file", model_.bytes, saved);
    }
}

void Soak::Run(double seconds, long maxSteps) {
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    PickInputs(true);
    double lastNote = 0;
    while (elapsed() < seconds && (maxSteps <= 0 || step_ < maxSteps)) {
        ++step_;
        Op op = Op::kOpen;
        if (model_.doc != nullptr && !resync_ && !leaveLong_ && Active() != nullptr &&
            Active()->GetDocument() == model_.doc) {
            const int roll = int(rng_.Below(100));
            op = roll < 8    ? Op::kOpen
                 : roll < 33 ? Op::kSearch
                 : roll < 45 ? Op::kReplace
                 : roll < 60 ? Op::kReplaceAll
                 : roll < 69 ? Op::kList
                 : roll < 76 ? Op::kUndo
                 : roll < 80 ? Op::kRedo
                 : roll < 83 ? Op::kCancel
                             : Op::kSave;
            if (op == Op::kReplace && (!substitution_ || substitutionDoc_ != model_.doc)) {
                op = Op::kSearch;  // Replace puts in what Search found here
            }
        }
        before_ = model_.bytes;
        if (op == Op::kSearch || op == Op::kReplaceAll || op == Op::kList) {
            PickInputs(false);
        }
        static const char* const kNames[] = {"open", "search", "replace", "replace-all", "list",
                                             "undo", "redo",   "cancel",  "save"};
        current_ = kNames[int(op)];
        if (verbose_) {
            std::printf("step %ld %s (doc %p, %zu bytes, %zu undo)\n", step_, current_.c_str(),
                        static_cast<void*>(model_.doc), model_.bytes.size(), model_.undo.size());
        }
        ++counts_[current_];
        switch (op) {
            case Op::kOpen: {
                const Document doc = MakeDocument(rng_);
                DoOpen(doc.bytes, "doc");
                leaveLong_ = false;
                substitution_.reset();
                break;
            }
            case Op::kSearch:
                DoSearch();
                break;
            case Op::kReplace:
                DoReplace();
                break;
            case Op::kReplaceAll:
                DoBulk(false, false);
                break;
            case Op::kList:
                DoBulk(true, false);
                break;
            case Op::kUndo:
                DoHistoryStep(false);
                break;
            case Op::kRedo:
                DoHistoryStep(true);
                break;
            case Op::kCancel:
                DoCancel();
                substitution_.reset();
                break;
            case Op::kSave:
                DoSave();
                break;
        }
        if (elapsed() - lastNote >= 60) {
            lastNote = elapsed();
            std::printf("%.0f s: %ld steps, %zu divergences\n", lastNote, step_,
                        divergences_.size());
            std::fflush(stdout);
        }
    }
}

int Soak::Finish() {
    std::printf("seed %llu: %ld steps (", static_cast<unsigned long long>(seed_), step_);
    bool first = true;
    for (const auto& [name, n] : counts_) {
        std::printf("%s%s %ld", first ? "" : ", ", name.c_str(), n);
        first = false;
    }
    std::printf("), %ld saves compared, %ld runs cancelled, %zu messages, %zu divergences\n",
                savesCompared_, cancelsHeard_, messages_.size(), divergences_.size());
    // Nothing is left open: every document, the dialog and the application.
    if (app_) {
        for (CQuarryDoc* doc : app_->Documents()) {
            doc->SetModifiedFlag(false);
        }
        while (!app_->Documents().isEmpty()) {
            app_->CloseDocument(app_->Documents().front());
        }
    }
    delete SearchDialogWindow();
    app_.reset();
    SetMessageHandler(nullptr);
    OverrideSearchSettingsPath({});
    return divergences_.empty() ? 0 : 1;
}

}  // namespace
}  // namespace quarry::soak

int main(int argc, char** argv) {
    double seconds = 1800;
    long maxSteps = 0;
    uint64_t seed = uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
    std::string cli =
#ifdef QUARRY_CLI_PATH
        QUARRY_CLI_PATH;
#else
        "quarry-cli";
#endif
    QString keep;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--seconds" && more) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--seed" && more) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--steps" && more) {
            maxSteps = std::atol(argv[++i]);
        } else if (arg == "--cli" && more) {
            cli = argv[++i];
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--keep" && more) {
            keep = QString::fromLocal8Bit(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: quarry_soak [--seconds N] [--seed S] [--steps N] [--keep DIR] "
                         "[--cli PATH] [--verbose]\n");
            return 2;
        }
    }
    // The soak's profile is never the user's.
    QTemporaryDir profile;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(profile.path()));
    QApplication application(argc, argv);
    std::printf("soak: seed %llu, %.0f s, quarry-cli %s\n", static_cast<unsigned long long>(seed),
                seconds, cli.c_str());
    std::fflush(stdout);
    quarry::soak::Soak soak(seed, cli, keep);
    soak.verbose_ = verbose;
    if (!soak.Start()) {
        std::fprintf(stderr, "soak: the application did not start\n");
        return 2;
    }
    soak.Run(seconds, maxSteps);
    return soak.Finish();
}
