#pragma once

#include <QTreeView>

#include <vector>

#include "tool/wizard/CDeviceListModel.h"
#include "tool/wizard/CDeviceListProxy.h"

// The device list of the device and update pages: one row per registered device, a check box in
// front of each row, whole-row single selection. Rows are only ever added. The rows live in a
// CDeviceListModel, so that a list of a whole site's fleet fills and updates in time.
//
// A click on a column title sorts the list by that column (ascending, descending, then back to
// registration order), and a filter may hide rows; both change only what the view shows. Every
// row number this class takes or gives is a row of the model (registration order), never a
// position in the view.
class CDeviceListView : public QTreeView {
    Q_OBJECT

public:
    explicit CDeviceListView(QWidget* parent = nullptr);

    // Column titles and initial widths in logical pixels; the last column takes what remains.
    void SetColumns(const QStringList& titles, const std::vector<int>& widths);
    // Sizes every column but the last (which takes what remains) to its contents, as far as
    // the last keeps a third of the width. Meant for moments when many rows have changed, not
    // for every poll.
    void FitColumnsToContents();
    // The width a column needs for its contents (what FitColumnsToContents gives it).
    using QTreeView::sizeHintForColumn;

    CDeviceListModel& Rows() { return m_rows; }
    const CDeviceListModel& Rows() const { return m_rows; }

    int RowCount() const { return m_rows.RowCount(); }
    // The row whose host name (column 0) is exactly text, or -1.
    int FindRow(const QString& text) const { return m_rows.FindRow(text); }
    // Inserts a row at index (clamped to the end) with the given texts; the row starts unchecked
    // and its insertion is no check change.
    void InsertRow(int index, const QStringList& texts,
                   talbo::tesk::vorta::CDevInfoIF* device = nullptr);

    QString Text(int row, int column) const { return m_rows.Text(row, column); }
    void SetText(int row, int column, const QString& text) { m_rows.SetText(row, column, text); }
    bool IsChecked(int row) const { return m_rows.IsChecked(row); }
    // Changes the check box; a real change is reported by checkChanged like a user's click.
    void SetChecked(int row, bool checked) { m_rows.SetChecked(row, checked); }
    // The first checked row in registration order (the view's order does not count), or -1.
    int FirstCheckedRow() const;
    // Makes row the current and selected one and scrolls it into view; false, and nothing
    // changed, when the filter hides the row.
    bool SelectRow(int row);
    // The row of the current index, or -1.
    int CurrentRow() const;

    // The view's index of a row's cell; invalid when the filter hides the row.
    QModelIndex ViewIndex(int row, int column) const;
    // The row of a view's index, or -1.
    int ModelRow(const QModelIndex& viewIndex) const;

    void SetFilter(EListFilter filter) { m_shown.SetFilter(filter); }
    EListFilter Filter() const { return m_shown.Filter(); }
    // The rows shown, in the view's order.
    int ShownRowCount() const { return m_shown.rowCount(); }

    // The full text of a cell when the cell is too narrow to show all of it, else empty. The
    // list shows it as the cell's tooltip.
    QString CellToolTip(int row, int column) const;

signals:
    // The check box of a row went from unchecked to checked or back.
    void checkChanged(int row, bool checked);

protected:
    bool viewportEvent(QEvent* event) override;

private:
    static constexpr int kLastColumnShare = 33;  // percent of the width kept for the last column

    CDeviceListModel m_rows;
    CDeviceListProxy m_shown;
};
