// Test main for the resource tests: a widget application on the offscreen platform, with the
// compiled-in resources registered, as the program itself does before showing a window.
#include "Resources.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    InitResources();
    return RUN_ALL_TESTS();
}
