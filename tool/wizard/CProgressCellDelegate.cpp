#include "tool/wizard/CProgressCellDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include "tool/wizard/CDeviceListModel.h"

CProgressCellDelegate::CProgressCellDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

int CProgressCellDelegate::BarWidth(const QStyleOptionViewItem& option) {
    return option.fontMetrics.horizontalAdvance(QStringLiteral("100%")) * 3;
}

int CProgressCellDelegate::Spacing(const QStyleOptionViewItem& option) {
    return option.fontMetrics.horizontalAdvance(QLatin1Char(' ')) * 2;
}

void CProgressCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    const QVariant percentage = index.data(CDeviceListModel::kProgressRole);
    if (!percentage.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    // The row's background and selection, without the text: the bar and the step replace it.
    item.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const QRect cell = option.rect.adjusted(2, 2, -2, -2);
    QStyleOptionProgressBar bar;
    bar.initFrom(widget);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.rect =
        QRect(cell.topLeft(), QSize(std::min(BarWidth(option), cell.width()), cell.height()));
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percentage.toInt();
    bar.text = CDeviceListModel::PercentText(bar.progress);
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);

    const QString detail = index.data(CDeviceListModel::kProgressDetailRole).toString();
    const QRect textRect = cell.adjusted(bar.rect.width() + Spacing(option), 0, 0, 0);
    if (detail.isEmpty() || textRect.width() <= 0) {
        return;
    }
    const QPalette::ColorRole role =
        (option.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
    painter->save();
    painter->setPen(option.palette.color(role));
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                      option.fontMetrics.elidedText(detail, Qt::ElideRight, textRect.width()));
    painter->restore();
}

QSize CProgressCellDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (!index.data(CDeviceListModel::kProgressRole).isValid()) {
        return size;
    }
    const QString detail = index.data(CDeviceListModel::kProgressDetailRole).toString();
    const int width =
        4 + BarWidth(option) + Spacing(option) + option.fontMetrics.horizontalAdvance(detail);
    size.setWidth(width);
    return size;
}
