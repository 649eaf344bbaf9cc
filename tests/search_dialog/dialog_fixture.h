// The search dialog over a FakeTarget, with its settings in a temporary
// folder and every message it shows recorded instead of shown.
#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "search/host.h"
#include "search_dialog/search_replace_dlg.h"
#include "tests/search_dialog/fake_target.h"

namespace quarry {

class DialogOverFakeTarget : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        SetMessageHandler([this](const std::string& text, const MessageTitle&,
                                 const std::vector<std::string>&, int) {
            messages.push_back(text);
            return int(IDOK);
        });
        dlg = std::make_unique<CSearchReplaceDlg>(
            target, QDir(dir.path()).filePath("settings.dat").toStdString());
    }
    void TearDown() override {
        dlg.reset();
        SetMessageHandler(nullptr);
    }

    QTemporaryDir dir;
    FakeTarget target;
    std::unique_ptr<CSearchReplaceDlg> dlg;
    std::vector<std::string> messages;
};

}  // namespace quarry
