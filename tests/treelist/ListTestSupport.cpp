// Shared pieces of the list tests; see ListTestSupport.h.
#include "ListTestSupport.h"

#include <QPainter>
#include <QTest>

#include <utility>

namespace {
std::vector<std::string> g_reports;
}

std::vector<std::string> takeModelTesterReports() {
    return std::exchange(g_reports, {});
}

void recordModelTesterReport(std::string message) {
    g_reports.push_back(std::move(message));
}

void showForTest(QWidget& widget) {
    widget.resize(400, 263);
    widget.show();
    (void)QTest::qWaitForWindowExposed(&widget);
}

QColor pictureColour(int picture) {
    return QColor::fromHsv(picture * 25, 255, 200).toRgb();
}

QPixmap pictureStrip() {
    QPixmap strip(12 * 16, 16);
    strip.fill(kMagenta);
    QPainter painter(&strip);
    for (int i = 0; i < 12; ++i)
        painter.fillRect(i * 16 + 4, 4, 8, 8, pictureColour(i));
    return strip;
}
