// The main window's commands on a selection of rows: extracting them to a folder of the user's
// choice, the preview, opening and dragging out through a private temporary folder, copying
// names; and the find bar and the folder view that decide which rows there are.
#include "MainDialog.h"

#include "EntryPath.h"
#include "FolderTree.h"
#include "PreviewWindow.h"
#include "Resources.h"
#include "TreeListCtrl.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// How many of entries would meet a file already in folder: asked once, before writing. A folder
// that is not there holds nothing, so its entries cost no look of their own: extracting into a
// new folder looks once per top folder, not once per entry.
std::size_t CountInTheWay(const DatArchive& archive, const std::string& folder,
                          std::span<const std::uint32_t> entries) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return 0; // the run itself says why it cannot write there
    std::unordered_map<std::string, bool> folderThere;
    auto isFolder = [&](const std::string& path) {
        const auto [at, added] = folderThere.try_emplace(path, false);
        if (added) {
            struct stat st {};
            at->second =
                ::fstatat(dir, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        return at->second;
    };
    std::size_t found = 0;
    for (const std::uint32_t entry : entries) {
        const std::optional<EntryPath> path = ParseEntryPath(archive.EntryName(entry));
        if (!path)
            continue;
        bool reachable = true;
        for (std::size_t i = 0; i < path->folderEnds.size() && reachable; ++i)
            reachable = isFolder(std::string(path->Folder(i)));
        struct stat st {};
        if (reachable && ::fstatat(dir, path->relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISDIR(st.st_mode))
            ++found;
    }
    ::close(dir);
    return found;
}

// The file-type pictures with the folder's after them.
QPixmap PicturesWithFolder() {
    const QPixmap types = FileTypeBitmap();
    QPixmap strip(types.width() + kPictureWidth, types.height());
    strip.fill(QColor::fromRgb(kFileTypeMaskColour));
    QPainter painter(&strip);
    painter.drawPixmap(0, 0, types);
    painter.drawPixmap(types.width(), 0, FolderBitmap());
    return strip;
}
} // namespace

void MainDialog::BuildExtractMenuTail(QMenu* extract) {
    const auto add = [this](QMenu* menu, const char* text, Command command, auto slot,
                            QKeySequence shortcut = {}) {
        return AddCommand(menu, text, command, slot, shortcut);
    };
    extract->addSeparator();
    rowMenu_ = new QMenu(this);
    QAction* actions[] = {
        add(extract, "Extract Selected To...", ExtractSelectedToCommand,
            &MainDialog::OnExtractSelectedTo),
        add(extract, "Extract All To...", ExtractAllToCommand, &MainDialog::OnExtractAllTo),
        add(extract, "Preview", PreviewCommand, &MainDialog::OnPreview,
            QKeySequence(Qt::Key_Space)),
        add(extract, "Open", OpenEntryCommand, &MainDialog::OnOpenEntry),
        add(extract, "Copy Name", CopyNameCommand, &MainDialog::OnCopyName),
    };
    rowMenu_->addActions({std::begin(actions), std::end(actions)});
    // Space previews from the list alone: in the find bar it is a character to find.
    QAction* preview = actions[2];
    preview->setShortcutContext(Qt::WidgetShortcut);
    EntryList().addAction(preview);

    QMenu* view = menuBar_->addMenu(QStringLiteral("View"));
    foldersAction_ = add(view, "Folders", FoldersCommand, &MainDialog::SetFolderView);
    foldersAction_->setCheckable(true);

    // Ctrl+F has no menu item: the design's menus stay as they were.
    auto* find = new QAction(QStringLiteral("Find"), this);
    find->setData(int(FindCommand));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, &MainDialog::ShowFind);
    addAction(find);
}

void MainDialog::BuildFindBar() {
    findBar_ = new QWidget(client_);
    findBar_->setObjectName(QStringLiteral("findBar"));
    auto* layout = new QHBoxLayout(findBar_);
    layout->setContentsMargins(2, 2, 2, 2);
    findText_ = new QLineEdit(findBar_);
    findText_->setPlaceholderText(QStringLiteral("Find (text, or a pattern with * ? [)"));
    findText_->setClearButtonEnabled(true);
    findCount_ = new QLabel(findBar_);
    auto* close = new QToolButton(findBar_);
    close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    close->setToolTip(QStringLiteral("Close (Esc)"));
    close->setAutoRaise(true);
    layout->addWidget(findText_, 1);
    layout->addWidget(findCount_);
    layout->addWidget(close);
    connect(findText_, &QLineEdit::textChanged, this, [this] { ApplyFind(); });
    connect(findText_, &QLineEdit::returnPressed, this, [this] { EntryList().setFocus(); });
    connect(close, &QToolButton::clicked, this, &MainDialog::CloseFind);
    findBar_->hide();
}

void MainDialog::ReadNamesForFind() {
    const std::size_t count = archive_.Entries().size();
    if (finderOpenCount_ != archive_.OpenCount() || finder_.Count() != count) {
        finder_.SetNames(count,
                         [this](std::size_t i) { return archive_.EntryName(std::uint32_t(i)); });
        finderOpenCount_ = archive_.OpenCount();
    }
}

void MainDialog::ShowFind() {
    if (findBar_->isHidden()) {
        // Read as the bar opens, so the first keystroke costs no more than the others.
        ReadNamesForFind();
        findBar_->show();
        LayOutClient(client_->size());
        ApplyFind();
    }
    findText_->setFocus();
    findText_->selectAll();
}

void MainDialog::CloseFind() {
    if (findBar_->isHidden())
        return;
    findBar_->hide();
    LayOutClient(client_->size());
    ApplyFind();
    EntryList().setFocus();
}

std::vector<int> MainDialog::SelectedRecords() const {
    const TreeListCtrl& list = EntryList();
    std::vector<int> records;
    for (const int row : list.selectedRows())
        if (const int record = list.ItemOfRow(row); record >= 0)
            records.push_back(record);
    return records;
}

void MainDialog::SelectRecords(const std::vector<int>& records) {
    TreeListCtrl& list = EntryList();
    std::vector<int> rows;
    rows.reserve(records.size());
    for (const int record : records)
        if (const int row = list.RowOfItem(record); row >= 0)
            rows.push_back(row);
    list.selectRows(rows);
    if (!rows.empty()) {
        list.selectionModel()->setCurrentIndex(list.model()->index(rows.front(), 0),
                                               QItemSelectionModel::NoUpdate);
        list.scrollTo(list.model()->index(rows.front(), 0));
    }
}

void MainDialog::ApplyFind() {
    TreeListCtrl& list = EntryList();
    const QString text = findBar_->isHidden() ? QString() : findText_->text();
    const std::vector<int> selected = SelectedRecords();
    if (text.isEmpty()) {
        findCount_->clear();
        if (list.HasFilter()) {
            list.SetFilter({});
            SelectRecords(selected);
        }
        return;
    }
    const auto entries = archive_.Entries();
    ReadNamesForFind();
    // Names are Latin-1, so a character beyond it is in no name.
    std::vector<std::uint8_t> keepEntries;
    std::size_t found = 0;
    const bool latin1 =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    if (latin1) {
        const QByteArray bytes = text.toLatin1();
        found = finder_.Find(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                             keepEntries);
    } else {
        keepEntries.assign(entries.size(), 0);
    }
    findCount_->setText(QStringLiteral("%1 of %2").arg(found).arg(entries.size()));

    if (!folderView_) {
        list.SetFilter(std::move(keepEntries));
    } else {
        // A folder stays when anything beneath it does, and opens to show it. Records come
        // depth-first, so walking them backwards meets a folder's contents before the folder.
        const int count = list.ItemCount();
        std::vector<std::uint8_t> keep(std::size_t(count), 0);
        std::vector<std::uint8_t> anyBelow;
        for (int record = count - 1; record >= 0; --record) {
            const auto level = std::size_t(std::max(0, list.ItemLevel(record)));
            if (anyBelow.size() < level + 2)
                anyBelow.resize(level + 2, 0);
            const int entry = recordEntry_[std::size_t(record)];
            std::uint8_t kept;
            if (entry >= 0) {
                kept = keepEntries[std::size_t(entry)];
            } else {
                kept = anyBelow[level + 1];
                anyBelow[level + 1] = 0;
                if (kept)
                    list.SetCollapsed(record, false);
            }
            keep[std::size_t(record)] = kept;
            anyBelow[level] = std::uint8_t(anyBelow[level] | kept);
        }
        list.SetFilter(std::move(keep));
    }
    SelectRecords(selected);
}

void MainDialog::SetFolderView(bool on) {
    foldersAction_->setChecked(on);
    if (folderView_ == on)
        return;
    // The entries selected stay selected in the other view, where they have rows.
    std::vector<std::uint32_t> selected;
    for (const int row : EntryList().selectedRows())
        if (const int entry = EntryOfRow(row); entry >= 0)
            selected.push_back(std::uint32_t(entry));
    folderView_ = on;
    FillList();
    std::vector<int> records;
    TreeListCtrl& list = EntryList();
    for (const std::uint32_t entry : selected) {
        const int record = folderView_ ? entryRecord_[entry] : int(entry);
        // Its folders open, so the first one selected can be seen.
        if (folderView_ && records.empty()) {
            std::vector<int> folders;
            for (int r = record - 1, level = list.ItemLevel(record); r >= 0 && level > 0; --r)
                if (list.ItemLevel(r) < level) {
                    folders.push_back(r);
                    level = list.ItemLevel(r);
                }
            for (const int folder : folders)
                list.SetCollapsed(folder, false);
            if (!folders.empty())
                list.RebuildRows();
        }
        records.push_back(record);
    }
    if (!findBar_->isHidden())
        ApplyFind();
    SelectRecords(records);
}

void MainDialog::FillList() {
    TreeListCtrl& list = EntryList();
    list.DeleteAllItems();
    recordEntry_.clear();
    entryRecord_.clear();
    list.SetStateBitmap(folderView_ ? TreeStatePicturesBitmap() : StatePicturesBitmap());
    list.SetBlankLeafStates(folderView_);
    list.setSmallImages(folderView_ ? PicturesWithFolder() : FileTypeBitmap(),
                        QColor::fromRgb(kFileTypeMaskColour));
    const auto entries = archive_.Entries();
    auto name = [this](std::size_t i) { return archive_.EntryName(std::uint32_t(i)); };
    list.setRedraw(false);
    if (!folderView_) {
        for (std::uint32_t i = 0; i < entries.size(); ++i) {
            const int record = list.InsertItem(name(i), DatArchive::ClassifyName(name(i)), 0);
            list.SetItemText(record, 1, SizeText(entries[i].entry).View());
        }
    } else {
        const std::vector<FolderRecord> records = BuildFolderTree(entries.size(), name);
        recordEntry_.reserve(records.size());
        entryRecord_.assign(entries.size(), -1);
        for (const FolderRecord& r : records) {
            const int image =
                r.entry < 0 ? kFolderPicture : DatArchive::ClassifyName(name(std::size_t(r.entry)));
            const int record = list.InsertItem(r.label, image, r.level);
            recordEntry_.push_back(r.entry);
            if (r.entry >= 0) {
                entryRecord_[std::size_t(r.entry)] = record;
                list.SetItemText(record, 1, SizeText(entries[std::size_t(r.entry)].entry).View());
            }
        }
    }
    list.setRedraw(true);
}

int MainDialog::EntryOfRow(int row) const {
    const int record = EntryList().ItemOfRow(row);
    return record >= 0 ? EntryOfRecord(record) : -1;
}

std::vector<std::uint32_t> MainDialog::EntriesOfRows(const std::vector<int>& rows) const {
    const TreeListCtrl& list = EntryList();
    std::vector<std::uint32_t> entries;
    for (const int row : rows) {
        const int record = list.ItemOfRow(row);
        if (record < 0)
            continue;
        if (const int entry = EntryOfRecord(record); entry >= 0) {
            entries.push_back(std::uint32_t(entry));
            continue;
        }
        // A folder: everything beneath it, whether or not its rows are shown.
        for (int below = record + 1, end = list.SubtreeEnd(record); below < end; ++below)
            if (const int entry = recordEntry_[std::size_t(below)]; entry >= 0)
                entries.push_back(std::uint32_t(entry));
    }
    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    return entries;
}

std::string MainDialog::FullNameOfRow(int row) const {
    const TreeListCtrl& list = EntryList();
    const int record = list.ItemOfRow(row);
    if (record < 0)
        return {};
    if (const int entry = EntryOfRecord(record); entry >= 0)
        return std::string(archive_.EntryName(std::uint32_t(entry)));
    // A folder's path is the start of the names beneath it, up to its own level's separator.
    const std::vector<std::uint32_t> beneath = EntriesOfRows({row});
    if (beneath.empty())
        return {};
    const std::string_view name = archive_.EntryName(beneath.front());
    std::size_t end = std::string_view::npos;
    for (int level = 0, start = 0; level <= list.ItemLevel(record); ++level) {
        end = name.find('\\', std::size_t(start));
        if (end == std::string_view::npos)
            break;
        start = int(end) + 1;
    }
    return std::string(name.substr(0, end));
}

bool MainDialog::SelectEntryNamed(std::string_view name) {
    const auto entries = archive_.Entries();
    for (std::uint32_t i = 0; i < entries.size(); ++i)
        if (archive_.EntryName(i) == name) {
            const int row = EntryList().RowOfItem(folderView_ ? entryRecord_[i] : int(i));
            if (row < 0)
                return false;
            EntryList().selectAndFocusRow(row);
            EntryList().scrollTo(EntryList().model()->index(row, 0));
            return true;
        }
    return false;
}

void MainDialog::OnExtractSelectedTo() {
    if (busy_ || RereadIfChanged())
        return;
    ExtractEntriesTo(EntriesOfRows(EntryList().selectedRows()));
}

void MainDialog::OnExtractAllTo() {
    if (busy_ || RereadIfChanged())
        return;
    std::vector<std::uint32_t> all(archive_.Entries().size());
    for (std::uint32_t i = 0; i < all.size(); ++i)
        all[i] = i;
    ExtractEntriesTo(all);
}

void MainDialog::ExtractEntriesTo(const std::vector<std::uint32_t>& entries) {
    if (!archive_.IsOpen() || entries.empty())
        return;
    const QString start =
        extractFolder_.isEmpty() ? QFileInfo(archivePath_).absolutePath() : extractFolder_;
    const QString chosen = dialogs_.ChooseFolder(this, start);
    if (chosen.isEmpty())
        return;
    extractFolder_ = chosen;
    const std::string folder = QFile::encodeName(chosen).toStdString();
    bool keep = false;
    if (const std::size_t inTheWay = CountInTheWay(archive_, folder, entries); inTheWay > 0) {
        const QString text =
            (inTheWay == 1 ? QStringLiteral("A file is already there with the name of 1 entry.")
                           : QStringLiteral("Files are already there with the names of %1 "
                                            "entries.")
                                 .arg(inTheWay)) +
            QStringLiteral("\nReplace them, keep the existing files, or cancel?");
        switch (dialogs_.AskExistingFiles(this, text)) {
        case ExistingFilesAnswer::Cancel:
            return;
        case ExistingFilesAnswer::KeepExisting:
            keep = true;
            break;
        case ExistingFilesAnswer::Replace:
            break;
        }
    }
    RunCommand([&] { RunJob(folder, entries, keep); });
}

ExtractSummary MainDialog::RunJob(const std::string& folder, std::span<const std::uint32_t> entries,
                                  bool keepExisting, const EntryReport& report) {
    Destination destination;
    if (!destination.Open(folder)) {
        const int error = errno;
        dialogs_.ShowFailure(
            this, QString::fromLatin1(kExtractFailedText), QString::fromLatin1(kErrorCaption),
            FromArchiveText(folder) + '\n' + FromArchiveText(std::strerror(error)), false);
        ExtractSummary none;
        none.notWritten = std::uint32_t(entries.size());
        return none;
    }
    destination.SetKeepExisting(keepExisting);
    destination.ProtectArchive(archive_.FileDescriptor());
    const auto count = std::uint32_t(entries.size());
    progress_->SetRange(count);
    progress_->SetPosition(0);
    extractingAll_ = true;
    skipFailures_ = false;
    failedInRun_ = 0;
    const ExtractSummary summary = extractor_.ExtractInto(destination, entries, report);
    extractingAll_ = false;
    // As Extract All: a run that ended leaves the bar empty, one that stopped where it got to.
    if (summary.Total() == count && summary.stopped == 0) {
        progress_->SetRange(std::uint32_t(archive_.Entries().size()));
        progress_->SetPosition(0);
    }
    ShowSkippedCount();
    return summary;
}

void MainDialog::OnPreview() {
    if (busy_)
        return;
    if (!preview_) {
        preview_ = new PreviewWindow(dialogs_, this);
        // The list keeps the keyboard, so the arrows go on choosing what the preview shows.
        preview_->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    preview_->SetSaveFolder(QFileInfo(archivePath_).absolutePath());
    preview_->show();
    preview_->raise();
    PreviewCurrentRow();
}

void MainDialog::PreviewCurrentRow() {
    if (!preview_ || preview_->isHidden() || busy_)
        return;
    TreeListCtrl& list = EntryList();
    int row = list.currentIndex().row();
    if (row < 0 || !list.selectionModel()->isRowSelected(row))
        row = list.firstSelectedRow();
    const int entry = EntryOfRow(row);
    if (entry < 0)
        return; // a folder row or none: the preview keeps what it shows
    const std::pair<std::uint64_t, int> shows{archive_.OpenCount(), entry};
    if (shows == previewShows_)
        return;
    previewShows_ = shows;
    // The rows are the directory of the file held open, which the preview reads.
    preview_->ShowEntry(archive_, std::uint32_t(entry), previewWriter_);
}

std::string MainDialog::NewTemporaryFolder() {
    auto fail = [this](const std::string& what) {
        const int error = errno;
        dialogs_.ShowFailure(
            this, QString::fromLatin1(kExtractFailedText), QString::fromLatin1(kErrorCaption),
            FromArchiveText(what) + '\n' + FromArchiveText(std::strerror(error)), false);
        return std::string();
    };
    if (temporaryRoot_.empty()) {
        // mkdtemp makes it 0700: what is extracted for the desktop is this user's alone.
        std::string pattern =
            QFile::encodeName(QDir::tempPath()).toStdString() + "/velmorquin-extractor-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return fail(pattern);
        temporaryRoot_ = pattern;
    }
    // One folder per Open or drag: a file an application still has open is never replaced.
    const std::string folder = temporaryRoot_ + "/" + std::to_string(++temporarySerial_);
    if (::mkdir(folder.c_str(), 0700) != 0)
        return fail(folder);
    return folder;
}

std::vector<std::string> MainDialog::TemporaryCopies(const std::vector<int>& rows) {
    std::vector<std::string> paths;
    if (!archive_.IsOpen() || RereadIfChanged())
        return paths;
    const std::vector<std::uint32_t> entries = EntriesOfRows(rows);
    if (entries.empty())
        return paths;
    const std::string folder = NewTemporaryFolder();
    if (folder.empty())
        return paths;
    std::vector<std::uint8_t> written(archive_.Entries().size(), 0);
    RunCommand([&] {
        RunJob(folder, entries, false, [&](std::size_t, std::uint32_t index, const EntryResult& r) {
            written[index] = r.outcome == EntryOutcome::Written;
        });
    });
    const TreeListCtrl& list = EntryList();
    for (const int row : rows) {
        const int record = list.ItemOfRow(row);
        if (record < 0)
            continue;
        std::optional<EntryPath> path;
        std::string relative;
        if (const int entry = EntryOfRecord(record); entry >= 0) {
            if (written[std::size_t(entry)] &&
                (path = ParseEntryPath(archive_.EntryName(std::uint32_t(entry)))))
                relative = path->relative;
        } else {
            // The folder as written: taken from an entry beneath it that was.
            const auto level = std::size_t(list.ItemLevel(record));
            for (const std::uint32_t entry : EntriesOfRows({row}))
                if (written[entry] && (path = ParseEntryPath(archive_.EntryName(entry))) &&
                    path->folderEnds.size() > level) {
                    relative = std::string(path->Folder(level));
                    break;
                }
        }
        if (relative.empty())
            continue;
        std::string full = folder + "/" + relative;
        // Within a folder already handed over, it goes along with it.
        const bool inside = std::any_of(paths.begin(), paths.end(), [&](const std::string& p) {
            return full == p ||
                   (full.size() > p.size() && full.starts_with(p) && full[p.size()] == '/');
        });
        if (!inside)
            paths.push_back(std::move(full));
    }
    return paths;
}

void MainDialog::OnOpenEntry() {
    if (busy_)
        return;
    const int row = EntryList().firstSelectedRow();
    if (row < 0)
        return;
    for (const std::string& path : TemporaryCopies({row}))
        dialogs_.OpenWithDesktop(QUrl::fromLocalFile(QFile::decodeName(path.c_str())));
}

QMimeData* MainDialog::MakeDragData() {
    const std::vector<std::string> paths = TemporaryCopies(EntryList().selectedRows());
    if (paths.empty())
        return nullptr;
    QList<QUrl> urls;
    for (const std::string& path : paths)
        urls << QUrl::fromLocalFile(QFile::decodeName(path.c_str()));
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void MainDialog::OnCopyName() {
    QStringList names;
    for (const int row : EntryList().selectedRows())
        names << FromEntryName(std::string_view(FullNameOfRow(row)));
    if (!names.isEmpty())
        QApplication::clipboard()->setText(names.join(u'\n'));
}
