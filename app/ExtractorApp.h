// The application: builds the main window, runs it modally, and ends when it ends.
#pragma once

#include <QApplication>

class ExtractorApp : public QApplication {
    Q_OBJECT

public:
    ExtractorApp(int& argc, char** argv);
    int Run();
};
