// ListView: a report-style list on QTableView. Rows in order, each with one text per header
// column, a small picture, a state picture, an indent in 16-px levels and a 32-bit item value;
// full-row selection (single unless the owner asks for extended), optional grid lines, pictures cut
// from strip pixmaps. Clicks, key presses and characters reach a derived control through virtual
// hooks before the list's own handling; a double click, and Enter on the selected row, go out as
// signals.
#pragma once

#include "ListViewModel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QPixmap>
#include <QTableView>

#include <functional>
#include <vector>

class QMimeData;

class ListView : public QTableView {
    Q_OBJECT

public:
    enum ExtendedStyle {
        NoExtendedStyle = 0x00,
        GridLines = 0x01,
        FullRowSelect = 0x20,
    };
    Q_DECLARE_FLAGS(ExtendedStyles, ExtendedStyle)

    using TextSource = ListViewModel::TextSource;

    // Width of one picture, and of one level of indent.
    static constexpr int kPictureSize = 16;

    explicit ListView(QWidget* parent = nullptr);
    ~ListView() override;

    // Columns. A column past the end is appended; the result is its index, or -1.
    int insertColumn(int column, const QString& text, int width,
                     Qt::Alignment alignment = Qt::AlignLeft);
    int columnCount() const;

    // Rows. insertRow appends when row is past the end and returns the row's index, or -1.
    // Texts are bytes, shown as Latin-1.
    int insertRow(int row, QByteArrayView text, int smallPicture = -1, int indent = 0,
                  qint32 itemValue = 0, int statePicture = 0);
    // Inserts rows as one block before row (appended past the end); their texts are taken only
    // when the list has no text source. Returns where they went, or -1.
    int insertRows(int row, std::vector<ListRow>&& rows);
    bool setRowText(int row, int column, QByteArrayView text);
    QByteArray rowText(int row, int column) const;
    bool deleteRow(int row);
    void deleteAllRows();
    int rowCount() const;
    qint32 rowItemValue(int row) const;
    int rowIndent(int row) const;
    int rowSmallPicture(int row) const;
    // The first row after start (-1: from the top) whose item value is value, or -1.
    int findRowByItemValue(qint32 value, int start = -1) const;

    // State picture 0 is none; 1 and up index the state pictures from the first.
    bool setStatePicture(int row, int picture);
    int statePicture(int row) const;

    int firstSelectedRow() const;
    // Every selected row, top to bottom.
    std::vector<int> selectedRows() const;
    // Selects exactly rows (ascending), leaving the current row where it is.
    void selectRows(const std::vector<int>& rows);
    // Selects row alone and makes it current without scrolling it into view: the keys move the
    // selection, in an extended-selection list as in a single one.
    void selectAndFocusRow(int row);
    // Where a row's small picture is drawn, in viewport coordinates (the coordinates that
    // rowClickEvent receives); an empty rect for no such row.
    QRect smallPictureRect(int row) const;

    // With redraw off the list changes without repainting; switching it on repaints once.
    void setRedraw(bool on);

    // Replaces all extended styles with styles.
    void setExtendedStyle(ExtendedStyles styles);

    // Picture lists from a strip of 16-px pictures side by side; pixels of the mask colour are
    // transparent. The list keeps its own copy. A null strip removes the list.
    void setSmallImages(const QPixmap& strip, const QColor& mask);
    void setStateImages(const QPixmap& strip, const QColor& mask);

    // Hands the row texts to source, looked up by item value: rows then keep no texts, and
    // setRowText only repaints the cell, the caller having updated the source already.
    void setTextSource(TextSource source);
    // How row texts, which are bytes, are read for display (Latin-1 unless set).
    void setTextDecoder(ListViewModel::TextDecoder decoder);

    // Lets rows be dragged out: source makes what the drag carries (null: no drag), as a copy.
    // The list itself never takes a drop.
    void setDragSource(std::function<QMimeData*()> source);

signals:
    // row is -1 for a double click away from every row.
    void rowDoubleClicked(int row);
    // Enter or keypad Enter on the selected row, as item views activate a row.
    void rowActivated(int row);

protected:
    // A left click (press and release), row -1 when away from every row, pos in viewport
    // coordinates. Only a derived control hears of it.
    virtual void rowClickEvent(int row, const QPoint& pos);
    // Return true to take the key: the list's own handling is then skipped.
    virtual bool keyDownEvent(QKeyEvent* event);
    // Each character a key press types, after keyDownEvent; true takes the key press.
    virtual bool charEvent(QChar ch);

    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void changeEvent(QEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    friend class ListViewDelegate;

    static std::vector<QPixmap> cutStrip(const QPixmap& strip, const QColor& mask);
    void keepSelectionColours();
    void updateRowHeight();

    ListViewModel* m_model;
    std::vector<QPixmap> m_smallPictures;
    std::vector<QPixmap> m_statePictures;
    ExtendedStyles m_styles = NoExtendedStyle;
    bool m_leftPressed = false;
    bool m_adjustingPalette = false;
    std::function<QMimeData*()> m_dragSource;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ListView::ExtendedStyles)
