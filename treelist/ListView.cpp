// ListView on QTableView; see ListView.h.
#include "ListView.h"

#include <QApplication>
#include <QBitmap>
#include <QDrag>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

// Draws column 0 as a list does: indent, state picture, small picture, then the text.
class ListViewDelegate final : public QStyledItemDelegate {
public:
    explicit ListViewDelegate(ListView* view) : QStyledItemDelegate(view), m_view(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        if (!(m_view->m_styles & ListView::FullRowSelect) && index.column() != 0)
            opt.state &= ~QStyle::State_Selected;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();

        if (index.column() == 0) {
            const ListRow& row = m_view->m_model->rowAt(index);
            style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
            int x = opt.rect.left() + std::max(0, row.indent) * ListView::kPictureSize;
            const int y = opt.rect.top() + (opt.rect.height() - ListView::kPictureSize) / 2;
            painter->save();
            painter->setClipRect(opt.rect);
            // The areas stay reserved whenever the list has such pictures, so every row's text
            // starts where its click areas say it does.
            if (!m_view->m_statePictures.empty()) {
                drawPicture(painter, m_view->m_statePictures, row.statePicture - 1, x, y);
                x += ListView::kPictureSize;
            }
            if (!m_view->m_smallPictures.empty()) {
                drawPicture(painter, m_view->m_smallPictures, row.smallPicture, x, y);
                x += ListView::kPictureSize;
            }
            painter->restore();
            opt.rect.setLeft(x);
            if (opt.rect.width() <= 0)
                return;
        }
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    }

private:
    static void drawPicture(QPainter* painter, const std::vector<QPixmap>& pictures, int picture,
                            int x, int y) {
        if (picture >= 0 && picture < int(pictures.size()))
            painter->drawPixmap(x, y, pictures[std::size_t(picture)]);
    }

    ListView* m_view;
};

ListView::ListView(QWidget* parent) : QTableView(parent), m_model(new ListViewModel(this)) {
    setModel(m_model);
    setItemDelegate(new ListViewDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setShowGrid(false);
    setTextElideMode(Qt::ElideRight);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* columns = horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setSectionsMovable(false);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    updateRowHeight();
    keepSelectionColours();
}

ListView::~ListView() = default;

int ListView::insertColumn(int column, const QString& text, int width, Qt::Alignment alignment) {
    const int inserted = m_model->insertListColumn(column, text, alignment);
    if (inserted >= 0)
        horizontalHeader()->resizeSection(inserted, std::max(0, width));
    return inserted;
}

int ListView::columnCount() const {
    return m_model->columnCount();
}

int ListView::insertRow(int row, QByteArrayView text, int smallPicture, int indent,
                        qint32 itemValue, int statePicture) {
    ListRow data;
    data.itemValue = itemValue;
    data.indent = indent;
    data.smallPicture = smallPicture;
    data.statePicture = quint8(statePicture >= 0 && statePicture <= 15 ? statePicture : 0);
    if (!m_model->hasTextSource())
        data.texts = PackedTexts(1, std::string_view(text.data(), std::size_t(text.size())));
    return m_model->insertListRow(row, std::move(data));
}

int ListView::insertRows(int row, std::vector<ListRow>&& rows) {
    return m_model->insertListRows(row, std::move(rows));
}

bool ListView::setRowText(int row, int column, QByteArrayView text) {
    return m_model->setListRowText(row, column, text);
}

QByteArray ListView::rowText(int row, int column) const {
    const QByteArrayView text = m_model->listRowText(row, column);
    return QByteArray(text.data(), text.size());
}

bool ListView::deleteRow(int row) {
    return m_model->removeListRow(row);
}

void ListView::deleteAllRows() {
    m_model->clearListRows();
}

int ListView::rowCount() const {
    return m_model->listRowCount();
}

qint32 ListView::rowItemValue(int row) const {
    return row >= 0 && row < rowCount() ? m_model->listRow(row).itemValue : 0;
}

int ListView::rowIndent(int row) const {
    return row >= 0 && row < rowCount() ? m_model->listRow(row).indent : 0;
}

int ListView::rowSmallPicture(int row) const {
    return row >= 0 && row < rowCount() ? m_model->listRow(row).smallPicture : -1;
}

int ListView::findRowByItemValue(qint32 value, int start) const {
    const int rows = rowCount();
    for (int row = std::max(start + 1, 0); row < rows; ++row)
        if (m_model->listRow(row).itemValue == value)
            return row;
    return -1;
}

bool ListView::setStatePicture(int row, int picture) {
    return m_model->setListRowStatePicture(row, picture);
}

int ListView::statePicture(int row) const {
    return row >= 0 && row < rowCount() ? m_model->listRow(row).statePicture : 0;
}

int ListView::firstSelectedRow() const {
    // Selection lives in Qt's rows, so bring them in step with the list first.
    m_model->flush();
    int first = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        if (first < 0 || range.top() < first)
            first = range.top();
    return first;
}

void ListView::selectAndFocusRow(int row) {
    m_model->flush();
    if (row < 0 || row >= rowCount() || columnCount() == 0)
        return;
    // Making a row current scrolls to it when auto-scroll is on; this must not scroll.
    const bool autoScroll = hasAutoScroll();
    setAutoScroll(false);
    selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
    setAutoScroll(autoScroll);
}

std::vector<int> ListView::selectedRows() const {
    m_model->flush();
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void ListView::selectRows(const std::vector<int>& rows) {
    m_model->flush();
    const int lastColumn = columnCount() - 1;
    QItemSelection selection;
    // Runs of adjacent rows as one range each: a whole list selected is one range, not a
    // million.
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t end = i + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] + 1)
            ++end;
        if (rows[i] >= 0 && rows[end - 1] < rowCount() && lastColumn >= 0)
            selection.append(QItemSelectionRange(m_model->index(rows[i], 0),
                                                 m_model->index(rows[end - 1], lastColumn)));
        i = end;
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void ListView::setDragSource(std::function<QMimeData*()> source) {
    m_dragSource = std::move(source);
    setDragEnabled(bool(m_dragSource));
    setDragDropMode(m_dragSource ? QAbstractItemView::DragOnly : QAbstractItemView::NoDragDrop);
    setDefaultDropAction(Qt::CopyAction);
}

void ListView::startDrag(Qt::DropActions) {
    m_leftPressed = false; // the press became a drag, not a click
    if (!m_dragSource)
        return;
    QMimeData* data = m_dragSource();
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

QRect ListView::smallPictureRect(int row) const {
    m_model->flush();
    if (row < 0 || row >= rowCount() || columnCount() == 0)
        return {};
    const QRect cell = visualRect(m_model->index(row, 0));
    int x = cell.left() + std::max(0, rowIndent(row)) * kPictureSize;
    if (!m_statePictures.empty())
        x += kPictureSize;
    const int width = m_smallPictures.empty() ? 0 : kPictureSize;
    return QRect(x, cell.top(), width, cell.height());
}

void ListView::setRedraw(bool on) {
    setUpdatesEnabled(on);
    if (on)
        viewport()->update();
}

void ListView::setExtendedStyle(ExtendedStyles styles) {
    m_styles = styles;
    setShowGrid(styles.testFlag(GridLines));
    viewport()->update();
}

void ListView::setSmallImages(const QPixmap& strip, const QColor& mask) {
    m_smallPictures = cutStrip(strip, mask);
    viewport()->update();
}

void ListView::setStateImages(const QPixmap& strip, const QColor& mask) {
    m_statePictures = cutStrip(strip, mask);
    viewport()->update();
}

void ListView::setTextSource(TextSource source) {
    m_model->setTextSource(std::move(source));
}

void ListView::setTextDecoder(ListViewModel::TextDecoder decoder) {
    m_model->setTextDecoder(decoder);
}

void ListView::rowClickEvent(int, const QPoint&) {}

bool ListView::keyDownEvent(QKeyEvent*) {
    return false;
}

bool ListView::charEvent(QChar) {
    return false;
}

void ListView::keyPressEvent(QKeyEvent* event) {
    m_model->flush();
    if (keyDownEvent(event)) {
        event->accept();
        return;
    }
    bool taken = false;
    for (const QChar ch : event->text())
        taken = charEvent(ch) || taken;
    if (taken) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // With no row selected the key goes on to the window, as it does in Qt's item views.
        if (const int row = firstSelectedRow(); row >= 0) {
            event->accept();
            emit rowActivated(row);
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void ListView::mousePressEvent(QMouseEvent* event) {
    m_model->flush();
    if (event->button() == Qt::LeftButton)
        m_leftPressed = true;
    QTableView::mousePressEvent(event);
}

void ListView::mouseReleaseEvent(QMouseEvent* event) {
    m_model->flush();
    QTableView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !m_leftPressed)
        return;
    m_leftPressed = false;
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    rowClickEvent(index.isValid() ? index.row() : -1, pos);
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    m_model->flush();
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    emit rowDoubleClicked(index.isValid() ? index.row() : -1);
}

QModelIndex ListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    switch (cursorAction) {
    case MoveHome:
    case MoveEnd: {
        // A table goes to the first or last column here; a list goes to its first or last row.
        const int rows = m_model->rowCount();
        if (rows == 0)
            return {};
        const QModelIndex current = currentIndex();
        return m_model->index(cursorAction == MoveHome ? 0 : rows - 1,
                              current.isValid() ? current.column() : 0);
    }
    case MoveLeft:
    case MoveRight:
        // A list has no cells to step through sideways; the keys scroll it instead.
        horizontalScrollBar()->triggerAction(cursorAction == MoveLeft
                                                 ? QAbstractSlider::SliderSingleStepSub
                                                 : QAbstractSlider::SliderSingleStepAdd);
        return currentIndex();
    default:
        return QTableView::moveCursor(cursorAction, modifiers);
    }
}

void ListView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !m_adjustingPalette)
        keepSelectionColours();
    else if (event->type() == QEvent::FontChange)
        updateRowHeight();
}

std::vector<QPixmap> ListView::cutStrip(const QPixmap& strip, const QColor& mask) {
    std::vector<QPixmap> pictures;
    if (strip.isNull())
        return pictures;
    QPixmap masked = strip;
    masked.setMask(strip.createMaskFromColor(mask, Qt::MaskInColor));
    const int count = strip.width() / kPictureSize;
    pictures.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i)
        pictures.push_back(
            masked.copy(i * kPictureSize, 0, kPictureSize, std::min(strip.height(), kPictureSize)));
    return pictures;
}

void ListView::keepSelectionColours() {
    // The selected row stays marked while another control has the focus.
    QPalette colours = palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    m_adjustingPalette = true;
    setPalette(colours);
    m_adjustingPalette = false;
}

void ListView::updateRowHeight() {
    QHeaderView* rows = verticalHeader();
    const int height = std::max(kPictureSize + 1, fontMetrics().height() + 2);
    rows->setMinimumSectionSize(std::min(rows->minimumSectionSize(), height));
    rows->setDefaultSectionSize(height);
}
