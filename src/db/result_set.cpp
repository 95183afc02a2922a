#include "result_set.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <numeric>

namespace ostrel {

ResultSet::ResultSet(QStringList columns)
    : m_columns(std::move(columns)), m_numeric(static_cast<size_t>(m_columns.size()), true)
{
}

void ResultSet::reserveRows(size_t rows)
{
    m_starts.reserve(rows * static_cast<size_t>(m_columns.size()) + 1);
    m_order.reserve(rows);
}

void ResultSet::addCell(std::string_view utf8, bool numeric)
{
    const size_t column = m_starts.size() % static_cast<size_t>(m_columns.size());
    if (!numeric)
        m_numeric[column] = false;
    m_starts.push_back(static_cast<uint32_t>(m_arena.size()));
    m_arena.append(utf8);
}

void ResultSet::endRow()
{
    m_order.push_back(static_cast<int>(m_order.size()));
}

int ResultSet::columnIndex(const QString& name) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

std::string_view ResultSet::cell(int storageRow, int column) const
{
    const size_t i = static_cast<size_t>(storageRow) * static_cast<size_t>(m_columns.size())
        + static_cast<size_t>(column);
    const uint32_t begin = m_starts[i];
    const uint32_t end = i + 1 < m_starts.size() ? m_starts[i + 1] : static_cast<uint32_t>(m_arena.size());
    return std::string_view(m_arena).substr(begin, end - begin);
}

std::string_view ResultSet::raw(int row, int column) const
{
    return cell(storageRow(row), column);
}

int ResultSet::displayRow(int storage) const
{
    const auto it = std::find(m_order.begin(), m_order.end(), storage);
    return it == m_order.end() ? -1 : static_cast<int>(it - m_order.begin());
}

void ResultSet::unsort()
{
    std::iota(m_order.begin(), m_order.end(), 0);
}

void ResultSet::sortBy(int column, bool descending)
{
    unsort();
    const size_t n = m_order.size();
    auto ordered = [&](auto less) {
        if (descending)
            std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) { return less(b, a); });
        else
            std::stable_sort(m_order.begin(), m_order.end(), less);
    };
    if (m_numeric[static_cast<size_t>(column)]) {
        std::vector<double> keys(n);
        for (size_t r = 0; r < n; ++r) {
            const std::string_view v = cell(static_cast<int>(r), column);
            double d = 0; // an empty (missing) value sorts first
            std::from_chars(v.data(), v.data() + v.size(), d);
            keys[r] = d;
        }
        ordered([&](int a, int b) { return keys[a] < keys[b]; });
        return;
    }
    // One sort key per row, then cheap key compares: far faster than pairwise collation.
    QCollator collator{QLocale(QLocale::Chinese, QLocale::China)};
    std::vector<QCollatorSortKey> keys;
    keys.reserve(n);
    for (size_t r = 0; r < n; ++r)
        keys.push_back(collator.sortKey(QString::fromUtf8(cell(static_cast<int>(r), column))));
    ordered([&](int a, int b) { return keys[a].compare(keys[b]) < 0; });
}

} // namespace ostrel
