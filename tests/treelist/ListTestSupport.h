// Shared pieces of the list tests: showing a widget headless, a picture strip with known
// colours, and what Qt's model tester reported.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <ostream>
#include <string>
#include <vector>

// Messages from QAbstractItemModelTester since the last call; the test main routes them here.
std::vector<std::string> takeModelTesterReports();
void recordModelTesterReport(std::string message);

void showForTest(QWidget& widget);

// Twelve 16x16 pictures on a magenta (mask) background, picture i with an 8x8 centre square of
// pictureColour(i).
QPixmap pictureStrip();
QColor pictureColour(int picture);
inline const QColor kMagenta(255, 0, 255);

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
