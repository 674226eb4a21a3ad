// Start-up: the command line, then one modal main window; when it closes, the process ends.
#include "ExtractorApp.h"

#include "MainDialog.h"
#include "Resources.h"
#include "UserDialogs.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

ExtractorApp::ExtractorApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Velmorquin Extractor"));
    setApplicationVersion(QString::fromLatin1(kVdatVersion));
    setDesktopFileName(QStringLiteral("org.velmorquin.extractor"));
}

int ExtractorApp::Run() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the entries of a Velmorquin DAT archive and writes them out."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("archive"),
                                 QStringLiteral("The archive to open at start-up."),
                                 QStringLiteral("[ARCHIVE]"));
    parser.process(*this); // --help, --version and unknown options end the process here
    const QStringList archives = parser.positionalArguments();
    if (archives.size() > 1) {
        std::fprintf(stderr, "%s: one ARCHIVE at most\nTry '%s --help'.\n",
                     qPrintable(QCoreApplication::arguments().value(0)),
                     qPrintable(QCoreApplication::arguments().value(0)));
        return 2;
    }

    InitResources();
    DesktopDialogs dialogs;
    MainDialog dialog(dialogs);
    if (!archives.isEmpty() && !archives.first().isEmpty()) {
        // Opened once the window shows, so a failure's box has its owner on screen.
        const QString archive = archives.first();
        QTimer::singleShot(0, &dialog, [&dialog, archive] { dialog.OpenArchive(archive); });
    }
    dialog.exec();
    // Whatever the dialog's result, no further event loop runs.
    return 0;
}
