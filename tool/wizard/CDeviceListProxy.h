#pragma once

#include <QSortFilterProxyModel>

#include "tool/wizard/CDeviceListModel.h"

// Which rows of a device list are shown.
enum class EListFilter {
    All,
    Failed,      // rows whose device ended in failure in the last job
    Unfinished,  // checked rows whose device has not ended in the last job or was not in it
};

// The order and the choice of rows a device list view shows over its CDeviceListModel, which
// keeps registration order: a column sorted by its texts, host names with their numbers taken
// as numbers ("device-2" before "device-10"); the outcome column (progress and results) by how
// far each device got: failed, not in the job, running by percentage, ended well. Rows of equal
// rank keep registration order. Rows follow their changes at once: a row that fails during a job
// leaves "Unfinished" and joins "Failed" when the model reports it.
class CDeviceListProxy : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit CDeviceListProxy(CDeviceListModel& rows, QObject* parent = nullptr);

    void SetFilter(EListFilter filter);
    EListFilter Filter() const { return m_filter; }
    // The column that sorts by outcome; -1 for none.
    void SetOutcomeColumn(int column) { m_nOutcomeColumn = column; }

    // Negative, zero or positive as left sorts before, with or after right: runs of digits
    // compare as numbers, everything else without regard to case.
    static int CompareNaturally(const QString& left, const QString& right);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    CDeviceListModel& m_rows;
    EListFilter m_filter = EListFilter::All;
    int m_nOutcomeColumn = -1;
};
