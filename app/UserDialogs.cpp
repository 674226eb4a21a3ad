// The desktop's file dialog and message boxes.
#include "UserDialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

QString ArchiveFileFilter() {
    return QStringLiteral("Velmorquin (*.DAT *.dat);;All files (*)");
}

QString DesktopDialogs::ChooseArchive(QWidget* owner) {
    // ExistingFile is the "file must exist" option; read-only files are offered as any other.
    return QFileDialog::getOpenFileName(owner, QString(), QString(), ArchiveFileFilter());
}

void DesktopDialogs::ShowMessage(QWidget* owner, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText); // a path or name that looks like markup is shown as it is
    box.exec();
}

int DesktopDialogs::RunModal(QDialog& dialog) {
    return dialog.exec();
}
