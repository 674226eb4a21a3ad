// The tree list control; see TreeListCtrl.h.
#include "TreeListCtrl.h"

#include <QImage>
#include <QKeyEvent>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

constexpr int kCollapsedPicture = 1;
constexpr int kExpandedPicture = 2;
const QColor kStateMask(255, 0, 0);

QByteArrayView bytes(std::string_view text) {
    return QByteArrayView(text.data(), qsizetype(text.size()));
}

} // namespace

TreeListCtrl::TreeListCtrl(QWidget* parent) : ListView(parent) {
    setExtendedStyle(GridLines | FullRowSelect);
    // Both state pictures are wholly the mask colour: the state area is there to be clicked,
    // not seen.
    QImage blank(2 * kPictureSize, kPictureSize, QImage::Format_RGB32);
    blank.fill(kStateMask);
    m_stateImages = QPixmap::fromImage(blank);
    setStateImages(m_stateImages, kStateMask);
    // Rows keep no texts of their own; they are read from the records, which hold them anyway.
    setTextSource([this](qint32 item, int column) -> QByteArrayView {
        if (item < 0 || std::size_t(item) >= m_items.size() || column < 0)
            return {};
        return bytes(m_items[std::size_t(item)].texts[std::size_t(column)]);
    });
}

TreeListCtrl::~TreeListCtrl() = default;

void TreeListCtrl::SetStateBitmap(const QPixmap& strip) {
    // Without state pictures the state area would vanish and clicks would miss it.
    if (strip.isNull())
        return;
    m_stateImages = strip;
    setStateImages(m_stateImages, kStateMask);
}

int TreeListCtrl::InsertItem(std::string_view text, int image, int level) {
    const int item = int(m_items.size());
    TreeListItem record;
    record.level = level;
    record.image = image;
    record.texts = PackedTexts(std::size_t(std::max(columnCount(), 1)), text);
    record.collapsed = 1;
    m_items.push_back(std::move(record));
    if (level == 0)
        insertRow(item, bytes(text), image, 0, item, kCollapsedPicture);
    return item;
}

void TreeListCtrl::SetItemText(int item, int column, std::string_view text) {
    if (item < 0 || std::size_t(item) >= m_items.size())
        throw std::out_of_range("TreeListCtrl::SetItemText: no record " + std::to_string(item));
    if (column < 0)
        return;
    m_items[std::size_t(item)].texts.set(std::size_t(column), text);
    const int row = RowOfItem(item);
    if (row >= 0)
        setRowText(row, column, bytes(text));
}

void TreeListCtrl::DeleteAllItems() {
    std::vector<TreeListItem>().swap(m_items);
    m_keep.clear();
    deleteAllRows();
}

int TreeListCtrl::InsertItemRow(int row, int item, const TreeListItem& record) {
    const int inserted = insertRow(row, bytes(record.texts[0]), record.image, record.level, item,
                                   StatePictureOf(item));
    for (std::size_t column = 1; column < record.texts.size(); ++column)
        setRowText(inserted, int(column), bytes(record.texts[column]));
    return inserted;
}

int TreeListCtrl::StatePictureOf(int item) const {
    const TreeListItem& record = m_items[std::size_t(item)];
    if (m_blankLeaves && (std::size_t(item) + 1 >= m_items.size() ||
                          m_items[std::size_t(item) + 1].level <= record.level))
        return 0;
    return record.collapsed ? kCollapsedPicture : kExpandedPicture;
}

ListRow TreeListCtrl::RowOf(int item) const {
    // The texts come from the record through the text source.
    const TreeListItem& record = m_items[std::size_t(item)];
    ListRow row;
    row.itemValue = item;
    row.indent = record.level;
    row.smallPicture = record.image;
    row.statePicture = quint8(StatePictureOf(item));
    return row;
}

int TreeListCtrl::ExpandItem(int item, bool all, int& row) {
    // The rows go in as one block at the running position: a folder of many thousand records
    // then costs one move of the rows below it, not one per record.
    std::vector<ListRow> rows;
    const int next = GatherSubtree(item, all, rows);
    ++row;
    const int count = int(rows.size());
    insertRows(row, std::move(rows));
    row += count;
    return next;
}

int TreeListCtrl::GatherSubtree(int item, bool all, std::vector<ListRow>& rows) {
    const int count = int(m_items.size());
    m_items[std::size_t(item)].collapsed = 0;
    // Levels of the expanded records whose children are being shown, innermost last. A stack
    // of our own rather than recursion, so a long chain of nested records cannot exhaust the
    // call stack.
    std::vector<std::int32_t> open{m_items[std::size_t(item)].level};
    int next = item + 1;
    for (;;) {
        while (!open.empty() && (next >= count || m_items[std::size_t(next)].level <= open.back()))
            open.pop_back();
        if (open.empty())
            return next;
        TreeListItem& child = m_items[std::size_t(next)];
        const std::int32_t level = child.level;
        if (!Kept(next)) {
            // Left out by the filter, with everything beneath it.
            ++next;
            while (next < count && m_items[std::size_t(next)].level > level)
                ++next;
            continue;
        }
        if (all)
            child.collapsed = 0;
        rows.push_back(RowOf(next));
        if (!child.collapsed) {
            open.push_back(level);
            ++next;
        } else {
            // Hidden descendants take no rows.
            ++next;
            while (next < count && m_items[std::size_t(next)].level > level)
                ++next;
        }
    }
}

int TreeListCtrl::SubtreeEnd(int item) const {
    const int count = int(m_items.size());
    const std::int32_t level = m_items[std::size_t(item)].level;
    int next = item + 1;
    while (next < count && m_items[std::size_t(next)].level > level)
        ++next;
    return next;
}

void TreeListCtrl::SetFilter(std::vector<std::uint8_t> keep) {
    m_keep = std::move(keep);
    RebuildRows();
}

void TreeListCtrl::SetBlankLeafStates(bool blank) {
    m_blankLeaves = blank;
}

void TreeListCtrl::RebuildRows() {
    setRedraw(false);
    deleteAllRows();
    std::vector<ListRow> rows;
    const int count = int(m_items.size());
    for (int item = 0; item < count;) {
        if (m_items[std::size_t(item)].level != 0 || !Kept(item)) {
            item = SubtreeEnd(item);
            continue;
        }
        rows.push_back(RowOf(item));
        item = m_items[std::size_t(item)].collapsed ? SubtreeEnd(item)
                                                    : GatherSubtree(item, false, rows);
    }
    insertRows(0, std::move(rows));
    setRedraw(true);
}

void TreeListCtrl::ToggleRow(int row) {
    const int item = ItemOfRow(row);
    if (item < 0)
        return;
    if (m_items[std::size_t(item)].collapsed)
        ExpandRow(row, false);
    else
        CollapseRow(row);
}

void TreeListCtrl::CollapseItem(int item, int row) {
    TreeListItem& record = m_items[std::size_t(item)];
    record.collapsed = 1;
    setRedraw(false);
    // Descendants keep their own flags, so expanding again shows what was open before.
    for (int below = row + 1; below < rowCount();) {
        const int shown = ItemOfRow(below);
        if (shown < 0 || m_items[std::size_t(shown)].level <= record.level)
            break;
        deleteRow(below);
    }
    setRedraw(true);
}

void TreeListCtrl::ExpandRow(int row, bool all) {
    const int item = ItemOfRow(row);
    if (item < 0)
        return;
    setRedraw(false);
    int next = row;
    ExpandItem(item, all, next);
    setRedraw(true);
    setStatePicture(row, StatePictureOf(item));
}

void TreeListCtrl::CollapseRow(int row) {
    const int item = ItemOfRow(row);
    if (item < 0)
        return;
    setRedraw(false);
    CollapseItem(item, row);
    setRedraw(true);
    setStatePicture(row, StatePictureOf(item));
}

void TreeListCtrl::OnClick(int row, const QPoint& point) {
    if (row < 0)
        return;
    const QRect picture = smallPictureRect(row);
    if (point.x() >= picture.left())
        return;
    const int item = ItemOfRow(row);
    if (item < 0)
        return;
    // The state area ends where the picture begins and starts 16 px earlier, where the indent
    // ends. Measured from the picture, not from x = 0, it stays under the mouse when the list is
    // scrolled sideways.
    if (point.x() <= picture.left() - kPictureSize)
        return;
    if (m_items[std::size_t(item)].collapsed)
        ExpandRow(row, false);
    else
        CollapseRow(row);
}

bool TreeListCtrl::OnKeyDown(const QKeyEvent& event) {
    enum class Key { Left, Right, Add, Subtract };
    Key key;
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    switch (event.key()) {
    case Qt::Key_Left:
        key = Key::Left;
        break;
    case Qt::Key_Right:
        key = Key::Right;
        break;
    case Qt::Key_Plus:
        if (!keypad)
            return false;
        key = Key::Add;
        break;
    case Qt::Key_Minus:
        if (!keypad)
            return false;
        key = Key::Subtract;
        break;
    default:
        return false;
    }

    const int row = firstSelectedRow();
    if (row < 0)
        return false;
    const int item = ItemOfRow(row);
    if (item < 0)
        return true;
    const bool collapsed = m_items[std::size_t(item)].collapsed != 0;

    switch (key) {
    case Key::Left:
        if (!collapsed) {
            CollapseRow(row);
        } else if (const int parent = ParentOf(item); parent >= 0) {
            if (const int parentRow = RowOfItem(parent); parentRow >= 0)
                selectAndFocusRow(parentRow);
        }
        break;
    case Key::Right:
        if (collapsed) {
            ExpandRow(row, false);
        } else if (std::size_t(item) + 1 < m_items.size() &&
                   m_items[std::size_t(item) + 1].level > m_items[std::size_t(item)].level &&
                   ItemOfRow(row + 1) == item + 1) {
            // Only when the first child has its row: one added after the expansion has none yet,
            // and the row below would then be some other record.
            selectAndFocusRow(row + 1);
        }
        break;
    case Key::Add:
        if (collapsed)
            ExpandRow(row, false);
        break;
    case Key::Subtract:
        if (!collapsed)
            CollapseRow(row);
        break;
    }
    return true;
}

void TreeListCtrl::OnChar(QChar ch) {
    if (ch != QLatin1Char('*'))
        return;
    const int row = firstSelectedRow();
    if (row < 0)
        return;
    const int item = ItemOfRow(row);
    if (item >= 0 && m_items[std::size_t(item)].collapsed)
        ExpandRow(row, true);
}

void TreeListCtrl::rowClickEvent(int row, const QPoint& pos) {
    OnClick(row, pos);
}

bool TreeListCtrl::keyDownEvent(QKeyEvent* event) {
    return OnKeyDown(*event);
}

bool TreeListCtrl::charEvent(QChar ch) {
    OnChar(ch);
    // The list's own handling of the character runs in every case, "*" included.
    return false;
}

int TreeListCtrl::RowOfItem(int item) const {
    const int rows = rowCount();
    if (item < 0 || rows == 0)
        return -1;
    if (item < rows && rowItemValue(item) == item)
        return item; // always so in a flat list
    // Rows show records in record order, so item values rise down the list, and a record's row
    // index is never above its record index.
    int low = 0;
    int high = std::min(item, rows - 1);
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const qint32 value = rowItemValue(middle);
        if (value == item)
            return middle;
        if (value < item)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

int TreeListCtrl::ItemOfRow(int row) const {
    if (row < 0 || row >= rowCount())
        return -1;
    const qint32 item = rowItemValue(row);
    return item >= 0 && std::size_t(item) < m_items.size() ? item : -1;
}

int TreeListCtrl::ParentOf(int item) const {
    const std::int32_t level = m_items[std::size_t(item)].level;
    for (int earlier = item - 1; earlier >= 0; --earlier)
        if (m_items[std::size_t(earlier)].level < level)
            return earlier;
    return -1;
}
