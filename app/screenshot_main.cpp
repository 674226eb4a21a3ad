// Opens the bundled sample in the main window and saves what the X server shows, for the
// README. scripts/screenshot runs it under Xvfb.
#include "MainDialog.h"
#include "Resources.h"
#include "UserDialogs.h"

#include <QApplication>
#include <QDialog>
#include <QScreen>
#include <QTimer>

namespace {
// Answers the file dialog with the sample and stays silent otherwise.
class ScriptedDialogs : public UserDialogs {
public:
    explicit ScriptedDialogs(QString path) : path_(std::move(path)) {}
    QString ChooseArchive(QWidget*) override { return path_; }
    void ShowMessage(QWidget*, const QString&, const QString&) override {}
    int RunModal(QDialog&) override { return QDialog::Accepted; }

private:
    QString path_;
};
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        qWarning("usage: vdat_screenshot ARCHIVE OUTPUT.png");
        return 2;
    }
    InitResources();
    ScriptedDialogs dialogs(QString::fromLocal8Bit(argv[1]));
    MainDialog dialog(dialogs);
    dialog.move(0, 0);
    dialog.show();
    dialog.OnOpen();
    int status = 1;
    QTimer::singleShot(500, [&] {
        const QRect frame = dialog.frameGeometry();
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
            0, frame.x(), frame.y(), frame.width(), frame.height());
        status = shot.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
        app.quit();
    });
    app.exec();
    return status;
}
