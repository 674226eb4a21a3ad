// Test main for the list tests: a QApplication on the offscreen platform unless told otherwise,
// and Qt's model tester routed to ListTestSupport so that a test can fail on what it reports.
#include "ListTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <cstring>

namespace {

QtMessageHandler g_previous = nullptr;

void routeMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category && std::strcmp(context.category, "qt.modeltest") == 0)
        recordModelTesterReport(message.toStdString());
    else if (g_previous)
        g_previous(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    g_previous = qInstallMessageHandler(routeMessages);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
