// TreeListCtrl: a list that shows a hierarchy of records as indented rows, with expand and
// collapse by clicking a row's state area (the 16 px between its indent and its picture), by
// Left, Right, keypad Plus and keypad Minus, and "*" to expand a whole subtree.
//
// The hierarchy is carried by the order of the records alone: records come in depth-first
// order, a record's descendants being the records that directly follow it with a greater level.
// Level-0 records get a row when added; deeper ones only when an expansion reaches them.
#pragma once

#include "ListView.h"
#include "PackedTexts.h"

#include <QPixmap>

#include <cstdint>
#include <string_view>
#include <vector>

struct TreeListItem {
    std::int32_t level = 0;
    std::int32_t image = 0;
    PackedTexts texts; // one per column at the time the record was added; 0 is the label
    std::uint8_t collapsed = 1;
};

class TreeListCtrl : public ListView {
    Q_OBJECT

public:
    explicit TreeListCtrl(QWidget* parent = nullptr);
    ~TreeListCtrl() override;

    // Adds a record after all others and returns its index. Columns must exist by now.
    int InsertItem(std::string_view text, int image, int level);
    // Throws std::out_of_range, changing nothing, when item is not a record index.
    void SetItemText(int item, int column, std::string_view text);
    void DeleteAllItems();

    // Replaces the state pictures: collapsed on the left, expanded on the right, 16 px each,
    // red (255, 0, 0) being transparent. The control starts with an all-red strip of its own.
    void SetStateBitmap(const QPixmap& strip);

    // The records, for a host that maps rows back to what they stand for.
    int ItemCount() const { return int(m_items.size()); }
    int ItemLevel(int item) const { return m_items[std::size_t(item)].level; }
    bool IsCollapsed(int item) const { return m_items[std::size_t(item)].collapsed != 0; }
    // The first record after item's descendants.
    int SubtreeEnd(int item) const;
    // The record a row shows, or -1; the row showing a record, or -1.
    int ItemOfRow(int row) const;
    int RowOfItem(int item) const;
    // Expands or collapses row as a click on its state area does.
    void ToggleRow(int row);
    // Sets a record's flag alone; its rows follow at the next RebuildRows.
    void SetCollapsed(int item, bool collapsed) {
        m_items[std::size_t(item)].collapsed = collapsed ? 1 : 0;
    }
    // Shows only records whose flag in keep is nonzero (one per record; records past its end and
    // an empty keep count as kept). A record left out takes its descendants with it, in
    // expansions too. The rows are built again from the records.
    void SetFilter(std::vector<std::uint8_t> keep);
    bool HasFilter() const { return !m_keep.empty(); }
    // Rows for every top-level record and, below each expanded one, its visible subtree, as
    // expansions would show them.
    void RebuildRows();
    // Records without descendants show no state picture (a tree's leaves: nothing to expand);
    // off, every row shows its record's flag.
    void SetBlankLeafStates(bool blank);

protected:
    int InsertItemRow(int row, int item, const TreeListItem& record);
    // Shows item's visible subtree below its row; row names that row on entry and the row after
    // the last one shown on return. Returns the first record after item's subtree.
    int ExpandItem(int item, bool all, int& row);
    void CollapseItem(int item, int row);

    void OnClick(int row, const QPoint& point);
    // True for the four keys it handles while a row is selected, whether or not they changed
    // anything: the list's own key handling must not see them then.
    bool OnKeyDown(const QKeyEvent& event);
    void OnChar(QChar ch);

    void rowClickEvent(int row, const QPoint& pos) override;
    bool keyDownEvent(QKeyEvent* event) override;
    bool charEvent(QChar ch) override;

    QPixmap m_stateImages;
    std::vector<TreeListItem> m_items;

private:
    void ExpandRow(int row, bool all);
    void CollapseRow(int row);
    int ParentOf(int item) const;
    bool Kept(int item) const {
        return std::size_t(item) >= m_keep.size() || m_keep[std::size_t(item)] != 0;
    }
    int StatePictureOf(int item) const;
    ListRow RowOf(int item) const;
    // Appends the rows of item's visible subtree (not item's own) to rows, as ExpandItem shows
    // them; returns the first record after item's subtree.
    int GatherSubtree(int item, bool all, std::vector<ListRow>& rows);

    std::vector<std::uint8_t> m_keep;
    bool m_blankLeaves = false;
};
