// Row storage and batched announcement for ListView; see ListViewModel.h.
#include "ListViewModel.h"

#include <QMetaObject>
#include <QStringList>

#include <algorithm>
#include <iterator>

ListViewModel::ListViewModel(QObject* parent) : QAbstractTableModel(parent) {}

int ListViewModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    const int stored = int(m_rows.size());
    return m_pending == Pending::Insert ? stored - m_pendingCount : stored;
}

int ListViewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant ListViewModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        // Texts are bytes in no known encoding; the owner says how to read them.
        return m_decode(textOf(rowAt(index), index.column()));
    case Qt::ToolTipRole: {
        // The whole row, one column a line: a long name is cut short in its column, and rows
        // that differ only at the end of their names would otherwise look alike.
        QStringList lines;
        for (int column = 0; column < columnCount(); ++column)
            lines << m_decode(textOf(rowAt(index), column));
        return lines.join(u'\n');
    }
    case Qt::TextAlignmentRole:
        return int(columnAlignment(index.column()) | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ListViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= int(m_columns.size()))
        return {};
    if (role == Qt::DisplayRole)
        return m_columns[section].text;
    if (role == Qt::TextAlignmentRole)
        return int(m_columns[section].alignment | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags ListViewModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

const ListRow& ListViewModel::rowAt(const QModelIndex& index) const {
    return m_rows[qtToStorage(index.row())];
}

int ListViewModel::listRowCount() const {
    const int stored = int(m_rows.size());
    return m_pending == Pending::Remove ? stored - m_pendingCount : stored;
}

const ListRow& ListViewModel::listRow(int row) const {
    return m_rows[listToStorage(row)];
}

QByteArrayView ListViewModel::listRowText(int row, int column) const {
    if (row < 0 || row >= listRowCount() || column < 0)
        return {};
    return textOf(listRow(row), column);
}

int ListViewModel::insertListRow(int row, ListRow&& data) {
    std::vector<ListRow> rows;
    rows.push_back(std::move(data));
    return insertListRows(row, std::move(rows));
}

int ListViewModel::insertListRows(int row, std::vector<ListRow>&& rows) {
    if (row < 0)
        return -1;
    row = std::min(row, listRowCount());
    if (rows.empty())
        return row;
    if (m_pending == Pending::Remove ||
        (m_pending == Pending::Insert &&
         (row < m_pendingRow || row > m_pendingRow + m_pendingCount)))
        flush();

    // No Remove block is pending here, so list rows and storage rows coincide. A block goes in
    // with one move of the rows after it, however many it holds.
    const int count = int(rows.size());
    m_rows.insert(m_rows.begin() + row, std::make_move_iterator(rows.begin()),
                  std::make_move_iterator(rows.end()));
    if (m_pending == Pending::Insert) {
        m_pendingCount += count;
    } else {
        m_pending = Pending::Insert;
        m_pendingRow = row;
        m_pendingCount = count;
        scheduleFlush();
    }
    return row;
}

bool ListViewModel::removeListRow(int row) {
    if (row < 0 || row >= listRowCount())
        return false;
    if (m_pending == Pending::Insert) {
        if (row >= m_pendingRow && row < m_pendingRow + m_pendingCount) {
            // Never announced, so the view need not hear of it at all.
            m_rows.erase(m_rows.begin() + row);
            if (--m_pendingCount == 0)
                m_pending = Pending::None;
            return true;
        }
        flush();
    } else if (m_pending == Pending::Remove) {
        // The removed rows stay in storage until the flush, which erases them in one go; a
        // deletion next to the block just widens it.
        if (row == m_pendingRow) {
            ++m_pendingCount;
            return true;
        }
        if (row == m_pendingRow - 1) {
            --m_pendingRow;
            ++m_pendingCount;
            return true;
        }
        flush();
    }
    m_pending = Pending::Remove;
    m_pendingRow = row;
    m_pendingCount = 1;
    scheduleFlush();
    return true;
}

void ListViewModel::clearListRows() {
    beginResetModel();
    std::vector<ListRow>().swap(m_rows);
    m_pending = Pending::None;
    m_pendingCount = 0;
    endResetModel();
}

bool ListViewModel::setListRowText(int row, int column, QByteArrayView text) {
    if (row < 0 || row >= listRowCount() || column < 0 || column >= int(m_columns.size()))
        return false;
    const int stored = listToStorage(row);
    if (!m_textSource)
        m_rows[stored].texts.set(std::size_t(column),
                                 std::string_view(text.data(), std::size_t(text.size())));
    rowChanged(stored, column, column);
    return true;
}

bool ListViewModel::setListRowStatePicture(int row, int picture) {
    // Four bits of state picture, as a list's item state has room for.
    if (row < 0 || row >= listRowCount() || picture < 0 || picture > 15)
        return false;
    const int stored = listToStorage(row);
    m_rows[stored].statePicture = quint8(picture);
    rowChanged(stored, 0, 0);
    return true;
}

int ListViewModel::insertListColumn(int column, const QString& text, Qt::Alignment alignment) {
    if (column < 0)
        return -1;
    column = std::min(column, int(m_columns.size()));
    flush();
    beginInsertColumns(QModelIndex(), column, column);
    m_columns.insert(m_columns.begin() + column, Column{text, alignment});
    if (!m_textSource) {
        for (ListRow& row : m_rows)
            if (row.texts.size() > std::size_t(column))
                row.texts.insert(std::size_t(column), {});
    }
    endInsertColumns();
    return column;
}

Qt::Alignment ListViewModel::columnAlignment(int column) const {
    if (column < 0 || column >= int(m_columns.size()))
        return Qt::AlignLeft;
    return m_columns[column].alignment & Qt::AlignHorizontal_Mask;
}

void ListViewModel::setTextSource(TextSource source) {
    beginResetModel();
    m_textSource = std::move(source);
    endResetModel();
}

void ListViewModel::setTextDecoder(TextDecoder decoder) {
    beginResetModel();
    m_decode = decoder;
    endResetModel();
}

void ListViewModel::flush() {
    const int first = m_pendingRow;
    const int last = m_pendingRow + m_pendingCount - 1;
    if (m_pending == Pending::Insert) {
        beginInsertRows(QModelIndex(), first, last);
        m_pending = Pending::None;
        endInsertRows();
    } else if (m_pending == Pending::Remove) {
        beginRemoveRows(QModelIndex(), first, last);
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        m_pending = Pending::None;
        endRemoveRows();
    }
    m_pendingCount = 0;
}

QByteArrayView ListViewModel::textOf(const ListRow& row, int column) const {
    if (m_textSource)
        return m_textSource(row.itemValue, column);
    const std::string_view text = row.texts[std::size_t(column)];
    return QByteArrayView(text.data(), qsizetype(text.size()));
}

int ListViewModel::listToStorage(int row) const {
    return m_pending == Pending::Remove && row >= m_pendingRow ? row + m_pendingCount : row;
}

int ListViewModel::qtToStorage(int row) const {
    return m_pending == Pending::Insert && row >= m_pendingRow ? row + m_pendingCount : row;
}

int ListViewModel::storageToQt(int row) const {
    return m_pending == Pending::Insert && row >= m_pendingRow + m_pendingCount
               ? row - m_pendingCount
               : row;
}

bool ListViewModel::knownToQt(int storageRow) const {
    return !(m_pending == Pending::Insert && storageRow >= m_pendingRow &&
             storageRow < m_pendingRow + m_pendingCount);
}

void ListViewModel::rowChanged(int storageRow, int firstColumn, int lastColumn) {
    if (!knownToQt(storageRow))
        return;
    const int row = storageToQt(storageRow);
    emit dataChanged(index(row, firstColumn), index(row, lastColumn));
}

void ListViewModel::scheduleFlush() {
    if (m_flushScheduled)
        return;
    m_flushScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_flushScheduled = false;
            flush();
        },
        Qt::QueuedConnection);
}
