// The main window end to end, through its seams, on archives built here.
#include "MainDialog.h"
#include "AboutDialog.h"
#include "ArchiveBuilder.h"
#include "FakeDialogs.h"
#include "FileTypeIcon.h"
#include "PreviewWindow.h"
#include "Process.h"
#include "ResourceUse.h"
#include "TempDir.h"
#include "TreeListCtrl.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDir_ = QDir::currentPath();
        dialog_ = std::make_unique<MainDialog>(dialogs_);
        dialogs_.progress = &dialog_->ProgressBar();
    }
    void TearDown() override {
        dialog_.reset();
        QDir::setCurrent(previousDir_);
    }

    std::string WriteArchive(const std::string& name, const ArchiveBuilder& builder) {
        const std::string path = dir_ / name;
        WriteFile(path, builder.Build());
        return path;
    }
    void Open(const std::string& path) {
        dialogs_.answers.push_back(QString::fromStdString(path));
        dialog_->CommandAction(MainDialog::OpenCommand)->trigger();
    }
    QString Row(int row, int column) const {
        return QString::fromLatin1(dialog_->EntryList().rowText(row, column));
    }

    TempDir dir_;
    FakeDialogs dialogs_;
    std::unique_ptr<MainDialog> dialog_;
    QString previousDir_;
};

ArchiveBuilder ThreeEntries() {
    ArchiveBuilder b;
    b.AddStored("readme.txt", "hello");
    b.AddPacked("maps\\e1m1.bsp", std::string(2000, 'x'));
    b.AddStored("sound\\door.wav", "riff");
    return b;
}
} // namespace

namespace {
// What a way of opening leaves behind, for comparing it with the Open command.
struct OpenOutcome {
    QStringList rows;
    QStringList messages;
    QString currentFolder;
    QString lastChosenPath;
    bool open = false;
    bool operator==(const OpenOutcome&) const = default;
};

enum class OpenWay { Command, Argument, Drop, Reread };

// Puts bytes at path under a new name renamed over it, as archivers write: another file.
void ReplaceFile(const std::string& path, const std::string& bytes) {
    WriteFile(path + ".new", bytes);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
}

QMimeData* UrlData(const QList<QUrl>& urls) {
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

// Sends a drag onto the window and, when it is accepted, drops it; says whether it was accepted.
bool DragAndDrop(MainDialog& dialog, QMimeData* data) {
    const QPoint at(20, 20);
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    if (enter.isAccepted()) {
        QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &drop);
        QApplication::processEvents(); // the drop opens once the event loop runs again
    }
    delete data;
    return enter.isAccepted();
}

OpenOutcome OpenOneWay(OpenWay way, const QString& path, const std::string& startFolder) {
    QDir::setCurrent(QString::fromStdString(startFolder));
    FakeDialogs dialogs;
    MainDialog dialog(dialogs);
    switch (way) {
    case OpenWay::Command:
        dialogs.answers.push_back(QFileInfo(path).absoluteFilePath());
        dialog.CommandAction(MainDialog::OpenCommand)->trigger();
        break;
    case OpenWay::Argument:
        dialog.OpenArchive(path);
        break;
    case OpenWay::Drop:
        EXPECT_TRUE(
            DragAndDrop(dialog, UrlData({QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()),
                                         QUrl::fromLocalFile(QString::fromStdString(
                                             startFolder + "/game folder/other.dat"))})));
        break;
    case OpenWay::Reread: {
        // Another archive is open at the path when the file the case names takes its place
        // (or, for a missing one, when it goes): the window reads it again by itself.
        const std::string file = QFileInfo(path).absoluteFilePath().toStdString();
        const bool existed = Exists(file);
        const std::string bytes = existed ? ReadFile(file) : std::string();
        ArchiveBuilder placeholder;
        placeholder.AddStored("placeholder.txt", "p");
        ReplaceFile(file, placeholder.Build());
        dialog.OpenArchive(path);
        EXPECT_EQ(dialog.EntryList().rowCount(), 1);
        if (existed)
            ReplaceFile(file, bytes);
        else
            std::remove(file.c_str());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !dialogs.messages.empty() || dialog.EntryList().rowCount() != 1; }, 5000));
        break;
    }
    }
    OpenOutcome out;
    for (int r = 0; r < dialog.EntryList().rowCount(); ++r)
        out.rows << QString::fromLatin1(dialog.EntryList().rowText(r, 0) + "|" +
                                        dialog.EntryList().rowText(r, 1));
    for (const ShownMessage& m : dialogs.messages)
        out.messages << m.caption + "|" + m.text;
    out.currentFolder = QDir::currentPath();
    out.lastChosenPath = dialog.LastChosenPath();
    out.open = dialog.Archive().IsOpen();
    return out;
}
} // namespace

// The start-up argument, a dropped file and the archive's file changing under the window open
// exactly as the Open command does after its dialog: same list, same messages, same current
// folder.
TEST_F(MainDialogTest, ArgumentAndDropOpenAsTheOpenCommandDoes) {
    const std::string sub = dir_ / "game folder";
    std::filesystem::create_directories(sub);
    WriteFile(sub + "/game.dat", ThreeEntries().Build());
    WriteFile(sub + "/zip.dat", std::string("PK\x03\x04rest of it", 14));
    WriteFile(sub + "/other.dat", ArchiveBuilder().Build());
    const struct {
        const char* name;
        QString path;      // as the argument gives it
        int rows;          // what the Open command lists
        bool failureShown; // whether it shows an "Error!" box
    } cases[] = {
        {"archive", QString::fromStdString(sub + "/game.dat"), 3, false},
        {"relative to the start folder", "game folder/game.dat", 3, false},
        {"not an archive", QString::fromStdString(sub + "/zip.dat"), 0, true},
        {"missing", QString::fromStdString(sub + "/gone.dat"), 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const OpenOutcome command = OpenOneWay(OpenWay::Command, c.path, dir_.Path());
        EXPECT_EQ(command.rows.size(), c.rows);
        EXPECT_EQ(!command.messages.isEmpty(), c.failureShown);
        EXPECT_EQ(command.currentFolder, QString::fromStdString(sub));
        for (OpenWay way : {OpenWay::Argument, OpenWay::Drop, OpenWay::Reread}) {
            const OpenOutcome other = OpenOneWay(way, c.path, dir_.Path());
            EXPECT_EQ(other.rows, command.rows) << int(way);
            EXPECT_EQ(other.messages, command.messages) << int(way);
            EXPECT_EQ(other.currentFolder, command.currentFolder) << int(way);
            EXPECT_EQ(other.lastChosenPath, command.lastChosenPath) << int(way);
            EXPECT_EQ(other.open, command.open) << int(way);
        }
    }
}

TEST_F(MainDialogTest, DropRefusesWhatIsNotALocalFileAndEverythingDuringACommand) {
    const std::string path = WriteArchive("game.dat", ThreeEntries());
    auto textOnly = new QMimeData;
    textOnly->setText(QString::fromStdString(path));
    EXPECT_FALSE(DragAndDrop(*dialog_, textOnly));
    EXPECT_FALSE(DragAndDrop(*dialog_, UrlData({QUrl("https://example.org/game.dat")})));
    EXPECT_FALSE(
        DragAndDrop(*dialog_, UrlData({QUrl::fromLocalFile(QString::fromStdString(dir_.Path()))})));
    EXPECT_FALSE(DragAndDrop(*dialog_, UrlData({})));
    EXPECT_EQ(dialog_->EntryList().rowCount(), 0);
    EXPECT_FALSE(dialog_->Archive().IsOpen());

    // While Extract All runs (its failure box is open), a drag is refused and a drop that
    // arrives anyway does nothing, then or afterwards.
    ArchiveBuilder b = ThreeEntries();
    b.AddStored("\\rooted", "x");
    Open(WriteArchive("busy.dat", b));
    bool refused = false;
    dialogs_.onMessage = [&] {
        auto* data = UrlData({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dialog_.get(), &enter);
        refused = !enter.isAccepted();
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dialog_.get(), &drop);
        delete data;
    };
    dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(refused);
    EXPECT_EQ(dialog_->EntryList().rowCount(), 4);
    EXPECT_EQ(dialog_->LastChosenPath(), QString::fromStdString(dir_ / "busy.dat"));
}

// The command line is answered as Qt's conventions have it, and without a display at all: no
// window system is touched before the window is needed, and none to be had is one line.
TEST(ExtractorAppTest, CommandLineWithAndWithoutADisplay) {
    const struct {
        const char* name;
        std::vector<std::string> environment; // for env(1): unset without a display
        std::vector<std::string> arguments;
        int exitCode;
        std::string out; // what stdout holds (a part of it for help)
        std::string err; // a part of stderr
    } rows[] = {
        {"version", {}, {"--version"}, 0, "Velmorquin Extractor " VDAT_VERSION "\n", ""},
        {"help", {}, {"--help"}, 0, "[ARCHIVE]", ""},
        {"help lists the version option", {}, {"-h"}, 0, "--version", ""},
        {"two archives", {}, {"a.dat", "b.dat"}, 2, "", "one ARCHIVE at most"},
        {"an archive", {}, {"a.dat"}, 1, "", "no display"},
        {"version with a display",
         {"QT_QPA_PLATFORM=offscreen"},
         {"--version"},
         0,
         "Velmorquin Extractor " VDAT_VERSION "\n",
         ""},
        {"two archives with a display",
         {"QT_QPA_PLATFORM=offscreen"},
         {"a.dat", "b.dat"},
         2,
         "",
         "one ARCHIVE at most"},
        {"a display that does not answer",
         {"DISPLAY=:65000", "QT_QPA_PLATFORM=xcb"},
         {"a.dat"},
         1,
         "",
         "could not be started"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> argv = {"/usr/bin/env",    "-u", "DISPLAY",        "-u",
                                         "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"};
        argv.insert(argv.end(), row.environment.begin(), row.environment.end());
        argv.push_back(VDAT_EXTRACTOR_BINARY);
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        const ProcessResult result = RunProcess(argv);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
        if (row.exitCode == 0 && row.out.ends_with('\n')) {
            EXPECT_EQ(result.out, row.out);
        } else {
            EXPECT_NE(result.out.find(row.out), std::string::npos) << result.out;
        }
        EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
        if (row.exitCode == 1 && row.environment.empty()) {
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        }
    }
}

TEST_F(MainDialogTest, WindowHasTheCaptionMenuColumnsAndDesignedSizeAndResizes) {
    EXPECT_EQ(dialog_->windowTitle(), "Velmorquin Exractor");
    QStringList menus;
    for (QAction* menu : dialog_->MenuBar().actions()) {
        QStringList items;
        for (QAction* item : menu->menu()->actions())
            items << item->text();
        menus << menu->text() + ":" + items.join('|');
    }
    EXPECT_EQ(menus.join(' '), "File:Open DAT  file...|Exit Extract:Extract All|Info||Extract "
                               "Selected To...|Extract All To...|Preview|Open|Copy Name "
                               "View:Folders About:About");
    // The row menu offers the selection's commands, the very actions of the Extract menu.
    const QList<QAction*> rowCommands = dialog_->RowMenu().actions();
    ASSERT_EQ(rowCommands.size(), 5);
    EXPECT_EQ(rowCommands[0], dialog_->CommandAction(MainDialog::ExtractSelectedToCommand));
    EXPECT_EQ(rowCommands[4], dialog_->CommandAction(MainDialog::CopyNameCommand));
    EXPECT_FALSE(dialog_->CommandAction(MainDialog::FoldersCommand)->isChecked());
    EXPECT_TRUE(dialog_->FindBar().isHidden());
    EXPECT_EQ(dialog_->CommandAction(MainDialog::OpenCommand)->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(dialog_->CommandAction(MainDialog::ExitCommand)->shortcut(), QKeySequence("Ctrl+Q"));
    TreeListCtrl& list = dialog_->EntryList();
    EXPECT_EQ(list.model()->headerData(0, Qt::Horizontal).toString(), "File List...");
    EXPECT_EQ(list.model()->headerData(1, Qt::Horizontal).toString(), "Pak Size [Real Size]");
    EXPECT_EQ(list.columnWidth(1), 129);
    EXPECT_EQ(list.geometry(), QRect(0, 0, 388, 427));

    dialog_->show();
    QApplication::processEvents();
    EXPECT_EQ(dialog_->height() - dialog_->MenuBar().height(), 505);
    EXPECT_EQ(dialog_->width(), 390);
    EXPECT_TRUE(dialog_->windowFlags() & Qt::WindowMaximizeButtonHint);
    // Both columns beside the vertical scroll bar, with no horizontal scrolling.
    EXPECT_LE(list.columnWidth(0) + list.columnWidth(1), list.viewport()->width());
    EXPECT_FALSE(list.horizontalScrollBar()->isVisible());

    // Larger, then smaller than designed: the list takes the difference, the bar and the banner
    // keep their sizes at the foot, and the name column the width the sizes leave.
    const QSize designed = dialog_->size();
    const QRect bar = dialog_->ProgressBar().geometry();
    QLabel& banner = *dialog_->findChild<QLabel*>("banner");
    const QRect bannerAt = banner.geometry();
    for (const QSize by : {QSize(300, 200), QSize(-150, -250)}) {
        dialog_->resize(designed + by);
        QApplication::processEvents();
        EXPECT_EQ(list.geometry(), QRect(0, 0, 388 + by.width(), 427 + by.height()));
        EXPECT_EQ(dialog_->ProgressBar().geometry(),
                  bar.translated(0, by.height()).adjusted(0, 0, by.width(), 0));
        EXPECT_EQ(banner.geometry(), bannerAt.translated(0, by.height()));
        EXPECT_LE(list.columnWidth(0) + list.columnWidth(1), list.viewport()->width());
        EXPECT_EQ(list.columnWidth(1), 129);
    }
    dialog_->resize(designed);
    QApplication::processEvents();

    // A name column dragged wider leaves the sizes within reach of a horizontal scroll bar.
    Open(WriteArchive("game.dat", ThreeEntries()));
    list.horizontalHeader()->resizeSection(0, 700);
    QApplication::processEvents();
    ASSERT_TRUE(list.horizontalScrollBar()->isVisible());
    list.horizontalScrollBar()->setValue(list.horizontalScrollBar()->maximum());
    const QRect sizes = list.visualRect(list.model()->index(0, 1));
    EXPECT_TRUE(list.viewport()->rect().contains(sizes)) << sizes.x() << "+" << sizes.width();
}

TEST_F(MainDialogTest, OpenListsEveryEntryWithPictureAndSizes) {
    Open(WriteArchive("game.dat", ThreeEntries()));
    TreeListCtrl& list = dialog_->EntryList();
    ASSERT_EQ(list.rowCount(), 3);
    EXPECT_EQ(Row(0, 0), "readme.txt");
    EXPECT_EQ(Row(0, 1), "0 [5]");
    EXPECT_EQ(Row(1, 0), "maps\\e1m1.bsp");
    EXPECT_TRUE(Row(1, 1).endsWith(" [2000]"));
    EXPECT_FALSE(Row(1, 1).startsWith("0 "));
    // A name cut short in its column shows whole, with its sizes, as the row's tooltip.
    QApplication::processEvents();
    EXPECT_EQ(list.model()->data(list.model()->index(1, 1), Qt::ToolTipRole).toString(),
              Row(1, 0) + "\n" + Row(1, 1));
    EXPECT_EQ(list.rowSmallPicture(0), IconTxt);
    EXPECT_EQ(list.rowSmallPicture(1), IconBsp);
    EXPECT_EQ(list.rowSmallPicture(2), IconWav);
    EXPECT_TRUE(dialogs_.messages.empty());
    EXPECT_EQ(dialog_->ProgressBar().maximum(), 3);
    EXPECT_EQ(dialog_->ProgressBar().value(), 3);
    EXPECT_TRUE(dialog_->Archive().IsOpen());
    // Extraction afterwards writes beside the archive.
    EXPECT_EQ(QDir::currentPath(), QString::fromStdString(dir_.Path()));
}

// A long command runs to completion, yet the window keeps painting while it runs.
TEST_F(MainDialogTest, LongOpenKeepsTheWindowAnswering) {
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    std::string bytes;
    ArchiveBuilder::PutLE32(bytes, 0x54414456);
    ArchiveBuilder::PutLE32(bytes, 13);
    ArchiveBuilder::PutLE32(bytes, 200000 * 144);
    bytes.push_back('x');
    for (int i = 0; i < 200000; ++i)
        bytes += ArchiveBuilder::Record("entry" + std::to_string(i) + ".txt", 12, 1, 0);
    WriteFile(dir_ / "big.dat", bytes);
    dialog_->show();
    QApplication::processEvents();
    dialog_->EntryList().viewport()->installEventFilter(&counter);
    dialogs_.answers.push_back(QString::fromStdString(dir_ / "big.dat"));
    // A timer stands for what the desktop sends a window that must answer (its "are you
    // alive" pings): it can only fire if the command lets events through.
    bool answered = false;
    QTimer::singleShot(0, [&] { answered = dialog_->EntryList().rowCount() < 200000; });
    dialog_->OnOpen(); // nothing else runs the event loop until it returns
    EXPECT_TRUE(answered);
    EXPECT_GT(counter.paints, 0);
    EXPECT_EQ(dialog_->EntryList().rowCount(), 200000);
}

TEST_F(MainDialogTest, EmptyArchiveShowsAnEmptyBarNotABusyOne) {
    Open(WriteArchive("empty.dat", ArchiveBuilder()));
    EXPECT_TRUE(dialogs_.messages.empty());
    EXPECT_EQ(dialog_->EntryList().rowCount(), 0);
    EXPECT_GT(dialog_->ProgressBar().maximum(), 0); // 0..0 would be Qt's busy indicator
    EXPECT_EQ(dialog_->ProgressBar().value(), 0);
}

TEST_F(MainDialogTest, CloseAskedForDuringACommandHappensAfterIt) {
    ArchiveBuilder b = ThreeEntries();
    b.AddStored("\\rooted", "x"); // refused: its message box is where the close arrives
    b.AddStored("after.txt", "after");
    Open(WriteArchive("game.dat", b));
    dialog_->show();
    bool openWhileRunning = false;
    dialogs_.onMessage = [&] {
        dialog_->close();
        openWhileRunning = dialog_->isVisible();
    };
    dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
    EXPECT_TRUE(openWhileRunning);
    EXPECT_EQ(ReadFile(dir_ / "after.txt"), "after"); // the command ran to its end
    EXPECT_FALSE(dialog_->isVisible());               // and then the window closed
    EXPECT_EQ(dialog_->result(), QDialog::Rejected);
}

TEST_F(MainDialogTest, StagingBuffersDoNotOutliveTheCommand) {
    ArchiveBuilder b;
    b.AddPacked("big.bin", std::string(4 << 20, 'z'));
    Open(WriteArchive("game.dat", b));
    // Once to settle what the first command sets up for good (threads, the table), then measured.
    dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
    const std::size_t before = HeapInUse();
    dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
    dialog_->OnEntryDoubleClicked(0);
    EXPECT_EQ(ReadFile(dir_ / "big.bin").size(), std::size_t(4 << 20));
    // The 4 MiB entry needed more than 4 MiB of buffers: none of it is left.
    EXPECT_LT(HeapInUse(), before + (1 << 20));
}

TEST_F(MainDialogTest, OpeningTwiceListsOnce) {
    const std::string path = WriteArchive("game.dat", ThreeEntries());
    Open(path);
    Open(path);
    EXPECT_EQ(dialog_->EntryList().rowCount(), 3);
    EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(MainDialogTest, CancelledDialogKeepsTheOpenArchiveAndList) {
    Open(WriteArchive("game.dat", ThreeEntries()));
    dialogs_.answers.push_back(QString());
    dialog_->CommandAction(MainDialog::OpenCommand)->trigger();
    EXPECT_EQ(dialog_->LastChosenPath(), "none");
    EXPECT_TRUE(dialog_->Archive().IsOpen());
    EXPECT_EQ(dialog_->EntryList().rowCount(), 3);
    EXPECT_EQ(dialog_->ProgressBar().value(), 3);
}

TEST_F(MainDialogTest, EachFailedOpenShowsItsErrorAndEmptiesTheList) {
    Open(WriteArchive("game.dat", ThreeEntries()));
    WriteFile(dir_ / "zip.dat", std::string("PK\x03\x04rest of it", 14));
    Open(dir_ / "zip.dat");
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].caption, "Error!");
    EXPECT_EQ(dialogs_.messages[0].text, "It`s not DAT file!\niD:0x 4034B50");
    EXPECT_EQ(dialog_->EntryList().rowCount(), 0);
    EXPECT_FALSE(dialog_->Archive().IsOpen());
    // The bar keeps what the earlier load left.
    EXPECT_EQ(dialog_->ProgressBar().value(), 3);

    const std::string missing = dir_ / "gone.dat";
    Open(missing);
    ASSERT_EQ(dialogs_.messages.size(), 2u);
    EXPECT_EQ(dialogs_.messages[1].text,
              QString::fromStdString("Can`t open DAT file!\nFile:" + missing));
    EXPECT_EQ(dialogs_.messages[1].caption, "Error!");

    dialog_->Archive().SetTableAllocator([](std::size_t) { return nullptr; });
    Open(WriteArchive("game.dat", ThreeEntries()));
    ASSERT_EQ(dialogs_.messages.size(), 3u);
    EXPECT_EQ(dialogs_.messages[2].text, "Can`t creat Memory!");
    EXPECT_EQ(dialogs_.messages[2].caption, "Error!");
    EXPECT_EQ(dialog_->EntryList().rowCount(), 0);
}

TEST_F(MainDialogTest, InfoRightAfterStartAndAfterAFailedOpen) {
    dialog_->CommandAction(MainDialog::InfoCommand)->trigger();
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].caption, "Info");
    EXPECT_EQ(dialogs_.messages[0].text,
              "Dat File:\niD:0x0\nTable Offset:0x0\nTable Size:0x0\nNum of Files:0\n");

    WriteFile(dir_ / "other.dat", "DATV and more bytes");
    Open(dir_ / "other.dat");
    dialog_->CommandAction(MainDialog::InfoCommand)->trigger();
    ASSERT_EQ(dialogs_.messages.size(), 3u);
    EXPECT_EQ(dialogs_.messages[2].text,
              QString::fromStdString("Dat File:" + (dir_ / "other.dat") +
                                     "\niD:0x56544144\nTable Offset:0x0\nTable Size:0x0\nNum of "
                                     "Files:0\n"));
}

TEST_F(MainDialogTest, DoubleClickWritesThatEntryBesideTheArchive) {
    Open(WriteArchive("game.dat", ThreeEntries()));
    TreeListCtrl& list = dialog_->EntryList();
    dialog_->show();
    QApplication::processEvents();
    const QRect cell = list.visualRect(list.model()->index(1, 1));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(ReadFile(dir_ / "maps/e1m1.bsp"), std::string(2000, 'x'));
    EXPECT_FALSE(Exists(dir_ / "readme.txt"));
    EXPECT_EQ(dialog_->ProgressBar().value(), 3); // untouched

    // Below the last row: nothing.
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {},
                       QPoint(20, list.viewport()->height() - 3));
    EXPECT_FALSE(Exists(dir_ / "readme.txt"));
    EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(MainDialogTest, ExtractAllWritesEverythingAndReportsAFailingEntryOnTheWay) {
    ArchiveBuilder b = ThreeEntries();
    b.AddStored("..\\escape.txt", "no");
    b.AddStored("last.txt", "end");
    Open(WriteArchive("game.dat", b));
    dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
    EXPECT_EQ(ReadFile(dir_ / "readme.txt"), "hello");
    EXPECT_EQ(ReadFile(dir_ / "sound/door.wav"), "riff");
    EXPECT_EQ(ReadFile(dir_ / "last.txt"), "end");
    EXPECT_FALSE(Exists(dir_ / "../escape.txt"));
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].text, "Can`t Extract file");
    EXPECT_EQ(dialogs_.messages[0].caption, "Error!");
    EXPECT_EQ(dialogs_.messages[0].progressValue, 3); // three entries done before it
    EXPECT_EQ(dialog_->ProgressBar().value(), 0);
}

// Extract All's failure box names the entry and the reason, and its three answers: go on, go on
// without boxes (then one box with the count), or end the run at that entry.
TEST_F(MainDialogTest, ExtractAllFailureBoxAnswers) {
    struct Row {
        const char* name;
        std::deque<FailureAnswer> answers;
        int boxes;       // failure boxes shown
        int barAfter;    // where the run leaves the progress bar: 0 when it ran to its end
        QString summary; // the last box, when failures were skipped
    };
    const Row rows[] = {
        {.name = "OK", .answers = {}, .boxes = 3, .barAfter = 0, .summary = {}},
        {.name = "Skip All",
         .answers = {FailureAnswer::SkipAll},
         .boxes = 1,
         .barAfter = 0,
         .summary = "3 entries could not be extracted."},
        {.name = "Stop",
         .answers = {FailureAnswer::Ok, FailureAnswer::Stop},
         .boxes = 2,
         .barAfter = 4,
         .summary = {}},
    };
    ArchiveBuilder b;
    b.AddStored("a.txt", "a");
    b.AddStored("..\\out.txt", "refused");
    b.AddStored("b.txt", "b");
    b.AddStored("blocked\\caf\xe9.txt", "a file named like its folder is in the way");
    b.AddStored("c.txt", "c");
    b.AddRaw("broken.bin", "no zlib stream", 50, 14); // damaged: told like the others
    b.AddStored("d.txt", "d");
    const std::string archive = WriteArchive("game.dat", b);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dialogs_.messages.clear();
        dialogs_.failureAnswers = row.answers;
        Open(archive);
        WriteFile(dir_ / "blocked", "in the way");
        dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
        std::vector<ShownMessage> boxes;
        for (const ShownMessage& m : dialogs_.messages)
            if (m.choices)
                boxes.push_back(m);
        ASSERT_EQ(int(boxes.size()), row.boxes);
        EXPECT_EQ(boxes[0].text, "Can`t Extract file");
        EXPECT_EQ(boxes[0].caption, "Error!");
        EXPECT_EQ(boxes[0].detail, "..\\out.txt\nname leads outside the destination");
        EXPECT_EQ(boxes[0].progressValue, 1);
        if (row.boxes > 1) {
            // The cause is the folder that could not be made.
            EXPECT_EQ(boxes[1].detail, QString("blocked\\caf") + QChar(0xE9) + ".txt\nblocked: " +
                                           QString::fromLocal8Bit(std::strerror(ENOTDIR)));
        }
        if (row.boxes > 2) {
            EXPECT_EQ(boxes[2].detail, "broken.bin\ndamaged data: zlib stream does not inflate");
        }
        const int summaries = int(dialogs_.messages.size()) - row.boxes;
        EXPECT_EQ(summaries, row.summary.isEmpty() ? 0 : 1);
        if (summaries == 1) {
            EXPECT_EQ(dialogs_.messages.back().text, row.summary);
            EXPECT_EQ(dialogs_.messages.back().caption, "Error!");
        }
        EXPECT_EQ(dialog_->ProgressBar().value(), row.barAfter);
        EXPECT_EQ(ReadFile(dir_ / "b.txt"), "b"); // what was written stays written
        if (row.barAfter == 0) {
            EXPECT_EQ(ReadFile(dir_ / "d.txt"), "d");
        }
    }
}

// A double click's failure has only OK, with the same detail.
TEST_F(MainDialogTest, DoubleClickFailureHasOnlyOk) {
    ArchiveBuilder b;
    b.AddStored("..\\out.txt", "refused");
    Open(WriteArchive("game.dat", b));
    dialogs_.failureAnswers = {FailureAnswer::Stop}; // not offered; must not matter
    dialog_->OnEntryDoubleClicked(0);
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_FALSE(dialogs_.messages[0].choices);
    EXPECT_EQ(dialogs_.messages[0].text, "Can`t Extract file");
    EXPECT_EQ(dialogs_.messages[0].detail, "..\\out.txt\nname leads outside the destination");
}

// An archive rewritten under the window, whether renamed over or written in place at the same
// size, is read again before a command would take rows of the old directory for the new file;
// the selected entry stays selected by its name.
TEST_F(MainDialogTest, ArchiveRewrittenUnderTheWindowIsReadAgainBeforeExtracting) {
    ArchiveBuilder after; // the same entries and sizes in another order, with other bytes
    after.AddStored("sound\\door.wav", "RIFF");
    after.AddPacked("maps\\e1m1.bsp", std::string(2000, 'x'));
    after.AddStored("readme.txt", "HELLO");
    const struct {
        const char* name;
        bool inPlace;
        std::function<void(MainDialog&)> command; // the command that finds the change
    } rows[] = {
        {"renamed over, double click", false, [](MainDialog& d) { d.OnEntryDoubleClicked(2); }},
        {"in place, Extract All", true,
         [](MainDialog& d) { d.CommandAction(MainDialog::ExtractAllCommand)->trigger(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = WriteArchive(std::string(row.name) + ".dat", ThreeEntries());
        Open(path);
        dialog_->EntryList().selectAndFocusRow(2);
        const std::string before = ListTree(dir_.Path());
        // Timestamps move in clock ticks; a rewrite within the tick of the read keeps its time.
        QTest::qSleep(20);
        if (row.inPlace) {
            ASSERT_EQ(after.Build().size(), ReadFile(path).size());
            WriteFile(path, after.Build());
        } else {
            ReplaceFile(path, after.Build());
        }
        row.command(*dialog_); // before the window has heard of the change
        EXPECT_EQ(ListTree(dir_.Path()), before) << "extracted from the old directory";
        EXPECT_EQ(Row(0, 0), "sound\\door.wav");
        EXPECT_EQ(dialog_->EntryList().firstSelectedRow(), 0);
        dialog_->OnEntryDoubleClicked(0);
        EXPECT_EQ(ReadFile(dir_ / "sound/door.wav"), "RIFF");
        std::remove((dir_ / "sound/door.wav").c_str());
        // What the watcher heard meanwhile reads nothing again: the file is as read.
        QTest::qWait(400);
        EXPECT_EQ(dialog_->EntryList().firstSelectedRow(), 0);
        EXPECT_TRUE(dialogs_.messages.empty());
    }
}

namespace {
// The labels of the rows, space-separated.
std::string Labels(const TreeListCtrl& list) {
    std::string out;
    for (int row = 0; row < list.rowCount(); ++row)
        out += (row ? " " : "") + list.rowText(row, 0).toStdString();
    return out;
}
} // namespace

// Extract Selected To and Extract All To write where the user chooses (the dialog starting at
// the archive's folder, then at the last folder chosen), ask once about files in the way, and
// tell failures as Extract All does; a folder row stands for every entry beneath it.
TEST_F(MainDialogTest, ExtractToWritesTheChosenEntriesWhereTheUserSays) {
    const struct {
        const char* name;
        bool folders;               // the folder view
        std::vector<int> rows;      // selected; empty: Extract All To
        const char* inTheWay;       // a file already at this name, or null
        ExistingFilesAnswer answer; // asked only when something is in the way
        std::string written;        // what the chosen folder holds afterwards
    } rows[] = {
        {"two rows",
         false,
         {0, 2},
         nullptr,
         ExistingFilesAnswer::Replace,
         "readme.txt\nsound/\nsound/door.wav\n"},
        {"all",
         false,
         {},
         nullptr,
         ExistingFilesAnswer::Replace,
         "maps/\nmaps/e1m1.bsp\nreadme.txt\nsound/\nsound/door.wav\n"},
        {"a folder row",
         true,
         {0},
         nullptr,
         ExistingFilesAnswer::Replace,
         "maps/\nmaps/e1m1.bsp\n"},
        {"replace", false, {0}, "readme.txt", ExistingFilesAnswer::Replace, "readme.txt\n"},
        {"keep existing",
         false,
         {0, 2},
         "readme.txt",
         ExistingFilesAnswer::KeepExisting,
         "readme.txt\nsound/\nsound/door.wav\n"},
        {"cancel", false, {0, 2}, "readme.txt", ExistingFilesAnswer::Cancel, "readme.txt\n"},
    };
    Open(WriteArchive("game.dat", ThreeEntries()));
    int chosen = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = dir_ / ("out" + std::to_string(chosen++));
        std::filesystem::create_directory(out);
        if (row.inTheWay)
            WriteFile(out + "/" + row.inTheWay, "mine");
        dialog_->SetFolderView(row.folders);
        dialog_->EntryList().selectRows(row.rows);
        dialogs_.folderAnswers.push_back(QString::fromStdString(out));
        dialogs_.existingAnswer = row.answer;
        dialogs_.existingQuestions.clear();
        dialog_
            ->CommandAction(row.rows.empty() ? MainDialog::ExtractAllToCommand
                                             : MainDialog::ExtractSelectedToCommand)
            ->trigger();
        EXPECT_EQ(ListTree(out), row.written);
        EXPECT_EQ(dialogs_.existingQuestions.size(), row.inTheWay ? 1 : 0);
        if (row.inTheWay) {
            EXPECT_EQ(ReadFile(out + "/" + row.inTheWay),
                      row.answer == ExistingFilesAnswer::Replace ? "hello" : "mine");
        }
        EXPECT_TRUE(dialogs_.messages.empty());
    }
    // Started at the archive's folder, then where the last run wrote; nothing beside the archive.
    ASSERT_EQ(dialogs_.folderStarts.size(), std::size(rows));
    EXPECT_EQ(dialogs_.folderStarts[0], QString::fromStdString(dir_.Path()));
    EXPECT_EQ(dialogs_.folderStarts[1], QString::fromStdString(dir_ / "out0"));
    EXPECT_FALSE(Exists(dir_ / "readme.txt"));

    // A cancelled folder dialog writes nothing; a refused entry gets Extract All's box.
    ArchiveBuilder b = ThreeEntries();
    b.AddStored("..\\out.txt", "refused");
    Open(WriteArchive("bad.dat", b));
    dialog_->SetFolderView(false);
    dialog_->EntryList().selectRows({2, 3});
    dialog_->OnExtractSelectedTo(); // no answer: cancelled
    EXPECT_TRUE(dialogs_.messages.empty());
    dialogs_.folderAnswers.push_back(QString::fromStdString(dir_ / "out9"));
    std::filesystem::create_directory(dir_ / "out9");
    dialogs_.failureAnswers = {FailureAnswer::SkipAll};
    dialog_->OnExtractSelectedTo();
    ASSERT_EQ(dialogs_.messages.size(), 2u);
    EXPECT_TRUE(dialogs_.messages[0].choices);
    EXPECT_EQ(dialogs_.messages[0].detail, "..\\out.txt\nname leads outside the destination");
    EXPECT_EQ(dialogs_.messages[1].text, "1 entry could not be extracted.");
    EXPECT_EQ(ListTree(dir_ / "out9"), "sound/\nsound/door.wav\n");
    EXPECT_EQ(dialog_->ProgressBar().value(), 0);
}

// The find bar keeps the rows whose names hold the text or match the pattern, in both views;
// rows reach their entries through their records, and closing it shows every row again with
// the selection kept.
TEST_F(MainDialogTest, FindKeepsMatchingRowsAndCommandsActOnTheRightEntries) {
    ArchiveBuilder b = ThreeEntries();
    b.AddStored("Maps\\E2M1.BSP", "loud");
    b.AddStored("caf\xc9.txt", "latin");
    Open(WriteArchive("game.dat", b));
    const struct {
        QString text;
        bool folders;
        std::string rows;
        QString count;
    } finds[] = {
        {"MAPS", false, "maps\\e1m1.bsp Maps\\E2M1.BSP", "2 of 5"},
        {"s/e", false, "maps\\e1m1.bsp Maps\\E2M1.BSP", "2 of 5"},
        {"*.bsp", false, "maps\\e1m1.bsp", "1 of 5"}, // patterns match as vdat's do
        {"map?", false, "maps\\e1m1.bsp", "1 of 5"},  // a folder's name: all beneath it
        {QString("caf") + QChar(0xE9), false, "caf\xc9.txt", "1 of 5"},
        {QString(QChar(0x20AC)), false, "", "0 of 5"},
        {"door", true, "sound door.wav", "1 of 5"},
        {"*e?m1*", true, "maps e1m1.bsp", "1 of 5"},
    };
    TreeListCtrl& list = dialog_->EntryList();
    QTest::keyClick(&list, Qt::Key_F, Qt::ControlModifier);
    ASSERT_FALSE(dialog_->FindBar().isHidden());
    for (const auto& find : finds) {
        SCOPED_TRACE(find.text.toStdString());
        dialog_->SetFolderView(find.folders);
        dialog_->FindText().setText(find.text);
        EXPECT_EQ(Labels(list), find.rows);
        EXPECT_EQ(dialog_->FindCount().text(), find.count);
    }
    dialog_->SetFolderView(false);
    dialog_->FindText().setText("wav");
    ASSERT_EQ(Labels(list), "sound\\door.wav");
    dialog_->OnEntryDoubleClicked(0);
    EXPECT_EQ(ReadFile(dir_ / "sound/door.wav"), "riff");
    EXPECT_EQ(ListTree(dir_ / "sound"), "door.wav\n");
    list.selectAndFocusRow(0);
    QTest::keyClick(&dialog_->FindText(), Qt::Key_Escape);
    EXPECT_TRUE(dialog_->FindBar().isHidden());
    EXPECT_EQ(list.rowCount(), 5);
    EXPECT_EQ(list.selectedRows(), std::vector<int>{2});
    EXPECT_EQ(list.geometry(), QRect(0, 0, 388, 427)); // the designed window again
}

// The folder view: a record per folder, entries beneath, expanded by the control's own keys;
// visible state pictures and the folder picture; double click opens a folder; Copy Name gives
// whole names; off again, the flat list with the selection kept.
TEST_F(MainDialogTest, FolderViewShowsFoldersAndTheCommandsTakeWholeNames) {
    Open(WriteArchive("game.dat", ThreeEntries()));
    TreeListCtrl& list = dialog_->EntryList();
    list.selectAndFocusRow(1);
    dialog_->CommandAction(MainDialog::FoldersCommand)->trigger();
    EXPECT_TRUE(dialog_->FolderView());
    // The selected entry's folder opened to show it.
    EXPECT_EQ(Labels(list), "maps e1m1.bsp sound readme.txt");
    EXPECT_EQ(list.selectedRows(), std::vector<int>{1});
    EXPECT_EQ(list.rowSmallPicture(0), MainDialog::kFolderPicture);
    EXPECT_EQ(list.rowSmallPicture(1), IconBsp);
    EXPECT_EQ(list.statePicture(0), 2);
    EXPECT_EQ(list.statePicture(1), 0); // entries have nothing to open
    EXPECT_EQ(list.statePicture(2), 1);
    list.selectAndFocusRow(2);
    QTest::keyClick(&list, Qt::Key_Right);
    EXPECT_EQ(Labels(list), "maps e1m1.bsp sound door.wav readme.txt");
    dialog_->OnEntryDoubleClicked(0);
    EXPECT_EQ(Labels(list), "maps sound door.wav readme.txt");
    EXPECT_TRUE(ListTree(dir_.Path()).find("maps/") == std::string::npos);

    list.selectRows({1, 2, 3});
    dialog_->CommandAction(MainDialog::CopyNameCommand)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "sound\nsound\\door.wav\nreadme.txt");
    dialog_->CommandAction(MainDialog::FoldersCommand)->trigger();
    EXPECT_FALSE(dialog_->FolderView());
    EXPECT_EQ(Labels(list), "readme.txt maps\\e1m1.bsp sound\\door.wav");
    EXPECT_EQ(list.selectedRows(), (std::vector<int>{0, 2}));
}

// Preview (Space) shows the selected entry and follows the selection.
TEST_F(MainDialogTest, PreviewFollowsTheSelection) {
    Open(WriteArchive("game.dat", ThreeEntries()));
    TreeListCtrl& list = dialog_->EntryList();
    dialog_->show();
    list.setFocus();
    list.selectAndFocusRow(0);
    QTest::keyClick(&list, Qt::Key_Space);
    PreviewWindow* preview = dialog_->Preview();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->Kind(), PreviewKind::Text);
    EXPECT_EQ(preview->LineText(0), "hello");
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(preview->Kind(), PreviewKind::Text); // 2000 'x' read as text
    EXPECT_TRUE(preview->LineText(0).startsWith("xxxxxxxx"));
}

// Open and a drag write the entries into a private temporary folder (0700, the usual refusals)
// and hand over their files, a folder row as its folder; a drag dropped back does nothing; the
// folder goes with the window.
TEST_F(MainDialogTest, OpenAndDragOutHandOverTemporaryCopies) {
    ArchiveBuilder b = ThreeEntries();
    b.AddStored("sound\\..\\..\\escape.txt", "refused");
    const std::string archive = WriteArchive("game.dat", b);
    Open(archive);
    TreeListCtrl& list = dialog_->EntryList();
    list.selectAndFocusRow(1);
    dialog_->CommandAction(MainDialog::OpenEntryCommand)->trigger();
    ASSERT_EQ(dialogs_.opened.size(), 1);
    const std::string root = dialog_->TemporaryFolder();
    ASSERT_FALSE(root.empty());
    struct stat st {};
    ASSERT_EQ(::stat(root.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(dialogs_.opened[0],
              QUrl::fromLocalFile(QString::fromStdString(root + "/1/maps/e1m1.bsp")));
    EXPECT_EQ(ReadFile(root + "/1/maps/e1m1.bsp"), std::string(2000, 'x'));

    dialog_->SetFolderView(true);
    // maps and the entry in it, sound with its two entries (one refused), readme.txt
    ASSERT_EQ(Labels(list), "maps e1m1.bsp sound readme.txt");
    list.selectRows({0, 1, 2, 3});
    std::unique_ptr<QMimeData> data(dialog_->MakeDragData());
    ASSERT_TRUE(data);
    QStringList urls;
    for (const QUrl& url : data->urls())
        urls << url.toLocalFile();
    const QString at = QString::fromStdString(root + "/2/");
    EXPECT_EQ(urls, QStringList({at + "maps", at + "sound", at + "readme.txt"}));
    EXPECT_EQ(ListTree(root + "/2"), "maps/\nmaps/e1m1.bsp\nreadme.txt\nsound/\nsound/door.wav\n");
    ASSERT_EQ(dialogs_.messages.size(), 1u); // the refused entry, told
    EXPECT_FALSE(Exists(dir_ / "escape.txt"));

    auto* back = new QMimeData;
    back->setUrls(data->urls());
    EXPECT_FALSE(DragAndDrop(*dialog_, back));
    EXPECT_EQ(dialog_->LastChosenPath(), QString::fromStdString(archive));
    dialog_.reset();
    EXPECT_FALSE(Exists(root));
}

TEST_F(MainDialogTest, ExtractAllRightAfterStartDoesNothingVisible) {
    const QString before = QString::fromStdString(ListTree(dir_.Path()));
    QDir::setCurrent(QString::fromStdString(dir_.Path()));
    dialog_->CommandAction(MainDialog::ExtractAllCommand)->trigger();
    EXPECT_TRUE(dialogs_.messages.empty());
    EXPECT_EQ(dialog_->ProgressBar().value(), 0);
    EXPECT_EQ(QString::fromStdString(ListTree(dir_.Path())), before);
}

TEST_F(MainDialogTest, AboutShowsTheAboutBox) {
    QString text;
    dialogs_.onModal = [&](QDialog& d) { text = static_cast<AboutDialog&>(d).Text(); };
    dialog_->CommandAction(MainDialog::AboutCommand)->trigger();
    ASSERT_EQ(dialogs_.modalTitles.size(), 1);
    EXPECT_EQ(dialogs_.modalTitles[0], "About Velmorquin Extractor ");
    EXPECT_TRUE(text.startsWith("Velmorquin Extractor v 1.00\n")) << text.toStdString();
    EXPECT_EQ(text.count('\n'), 3);
}

TEST_F(MainDialogTest, F1ShowsHelp) {
    dialog_->show();
    QTest::keyClick(dialog_.get(), Qt::Key_F1);
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_FALSE(dialogs_.messages[0].text.isEmpty());
}

// Esc, Exit and Ctrl+Q end the window; Enter and keypad Enter on a row write that entry, as a
// double click does, and the window stays; Ctrl+O opens.
TEST_F(MainDialogTest, KeysEndTheWindowOrActOnTheSelectedRow) {
    const struct {
        const char* name;
        std::function<void(MainDialog&)> press;
    } ends[] = {
        {"Esc", [](MainDialog& d) { QTest::keyClick(&d.EntryList(), Qt::Key_Escape); }},
        {"Exit", [](MainDialog& d) { d.CommandAction(MainDialog::ExitCommand)->trigger(); }},
        {"Ctrl+Q",
         [](MainDialog& d) { QTest::keyClick(&d.EntryList(), Qt::Key_Q, Qt::ControlModifier); }},
    };
    for (const auto& end : ends) {
        SCOPED_TRACE(end.name);
        dialog_->show();
        end.press(*dialog_);
        EXPECT_FALSE(dialog_->isVisible());
        EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    }

    Open(WriteArchive("game.dat", ThreeEntries()));
    dialog_->show();
    QTest::keyClick(&dialog_->EntryList(), Qt::Key_Return); // no row selected
    EXPECT_TRUE(dialog_->isVisible());
    const struct {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int row;
        const char* file;
        std::string bytes;
    } enters[] = {
        {"Return", Qt::Key_Return, Qt::NoModifier, 2, "sound/door.wav", "riff"},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, 1, "maps/e1m1.bsp",
         std::string(2000, 'x')},
    };
    for (const auto& enter : enters) {
        SCOPED_TRACE(enter.name);
        dialog_->EntryList().selectAndFocusRow(enter.row);
        QTest::keyClick(&dialog_->EntryList(), enter.key, enter.modifiers);
        EXPECT_TRUE(dialog_->isVisible());
        EXPECT_EQ(ReadFile(dir_ / enter.file), enter.bytes);
    }
    EXPECT_FALSE(Exists(dir_ / "readme.txt"));
    EXPECT_TRUE(dialogs_.messages.empty());

    QTest::keyClick(&dialog_->EntryList(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialogs_.chooseCalls, 2);
    EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(MainDialogTest, DestroyingTheWindowClosesTheArchive) {
    Open(WriteArchive("game.dat", ThreeEntries()));
    const int fd = dialog_->Archive().FileDescriptor();
    ASSERT_GE(fd, 0);
    char target[256] = {};
    ASSERT_GT(readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1),
              0);
    EXPECT_EQ(std::string(target), dir_ / "game.dat");
    dialog_.reset();
    char after[256] = {};
    const ssize_t n =
        readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), after, sizeof after - 1);
    EXPECT_TRUE(n < 0 || std::string(after) != dir_ / "game.dat");
}

TEST(AboutDialogTest, ShowsNameVersionAndIcon) {
    AboutDialog about;
    EXPECT_EQ(about.windowTitle(), "About Velmorquin Extractor ");
    const QStringList lines = about.Text().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "Velmorquin Extractor v 1.00");
    EXPECT_TRUE(lines[2].contains("2003"));
    auto* ok = about.findChild<QPushButton*>("okButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    auto* icon = about.findChild<QLabel*>("aboutIcon");
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
}

// Answers the next real message box from a timer. Checks inside `answer` must be EXPECTs: the
// box is closed whatever they find, so a failure fails the test at once instead of leaving it
// waiting for a person.
void AnswerNextBox(std::function<void(QMessageBox&)> answer, int tries = 40) {
    QTimer::singleShot(50, [answer, tries] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (tries > 0)
                AnswerNextBox(answer, tries - 1);
            else
                ADD_FAILURE() << "no message box appeared";
            return;
        }
        answer(*box);
        if (box->isVisible())
            box->done(QMessageBox::Cancel);
    });
}

TEST(DesktopDialogsTest, RealMessageBoxClosesByTimer) {
    DesktopDialogs dialogs;
    QString seen;
    AnswerNextBox([&](QMessageBox& box) {
        seen = box.windowTitle() + "|" + box.text();
        EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box.textFormat(), Qt::PlainText); // paths are never read as markup
        EXPECT_EQ(box.buttons().size(), 1);
        if (QAbstractButton* ok = box.button(QMessageBox::Ok))
            ok->click();
    });
    dialogs.ShowMessage(nullptr, "Can`t Extract file", "Error!");
    EXPECT_EQ(seen, "Error!|Can`t Extract file");
}

TEST(DesktopDialogsTest, FailureBoxOffersOkSkipAllAndStop) {
    DesktopDialogs dialogs;
    const std::pair<const char*, FailureAnswer> answers[] = {{"OK", FailureAnswer::Ok},
                                                             {"Skip All", FailureAnswer::SkipAll},
                                                             {"Stop", FailureAnswer::Stop}};
    for (const auto& [button, expected] : answers) {
        SCOPED_TRACE(button);
        QStringList shown;
        AnswerNextBox([&, button = QString::fromLatin1(button)](QMessageBox& box) {
            shown << box.windowTitle() << box.text() << box.informativeText();
            for (QAbstractButton* b : box.buttons())
                shown << b->text().remove('&');
            for (QAbstractButton* b : box.buttons())
                if (b->text().remove('&') == button)
                    b->click();
        });
        const FailureAnswer answer = dialogs.ShowFailure(nullptr, "Can`t Extract file", "Error!",
                                                         "a<b>.txt\nNo space left on device", true);
        EXPECT_EQ(answer, expected);
        ASSERT_EQ(shown.size(), 6);
        EXPECT_EQ(shown.mid(0, 3), QStringList({"Error!", "Can`t Extract file",
                                                "a<b>.txt\nNo space left on device"}));
        QStringList buttons = shown.mid(3);
        buttons.sort();
        EXPECT_EQ(buttons, QStringList({"OK", "Skip All", "Stop"}));
    }
    int buttons = 0;
    AnswerNextBox([&](QMessageBox& box) { buttons = int(box.buttons().size()); });
    EXPECT_EQ(dialogs.ShowFailure(nullptr, "Can`t Extract file", "Error!", "x", false),
              FailureAnswer::Ok);
    EXPECT_EQ(buttons, 1);
}

TEST(DesktopDialogsTest, ArchiveFilterMatchesBothSpellingsThenAllFiles) {
    const QStringList filters = ArchiveFileFilter().split(";;");
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[0].contains("*.DAT"));
    EXPECT_TRUE(filters[0].contains("*.dat"));
    EXPECT_TRUE(filters[1].contains("(*)"));
}
