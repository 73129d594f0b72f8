#include "tool/wizard/CDeviceListProxy.h"

#include <tuple>

namespace {

using ERowOutcome = CDeviceListModel::ERowOutcome;

// How far a row's device got, for the outcome column's order.
int OutcomeRank(ERowOutcome outcome) {
    switch (outcome) {
        case ERowOutcome::Failed:
            return 0;
        case ERowOutcome::None:
            return 1;
        case ERowOutcome::Running:
            return 2;
        case ERowOutcome::Succeeded:
            return 3;
    }
    return 1;
}

// A run of digits starting at at, without its leading zeros; at moves past the run.
QStringView DigitRun(const QString& text, qsizetype& at) {
    while (at < text.size() - 1 && text[at] == QLatin1Char('0') && text[at + 1].isDigit()) {
        ++at;
    }
    const qsizetype start = at;
    while (at < text.size() && text[at].isDigit()) {
        ++at;
    }
    return QStringView(text).mid(start, at - start);
}

}  // namespace

CDeviceListProxy::CDeviceListProxy(CDeviceListModel& rows, QObject* parent)
    : QSortFilterProxyModel(parent), m_rows(rows) {
    setSourceModel(&m_rows);
    // Rows move and show or hide as their cells and outcomes change, not only when sorted anew.
    setDynamicSortFilter(true);
}

void CDeviceListProxy::SetFilter(EListFilter filter) {
    if (m_filter == filter) {
        return;
    }
    m_filter = filter;
    invalidateRowsFilter();
}

bool CDeviceListProxy::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    switch (m_filter) {
        case EListFilter::All:
            return true;
        case EListFilter::Failed:
            return m_rows.Outcome(sourceRow) == ERowOutcome::Failed;
        case EListFilter::Unfinished: {
            const ERowOutcome outcome = m_rows.Outcome(sourceRow);
            return m_rows.IsChecked(sourceRow) &&
                   (outcome == ERowOutcome::None || outcome == ERowOutcome::Running);
        }
    }
    return true;
}

bool CDeviceListProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    if (left.column() == m_nOutcomeColumn) {
        const auto key = [this](const QModelIndex& index) {
            const QVariant percentage = m_rows.data(index, CDeviceListModel::kProgressRole);
            return std::make_tuple(OutcomeRank(m_rows.Outcome(index.row())),
                                   percentage.isValid() ? percentage.toInt() : -1);
        };
        const auto leftKey = key(left);
        const auto rightKey = key(right);
        if (leftKey != rightKey) {
            return leftKey < rightKey;
        }
    }
    return CompareNaturally(m_rows.Text(left.row(), left.column()),
                            m_rows.Text(right.row(), right.column())) < 0;
}

int CDeviceListProxy::CompareNaturally(const QString& left, const QString& right) {
    qsizetype l = 0;
    qsizetype r = 0;
    while (l < left.size() && r < right.size()) {
        if (left[l].isDigit() && right[r].isDigit()) {
            const QStringView leftRun = DigitRun(left, l);
            const QStringView rightRun = DigitRun(right, r);
            // Without leading zeros the longer run is the larger number.
            if (leftRun.size() != rightRun.size()) {
                return leftRun.size() < rightRun.size() ? -1 : 1;
            }
            if (const int digits = leftRun.compare(rightRun); digits != 0) {
                return digits;
            }
            continue;
        }
        const char32_t leftChar = left[l].toCaseFolded().unicode();
        const char32_t rightChar = right[r].toCaseFolded().unicode();
        if (leftChar != rightChar) {
            return leftChar < rightChar ? -1 : 1;
        }
        ++l;
        ++r;
    }
    if (l < left.size() || r < right.size()) {
        return l < left.size() ? 1 : -1;
    }
    // Equal but for case or leading zeros: a fixed order all the same.
    return left.compare(right);
}
