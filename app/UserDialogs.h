// How the main window asks the user things: the file dialog, message boxes and modal dialogs.
// The window reaches them only through this interface, so that another implementation (one
// that answers from a script, without a screen) can stand in and nothing blocks.
#pragma once

#include "Sinks.h"

#include <QString>

class QDialog;
class QUrl;
class QWidget;

// What to do with files already at the names of the entries about to be written.
enum class ExistingFilesAnswer { Replace, KeepExisting, Cancel };

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // The full path of the archive the user chose, or an empty string when cancelled.
    virtual QString ChooseArchive(QWidget* owner) = 0;
    // A modal box with text, caption, one OK button and no icon.
    virtual void ShowMessage(QWidget* owner, const QString& text, const QString& caption) = 0;
    // A box about an entry that could not be extracted: text and caption as ShowMessage, the
    // entry and the reason beneath. With choices: the buttons OK, Skip All and Stop, and the
    // answer; without: OK alone, and the answer is OK. Stand-ins that need no more show it as
    // a message.
    virtual FailureAnswer ShowFailure(QWidget* owner, const QString& text, const QString& caption,
                                      const QString& /*detail*/, bool /*choices*/) {
        ShowMessage(owner, text, caption);
        return FailureAnswer::Ok;
    }
    // Runs dialog modally and returns its result.
    virtual int RunModal(QDialog& dialog) = 0;
    // The full path of a file to write, starting at suggested, or an empty string when
    // cancelled. Stand-ins that save nothing need not answer.
    virtual QString ChooseSaveFile(QWidget* /*owner*/, const QString& /*suggested*/,
                                   const QString& /*filter*/) {
        return {};
    }
    // The folder to write into, starting at start, or an empty string when cancelled.
    virtual QString ChooseFolder(QWidget* /*owner*/, const QString& /*start*/) { return {}; }
    // Asked once before writing where files are in the way: text says how many.
    virtual ExistingFilesAnswer AskExistingFiles(QWidget* /*owner*/, const QString& /*text*/) {
        return ExistingFilesAnswer::Cancel;
    }
    // Hands a file or folder to the desktop's default application; false when none took it.
    virtual bool OpenWithDesktop(const QUrl& /*url*/) { return false; }
};

// The real ones: QFileDialog, QMessageBox, QDialog::exec, QDesktopServices.
class DesktopDialogs : public UserDialogs {
public:
    QString ChooseArchive(QWidget* owner) override;
    void ShowMessage(QWidget* owner, const QString& text, const QString& caption) override;
    FailureAnswer ShowFailure(QWidget* owner, const QString& text, const QString& caption,
                              const QString& detail, bool choices) override;
    int RunModal(QDialog& dialog) override;
    QString ChooseSaveFile(QWidget* owner, const QString& suggested,
                           const QString& filter) override;
    QString ChooseFolder(QWidget* owner, const QString& start) override;
    ExistingFilesAnswer AskExistingFiles(QWidget* owner, const QString& text) override;
    bool OpenWithDesktop(const QUrl& url) override;
};

// The filter of the file dialog: archives first, then all files. Names are case-sensitive on
// this system, so the archive filter lists both spellings of the extension.
QString ArchiveFileFilter();
