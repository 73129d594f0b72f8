#pragma once

#include <QStyledItemDelegate>

// Draws a cell that shows progress (CDeviceListModel::kProgressRole) as a progress bar with its
// percentage, followed by the description of the step; every other cell as usual.
class CProgressCellDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit CProgressCellDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    // Width of the bar: wide enough for "100%" with room to see the bar move.
    static int BarWidth(const QStyleOptionViewItem& option);
    static int Spacing(const QStyleOptionViewItem& option);
};
