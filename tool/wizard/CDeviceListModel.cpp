#include "tool/wizard/CDeviceListModel.h"

#include <algorithm>

CDeviceListModel::CDeviceListModel(QObject* parent) : QAbstractTableModel(parent) {}

QString CDeviceListModel::PercentText(int percentage) {
    return QStringLiteral("%1%").arg(percentage);
}

void CDeviceListModel::SetColumnTitles(const QStringList& titles) {
    beginResetModel();
    m_titles = titles;
    for (SStoredRow& row : m_rows) {
        row.cells.resize(static_cast<std::size_t>(m_titles.size()));
    }
    endResetModel();
}

void CDeviceListModel::InsertRows(int index, std::vector<SRow> rows) {
    if (rows.empty()) {
        return;
    }
    index = std::clamp(index, 0, RowCount());
    const int count = static_cast<int>(rows.size());
    beginInsertRows(QModelIndex(), index, index + count - 1);
    std::vector<SStoredRow> stored;
    stored.reserve(rows.size());
    for (SRow& row : rows) {
        SStoredRow entry;
        entry.cells.resize(static_cast<std::size_t>(m_titles.size()));
        const qsizetype columns = std::min(row.texts.size(), m_titles.size());
        for (qsizetype column = 0; column < columns; ++column) {
            entry.cells[static_cast<std::size_t>(column)].text = std::move(row.texts[column]);
        }
        entry.device = row.device;
        entry.checked = row.checked;
        stored.push_back(std::move(entry));
    }
    m_rows.insert(m_rows.begin() + index, std::make_move_iterator(stored.begin()),
                  std::make_move_iterator(stored.end()));
    ReindexFrom(index);
    endInsertRows();
}

void CDeviceListModel::ReindexFrom(int row) {
    // Rows are appended in registration order in practice, so this touches only the new ones.
    for (int i = row; i < RowCount(); ++i) {
        const SStoredRow& stored = m_rows[static_cast<std::size_t>(i)];
        if (!stored.cells.empty()) {
            m_rowOfHost.insert(stored.cells.front().text, i);
        }
    }
}

int CDeviceListModel::FindRow(const QString& host) const {
    return m_rowOfHost.value(host, -1);
}

CDeviceListModel::SCell* CDeviceListModel::Cell(int row, int column) {
    if (row < 0 || row >= RowCount() || column < 0 || column >= m_titles.size()) {
        return nullptr;
    }
    return &m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

const CDeviceListModel::SCell* CDeviceListModel::Cell(int row, int column) const {
    return const_cast<CDeviceListModel*>(this)->Cell(row, column);
}

void CDeviceListModel::CellChanged(int row, int column) {
    const QModelIndex changed = index(row, column);
    emit dataChanged(changed, changed);
}

QString CDeviceListModel::Text(int row, int column) const {
    return data(index(row, column), Qt::DisplayRole).toString();
}

void CDeviceListModel::SetText(int row, int column, const QString& text) {
    SCell* cell = Cell(row, column);
    if (cell == nullptr || (cell->percentage < 0 && cell->text == text)) {
        return;
    }
    if (column == 0) {
        m_rowOfHost.remove(cell->text);
        m_rowOfHost.insert(text, row);
    }
    cell->text = text;
    cell->percentage = -1;
    cell->detail.clear();
    CellChanged(row, column);
}

void CDeviceListModel::SetProgress(int row, int column, int percentage, const QString& detail) {
    SCell* cell = Cell(row, column);
    percentage = std::clamp(percentage, 0, 100);
    if (cell == nullptr || (cell->percentage == percentage && cell->detail == detail)) {
        return;
    }
    cell->percentage = percentage;
    cell->detail = detail;
    CellChanged(row, column);
}

talbo::tesk::vorta::CDevInfoIF* CDeviceListModel::Device(int row) const {
    return row >= 0 && row < RowCount() ? m_rows[static_cast<std::size_t>(row)].device : nullptr;
}

bool CDeviceListModel::IsChecked(int row) const {
    return row >= 0 && row < RowCount() && m_rows[static_cast<std::size_t>(row)].checked;
}

void CDeviceListModel::SetChecked(int row, bool checked) {
    if (row < 0 || row >= RowCount() || m_rows[static_cast<std::size_t>(row)].checked == checked) {
        return;
    }
    m_rows[static_cast<std::size_t>(row)].checked = checked;
    CellChanged(row, 0);
    emit checkChanged(row, checked);
}

void CDeviceListModel::SetChecksLocked(bool locked) {
    if (m_bChecksLocked == locked) {
        return;
    }
    m_bChecksLocked = locked;
    if (RowCount() > 0) {
        emit dataChanged(index(0, 0), index(RowCount() - 1, 0), {Qt::CheckStateRole});
    }
}

void CDeviceListModel::BeginJob() {
    for (SStoredRow& row : m_rows) {
        row.job = SRowJob{};
        row.job.outcome = row.checked ? ERowOutcome::Running : ERowOutcome::None;
    }
    // No roles named: a filter or sort over the outcome must look at every row again.
    if (RowCount() > 0) {
        emit dataChanged(index(0, 0), index(RowCount() - 1, columnCount() - 1));
    }
}

void CDeviceListModel::EndRow(int row, ERowOutcome outcome, int resultCode) {
    if (row < 0 || row >= RowCount()) {
        return;
    }
    SRowJob& job = m_rows[static_cast<std::size_t>(row)].job;
    job.resultCode = resultCode;
    if (job.outcome != outcome) {
        job.outcome = outcome;
        RowChanged(row);
    }
}

CDeviceListModel::ERowOutcome CDeviceListModel::Outcome(int row) const {
    return RowJob(row).outcome;
}

const CDeviceListModel::SRowJob& CDeviceListModel::RowJob(int row) const {
    static const SRowJob none;
    return row >= 0 && row < RowCount() ? m_rows[static_cast<std::size_t>(row)].job : none;
}

void CDeviceListModel::RowChanged(int row) {
    if (columnCount() > 0) {
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
}

int CDeviceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int CDeviceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_titles.size());
}

QVariant CDeviceListModel::data(const QModelIndex& index, int role) const {
    const SCell* cell = index.isValid() ? Cell(index.row(), index.column()) : nullptr;
    if (cell == nullptr) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            if (cell->percentage < 0) {
                return cell->text;
            }
            // What a screen reader reads and a tooltip shows: the bar's number and the step.
            return cell->detail.isEmpty()
                       ? PercentText(cell->percentage)
                       : PercentText(cell->percentage) + QLatin1Char(' ') + cell->detail;
        case Qt::CheckStateRole:
            if (index.column() != 0) {
                return {};
            }
            return IsChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
        case kProgressRole:
            return cell->percentage < 0 ? QVariant() : QVariant(cell->percentage);
        case kProgressDetailRole:
            return cell->detail;
        case kOutcomeRole:
            return static_cast<int>(Outcome(index.row()));
        default:
            return {};
    }
}

bool CDeviceListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    // The views change nothing but the check boxes, and those only while they are not locked.
    if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole || m_bChecksLocked) {
        return false;
    }
    SetChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags CDeviceListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0 && !m_bChecksLocked) {
        flags |= Qt::ItemIsUserCheckable;
    }
    return flags;
}

QVariant CDeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section >= 0 && section < m_titles.size()) {
        if (role == Qt::DisplayRole) {
            return m_titles[section];
        }
        // A first click on a column sorts it ascending, whatever the column sorted before.
        if (role == Qt::InitialSortOrderRole) {
            return static_cast<int>(Qt::AscendingOrder);
        }
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}
