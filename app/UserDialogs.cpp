// The desktop's file dialog and message boxes.
#include "UserDialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

QString ArchiveFileFilter() {
    return QStringLiteral("Velmorquin (*.DAT *.dat);;All files (*)");
}

QString DesktopDialogs::ChooseArchive(QWidget* owner) {
    // ExistingFile is the "file must exist" option; read-only files are offered as any other.
    return QFileDialog::getOpenFileName(owner, QString(), QString(), ArchiveFileFilter());
}

QString DesktopDialogs::ChooseSaveFile(QWidget* owner, const QString& suggested,
                                       const QString& filter) {
    // The dialog itself asks before a file already there is replaced.
    return QFileDialog::getSaveFileName(owner, QString(), suggested, filter);
}

void DesktopDialogs::ShowMessage(QWidget* owner, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText); // a path or name that looks like markup is shown as it is
    box.exec();
}

FailureAnswer DesktopDialogs::ShowFailure(QWidget* owner, const QString& text,
                                          const QString& caption, const QString& detail,
                                          bool choices) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    // Informative rather than detailed text: the entry and the reason are what the user needs
    // to decide, so they show at once, and no fourth "Show Details..." button is added.
    box.setInformativeText(detail);
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText); // a name that looks like markup is shown as it is
    if (!choices) {
        box.exec();
        return FailureAnswer::Ok;
    }
    QPushButton* skipAll = box.addButton(QStringLiteral("Skip All"), QMessageBox::AcceptRole);
    QPushButton* stop = box.addButton(QStringLiteral("Stop"), QMessageBox::RejectRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(stop); // Esc ends the run, as it does outside the box
    box.exec();
    if (box.clickedButton() == skipAll)
        return FailureAnswer::SkipAll;
    if (box.clickedButton() == stop)
        return FailureAnswer::Stop;
    return FailureAnswer::Ok;
}

int DesktopDialogs::RunModal(QDialog& dialog) {
    return dialog.exec();
}

QString DesktopDialogs::ChooseFolder(QWidget* owner, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, QString(), start);
}

ExistingFilesAnswer DesktopDialogs::AskExistingFiles(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Extract"), text, QMessageBox::NoButton,
                    owner);
    box.setTextFormat(Qt::PlainText);
    QPushButton* replace = box.addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(QStringLiteral("Keep Existing"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    // Keeping what is there loses nothing, so it is what Enter chooses.
    box.setDefaultButton(keep);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == replace)
        return ExistingFilesAnswer::Replace;
    if (box.clickedButton() == keep)
        return ExistingFilesAnswer::KeepExisting;
    return ExistingFilesAnswer::Cancel;
}

bool DesktopDialogs::OpenWithDesktop(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}
