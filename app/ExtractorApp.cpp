// Start-up: one modal main window; when it closes, the process ends.
#include "ExtractorApp.h"

#include "MainDialog.h"
#include "Resources.h"
#include "UserDialogs.h"

ExtractorApp::ExtractorApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Velmorquin Extractor"));
    setApplicationVersion(QStringLiteral("1.0.0.1"));
}

int ExtractorApp::Run() {
    InitResources();
    DesktopDialogs dialogs;
    MainDialog dialog(dialogs);
    dialog.exec();
    // Whatever the dialog's result, no further event loop runs.
    return 0;
}
