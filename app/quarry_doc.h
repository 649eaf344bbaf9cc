// CQuarryDoc: one open text. Its bytes are shared by every view of it, byte
// for byte as the file was.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

#include "app/document_text.h"

namespace quarry {

class CQuarryView;

class CQuarryDoc : public QObject {
    Q_OBJECT
  public:
    explicit CQuarryDoc(QObject* parent = nullptr);

    DocumentText& Text() { return text_; }

    QString GetTitle() const { return title_; }
    // The title as windows show it: with a leading "*" while modified.
    QString ShownTitle() const;
    void SetTitle(const QString& title);
    QString GetPathName() const { return path_; }
    bool IsModified() const;
    void SetModifiedFlag(bool modified);

    // A new empty document (UTF-8, LF line ends).
    void OnNewDocument(const QString& title);
    // Loads a file; false, with the text left empty, when it can't be read.
    bool OnOpenDocument(const QString& path);
    // The same, loadPieceBytes at a time: between two pieces, between(done,
    // total) runs and returns false to stop the load, which then leaves the
    // text empty. total is the file's size when it was opened. Before the
    // first piece it runs with done 0 while room for the text is made (its
    // result is heard after the first piece then).
    enum class OpenResult { Opened, Failed, Cancelled };
    OpenResult OpenInPieces(const QString& path,
                            const std::function<bool(int64_t done, int64_t total)>& between);
    // Large enough that the pieces of a big file cost little more than one
    // read, small enough that one piece takes well under 0.1 s.
    static inline int64_t loadPieceBytes = 4 << 20;
    // Writes the text in file form through a temporary file that replaces
    // the old one only once complete; false, with the reason in error, when
    // the file can't be written.
    bool OnSaveDocument(const QString& path, QString* error = nullptr);

    // Save (asks for a name when the document has none) and Save As.
    bool DoFileSave();
    bool DoSave(const QString& path);
    // Where Save As starts: the document's own file, or for a new document
    // its title in the folder of the last Open (else the home folder).
    QString SaveAsStart() const;
    // Asks "Save changes to %1?" for a modified document; false on Cancel or a
    // failed save.
    bool SaveModified();

    const QList<CQuarryView*>& Views() const { return views_; }
    void AddView(CQuarryView* view);
    void RemoveView(CQuarryView* view);

  signals:
    void TitleChanged();
    void SavedAs(const QString& path);

  private:
    void OnEncodingWidened(QChar character);

    DocumentText text_;
    QString title_;
    QString path_;
    QList<CQuarryView*> views_;
};

}  // namespace quarry
