// ListView: rows and their fields, the batched row model against a plain reference, texts as
// bytes, columns, pictures, clicks, keys and selection.
#include "ListView.h"
#include "ListTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

class HookedList : public ListView {
public:
    std::vector<std::pair<int, QPoint>> clicks;
    QString chars;
    int takenKey = 0;

protected:
    void rowClickEvent(int row, const QPoint& pos) override { clicks.emplace_back(row, pos); }
    bool keyDownEvent(QKeyEvent* event) override { return event->key() == takenKey; }
    bool charEvent(QChar ch) override {
        chars += ch;
        return false;
    }
};

class ListViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        list.insertColumn(0, "Name", 200);
        list.insertColumn(1, "Size", 100, Qt::AlignRight);
        tester = std::make_unique<QAbstractItemModelTester>(
            list.model(), QAbstractItemModelTester::FailureReportingMode::Warning);
        showForTest(list);
    }
    void TearDown() override {
        QCoreApplication::processEvents();
        tester.reset();
        EXPECT_EQ(takeModelTesterReports(), std::vector<std::string>());
    }
    void fill(int rows) {
        for (int i = 0; i < rows; ++i)
            list.insertRow(list.rowCount(), QByteArray("row") + QByteArray::number(i), i % 12, 0,
                           1000 + i);
        QCoreApplication::processEvents();
    }
    int rowY(int row) { return list.visualRect(list.model()->index(row, 0)).center().y(); }

    HookedList list;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(ListViewTest, RowsKeepTheirPlaceAndFields) {
    EXPECT_EQ(list.insertRow(0, "b", 1, 2, 7, 1), 0);
    EXPECT_EQ(list.insertRow(0, "a", 3, 0, 8), 0);
    EXPECT_EQ(list.insertRow(99, "c", -1, 1, 7), 2); // past the end appends
    EXPECT_EQ(list.insertRow(-1, "x"), -1);
    ASSERT_EQ(list.rowCount(), 3);
    EXPECT_EQ(list.rowText(0, 0), "a");
    EXPECT_EQ(list.rowText(1, 0), "b");
    EXPECT_EQ(list.rowIndent(1), 2);
    EXPECT_EQ(list.rowSmallPicture(1), 1);
    EXPECT_EQ(list.statePicture(1), 1);
    EXPECT_EQ(list.rowItemValue(2), 7);

    EXPECT_TRUE(list.setRowText(1, 1, "size"));
    EXPECT_FALSE(list.setRowText(1, 2, "no such column"));
    EXPECT_FALSE(list.setRowText(3, 0, "no such row"));
    EXPECT_EQ(list.rowText(1, 1), "size");

    EXPECT_EQ(list.findRowByItemValue(7), 1);
    EXPECT_EQ(list.findRowByItemValue(7, 1), 2); // the search starts after start
    EXPECT_EQ(list.findRowByItemValue(7, 2), -1);
    EXPECT_EQ(list.findRowByItemValue(9), -1);

    EXPECT_TRUE(list.setStatePicture(0, 2));
    EXPECT_FALSE(list.setStatePicture(0, 16));
    EXPECT_EQ(list.statePicture(0), 2);

    EXPECT_TRUE(list.deleteRow(1));
    EXPECT_FALSE(list.deleteRow(2));
    EXPECT_EQ(list.rowText(1, 0), "c");
    list.deleteAllRows();
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_EQ(list.model()->rowCount(), 0);
}

// Random runs of inserts and deletions, some adjacent (as expansion and collapse make them),
// against a plain vector. The list side must match the reference after every step; Qt's side
// must match a mirror rebuilt only from the model's signals after every step (nothing changes
// behind the view's back), and the reference once the event loop has run.
TEST_F(ListViewTest, BatchedAnnouncementsKeepBothSidesConsistent) {
    struct Ref {
        qint32 value;
        QByteArray text, size;
        int state;
    };
    std::vector<Ref> ref;
    std::vector<QString> mirror;
    QAbstractItemModel* model = list.model();
    auto shown = [&](int row) {
        return model->data(model->index(row, 0)).toString() + '|' +
               model->data(model->index(row, 1)).toString();
    };
    QObject::connect(model, &QAbstractItemModel::rowsInserted, [&](auto, int first, int last) {
        for (int row = first; row <= last; ++row)
            mirror.insert(mirror.begin() + row, shown(row));
    });
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, [&](auto, int first, int last) {
        mirror.erase(mirror.begin() + first, mirror.begin() + last + 1);
    });
    QObject::connect(model, &QAbstractItemModel::dataChanged,
                     [&](QModelIndex from, QModelIndex to) {
                         for (int row = from.row(); row <= to.row(); ++row)
                             mirror[std::size_t(row)] = shown(row);
                     });

    std::mt19937 random(12345);
    auto pick = [&](int below) { return int(random() % unsigned(std::max(below, 1))); };
    int lastInsert = 0, lastDelete = 0, serial = 0;
    for (int step = 0; step < 3000; ++step) {
        SCOPED_TRACE(step);
        const int size = int(ref.size());
        const int action = pick(100);
        if (action < 40 && size < 80) {
            const int kind = pick(3);
            const int row = kind == 0   ? size
                            : kind == 1 ? std::min(lastInsert + 1, size)
                                        : pick(size + 1);
            const QByteArray text = "r" + QByteArray::number(++serial);
            ASSERT_EQ(list.insertRow(row, text, 0, 0, serial, 1), row);
            ref.insert(ref.begin() + row, Ref{serial, text, {}, 1});
            lastInsert = row;
        } else if (action < 70 && size > 0) {
            const int row = pick(2) == 0 && lastDelete < size ? lastDelete : pick(size);
            ASSERT_TRUE(list.deleteRow(row));
            ref.erase(ref.begin() + row);
            lastDelete = row;
        } else if (action < 82 && size > 0) {
            const int row = pick(size);
            const QByteArray text = "s" + QByteArray::number(step);
            ASSERT_TRUE(list.setRowText(row, 1, text));
            ref[std::size_t(row)].size = text;
        } else if (action < 90 && size > 0) {
            const int row = pick(size);
            ASSERT_TRUE(list.setStatePicture(row, 2));
            ref[std::size_t(row)].state = 2;
        } else if (action < 96) {
            QCoreApplication::processEvents();
        } else {
            EXPECT_EQ(list.firstSelectedRow(), -1); // also brings the view in step
        }

        ASSERT_EQ(list.rowCount(), int(ref.size()));
        for (int row = 0; row < int(ref.size()); ++row) {
            const Ref& want = ref[std::size_t(row)];
            ASSERT_EQ(list.rowItemValue(row), want.value);
            ASSERT_EQ(list.rowText(row, 0), want.text);
            ASSERT_EQ(list.rowText(row, 1), want.size);
            ASSERT_EQ(list.statePicture(row), want.state);
        }
        ASSERT_EQ(model->rowCount(), int(mirror.size()));
        for (int row = 0; row < int(mirror.size()); ++row)
            ASSERT_EQ(shown(row), mirror[std::size_t(row)]);
        if (action >= 90) {
            ASSERT_EQ(mirror.size(), ref.size());
            for (std::size_t row = 0; row < ref.size(); ++row)
                ASSERT_EQ(mirror[row], QString::fromLatin1(ref[row].text + '|' + ref[row].size));
        }
    }
}

TEST_F(ListViewTest, TextsAreBytesShownAsLatin1) {
    const QByteArray raw("caf\xe9\0\xff", 6);
    list.insertRow(0, raw);
    list.setRowText(0, 1, "\xc3(");
    QCoreApplication::processEvents();
    EXPECT_EQ(list.rowText(0, 0), raw);
    const QAbstractItemModel* model = list.model();
    EXPECT_EQ(model->data(model->index(0, 0)).toString(),
              QString("caf") + QChar(0xe9) + QChar(0) + QChar(0xff));
    EXPECT_EQ(model->data(model->index(0, 1)).toString(), QString(QChar(0xc3)) + '(');
}

TEST_F(ListViewTest, ColumnsHaveTextWidthAndAlignment) {
    EXPECT_EQ(list.columnCount(), 2);
    EXPECT_EQ(list.horizontalHeader()->sectionSize(1), 100);
    const QAbstractItemModel* model = list.model();
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Size");
    EXPECT_TRUE(model->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt() &
                Qt::AlignRight);

    list.insertRow(0, "name");
    list.setRowText(0, 1, "12 [34]");
    // A column put in between moves the texts to its right along with their columns.
    EXPECT_EQ(list.insertColumn(1, "Mid", 50), 1);
    EXPECT_EQ(list.insertColumn(99, "Last", 50), 3);
    EXPECT_EQ(list.insertColumn(-1, "Bad", 50), -1);
    EXPECT_EQ(list.rowText(0, 0), "name");
    EXPECT_EQ(list.rowText(0, 1), "");
    EXPECT_EQ(list.rowText(0, 2), "12 [34]");
    EXPECT_TRUE(model->data(model->index(0, 2), Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
}

TEST_F(ListViewTest, ClicksGoToTheHookAndDoubleClicksToTheSignal) {
    fill(3);
    QSignalSpy doubleClicks(&list, &ListView::rowDoubleClicked);
    const QPoint onRow(60, rowY(1));
    const QPoint belowRows(60, rowY(2) + 100);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, onRow);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, belowRows);
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, onRow);
    ASSERT_EQ(list.clicks.size(), 2u);
    EXPECT_EQ(list.clicks[0], std::make_pair(1, onRow));
    EXPECT_EQ(list.clicks[1], std::make_pair(-1, belowRows));
    EXPECT_TRUE(doubleClicks.isEmpty());

    for (const QPoint at : {QPoint(60, rowY(2)), belowRows}) {
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
    }
    ASSERT_EQ(doubleClicks.size(), 2);
    EXPECT_EQ(doubleClicks[0][0].toInt(), 2);
    EXPECT_EQ(doubleClicks[1][0].toInt(), -1);
}

TEST_F(ListViewTest, KeyHooksComeFirstAndHomeEndGoToTheEnds) {
    fill(5);
    list.selectAndFocusRow(1);
    list.takenKey = Qt::Key_Down;
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.firstSelectedRow(), 1); // taken: the list did not move
    list.takenKey = 0;
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.firstSelectedRow(), 2);
    QTest::keyClick(&list, Qt::Key_End);
    EXPECT_EQ(list.firstSelectedRow(), 4);
    QTest::keyClick(&list, Qt::Key_Home);
    EXPECT_EQ(list.firstSelectedRow(), 0);
    QTest::keyClick(&list, 'r');
    EXPECT_EQ(list.chars, "r");
}

TEST_F(ListViewTest, SelectingARowReplacesTheOldOneWithoutScrolling) {
    fill(300);
    list.selectAndFocusRow(250);
    EXPECT_EQ(list.verticalScrollBar()->value(), 0);
    EXPECT_EQ(list.currentIndex().row(), 250);
    list.selectAndFocusRow(3);
    EXPECT_EQ(list.selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(list.firstSelectedRow(), 3);
    // The selection stays marked when the list loses the focus.
    EXPECT_EQ(list.palette().color(QPalette::Inactive, QPalette::Highlight),
              list.palette().color(QPalette::Active, QPalette::Highlight));
}

TEST_F(ListViewTest, PicturesFollowTheIndentAndTheirMaskIsTransparent) {
    list.insertRow(0, "plain");
    EXPECT_EQ(list.smallPictureRect(0).left(), 0); // no picture lists, no picture areas

    QPixmap states(32, 16);
    states.fill(Qt::red);
    QPainter(&states).fillRect(0, 0, 16, 16, Qt::blue);
    list.setStateImages(states, Qt::red); // picture 1 blue, picture 2 all mask
    list.setSmallImages(pictureStrip(), kMagenta);
    list.deleteAllRows();
    list.insertRow(0, "deep", 3, 2, 0, 1);
    list.insertRow(1, "flat", 5, 0, 0, 2);
    QCoreApplication::processEvents();
    const QRect deep = list.smallPictureRect(0);
    const QRect flat = list.smallPictureRect(1);
    EXPECT_EQ(deep.left(), 2 * 16 + 16);
    EXPECT_EQ(deep.width(), 16);
    EXPECT_EQ(flat.left(), 16);

    const QImage image = list.viewport()->grab().toImage();
    auto at = [&](int x, const QRect& picture) {
        return image.pixel(x, picture.top() + (picture.height() - 16) / 2 + 8);
    };
    EXPECT_EQ(at(deep.center().x(), deep), pictureColour(3).rgb());
    EXPECT_NE(at(deep.left() + 1, deep), kMagenta.rgb());
    EXPECT_EQ(at(deep.left() - 8, deep), QColor(Qt::blue).rgb());
    EXPECT_EQ(at(flat.center().x(), flat), pictureColour(5).rgb());
    EXPECT_NE(at(flat.left() - 8, flat), QColor(Qt::red).rgb());
}

} // namespace
