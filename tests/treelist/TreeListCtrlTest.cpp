// TreeListCtrl driven by real mouse and key events: the worked F/G/H/J/K tree, the flat use of
// the main window, the click areas, the keys with and without a selected row, "*", record texts,
// clearing, and records added under an expanded parent.
#include "TreeListCtrl.h"
#include "ListTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Sees the records, and whether the list's own key handling ran: navigation keys go through
// moveCursor, typed characters through keyboardSearch.
class Probe : public TreeListCtrl {
public:
    using TreeListCtrl::m_items;
    int defaultMoves = 0;
    QStringList searches;

    void keyboardSearch(const QString& search) override {
        searches << search;
        TreeListCtrl::keyboardSearch(search);
    }

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        ++defaultMoves;
        return TreeListCtrl::moveCursor(action, modifiers);
    }
};

class TreeListCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        list.insertColumn(0, "File List...", 256, Qt::AlignLeft);
        list.insertColumn(1, "Pak Size [Real Size]", 129, Qt::AlignRight);
        list.setSmallImages(pictureStrip(), kMagenta);
        tester = std::make_unique<QAbstractItemModelTester>(
            list.model(), QAbstractItemModelTester::FailureReportingMode::Warning);
        showForTest(list);
    }
    void TearDown() override {
        QCoreApplication::processEvents();
        tester.reset();
        EXPECT_EQ(takeModelTesterReports(), std::vector<std::string>());
    }

    // Records F(0) G(1) H(2) J(1) K(0), all collapsed; rows F and K.
    void addTree() {
        for (const auto& [label, level] :
             {std::pair{"F", 0}, {"G", 1}, {"H", 2}, {"J", 1}, {"K", 0}}) {
            const int item = list.InsertItem(label, level, level);
            list.SetItemText(item, 1, std::string(label) + "-size");
        }
    }
    void resetTree() {
        list.DeleteAllItems();
        addTree();
        QCoreApplication::processEvents();
        list.selectionModel()->clear();
        list.defaultMoves = 0;
        list.searches.clear();
    }

    // Labels of the rows; also checks that, once the event loop has run, the view shows the
    // same rows with the same texts.
    std::string rows() {
        QCoreApplication::processEvents();
        std::string labels;
        const QAbstractItemModel* model = list.model();
        EXPECT_EQ(model->rowCount(), list.rowCount());
        for (int row = 0; row < list.rowCount(); ++row) {
            const QByteArray label = list.rowText(row, 0);
            EXPECT_EQ(model->data(model->index(row, 0)).toString(), QString::fromLatin1(label));
            EXPECT_EQ(list.rowText(row, 1), label + "-size");
            EXPECT_EQ(list.rowIndent(row), list.m_items[std::size_t(list.rowItemValue(row))].level);
            labels += (row ? " " : "") + label.toStdString();
        }
        return labels;
    }
    // One character per record: '+' collapsed, '-' expanded.
    std::string flags() {
        std::string out;
        for (const TreeListItem& item : list.m_items)
            out += item.collapsed ? '+' : '-';
        return out;
    }
    // The state picture of each row, which must follow its record's flag.
    std::string pictures() {
        std::string out;
        for (int row = 0; row < list.rowCount(); ++row) {
            out += char('0' + list.statePicture(row));
            EXPECT_EQ(list.statePicture(row),
                      list.m_items[std::size_t(list.rowItemValue(row))].collapsed ? 1 : 2);
        }
        return out;
    }

    int stateX(int row) { return list.smallPictureRect(row).left() - 8; }
    void clickAt(int row, int x) {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          QPoint(x, list.smallPictureRect(row).center().y()));
    }
    void clickState(int row) { clickAt(row, stateX(row)); }

    Probe list;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(TreeListCtrlTest, WorkedExampleStepByStep) {
    addTree();
    EXPECT_EQ(rows(), "F K");
    EXPECT_EQ(flags(), "+++++");

    clickState(0); // expand F: G's hidden child H takes no row
    EXPECT_EQ(rows(), "F G J K");
    EXPECT_EQ(flags(), "-++++");
    EXPECT_EQ(pictures(), "2111");

    list.selectAndFocusRow(1);
    QTest::keyClick(&list, '*'); // G and its whole subtree
    EXPECT_EQ(rows(), "F G H J K");
    EXPECT_EQ(flags(), "---++");
    EXPECT_EQ(pictures(), "22211");

    clickState(0); // collapse F: G and H stay marked expanded
    EXPECT_EQ(rows(), "F K");
    EXPECT_EQ(flags(), "+--++");
    EXPECT_EQ(pictures(), "11");

    clickState(0); // expand F again: G's subtree comes back as it was
    EXPECT_EQ(rows(), "F G H J K");
    EXPECT_EQ(flags(), "---++");
    EXPECT_EQ(pictures(), "22211");
}

TEST_F(TreeListCtrlTest, FlatUseTogglesFlagsOnly) {
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(list.InsertItem("e" + std::to_string(i), i, 0), i);
        list.SetItemText(i, 1, std::to_string(i) + " [" + std::to_string(i * 2) + "]");
    }
    QCoreApplication::processEvents();
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(list.rowItemValue(row), row);
        EXPECT_EQ(list.rowSmallPicture(row), row);
        const QModelIndex size = list.model()->index(row, 1);
        EXPECT_EQ(size.data().toString().toStdString(),
                  std::to_string(row) + " [" + std::to_string(row * 2) + "]");
    }
    clickState(2);
    EXPECT_EQ(flags(), "++-+");
    EXPECT_EQ(pictures(), "1121");
    clickState(2);
    EXPECT_EQ(flags(), "++++");

    list.selectAndFocusRow(1);
    list.defaultMoves = 0;
    const std::pair<Qt::Key, const char*> steps[] = {
        {Qt::Key_Right, "+-++"}, {Qt::Key_Right, "+-++"}, {Qt::Key_Left, "++++"},
        {Qt::Key_Left, "++++"},  {Qt::Key_Plus, "+-++"},  {Qt::Key_Minus, "++++"}};
    for (const auto& [key, want] : steps) {
        QTest::keyClick(&list, key, Qt::KeypadModifier);
        EXPECT_EQ(flags(), want) << "key " << std::hex << key;
        EXPECT_EQ(list.rowCount(), 4);
        EXPECT_EQ(list.firstSelectedRow(), 1);
    }
    EXPECT_EQ(list.defaultMoves, 0);
    EXPECT_TRUE(list.searches.isEmpty());
}

TEST_F(TreeListCtrlTest, OnlyTheStateAreaBetweenIndentAndPictureToggles) {
    struct Case {
        int row; // rows F(indent 0) G(1) J(1) K(0), F expanded
        int x;
        bool toggles;
    };
    const Case cases[] = {
        {0, 0, false},  {0, 1, true},    {0, 15, true},  {0, 16, false},
        {0, 40, false}, {0, 300, false}, {1, 5, false},  {1, 16, false},
        {1, 17, true},  {1, 31, true},   {1, 32, false}, {3, 8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " x " << c.x);
        resetTree();
        clickState(0);
        const std::string before = flags();
        clickAt(c.row, c.x);
        EXPECT_EQ(flags() != before, c.toggles);
    }
    resetTree();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(8, 200)); // below every row
    EXPECT_EQ(flags(), "+++++");
}

TEST_F(TreeListCtrlTest, StateAreaStaysUnderTheMouseWhenScrolledSideways) {
    list.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    list.setColumnWidth(0, 900);
    addTree();
    clickState(0);
    list.horizontalScrollBar()->setValue(10);
    ASSERT_EQ(list.horizontalScrollBar()->value(), 10);
    clickAt(1, 16 + 8 - 10); // G's state area, shifted left with the contents
    EXPECT_EQ(flags(), "--+++");
}

TEST_F(TreeListCtrlTest, KeysOnASelectedRowNeverReachTheList) {
    struct Case {
        const char* name;
        int expandRow; // clicked open first, -1 for none
        int selected;
        Qt::Key key;
        const char* rows;
        const char* flags;
        int selectedAfter;
    };
    const Case cases[] = {
        {"left on collapsed top level", -1, 0, Qt::Key_Left, "F K", "+++++", 0},
        {"left on expanded", 0, 0, Qt::Key_Left, "F K", "+++++", 0},
        {"left on collapsed child selects parent", 0, 2, Qt::Key_Left, "F G J K", "-++++", 0},
        {"right on collapsed", -1, 0, Qt::Key_Right, "F G J K", "-++++", 0},
        {"right on expanded goes to first child", 0, 0, Qt::Key_Right, "F G J K", "-++++", 1},
        {"right on expanded leaf", 1, 1, Qt::Key_Right, "F K", "++++-", 1},
        {"right on collapsed leaf", 0, 2, Qt::Key_Right, "F G J K", "-++-+", 2},
        {"add on collapsed", -1, 0, Qt::Key_Plus, "F G J K", "-++++", 0},
        {"add on expanded", 0, 0, Qt::Key_Plus, "F G J K", "-++++", 0},
        {"subtract on expanded", 0, 0, Qt::Key_Minus, "F K", "+++++", 0},
        {"subtract on collapsed", -1, 0, Qt::Key_Minus, "F K", "+++++", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetTree();
        if (c.expandRow >= 0)
            clickState(c.expandRow);
        list.selectAndFocusRow(c.selected);
        list.defaultMoves = 0;
        QTest::keyClick(&list, c.key, Qt::KeypadModifier);
        EXPECT_EQ(rows(), c.rows);
        EXPECT_EQ(flags(), c.flags);
        EXPECT_EQ(list.firstSelectedRow(), c.selectedAfter);
        EXPECT_EQ(list.defaultMoves, 0);
        EXPECT_TRUE(list.searches.isEmpty());
    }

    // With several rows selected the keys act on the first, and moving selects that row alone.
    resetTree();
    clickState(0);
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    list.selectRows({1, 2});
    QTest::keyClick(&list, Qt::Key_Left); // G is collapsed: to its parent F
    EXPECT_EQ(list.selectedRows(), std::vector<int>{0});
    list.selectRows({0, 3});
    QTest::keyClick(&list, Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_EQ(rows(), "F K");
    list.setSelectionMode(QAbstractItemView::SingleSelection);

    // Plus and minus of the main keyboard are other keys: typed characters, not toggles.
    resetTree();
    list.selectAndFocusRow(0);
    QTest::keyClick(&list, Qt::Key_Plus);
    EXPECT_EQ(flags(), "+++++");
    EXPECT_EQ(list.searches, QStringList{"+"});
}

TEST_F(TreeListCtrlTest, WithoutASelectedRowKeysOnlyReachTheList) {
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {{Qt::Key_Left, {}},
                                                              {Qt::Key_Right, {}},
                                                              {Qt::Key_Plus, Qt::KeypadModifier},
                                                              {Qt::Key_Minus, Qt::KeypadModifier},
                                                              {Qt::Key_Asterisk, {}}};
    for (const auto& [key, modifiers] : keys) {
        SCOPED_TRACE(testing::Message() << "key " << std::hex << key);
        resetTree();
        QTest::keyClick(&list, key, modifiers);
        EXPECT_EQ(rows(), "F K");
        EXPECT_EQ(flags(), "+++++");
        EXPECT_EQ(list.defaultMoves + list.searches.size(), 1);
    }
}

TEST_F(TreeListCtrlTest, StarExpandsTheWholeSubtreeOnlyWhenCollapsed) {
    addTree();
    list.selectAndFocusRow(0);
    QTest::keyClick(&list, '*');
    EXPECT_EQ(rows(), "F G H J K");
    EXPECT_EQ(flags(), "----+");                // leaves H and J included
    EXPECT_EQ(list.searches, QStringList{"*"}); // and the list still saw the character

    list.selectAndFocusRow(1);
    clickState(1);               // collapse G
    QTest::keyClick(&list, '*'); // row 1 is selected and collapsed again
    EXPECT_EQ(flags(), "----+");
    list.selectAndFocusRow(0);
    QTest::keyClick(&list, '*'); // expanded already: nothing but the list's own handling
    EXPECT_EQ(rows(), "F G H J K");
    EXPECT_EQ(list.searches, (QStringList{"*", "*", "*"}));
}

TEST_F(TreeListCtrlTest, LeftSelectsTheParentWithoutScrolling) {
    // A collapsed record with a hidden child first, so that P's row index is not its record's.
    list.InsertItem("A", 0, 0);
    list.InsertItem("a", 0, 1);
    list.InsertItem("P", 0, 0);
    for (int i = 0; i < 100; ++i)
        list.InsertItem("C" + std::to_string(i), 0, 1);
    list.InsertItem("Q", 0, 0);
    clickState(1);
    QCoreApplication::processEvents();
    ASSERT_EQ(list.rowCount(), 103);
    QScrollBar* scroll = list.verticalScrollBar();
    scroll->setValue(scroll->maximum());
    const int scrolled = scroll->value();
    ASSERT_GT(scrolled, 0);
    list.selectAndFocusRow(101);
    QTest::keyClick(&list, Qt::Key_Left);
    EXPECT_EQ(list.firstSelectedRow(), 1);
    EXPECT_EQ(list.currentIndex().row(), 1);
    EXPECT_EQ(scroll->value(), scrolled);
}

TEST_F(TreeListCtrlTest, RecordsAddedUnderAnExpandedParentWaitForTheNextExpansion) {
    list.InsertItem("F", 0, 0);
    clickState(0); // a leaf: nothing to show, still marked expanded
    EXPECT_EQ(flags(), "-");
    EXPECT_EQ(pictures(), "2");
    EXPECT_EQ(list.InsertItem("G", 0, 1), 1);
    EXPECT_EQ(list.InsertItem("K", 0, 0), 2);
    for (int item = 0; item < 3; ++item)
        list.SetItemText(item, 1, std::string(list.m_items[std::size_t(item)].texts[0]) + "-size");
    EXPECT_EQ(rows(), "F K");

    // Right would go to the first child's row; G has none, and the row below is K.
    list.selectAndFocusRow(0);
    QTest::keyClick(&list, Qt::Key_Right);
    EXPECT_EQ(list.firstSelectedRow(), 0);

    clickState(0); // the row below shows a top-level record: nothing to delete
    EXPECT_EQ(rows(), "F K");
    EXPECT_EQ(flags(), "+++");
    clickState(0);
    EXPECT_EQ(rows(), "F G K");
    clickState(2);
    clickState(2); // collapsing the last row deletes nothing
    EXPECT_EQ(rows(), "F G K");
}

TEST_F(TreeListCtrlTest, SetItemTextStoresAndShowsOrThrows) {
    addTree();
    QCoreApplication::processEvents();
    for (const int bad : {5, -1}) {
        EXPECT_THROW(list.SetItemText(bad, 1, "x"), std::out_of_range);
        EXPECT_EQ(rows(), "F K"); // every row and record text still as it was
    }
    list.SetItemText(1, 1, "hidden"); // G has no row yet
    clickState(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(list.rowText(1, 1), "hidden");
    QSignalSpy changes(list.model(), &QAbstractItemModel::dataChanged);
    list.SetItemText(3, 1, "shown"); // J, at row 2: the view must be told to repaint it
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0][0].toModelIndex(), list.model()->index(2, 1));
    EXPECT_EQ(list.model()->index(2, 1).data().toString(), "shown");
}

TEST_F(TreeListCtrlTest, ClearingStartsTheRecordsAgainAtZero) {
    addTree();
    clickState(0);
    list.DeleteAllItems();
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_TRUE(list.m_items.empty());
    EXPECT_EQ(list.InsertItem("again", 0, 0), 0);
    EXPECT_EQ(list.rowItemValue(0), 0);
    EXPECT_EQ(list.rowText(0, 0), "again");
}

// A filter leaves records out with their subtrees, in expansions too; without it the rows come
// back as the flags say.
TEST_F(TreeListCtrlTest, FilterLeavesRecordsOutAndRowsComeBackAsTheFlagsSay) {
    addTree();
    list.SetFilter({1, 1, 0, 1, 0}); // F G J: H and K left out
    EXPECT_EQ(rows(), "F");
    clickState(0);
    EXPECT_EQ(rows(), "F G J");
    list.selectAndFocusRow(1);
    QTest::keyClick(&list, '*'); // G's subtree is H alone, left out and left as it was
    EXPECT_EQ(rows(), "F G J");
    EXPECT_EQ(flags(), "--+++");
    list.SetFilter({});
    EXPECT_EQ(rows(), "F G H J K");
    list.SetFilter({0, 1, 1, 1, 1}); // F left out: its subtree goes with it
    EXPECT_EQ(rows(), "K");
    list.SetFilter({});

    // A tree's leaves show no state picture, whatever their flag.
    list.SetBlankLeafStates(true);
    list.RebuildRows();
    std::string states;
    for (int row = 0; row < list.rowCount(); ++row)
        states += char('0' + list.statePicture(row));
    EXPECT_EQ(states, "22000"); // F G expanded, H J K leaves
    clickState(4);
    EXPECT_EQ(list.statePicture(4), 0);
}

TEST_F(TreeListCtrlTest, DeepChainExpandsAndCollapsesWhole) {
    constexpr int depth = 20000;
    for (int level = 0; level < depth; ++level)
        list.InsertItem("n", 0, level);
    list.InsertItem("last", 0, 0);
    list.selectAndFocusRow(0);
    QTest::keyClick(&list, '*');
    QCoreApplication::processEvents();
    EXPECT_EQ(list.model()->rowCount(), depth + 1);
    EXPECT_EQ(list.rowIndent(depth - 1), depth - 1);
    EXPECT_EQ(flags(), std::string(depth, '-') + '+');
    QTest::keyClick(&list, Qt::Key_Left);
    QCoreApplication::processEvents();
    EXPECT_EQ(list.model()->rowCount(), 2);
}

TEST_F(TreeListCtrlTest, StatePicturesAreBlankUntilGivenOthers) {
    addTree();
    clickState(1); // K expanded, F collapsed
    list.selectionModel()->clear();
    auto stateColour = [&](int row) {
        QCoreApplication::processEvents();
        const QImage image = list.viewport()->grab().toImage();
        return image.pixel(stateX(row), list.smallPictureRect(row).center().y());
    };
    EXPECT_NE(stateColour(0), QColor(Qt::red).rgb());
    EXPECT_NE(stateColour(1), QColor(Qt::red).rgb());
    EXPECT_EQ(stateColour(1), stateColour(0));

    QPixmap strip(32, 16);
    QPainter painter(&strip);
    painter.fillRect(0, 0, 16, 16, Qt::blue);
    painter.fillRect(16, 0, 16, 16, Qt::green);
    painter.end();
    list.SetStateBitmap(strip);
    EXPECT_EQ(stateColour(0), QColor(Qt::blue).rgb()); // collapsed: the left picture
    EXPECT_EQ(stateColour(1), QColor(Qt::green).rgb());
}

} // namespace
