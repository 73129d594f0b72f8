#include "tool/wizard/CDeviceListView.h"

#include <QHeaderView>

#include <algorithm>

namespace {

// The check state last reported, so that changes of texts are not taken for check changes.
constexpr int kReportedCheckRole = Qt::UserRole + 1;

}  // namespace

CDeviceListView::CDeviceListView(QWidget* parent) : QTreeWidget(parent) {
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
    connect(this, &QTreeWidget::itemChanged, this, &CDeviceListView::OnItemChanged);
}

void CDeviceListView::SetColumns(const QStringList& titles, const std::vector<int>& widths) {
    setColumnCount(static_cast<int>(titles.size()));
    setHeaderLabels(titles);
    for (std::size_t i = 0; i < widths.size(); ++i) {
        setColumnWidth(static_cast<int>(i), widths[i]);
    }
}

int CDeviceListView::FindRow(const QString& text) const {
    // Host names are keyed exactly by the engine, so the list matches them exactly too: one row
    // per registered device, in registration order.
    for (int row = 0; row < RowCount(); ++row) {
        if (topLevelItem(row)->text(0) == text) {
            return row;
        }
    }
    return -1;
}

void CDeviceListView::InsertRow(int index, const QStringList& texts) {
    auto* item = new QTreeWidgetItem(texts);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                   Qt::ItemNeverHasChildren);
    item->setCheckState(0, Qt::Unchecked);
    item->setData(0, kReportedCheckRole, false);
    insertTopLevelItem(std::clamp(index, 0, RowCount()), item);
}

QString CDeviceListView::Text(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr ? item->text(column) : QString();
}

void CDeviceListView::SetText(int row, int column, const QString& text) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        item->setText(column, text);
    }
}

bool CDeviceListView::IsChecked(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr && item->checkState(0) == Qt::Checked;
}

void CDeviceListView::SetChecked(int row, bool checked) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
}

int CDeviceListView::FirstCheckedRow() const {
    for (int row = 0; row < RowCount(); ++row) {
        if (IsChecked(row)) {
            return row;
        }
    }
    return -1;
}

void CDeviceListView::OnItemChanged(QTreeWidgetItem* item, int column) {
    if (column != 0) {
        return;
    }
    const bool checked = item->checkState(0) == Qt::Checked;
    if (item->data(0, kReportedCheckRole).toBool() == checked) {
        return;
    }
    // Storing the new state changes the item again; that nested notification sees no change.
    item->setData(0, kReportedCheckRole, checked);
    emit checkChanged(indexOfTopLevelItem(item), checked);
}
