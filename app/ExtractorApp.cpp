// Start-up: the command line, then one modal main window; when it closes, the process ends.
#include "ExtractorApp.h"

#include "MainDialog.h"
#include "Resources.h"
#include "UserDialogs.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {
const char* g_programName = "velmorquin-extractor";

void DescribeCommandLine(QCommandLineParser& parser) {
    QCoreApplication::setApplicationName(QStringLiteral("Velmorquin Extractor"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVdatVersion));
    parser.setApplicationDescription(
        QStringLiteral("Lists the entries of a Velmorquin DAT archive and writes them out."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("archive"),
                                 QStringLiteral("The archive to open at start-up."),
                                 QStringLiteral("[ARCHIVE]"));
}

// 2 when more than one archive is named (after saying so), else 0.
int CheckArchiveCount(const QCommandLineParser& parser) {
    if (parser.positionalArguments().size() <= 1)
        return 0;
    std::fprintf(stderr, "%s: one ARCHIVE at most\nTry '%s --help'.\n", g_programName,
                 g_programName);
    return 2;
}

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Whether a window system can be asked for: Qt needs a display named in the environment or a
// platform named there or on the command line; without one it aborts.
bool PlatformNamed(int argc, char** argv) {
    if (IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY"))
        return true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--")
            break;
        if (arg == "-platform" || arg == "--platform" || arg.starts_with("-platform=") ||
            arg.starts_with("--platform="))
            return true;
    }
    return false;
}

bool AsksOnlyForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--")
            break;
        // --help-all is left to the window's parsing, which adds Qt's own options to the list.
        if (arg == "-h" || arg == "-?" || arg == "--help" || arg == "-v" || arg == "--version")
            return true;
    }
    return false;
}

QtMessageHandler g_qtMessages = nullptr;

// While the application starts: a platform that cannot start (a display that does not answer)
// ends the process plainly instead of by Qt's abort and its core dump. What Qt said before that
// (which display, which plugin) has been printed already.
void StartUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        g_qtMessages(type, context, text);
        return;
    }
    std::fprintf(stderr, "%s: the window system could not be started\n", g_programName);
    std::fflush(stderr);
    std::_Exit(1);
}

// Called in the constructor's initialiser list, so the handler is in place before QApplication's
// own constructor starts the platform.
int& InstallStartUpMessages(int& argc) {
    g_qtMessages = qInstallMessageHandler(StartUpMessage);
    return argc;
}
} // namespace

int ExtractorApp::AnswerWithoutWindow(int argc, char** argv) {
    if (argc > 0 && argv[0] && *argv[0])
        g_programName = argv[0];
    const bool display = PlatformNamed(argc, argv);
    if (display && !AsksOnlyForText(argc, argv))
        return -1;
    // Parsing needs an application object; this one touches no window system.
    QCoreApplication core(argc, argv);
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.parse(QCoreApplication::arguments());
    // Help and the version first, as the window's own parsing would give them.
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    parser.process(core); // an unknown option ends the process here, as it would with a window
    if (const int status = CheckArchiveCount(parser))
        return status;
    if (display)
        return -1;
    std::fprintf(stderr,
                 "%s: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not "
                 "set)\n",
                 g_programName);
    return 1;
}

ExtractorApp::ExtractorApp(int& argc, char** argv)
    : QApplication(InstallStartUpMessages(argc), argv) {
    qInstallMessageHandler(g_qtMessages);
    setDesktopFileName(QStringLiteral("org.velmorquin.extractor"));
}

int ExtractorApp::Run() {
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.process(*this); // --help, --version and unknown options end the process here
    if (const int status = CheckArchiveCount(parser))
        return status;
    const QStringList archives = parser.positionalArguments();

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
