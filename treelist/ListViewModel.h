// The row model behind ListView. It keeps the list's rows in order and serves them to Qt's views.
//
// Rows added in a run (a whole archive directory, or the children shown by an expansion) are not
// announced to the view one by one: a run of adjacent insertions, or of deletions at one place,
// is held back as one pending block and announced in a single beginInsertRows/beginRemoveRows when
// the event loop next runs, or at once when anything else needs the view in step. The list side
// (the list* functions, used by ListView) always sees every row; the Qt side (rowCount, data)
// always sees exactly what has been announced, so both stay consistent at every moment.
#pragma once

#include "PackedTexts.h"

#include <QAbstractTableModel>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <vector>

struct ListRow {
    qint32 itemValue = 0;
    qint32 indent = 0;
    qint32 smallPicture = -1;
    quint8 statePicture = 0;
    PackedTexts texts; // unused while a text source supplies the texts
};

class ListViewModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    // Supplies a row's text by its item value; the view is read at once and not kept.
    using TextSource = std::function<QByteArrayView(qint32 itemValue, int column)>;
    // Turns a row's bytes into the text shown; Latin-1 unless set.
    using TextDecoder = QString (*)(QByteArrayView text);

    explicit ListViewModel(QObject* parent = nullptr);

    // Qt side: the rows announced so far.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    const ListRow& rowAt(const QModelIndex& index) const;

    // List side: every row, announced or not.
    int listRowCount() const;
    const ListRow& listRow(int row) const;
    QByteArrayView listRowText(int row, int column) const;
    int insertListRow(int row, ListRow&& data);
    // Inserts rows as one block before row (appended when past the end); returns where.
    int insertListRows(int row, std::vector<ListRow>&& rows);
    bool removeListRow(int row);
    void clearListRows();
    bool setListRowText(int row, int column, QByteArrayView text);
    bool setListRowStatePicture(int row, int picture);

    int insertListColumn(int column, const QString& text, Qt::Alignment alignment);
    Qt::Alignment columnAlignment(int column) const;

    void setTextSource(TextSource source);
    bool hasTextSource() const { return bool(m_textSource); }
    void setTextDecoder(TextDecoder decoder);

    // Announces the pending block, if any; afterwards list rows and Qt rows are the same.
    void flush();

private:
    enum class Pending { None, Insert, Remove };
    struct Column {
        QString text;
        Qt::Alignment alignment;
    };

    QByteArrayView textOf(const ListRow& row, int column) const;
    int listToStorage(int row) const;
    int qtToStorage(int row) const;
    // The Qt row of a storage row outside the pending block.
    int storageToQt(int row) const;
    bool knownToQt(int storageRow) const;
    void rowChanged(int storageRow, int firstColumn, int lastColumn);
    void scheduleFlush();

    // Storage holds the list rows and, while a removal is pending, the removed rows too: an
    // Insert block is rows the view has not been told of, a Remove block rows it still shows.
    std::vector<ListRow> m_rows;
    std::vector<Column> m_columns;
    TextSource m_textSource;
    TextDecoder m_decode = [](QByteArrayView text) { return QString::fromLatin1(text); };
    Pending m_pending = Pending::None;
    int m_pendingRow = 0;
    int m_pendingCount = 0;
    bool m_flushScheduled = false;
};
