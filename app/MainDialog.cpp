// The main window's set-up and commands.
#include "MainDialog.h"

#include "AboutDialog.h"
#include "PreviewWindow.h"
#include "Resources.h"
#include "TreeListCtrl.h"
#include "ui_MainDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace {
// Dialog 102 is 260 x 311 dialog units; with the 8-point dialog font a unit is 1.5 px across
// and 1.625 px down.
constexpr int kClientWidth = 390;
constexpr int kClientHeight = 505;
constexpr int kNameColumnWidth = 256;
constexpr int kSizeColumnWidth = 129;
constexpr int kMinimumNameColumnWidth = 48;
// Small enough for any screen, large enough to show a few rows above the foot.
constexpr QSize kMinimumClientSize(200, 160);
constexpr int kFrameAllowanceWidth = 16;
constexpr int kFrameAllowanceHeight = 48;
constexpr int kChangeSettleMs = 300;
const QColor kPictureMask = QColor::fromRgb(kFileTypeMaskColour);

const char kHelpText[] =
    "Velmorquin Extractor\n\n"
    "File > Open DAT  file... lists the entries of an archive.\n"
    "Double-click an entry to write it beside the archive.\n"
    "Extract > Extract All writes every entry there; Extract > Info shows the header.\n"
    "Select rows with Ctrl and Shift; Extract Selected To... writes them where you choose.\n"
    "Space previews the selected entry, Ctrl+F finds entries by name, View > Folders shows\n"
    "the folders; rows can be dragged to a file manager.";

// The archive a drag carries: the first of its URLs, when that is a local file (not a folder).
QString DroppedArchive(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return {};
    const QUrl url = data->urls().first();
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    return QFileInfo(path).isDir() ? QString() : path;
}
} // namespace

// Texts from the archive side are bytes. Messages, paths and the system's reasons come in the
// locale's encoding (UTF-8 here); names inside archives are read by the library's one rule, in
// the list and in the boxes alike.
QString FromArchiveText(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}
// Qt's own Latin-1 reading is the library's rule (Latin1Name) without a trip through UTF-8: the
// list asks for one on every cell it paints.
QString FromEntryName(std::string_view name) {
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}
QString FromEntryName(QByteArrayView name) {
    return FromEntryName(std::string_view(name.data(), std::size_t(name.size())));
}

MainDialog::MainDialog(UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), ui_(std::make_unique<Ui::MainDialog>()),
      archive_(*this, *this, *this), extractor_(archive_, *this, *this) {
    InitResources();
    icon_ = AppIcon();

    client_ = new QWidget(this);
    ui_->setupUi(client_);
    designedList_ = ui_->entryList->geometry();
    designedBar_ = ui_->progressBar->geometry();
    designedBanner_ = ui_->banner->geometry();
    client_->setMinimumSize(kMinimumClientSize);
    client_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    client_->installEventFilter(this);
    input_ = std::make_unique<CommandInput>(*this, [this] { stop_ = true; });
    progress_ = std::make_unique<ProgressBarSink>(*ui_->progressBar,
                                                  [this] { input_->LetEventsThrough(); });
    extractor_.Writer().SetBetweenPieces([this] { progress_->LetWindowPaintIfDue(); });
    extractor_.Writer().SetStopFlag(&stop_);
    // Extract All writes on every core; this thread only reports and keeps the window painting.
    extractor_.UsePool(std::max(1u, std::thread::hardware_concurrency()),
                       [this] { progress_->LetWindowPaintIfDue(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildMenu();
    layout->setMenuBar(menuBar_);
    layout->addWidget(client_);

    // An ordinary window: it can be resized and maximised, as desktops of any size and scale
    // need; the designed size is where it starts.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    const int menuHeight = menuBar_->heightForWidth(kClientWidth) > 0
                               ? menuBar_->heightForWidth(kClientWidth)
                               : menuBar_->sizeHint().height();
    const QSize designed(kClientWidth, kClientHeight + menuHeight);
    // A window manager's frame is not known before the window is mapped; this leaves room for
    // a usual one, so the banner is never below the screen's edge.
    const QSize room =
        screen()->availableGeometry().size() - QSize(kFrameAllowanceWidth, kFrameAllowanceHeight);
    resize(designed.boundedTo(room.expandedTo(minimumSizeHint())));
    LayOutClient(client_->size());
    // The caption has always been spelled so; users and their screenshots know it that way.
    setWindowTitle(QStringLiteral("Velmorquin Exractor"));
    setWindowIcon(icon_);
    setAcceptDrops(true);
    SetUpList();
    connect(&EntryList(), &ListView::rowDoubleClicked, this, &MainDialog::OnEntryDoubleClicked);
    connect(&EntryList(), &ListView::rowActivated, this, &MainDialog::OnEntryDoubleClicked);
    // The preview, once shown, follows the row the user moves to.
    connect(EntryList().selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { PreviewCurrentRow(); });
    EntryList().setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&EntryList(), &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!busy_ && EntryList().firstSelectedRow() >= 0)
            rowMenu_->popup(EntryList().viewport()->mapToGlobal(at));
    });
    EntryList().setDragSource([this] { return busy_ ? nullptr : MakeDragData(); });
    EntryList().installEventFilter(this);
    BuildFindBar();

    watcher_ = new QFileSystemWatcher(this);
    changeSettled_.setSingleShot(true);
    changeSettled_.setInterval(kChangeSettleMs);
    auto changed = [this] {
        if (!changeSettled_.isActive())
            changeSettled_.start();
    };
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, changed);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, changed);
    connect(&changeSettled_, &QTimer::timeout, this, [this] {
        // Not inside a command or over a box of its own: looked at again once they are over.
        const QWidget* modal = QApplication::activeModalWidget();
        if (busy_ || (modal && modal != this)) {
            changeSettled_.start();
            return;
        }
        if (!closePending_)
            RereadIfChanged();
    });
    EntryList().setFocus();
}

MainDialog::~MainDialog() {
    archive_.Close();
    // What Open and drags wrote goes with the window, whatever became of those commands.
    if (!temporaryRoot_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(temporaryRoot_, ignored);
    }
}

void MainDialog::BuildMenu() {
    menuBar_ = new QMenuBar(this);
    // No mnemonics: a literal '&' would otherwise make one. The shortcuts are the desktop's
    // usual ones, shown beside the items.
    const auto add = [this](QMenu* menu, const char* text, Command command, auto slot,
                            QKeySequence shortcut = {}) {
        AddCommand(menu, text, command, slot, shortcut);
    };
    QMenu* file = menuBar_->addMenu(QStringLiteral("File"));
    // Menu and column texts are kept as the program has always shown them, two blanks included.
    add(file, "Open DAT  file...", OpenCommand, &MainDialog::OnOpen,
        QKeySequence(Qt::CTRL | Qt::Key_O));
    add(file, "Exit", ExitCommand, &MainDialog::reject, QKeySequence(Qt::CTRL | Qt::Key_Q));
    QMenu* extract = menuBar_->addMenu(QStringLiteral("Extract"));
    add(extract, "Extract All", ExtractAllCommand, &MainDialog::OnExtractAll);
    add(extract, "Info", InfoCommand, &MainDialog::OnInfo);
    BuildExtractMenuTail(extract);
    QMenu* about = menuBar_->addMenu(QStringLiteral("About"));
    add(about, "About", AboutCommand, &MainDialog::OnAbout);
}

void MainDialog::SetUpList() {
    TreeListCtrl& list = EntryList();
    list.insertColumn(0, QStringLiteral("File List..."), kNameColumnWidth, Qt::AlignLeft);
    list.insertColumn(1, QStringLiteral("Pak Size [Real Size]"), kSizeColumnWidth, Qt::AlignRight);
    list.setTextDecoder([](QByteArrayView text) { return FromEntryName(text); });
    // Click, Ctrl+click, Shift+click and Ctrl+A, for the commands on a selection; the tree
    // list's keys act on the first selected row.
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    FitNameColumn();
    // A name column dragged wider must not push the sizes out of reach.
    list.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list.SetStateBitmap(StatePicturesBitmap());
    list.setSmallImages(FileTypeBitmap(), kPictureMask);
}

void MainDialog::FitNameColumn() {
    // Both columns must fit beside the vertical scroll bar. The designed list is narrower than
    // the two columns and a scroll bar together, so the name column gives way, never the
    // sizes; in a wider window it takes the room, so that long names show whole.
    TreeListCtrl& list = EntryList();
    if (list.columnCount() < 2)
        return;
    const int frame = 2 * list.frameWidth();
    const int room = list.width() - frame - list.verticalScrollBar()->sizeHint().width();
    list.setColumnWidth(0, std::max(kMinimumNameColumnWidth, room - kSizeColumnWidth));
}

void MainDialog::LayOutClient(QSize size) {
    const QSize designed(kClientWidth, kClientHeight);
    const int wider = size.width() - designed.width();
    const int taller = size.height() - designed.height();
    // The find bar, when shown, takes its height from the top of the list.
    int findHeight = 0;
    if (findBar_ && !findBar_->isHidden()) {
        findHeight = findBar_->sizeHint().height();
        findBar_->setGeometry(designedList_.left(), designedList_.top(),
                              designedList_.width() + wider, findHeight);
    }
    ui_->entryList->setGeometry(designedList_.adjusted(0, findHeight, wider, taller));
    ui_->progressBar->setGeometry(designedBar_.adjusted(0, taller, wider, taller));
    ui_->banner->setGeometry(designedBanner_.translated(0, taller));
    FitNameColumn();
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize)
        LayOutClient(static_cast<QResizeEvent*>(event)->size());
    // Space previews when the key reaches the list itself rather than as the Preview action's
    // shortcut (a window that is not the active one): the list would only select with it.
    if (watched == &EntryList() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            OnPreview();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QAction* MainDialog::FindAction(const std::function<bool(const QAction&)>& wanted) const {
    for (QAction* action : actions())
        if (wanted(*action))
            return action;
    for (QAction* menu : menuBar_->actions())
        for (QAction* action : menu->menu()->actions())
            if (wanted(*action))
                return action;
    return nullptr;
}

QAction* MainDialog::CommandAction(Command command) const {
    return FindAction([command](const QAction& a) { return a.data().toInt() == int(command); });
}

TreeListCtrl& MainDialog::EntryList() const {
    return *ui_->entryList;
}

QProgressBar& MainDialog::ProgressBar() const {
    return *ui_->progressBar;
}

void MainDialog::OnOpen() {
    const QString chosen = dialogs_.ChooseArchive(this);
    lastChosenPath_ = chosen.isEmpty() ? QStringLiteral("none") : chosen;
    if (lastChosenPath_ == QLatin1String("none"))
        return;
    OpenArchive(chosen);
}

void MainDialog::OpenArchive(const QString& path) {
    // A path from the command line may be relative to the folder we started in, which is about
    // to change.
    const QString chosen = QFileInfo(path).absoluteFilePath();
    lastChosenPath_ = chosen;
    // As the desktop's own file dialog does: extraction then writes beside the archive.
    QDir::setCurrent(QFileInfo(chosen).absolutePath());

    RunCommand([&] {
        EntryList().DeleteAllItems();
        recordEntry_.clear();
        entryRecord_.clear();
        loadedEntries_ = 0;
        const QByteArray bytes = chosen.toLocal8Bit();
        if (archive_.Open(std::string_view(bytes.constData(), std::size_t(bytes.size()))))
            archive_.LoadDirectory();
        // The folder view is built once the whole directory is known.
        if (folderView_)
            FillList();
    });
    archivePath_ = chosen;
    WatchArchive();
    if (!findBar_->isHidden())
        ApplyFind();
}

MainDialog::FileIdentity MainDialog::IdentityOf(const struct stat& st) {
    return {.exists = true,
            .device = std::uint64_t(st.st_dev),
            .inode = std::uint64_t(st.st_ino),
            .size = std::uint64_t(st.st_size),
            .modifiedSec = std::int64_t(st.st_mtim.tv_sec),
            .modifiedNsec = std::int64_t(st.st_mtim.tv_nsec)};
}

MainDialog::FileIdentity MainDialog::IdentityAtPath() const {
    struct stat st {};
    if (archivePath_.isEmpty() || ::stat(QFile::encodeName(archivePath_).constData(), &st) != 0)
        return {};
    return IdentityOf(st);
}

void MainDialog::WatchArchive() {
    if (!watcher_->files().isEmpty())
        watcher_->removePaths(watcher_->files());
    if (!watcher_->directories().isEmpty())
        watcher_->removePaths(watcher_->directories());
    // What was read is what the open file holds; a path that did not open is remembered as it
    // is now, so that it is read again once it changes (a missing archive that comes back).
    struct stat st {};
    if (archive_.IsOpen() && ::fstat(archive_.FileDescriptor(), &st) == 0)
        archiveIdentity_ = IdentityOf(st);
    else
        archiveIdentity_ = IdentityAtPath();
    // The file itself for writes into it; its folder for a file renamed over it, deleted or
    // made anew (a watch on the file follows the old file, not the path).
    if (archiveIdentity_.exists)
        watcher_->addPath(archivePath_);
    watcher_->addPath(QFileInfo(archivePath_).absolutePath());
}

bool MainDialog::RereadIfChanged() {
    if (archivePath_.isEmpty() || IdentityAtPath() == archiveIdentity_)
        return false;
    // Read again by the road Open takes, so a file that is no longer an archive says so; the
    // entry the user had selected stays selected where the new directory still has it.
    const int selected = EntryList().firstSelectedRow();
    const std::string name = selected >= 0 ? FullNameOfRow(selected) : std::string();
    OpenArchive(archivePath_);
    if (selected >= 0)
        SelectEntryNamed(name);
    return true;
}

void MainDialog::OnExtractAll() {
    if (RereadIfChanged())
        return;
    RunCommand([&] {
        extractingAll_ = true;
        skipFailures_ = false;
        failedInRun_ = 0;
        // An Extract ... To that was stopped left the bar counting its own entries.
        if (archive_.IsOpen())
            progress_->SetRange(std::uint32_t(archive_.Entries().size()));
        extractor_.ExtractAll();
        extractingAll_ = false;
        ShowSkippedCount();
    });
}

void MainDialog::ShowSkippedCount() {
    // Boxes the user chose not to see are at least counted.
    if (skipFailures_ && !closePending_)
        dialogs_.ShowMessage(
            this,
            failedInRun_ == 1
                ? QStringLiteral("1 entry could not be extracted.")
                : QStringLiteral("%1 entries could not be extracted.").arg(failedInRun_),
            QStringLiteral("Error!"));
}

void MainDialog::OnInfo() {
    dialogs_.ShowMessage(this, FromArchiveText(InfoText(archive_)), QStringLiteral("Info"));
}

void MainDialog::OnAbout() {
    AboutDialog about(this);
    dialogs_.RunModal(about);
}

void MainDialog::OnHelp() {
    dialogs_.ShowMessage(this, QString::fromLatin1(kHelpText), QStringLiteral("Help"));
}

void MainDialog::OnEntryDoubleClicked(int row) {
    // The row means an entry of the directory as it was read; of another file it would write
    // another entry's bytes.
    if (RereadIfChanged())
        return;
    // Rows reach their entries through their records, whatever the find bar or the folders
    // show; a folder row opens or closes, as tree views do.
    const int record = EntryList().ItemOfRow(row);
    if (record >= 0 && folderView_ && recordEntry_[std::size_t(record)] < 0) {
        EntryList().ToggleRow(row);
        return;
    }
    const int entry = record >= 0 ? EntryOfRecord(record) : -1;
    RunCommand([&] { extractor_.ExtractEntry(entry); });
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_F1:
        OnHelp();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The list acts on Enter on its selected row; the window has no OK to end on.
        event->accept();
        return;
    case Qt::Key_Escape:
        // The find bar goes first; the next Esc ends the window as before.
        if (!findBar_->isHidden()) {
            CloseFind();
            return;
        }
        reject();
        return;
    default:
        break;
    }
    // A shortcut pressed during a command was held as a key press and comes back as one. One
    // that belongs to a widget (Space on the list) is that widget's to handle.
    const QKeySequence pressed(event->keyCombination());
    if (QAction* action = FindAction([&pressed](const QAction& a) {
            return a.shortcutContext() != Qt::WidgetShortcut && !a.shortcut().isEmpty() &&
                   a.shortcut() == pressed;
        })) {
        action->trigger();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // The command ends at its next entry first; the window closes right after.
        AskToClose();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void MainDialog::done(int result) {
    if (busy_) {
        AskToClose();
        return; // a command is still running; it paints the window but must finish first
    }
    QDialog::done(result);
}

void MainDialog::AskToClose() {
    stop_ = true;
    closePending_ = true;
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    // Refused while a command runs, so the cursor tells the user before anything is let go; and
    // rows dragged out and back are not archives to open.
    const QString path = DroppedArchive(event->mimeData());
    if (!busy_ && !IsOwnDrop(*event, path) && !path.isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

bool MainDialog::IsOwnDrop(const QDropEvent& event, const QString& path) const {
    return event.source() != nullptr ||
           (!temporaryRoot_.empty() &&
            QFile::encodeName(path).startsWith(QByteArray::fromStdString(temporaryRoot_ + "/")));
}

void MainDialog::dropEvent(QDropEvent* event) {
    const QString path = DroppedArchive(event->mimeData());
    if (busy_ || path.isEmpty() || IsOwnDrop(*event, path)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Opened once the drop has returned, so the file manager is not kept waiting for the
    // drag to finish while a long directory loads.
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (!busy_)
                OpenArchive(path);
        },
        Qt::QueuedConnection);
}

void MainDialog::RunCommand(const std::function<void()>& command) {
    busy_ = true;
    stop_ = false;
    input_->Begin();
    command();
    input_->End();
    busy_ = false;
    if (closePending_) {
        closePending_ = false;
        reject();
    }
}

void MainDialog::ShowMessage(std::string_view text, std::string_view caption) {
    dialogs_.ShowMessage(this, FromArchiveText(text), FromArchiveText(caption));
}

FailureAnswer MainDialog::ReportFailure(const FailureReport& failure) {
    const QString text = FromArchiveText(failure.text);
    const QString caption = FromArchiveText(failure.caption);
    const QString reason = FromArchiveText(failure.reason);
    const QString detail =
        failure.entry.empty() ? reason : FromEntryName(failure.entry) + '\n' + reason;
    if (!extractingAll_) {
        dialogs_.ShowFailure(this, text, caption, detail, false);
        return FailureAnswer::Ok;
    }
    ++failedInRun_;
    if (skipFailures_)
        return FailureAnswer::SkipAll;
    const FailureAnswer answer = dialogs_.ShowFailure(this, text, caption, detail, true);
    skipFailures_ = answer == FailureAnswer::SkipAll;
    return answer;
}

int MainDialog::AddEntry(std::string_view text, int image, int level) {
    // The folder view is built from the whole directory once it is read.
    if (folderView_)
        return loadedEntries_++;
    return EntryList().InsertItem(text, image, level);
}

void MainDialog::SetEntryText(int index, int column, std::string_view text) {
    if (!folderView_)
        EntryList().SetItemText(index, column, text);
}

void MainDialog::SetRange(std::uint32_t upper) {
    progress_->SetRange(upper);
}

void MainDialog::SetPosition(std::uint32_t position) {
    progress_->SetPosition(position);
}
