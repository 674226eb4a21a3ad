// The application: builds the main window, runs it modally, and ends when it ends. What needs no
// window (help, the version, a wrong command line, no display to show it on) is answered before
// any window system is touched.
#pragma once

#include <QApplication>

class ExtractorApp : public QApplication {
    Q_OBJECT

public:
    // The exit status when the command line is answered without a window, else -1: then build
    // an ExtractorApp and Run it.
    static int AnswerWithoutWindow(int argc, char** argv);
    // Builds the application; a window system that cannot be started ends the process with a
    // one-line message and status 1 rather than Qt's abort.
    ExtractorApp(int& argc, char** argv);
    int Run();
};
