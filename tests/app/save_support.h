// Saving a document as File > Save does and reading back what reached the
// file.
#pragma once

#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include "app/main_frame.h"
#include "app/quarry_doc.h"
#include "res/command_ids.h"

namespace quarry {

// Marks doc modified, saves it through the frame (doc must be the active
// document) and returns the file's bytes; the document is then unmodified.
inline QByteArray SaveAndReadBack(CMainFrame* frame, CQuarryDoc* doc, const QString& path) {
    doc->SetModifiedFlag(true);
    frame->Command(ID_FILE_SAVE)->trigger();
    EXPECT_FALSE(doc->IsModified());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

}  // namespace quarry
