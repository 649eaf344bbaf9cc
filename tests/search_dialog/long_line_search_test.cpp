// The real search dialog over a document shown cut into display lines.
#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/main_frame.h"
#include "app/quarry_app.h"
#include "app/quarry_doc.h"
#include "app/quarry_view.h"
#include "res/command_ids.h"
#include "search_dialog/search_commands.h"
#include "search_dialog/search_dialog_link.h"
#include "search_dialog/search_replace_dlg.h"
#include "search/host.h"
#include "ui/expr_combo_box.h"
#include "ui/message_dlg.h"

namespace quarry {
namespace {

using Sci = QsciScintillaBase;

class ShellLongLineSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        OverrideSearchSettingsPath(QDir(dir.path()).filePath("settings.dat").toStdString());
        SearchDialog() = SearchDialogLink{};
        QSettings(ProfilePath(), QSettings::IniFormat).clear();
        app = std::make_unique<CQuarryApp>();
        ASSERT_TRUE(app->InitInstance({}));
        InstallSearchDialog(*app->MainWnd(), app->HelpFilePath().toStdString());
        SetMessageHandler(OnUiThread([this](const std::string& text, const MessageTitle&,
                                            const std::vector<std::string>&, int) {
            messages.push_back(text);
            return int(IDOK);
        }));
        frame = app->MainWnd();
    }
    void TearDown() override {
        for (CQuarryDoc* doc : app->Documents()) {
            doc->SetModifiedFlag(false);
        }
        delete SearchDialogWindow();
        app.reset();
        SearchDialog() = SearchDialogLink{};
        SetMessageHandler(nullptr);
        OverrideSearchSettingsPath({});
    }
    CQuarryView* Active() const { return frame->ActiveView(); }
    std::string Bytes() const { return Active()->GetDocument()->Text().SaveBytes().toStdString(); }
    std::pair<int64_t, int64_t> Selection() const {
        int64_t s = 0;
        int64_t e = 0;
        Active()->GetSel(s, e);
        return {s, e};
    }
    // The selected text on screen without its display breaks.
    std::string ShownSelection() const {
        CQuarryView* view = Active();
        const long start = view->SendScintilla(Sci::SCI_GETSELECTIONSTART);
        const long end = view->SendScintilla(Sci::SCI_GETSELECTIONEND);
        const auto* data =
            static_cast<const char*>(view->SendScintillaPtrResult(Sci::SCI_GETCHARACTERPOINTER));
        std::string out;
        for (long i = start; i < end; ++i) {
            if (data[i] != '\n') {
                out += data[i];
            }
        }
        return out;
    }
    void Run(int command, const QString& search, const QString& rewrite) {
        dlg->SearchCombo()->setEditText(search);
        dlg->RewriteCombo()->setEditText(rewrite);
        dlg->RunCommand(command);
    }

    QTemporaryDir dir;
    std::unique_ptr<CQuarryApp> app;
    CMainFrame* frame = nullptr;
    CSearchReplaceDlg* dlg = nullptr;
    std::vector<std::string> messages;
};

// Fault guarded: a matching found in the bytes and selected at the same
// offsets of the cut copy marks other bytes than the ones matched, and
// Replace then overwrites those.
TEST_F(ShellLongLineSearch, SearchSelectsAndReplaceReplacesTheMatchedBytes) {
    std::string text = "head\n" + std::string(size_t(kLongLineBytes) + 10, 'a') + "\ntail\n";
    // One matching across the first display break (after byte 5 + 512), one far on.
    text.replace(514, 6, "key=42");
    text.replace(300000, 6, "key=77");
    Active()->GetDocument()->Text().LoadBytes(QByteArray(text.data(), qsizetype(text.size())));
    Active()->SetSel(0, 0);
    ASSERT_TRUE(Active()->ShowsLongLines());
    frame->OnCommand(ID_EDIT_FIND);
    dlg = SearchDialogWindow();
    ASSERT_NE(dlg, nullptr);

    Run(kCmdSearch, "key=(\\d+)", "\\1:key");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{514}, int64_t{520}));
    EXPECT_EQ(ShownSelection(), "key=42");
    Run(kCmdReplace, "key=(\\d+)", "\\1:key");
    text.replace(514, 6, "42:key");
    EXPECT_TRUE(Bytes() == text);
    Run(kCmdSearch, "key=(\\d+)", "\\1:key");
    EXPECT_EQ(Selection(), std::make_pair(int64_t{300000}, int64_t{300006}));
    EXPECT_EQ(ShownSelection(), "key=77");
    // Replace All keeps the line long: the view goes on showing it cut.
    Run(kCmdReplaceAll, "(\\d+:key)|(key=\\d+)", "K");
    text.replace(300000, 6, "K");
    text.replace(514, 6, "K");
    EXPECT_TRUE(Bytes() == text);
    QApplication::processEvents();
    EXPECT_TRUE(Active()->ShowsLongLines());
    EXPECT_TRUE(Active()->isReadOnly());
    Active()->SetSel(512, 517);
    EXPECT_EQ(ShownSelection(), "aaKaa");
    EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace quarry
