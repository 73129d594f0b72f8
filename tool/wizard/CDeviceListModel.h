#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>

#include <vector>

namespace talbo::tesk::vorta {
class CDevInfoIF;
}

// The rows of a device list: per registered device its column texts, its check box, the
// engine's record it shows (for polling without a look-up by name), while its device is being
// worked on a percentage with a short description of the step, and what the last job of its page
// did with it (ERowOutcome and an SRowJob record, for filtering and "Check failed only").
//
// Every change emits dataChanged for the one cell it changed, and only when the value really
// changed, so that a view repaints what moved and nothing else. Host names (column 0) are
// indexed, so finding a row costs the same with ten rows or ten thousand.
class CDeviceListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // The percentage of a cell that shows progress (an int), absent otherwise.
    static constexpr int kProgressRole = Qt::UserRole + 1;
    // The description shown beside the percentage (a string).
    static constexpr int kProgressDetailRole = Qt::UserRole + 2;
    // The row's ERowOutcome (an int), on every cell of the row.
    static constexpr int kOutcomeRole = Qt::UserRole + 3;

    // Where a row's device stands in the last job of its page.
    enum class ERowOutcome {
        None,       // not part of the last job (or no job yet)
        Running,    // part of the job, not ended yet
        Succeeded,  // ended, and not in failure
        Failed,     // ended in failure
    };

    // A row's part in the last job of its page (the run session's report has the rest).
    struct SRowJob {
        ERowOutcome outcome = ERowOutcome::None;
        int resultCode = 0;  // the final progress value once ended: 100 or a negative code
    };

    struct SRow {
        QStringList texts;
        // The engine's record of the device; owned by the engine, lives until it is unloaded.
        talbo::tesk::vorta::CDevInfoIF* device = nullptr;
        // The check box as the engine has it already: shown, not reported as a change.
        bool checked = false;
    };

    explicit CDeviceListModel(QObject* parent = nullptr);

    // The percentage as the list shows it: "7%".
    static QString PercentText(int percentage);

    void SetColumnTitles(const QStringList& titles);
    // Inserts rows at index (clamped to the end) as one change; their check boxes show what the
    // rows say, and their insertion is no check change.
    void InsertRows(int index, std::vector<SRow> rows);

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    // The row whose host name (column 0) is exactly text, or -1.
    int FindRow(const QString& host) const;
    QString Text(int row, int column) const;
    // Sets a cell's text; a cell that showed progress shows the text instead.
    void SetText(int row, int column, const QString& text);
    // Shows a percentage (0 to 100) and its description in a cell.
    void SetProgress(int row, int column, int percentage, const QString& detail);
    talbo::tesk::vorta::CDevInfoIF* Device(int row) const;

    bool IsChecked(int row) const;
    // Changes a check box from the program; a real change is reported by checkChanged.
    void SetChecked(int row, bool checked);
    // While locked, the user cannot change a check box (by mouse, keyboard or assistive
    // technology); the rows stay enabled, so they are not greyed out.
    void SetChecksLocked(bool locked);
    bool ChecksLocked() const { return m_bChecksLocked; }

    // A new job of the page: every checked row is Running with a fresh record, every other row
    // None. One change for the whole list, however long.
    void BeginJob();
    // The row's device ended (outcome Succeeded or Failed) with resultCode.
    void EndRow(int row, ERowOutcome outcome, int resultCode);
    ERowOutcome Outcome(int row) const;
    // The row's record of the last job; a default one for a row that does not exist.
    const SRowJob& RowJob(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // The check box of a row went from unchecked to checked or back.
    void checkChanged(int row, bool checked);

private:
    struct SCell {
        QString text;
        int percentage = -1;  // -1: the cell shows its text
        QString detail;
    };
    struct SStoredRow {
        std::vector<SCell> cells;
        bool checked = false;
        talbo::tesk::vorta::CDevInfoIF* device = nullptr;
        SRowJob job;
    };

    SCell* Cell(int row, int column);
    const SCell* Cell(int row, int column) const;
    void CellChanged(int row, int column);
    void RowChanged(int row);
    void ReindexFrom(int row);

    QStringList m_titles;
    std::vector<SStoredRow> m_rows;
    QHash<QString, int> m_rowOfHost;
    bool m_bChecksLocked = false;
};
