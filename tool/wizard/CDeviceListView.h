#pragma once

#include <QTreeWidget>

#include <vector>

// The device list of the device and update pages: one row per registered device, a check box in
// front of each row, whole-row single selection. Rows are only ever added.
class CDeviceListView : public QTreeWidget {
    Q_OBJECT

public:
    explicit CDeviceListView(QWidget* parent = nullptr);

    // Column titles and widths in logical pixels; the last column takes what remains.
    void SetColumns(const QStringList& titles, const std::vector<int>& widths);

    int RowCount() const { return topLevelItemCount(); }
    // The row whose host name (column 0) is exactly text, or -1.
    int FindRow(const QString& text) const;
    // Inserts a row at index (clamped to the end) with the given texts; the row starts unchecked
    // and its insertion is no check change.
    void InsertRow(int index, const QStringList& texts);

    QString Text(int row, int column) const;
    void SetText(int row, int column, const QString& text);
    bool IsChecked(int row) const;
    // Changes the check box; a real change is reported by checkChanged like a user's click.
    void SetChecked(int row, bool checked);
    // Index of the first checked row from the top, or -1.
    int FirstCheckedRow() const;

signals:
    // The check box of a row went from unchecked to checked or back.
    void checkChanged(int row, bool checked);

private:
    void OnItemChanged(QTreeWidgetItem* item, int column);
};
