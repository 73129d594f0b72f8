#include "tool/wizard/CDeviceListView.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QToolTip>

#include <algorithm>

#include "tool/wizard/CProgressCellDelegate.h"

CDeviceListView::CDeviceListView(QWidget* parent)
    : QTreeView(parent), m_rows(this), m_shown(m_rows, this) {
    setModel(&m_shown);
    setItemDelegate(new CProgressCellDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(true);
    // Registration order until a title is clicked; a third click on it returns to that order.
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    header()->setSortIndicatorClearable(true);
    setSortingEnabled(true);
    connect(&m_rows, &CDeviceListModel::checkChanged, this, &CDeviceListView::checkChanged);
}

void CDeviceListView::SetColumns(const QStringList& titles, const std::vector<int>& widths) {
    m_rows.SetColumnTitles(titles);
    m_shown.SetOutcomeColumn(static_cast<int>(titles.size()) - 1);
    for (std::size_t i = 0; i < widths.size(); ++i) {
        setColumnWidth(static_cast<int>(i), widths[i]);
    }
}

void CDeviceListView::FitColumnsToContents() {
    const int last = m_rows.columnCount() - 1;
    if (last < 0) {
        return;
    }
    std::vector<int> widths;
    int total = 0;
    for (int column = 0; column < last; ++column) {
        resizeColumnToContents(column);
        widths.push_back(columnWidth(column));
        total += widths.back();
    }
    // The last column (progress and results) stays in view: the widest columns give up what
    // it needs, down to their titles' width; their cut cells show the full text as tooltips.
    const int lastNeeds =
        std::max(header()->sectionSizeHint(last), viewport()->width() * kLastColumnShare / 100);
    int excess = total - (viewport()->width() - lastNeeds);
    while (excess > 0) {
        const auto widest = std::max_element(widths.begin(), widths.end());
        const int column = static_cast<int>(widest - widths.begin());
        const int cut = std::min(excess, *widest - header()->sectionSizeHint(column));
        if (cut <= 0) {
            break;
        }
        *widest -= cut;
        excess -= cut;
        setColumnWidth(column, *widest);
    }
}

void CDeviceListView::InsertRow(int index, const QStringList& texts,
                                talbo::tesk::vorta::CDevInfoIF* device) {
    std::vector<CDeviceListModel::SRow> rows(1);
    rows.front().texts = texts;
    rows.front().device = device;
    m_rows.InsertRows(index, std::move(rows));
}

int CDeviceListView::FirstCheckedRow() const {
    for (int row = 0; row < RowCount(); ++row) {
        if (IsChecked(row)) {
            return row;
        }
    }
    return -1;
}

bool CDeviceListView::SelectRow(int row) {
    const QModelIndex index = ViewIndex(row, 0);
    if (!index.isValid()) {
        return false;
    }
    setCurrentIndex(index);
    scrollTo(index, QAbstractItemView::EnsureVisible);
    return true;
}

int CDeviceListView::CurrentRow() const {
    return ModelRow(currentIndex());
}

QModelIndex CDeviceListView::ViewIndex(int row, int column) const {
    return m_shown.mapFromSource(m_rows.index(row, column));
}

int CDeviceListView::ModelRow(const QModelIndex& viewIndex) const {
    const QModelIndex source = m_shown.mapToSource(viewIndex);
    return source.isValid() ? source.row() : -1;
}

QString CDeviceListView::CellToolTip(int row, int column) const {
    const QModelIndex index = ViewIndex(row, column);
    if (!index.isValid()) {
        return {};
    }
    const QRect shown = visualRect(index);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = shown;
    const int needed = itemDelegateForIndex(index)->sizeHint(option, index).width();
    // A cell scrolled out of view is not cut; one narrower than its contents is.
    if (shown.isEmpty() || needed <= shown.width()) {
        return {};
    }
    return m_rows.Text(row, column);
}

bool CDeviceListView::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QTreeView::viewportEvent(event);
    }
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString tip = index.isValid() ? CellToolTip(ModelRow(index), index.column()) : QString();
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
    }
    return true;
}
