// The main window: menu, entry list, progress bar and banner, and the commands that drive the
// archive reader and extraction. The whole program is this one modal dialog.
#pragma once

#include "CommandInput.h"
#include "DatArchive.h"
#include "EntryFinder.h"
#include "Extraction.h"
#include "ParallelExtraction.h"
#include "ProgressBarSink.h"
#include "Sinks.h"
#include "UserDialogs.h"

#include <QAction>
#include <QDialog>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QRect>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct stat;
class QAction;
class QDropEvent;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QMimeData;
class QProgressBar;
class PreviewWindow;
class TreeListCtrl;

namespace Ui {
class MainDialog;
}

// Texts from the archive side as the window shows them: messages, paths and the system's reasons
// in the locale's encoding; names inside archives as Latin-1.
QString FromArchiveText(std::string_view text);
QString FromEntryName(std::string_view name);
QString FromEntryName(QByteArrayView name);

class MainDialog : public QDialog, private MessageSink, private ListSink, private ProgressSink {
    Q_OBJECT

public:
    // Command identifiers of the menu.
    enum Command {
        OpenCommand = 32771,
        ExitCommand = 2,
        ExtractAllCommand = 32773,
        InfoCommand = 32775,
        AboutCommand = 32774,
        // Beyond the original menu; their numbers only tell the actions apart.
        ExtractSelectedToCommand = 32776,
        ExtractAllToCommand = 32777,
        PreviewCommand = 32778,
        OpenEntryCommand = 32779,
        CopyNameCommand = 32780,
        FoldersCommand = 32781,
        FindCommand = 32782
    };
    // The folder view's picture of a folder, after the twelve file-type pictures.
    static constexpr int kFolderPicture = 12;

    explicit MainDialog(UserDialogs& dialogs, QWidget* parent = nullptr);
    ~MainDialog() override;

    QAction* CommandAction(Command command) const;
    TreeListCtrl& EntryList() const;
    QProgressBar& ProgressBar() const;
    const DatArchive& Archive() const { return archive_; }
    DatArchive& Archive() { return archive_; }
    const QString& LastChosenPath() const { return lastChosenPath_; }
    QMenuBar& MenuBar() const { return *menuBar_; }

    void OnOpen();
    // Opens path as the Open command does once its dialog has given a path: the start-up
    // argument and a dropped file come in here.
    void OpenArchive(const QString& path);
    void OnExtractAll();
    void OnInfo();
    void OnAbout();
    void OnHelp();
    void OnEntryDoubleClicked(int row);

    // The selection's commands. A folder row stands for every entry beneath it.
    void OnExtractSelectedTo();
    void OnExtractAllTo();
    void OnPreview();
    void OnOpenEntry();
    void OnCopyName();
    // The folder view on or off (the flat list of the design is the default).
    void SetFolderView(bool on);
    bool FolderView() const { return folderView_; }
    // The find bar: shown by Ctrl+F; closing it (Esc) shows every row again.
    void ShowFind();
    void CloseFind();
    QWidget& FindBar() const { return *findBar_; }
    QLineEdit& FindText() const { return *findText_; }
    QLabel& FindCount() const { return *findCount_; }
    // The menu a right click on the rows opens.
    QMenu& RowMenu() const { return *rowMenu_; }
    // Made on the first Preview; null before.
    PreviewWindow* Preview() const { return preview_; }

    // The entry a row shows, or -1 for a folder row or no row.
    int EntryOfRow(int row) const;
    // The entries rows stand for, in directory order, each once.
    std::vector<std::uint32_t> EntriesOfRows(const std::vector<int>& rows) const;
    // What dragging the selected rows out carries: the entries written into a new private
    // temporary folder and their files' (or a folder row's folder's) URLs. Null when nothing
    // was written.
    QMimeData* MakeDragData();
    // The private folder that Open and drags write into, made on first use and removed when
    // the window ends; empty before.
    const std::string& TemporaryFolder() const { return temporaryRoot_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // MessageSink: the window's own message box.
    void ShowMessage(std::string_view text, std::string_view caption) override;
    // During Extract All the user may go on, skip all further boxes of the run, or stop it.
    FailureAnswer ReportFailure(const FailureReport& failure) override;
    // ListSink: the entry list.
    int AddEntry(std::string_view text, int image, int level) override;
    void SetEntryText(int index, int column, std::string_view text) override;
    // ProgressSink: the progress bar, through a sink that paints only what changes.
    void SetRange(std::uint32_t upper) override;
    void SetPosition(std::uint32_t position) override;

    // Runs a command to completion; a close asked for meanwhile stops it at the next entry and
    // is carried out after it.
    void RunCommand(const std::function<void()>& command);
    void AskToClose();
    void BuildMenu();
    void SetUpList();
    // The designed client area stretched to size: the list takes what is added or taken away,
    // the progress bar and the banner keep their heights at the foot.
    void LayOutClient(QSize size);
    void FitNameColumn();

    // What identifies the archive file as it was read: another file at its path, or the same
    // file rewritten, differs in one of these.
    struct FileIdentity {
        bool exists = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedSec = 0, modifiedNsec = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    static FileIdentity IdentityOf(const struct stat& st);
    FileIdentity IdentityAtPath() const;
    // Watches the archive just opened (or the path that failed to open) and its folder.
    void WatchArchive();
    // True, after reading the archive again, when its file is no longer the one that was read:
    // the caller's command must not go on with rows of the old directory.
    bool RereadIfChanged();

    // A drag from this window (rows dragged out and back), or of a file it wrote for one.
    bool IsOwnDrop(const QDropEvent& event, const QString& path) const;
    // A menu item for command, its text as given (no mnemonic), calling slot.
    template <typename Slot>
    QAction* AddCommand(QMenu* menu, const char* text, Command command, Slot slot,
                        const QKeySequence& shortcut) {
        QAction* action = menu->addAction(QString::fromLatin1(text));
        action->setData(int(command));
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, slot);
        return action;
    }
    void BuildExtractMenuTail(QMenu* extract);
    // The first of the window's actions and menu items wanted says yes to.
    QAction* FindAction(const std::function<bool(const QAction&)>& wanted) const;
    void BuildFindBar();
    // Fills the list from the archive's entries, flat or in folders.
    void FillList();
    int EntryOfRecord(int record) const {
        return folderView_ ? recordEntry_[std::size_t(record)] : record;
    }
    // The whole stored name a row stands for: an entry's, or a folder row's path.
    std::string FullNameOfRow(int row) const;
    // The names the find bar looks through, read once per archive.
    void ReadNamesForFind();
    // Runs the find bar's text over the rows, keeping the selection where rows stay.
    void ApplyFind();
    std::vector<int> SelectedRecords() const;
    void SelectRecords(const std::vector<int>& records);
    // Selects the entry named so, if it has a row; false when none.
    bool SelectEntryNamed(std::string_view name);
    void PreviewCurrentRow();
    // Asks where and, when files are in the way, whether to replace them; then writes.
    void ExtractEntriesTo(const std::vector<std::uint32_t>& entries);
    // Writes entries beneath folder on every core with Extract All's progress and failure
    // boxes; report hears of each entry. Runs inside a command.
    ExtractSummary RunJob(const std::string& folder, std::span<const std::uint32_t> entries,
                          bool keepExisting, const EntryReport& report = {});
    void ShowSkippedCount();
    // A new folder inside the private temporary folder, or empty (told) when it cannot be made.
    std::string NewTemporaryFolder();
    // Writes the rows' entries into a new temporary folder; the paths to hand over for the
    // rows, each once (a row beneath a folder row is in its folder already).
    std::vector<std::string> TemporaryCopies(const std::vector<int>& rows);

    UserDialogs& dialogs_;
    std::unique_ptr<Ui::MainDialog> ui_;
    QWidget* client_ = nullptr;
    // Where the client area's widgets sit in the designed size.
    QRect designedList_, designedBar_, designedBanner_;

    QMenuBar* menuBar_ = nullptr;
    std::unique_ptr<CommandInput> input_;
    std::unique_ptr<ProgressBarSink> progress_;
    DatArchive archive_;
    Extractor extractor_;
    QString lastChosenPath_;
    // The archive last opened (even when that failed), as watched; empty before the first.
    QString archivePath_;
    FileIdentity archiveIdentity_;
    QFileSystemWatcher* watcher_ = nullptr;
    // Changes come in bursts (a copy writes many pieces); they are looked at once it settles.
    QTimer changeSettled_;
    QIcon icon_;
    // While a command runs the window still paints; this keeps it from ending meanwhile.
    bool busy_ = false;
    bool closePending_ = false;
    // Set to end the running command at the next entry (Esc, the close box).
    std::atomic<bool> stop_{false};
    // Extract All's failure boxes: what the user chose so far in this run.
    bool extractingAll_ = false;
    bool skipFailures_ = false;
    std::uint32_t failedInRun_ = 0;

    bool folderView_ = false;
    // Folder view: the entry each record shows, -1 for a folder; and each entry's record.
    std::vector<std::int32_t> recordEntry_;
    std::vector<std::int32_t> entryRecord_;
    int loadedEntries_ = 0;
    QAction* foldersAction_ = nullptr;
    QMenu* rowMenu_ = nullptr;
    QWidget* findBar_ = nullptr;
    QLineEdit* findText_ = nullptr;
    QLabel* findCount_ = nullptr;
    EntryFinder finder_;
    std::uint64_t finderOpenCount_ = 0;
    PreviewWindow* preview_ = nullptr;
    EntryWriter previewWriter_;
    // What the preview shows: the archive's opening and the entry. The rows are rebuilt and the
    // current row set again on every keystroke in the find bar; the entry is not decoded again.
    std::pair<std::uint64_t, int> previewShows_{0, -1};
    // Where Extract ... To last wrote, until the window ends.
    QString extractFolder_;
    std::string temporaryRoot_;
    unsigned temporarySerial_ = 0;
};
