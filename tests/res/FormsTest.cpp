// The two forms as the window builds them: the main client area and the About box, with the
// widget names the window looks up, the pixel geometry the dialog units give, and the pictures
// they show found in the compiled-in resources.
#include "TreeListCtrl.h"
#include "ui_AboutDialog.h"
#include "ui_MainDialog.h"

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct Placement {
    const char* name;
    QRect rect;
};

// Each named child at its place, inside the client area and clear of every other one.
void ExpectLayout(const QWidget& top, QSize client, const std::vector<Placement>& placements) {
    std::vector<QRect> taken;
    for (const Placement& p : placements) {
        SCOPED_TRACE(p.name);
        const auto* child = top.findChild<QWidget*>(QLatin1String(p.name));
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->geometry(), p.rect);
        EXPECT_TRUE(QRect(QPoint(0, 0), client).contains(child->geometry()));
        for (const QRect& other : taken)
            EXPECT_FALSE(other.intersects(child->geometry())) << "overlaps another control";
        taken.push_back(child->geometry());
    }
}

TEST(MainForm, ClientAreaHasListProgressBarAndBannerAtTheirPlaces) {
    QWidget client;
    Ui::MainDialog ui;
    ui.setupUi(&client);
    EXPECT_EQ(client.windowTitle(), QStringLiteral("Velmorquin Exractor"));
    EXPECT_EQ(client.minimumSize(), QSize(390, 505));
    EXPECT_EQ(client.maximumSize(), QSize(390, 505));
    ExpectLayout(client, QSize(390, 505),
                 {{"entryList", QRect(0, 0, 388, 427)},
                  {"progressBar", QRect(0, 429, 388, 10)},
                  {"banner", QRect(0, 440, 390, 63)}});

    EXPECT_NE(qobject_cast<TreeListCtrl*>(ui.entryList), nullptr);
    EXPECT_EQ(ui.entryList->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(ui.entryList->isSortingEnabled());
    EXPECT_EQ(ui.entryList->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    EXPECT_FALSE(ui.progressBar->isTextVisible());
    EXPECT_EQ(ui.progressBar->value(), 0);

    // The banner shows bitmap 132 at its own size, not stretched.
    const QPixmap banner = ui.banner->pixmap();
    ASSERT_FALSE(banner.isNull());
    EXPECT_EQ(banner.size(), ui.banner->size());
    EXPECT_FALSE(ui.banner->hasScaledContents());
}

TEST(AboutForm, BoxHasIconTextAndDefaultOkButton) {
    QDialog box;
    Ui::AboutDialog ui;
    ui.setupUi(&box);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About Velmorquin Extractor "));
    EXPECT_EQ(box.minimumSize(), QSize(352, 102));
    EXPECT_EQ(box.maximumSize(), QSize(352, 102));
    ExpectLayout(box, QSize(352, 102),
                 {{"aboutIcon", QRect(17, 28, 32, 32)},
                  {"aboutText", QRect(51, 11, 207, 75)},
                  {"okButton", QRect(267, 11, 75, 23)}});

    const QPixmap icon = ui.aboutIcon->pixmap();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(32, 32));

    EXPECT_EQ(ui.okButton->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ui.okButton->isDefault());

    const QStringList lines = ui.aboutText->text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("Velmorquin Extractor v 1.00"));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("2003")));
    EXPECT_TRUE(lines[3].contains(QLatin1Char('@')));
}

// Text cut off at the label's edge would be easy to miss on screen; the box has no word wrap.
TEST(AboutForm, EveryLineFitsItsLabel) {
    QDialog box;
    Ui::AboutDialog ui;
    ui.setupUi(&box);
    const QFontMetrics metrics(ui.aboutText->font());
    const QStringList lines = ui.aboutText->text().split(QLatin1Char('\n'));
    for (const QString& line : lines)
        EXPECT_LE(metrics.horizontalAdvance(line), ui.aboutText->width()) << line.toStdString();
    EXPECT_LE(metrics.lineSpacing() * lines.size(), ui.aboutText->height());
    EXPECT_LE(QFontMetrics(ui.okButton->font()).horizontalAdvance(ui.okButton->text()),
              ui.okButton->width());
}

TEST(AboutForm, OkButtonAndEnterAcceptTheBox) {
    for (bool byKey : {false, true}) {
        SCOPED_TRACE(byKey ? "Enter" : "click");
        QDialog box;
        Ui::AboutDialog ui;
        ui.setupUi(&box);
        QSignalSpy accepted(&box, &QDialog::accepted);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
        if (byKey)
            QTest::keyClick(&box, Qt::Key_Return);
        else
            QTest::mouseClick(ui.okButton, Qt::LeftButton);
        EXPECT_EQ(accepted.count(), 1);
        EXPECT_EQ(box.result(), QDialog::Accepted);
        EXPECT_FALSE(box.isVisible());
    }
}

} // namespace
