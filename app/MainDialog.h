// The main window: menu, entry list, progress bar and banner, and the commands that drive the
// archive reader and extraction. The whole program is this one modal dialog.
#pragma once

#include "CommandInput.h"
#include "DatArchive.h"
#include "Extraction.h"
#include "ProgressBarSink.h"
#include "Sinks.h"
#include "UserDialogs.h"

#include <QDialog>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

struct stat;
class QAction;
class QFileSystemWatcher;
class QMenuBar;
class QProgressBar;
class TreeListCtrl;

namespace Ui {
class MainDialog;
}

class MainDialog : public QDialog, private MessageSink, private ListSink, private ProgressSink {
    Q_OBJECT

public:
    // Command identifiers of the menu.
    enum Command {
        OpenCommand = 32771,
        ExitCommand = 2,
        ExtractAllCommand = 32773,
        InfoCommand = 32775,
        AboutCommand = 32774
    };

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
};
