// The main window's set-up and commands.
#include "MainDialog.h"

#include "AboutDialog.h"
#include "EntryNames.h"
#include "Resources.h"
#include "TreeListCtrl.h"
#include "ui_MainDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <thread>

namespace {
// Dialog 102 is 260 x 311 dialog units; with the 8-point dialog font a unit is 1.5 px across
// and 1.625 px down.
constexpr int kClientWidth = 390;
constexpr int kClientHeight = 505;
constexpr int kNameColumnWidth = 256;
constexpr int kSizeColumnWidth = 129;
const QColor kPictureMask = QColor::fromRgb(kFileTypeMaskColour);

// Texts from the archive side are bytes. Messages, paths and the system's reasons come in the
// locale's encoding (UTF-8 here); names inside archives are read by the library's one rule, in
// the list and in the boxes alike.
QString FromArchiveText(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}
QString FromEntryName(std::string_view name) {
    return QString::fromStdString(Latin1Name(name));
}
QString FromEntryName(QByteArrayView name) {
    return FromEntryName(std::string_view(name.data(), std::size_t(name.size())));
}

const char kHelpText[] =
    "Velmorquin Extractor\n\n"
    "File > Open DAT  file... lists the entries of an archive.\n"
    "Double-click an entry to write it beside the archive.\n"
    "Extract > Extract All writes every entry there; Extract > Info shows the header.";

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

MainDialog::MainDialog(UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), ui_(std::make_unique<Ui::MainDialog>()),
      archive_(*this, *this, *this), extractor_(archive_, *this, *this) {
    InitResources();
    icon_ = AppIcon();

    auto* client = new QWidget(this);
    ui_->setupUi(client);
    client->setFixedSize(kClientWidth, kClientHeight);
    input_ = std::make_unique<CommandInput>(*this, [this] { AskToClose(); });
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
    layout->addWidget(client);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // A fixed frame with a caption, a close box and no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    // The caption has always been spelled so; users and their screenshots know it that way.
    setWindowTitle(QStringLiteral("Velmorquin Exractor"));
    setWindowIcon(icon_);
    setAcceptDrops(true);
    SetUpList();
    connect(&EntryList(), &ListView::rowDoubleClicked, this, &MainDialog::OnEntryDoubleClicked);
    EntryList().setFocus();
}

MainDialog::~MainDialog() {
    archive_.Close();
}

void MainDialog::BuildMenu() {
    menuBar_ = new QMenuBar(this);
    // No mnemonics: a literal '&' would otherwise make one.
    auto add = [this](QMenu* menu, const char* text, Command command, auto slot) {
        QAction* action = menu->addAction(QString::fromLatin1(text));
        action->setData(int(command));
        connect(action, &QAction::triggered, this, slot);
    };
    QMenu* file = menuBar_->addMenu(QStringLiteral("File"));
    // Menu and column texts are kept as the program has always shown them, two blanks included.
    add(file, "Open DAT  file...", OpenCommand, &MainDialog::OnOpen);
    add(file, "Exit", ExitCommand, &MainDialog::reject);
    QMenu* extract = menuBar_->addMenu(QStringLiteral("Extract"));
    add(extract, "Extract All", ExtractAllCommand, &MainDialog::OnExtractAll);
    add(extract, "Info", InfoCommand, &MainDialog::OnInfo);
    QMenu* about = menuBar_->addMenu(QStringLiteral("About"));
    add(about, "About", AboutCommand, &MainDialog::OnAbout);
}

void MainDialog::SetUpList() {
    TreeListCtrl& list = EntryList();
    list.insertColumn(0, QStringLiteral("File List..."), kNameColumnWidth, Qt::AlignLeft);
    list.insertColumn(1, QStringLiteral("Pak Size [Real Size]"), kSizeColumnWidth, Qt::AlignRight);
    list.setTextDecoder([](QByteArrayView text) { return FromEntryName(text); });
    // Both columns must fit beside the vertical scroll bar. The list is narrower than the two
    // columns and a scroll bar together here, so the name column gives way, never the sizes.
    const int frame = 2 * list.frameWidth();
    const int room = list.width() - frame - list.verticalScrollBar()->sizeHint().width();
    list.setColumnWidth(0, std::min(kNameColumnWidth, room - kSizeColumnWidth));
    // A name column dragged wider must not push the sizes out of reach.
    list.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list.SetStateBitmap(StatePicturesBitmap());
    list.setSmallImages(FileTypeBitmap(), kPictureMask);
}

QAction* MainDialog::CommandAction(Command command) const {
    for (QAction* menu : menuBar_->actions())
        for (QAction* action : menu->menu()->actions())
            if (action->data().toInt() == int(command))
                return action;
    return nullptr;
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
        const QByteArray bytes = chosen.toLocal8Bit();
        if (archive_.Open(std::string_view(bytes.constData(), std::size_t(bytes.size()))))
            archive_.LoadDirectory();
    });
}

void MainDialog::OnExtractAll() {
    RunCommand([&] {
        extractingAll_ = true;
        skipFailures_ = false;
        failedInRun_ = 0;
        extractor_.ExtractAll();
        extractingAll_ = false;
        // Boxes the user chose not to see are at least counted.
        if (skipFailures_ && !closePending_)
            dialogs_.ShowMessage(
                this,
                failedInRun_ == 1
                    ? QStringLiteral("1 entry could not be extracted.")
                    : QStringLiteral("%1 entries could not be extracted.").arg(failedInRun_),
                QStringLiteral("Error!"));
    });
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
    RunCommand([&] { extractor_.ExtractEntry(row); });
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_F1:
        OnHelp();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        accept(); // the dialog's OK: the window has no OK handler of its own
        return;
    case Qt::Key_Escape:
        reject();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
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
    // Refused while a command runs, so the cursor tells the user before anything is let go.
    if (!busy_ && !DroppedArchive(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainDialog::dropEvent(QDropEvent* event) {
    const QString path = DroppedArchive(event->mimeData());
    if (busy_ || path.isEmpty()) {
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
    return EntryList().InsertItem(text, image, level);
}

void MainDialog::SetEntryText(int index, int column, std::string_view text) {
    EntryList().SetItemText(index, column, text);
}

void MainDialog::SetRange(std::uint32_t upper) {
    progress_->SetRange(upper);
}

void MainDialog::SetPosition(std::uint32_t position) {
    progress_->SetPosition(position);
}
