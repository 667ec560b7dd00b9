#include "archive/HistoryModel.h"

#include "archive/RegionalDateTime.h"
#include "core/DayCount.h"
#include "core/TextLimits.h"

#include <QColor>
#include <algorithm>
#include <sys/stat.h>

namespace archive {

namespace {

// Runs of removed rows longer than this many separate runs are cheaper as one reset; a few
// runs are removed one by one so that views keep their selection and scroll position.
constexpr int kMaxRemovalRuns = 16;

QString twoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

}  // namespace

QString historyCellText(const ArchiveRecord &record, int column, const QLocale &locale)
{
    const QDate date = core::dayCountEpoch().addDays(core::wholeDays(record.start));
    switch (column) {
    case ColYear: return QString::number(date.year());
    case ColMonth: return locale.standaloneMonthName(date.month(), QLocale::ShortFormat);
    case ColDay: return twoDigits(date.day());
    case ColTime: {
        const QTime t = core::timeOfDay(record.start);
        return twoDigits(t.hour()) + u':' + twoDigits(t.minute());
    }
    case ColLength: return core::formatHms(record.lengthSeconds);  // shown by its magnitude
    case ColFile: return record.path;
    default: return {};
    }
}

HistoryModel::HistoryModel(const QLocale &locale, QObject *parent)
    : QAbstractTableModel(parent),
      m_locale(locale),
      m_titles{QStringLiteral("Year"), QStringLiteral("Month"), QStringLiteral("Day"),
               QStringLiteral("Time"), QStringLiteral("Length"), QStringLiteral("File")}
{
}

void HistoryModel::appendRecords(ArchiveList records)
{
    if (records.empty()) return;
    const int first = int(m_records.size());
    beginInsertRows(QModelIndex(), first, first + int(records.size()) - 1);
    m_records.insert(m_records.end(), std::make_move_iterator(records.begin()),
                     std::make_move_iterator(records.end()));
    m_fileStates.resize(m_records.size(), FileState::Unknown);
    endInsertRows();
}

void HistoryModel::prependRecords(ArchiveList records)
{
    if (records.empty()) return;
    beginInsertRows(QModelIndex(), 0, int(records.size()) - 1);
    m_records.insert(m_records.begin(), std::make_move_iterator(records.begin()),
                     std::make_move_iterator(records.end()));
    m_fileStates.insert(m_fileStates.begin(), records.size(), FileState::Unknown);
    endInsertRows();
}

void HistoryModel::appendRecord(ArchiveRecord record)
{
    const int row = int(m_records.size());
    beginInsertRows(QModelIndex(), row, row);
    m_records.push_back(std::move(record));
    m_fileStates.push_back(FileState::Unknown);
    endInsertRows();
}

void HistoryModel::removeRecord(int row)
{
    if (row < 0 || row >= int(m_records.size())) return;
    beginRemoveRows(QModelIndex(), row, row);
    m_records.erase(m_records.begin() + row);
    m_fileStates.erase(m_fileStates.begin() + row);
    endRemoveRows();
}

void HistoryModel::removeRecords(const std::vector<bool> &remove)
{
    const size_t n = std::min(remove.size(), m_records.size());
    std::vector<std::pair<int, int>> runs;  // first and last row of each removed run
    for (size_t i = 0; i < n; ++i) {
        if (!remove[i]) continue;
        if (!runs.empty() && runs.back().second == int(i) - 1)
            runs.back().second = int(i);
        else
            runs.emplace_back(int(i), int(i));
    }
    if (runs.empty()) return;

    if (runs.size() <= size_t(kMaxRemovalRuns)) {
        for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
            beginRemoveRows(QModelIndex(), it->first, it->second);
            m_records.erase(m_records.begin() + it->first, m_records.begin() + it->second + 1);
            m_fileStates.erase(m_fileStates.begin() + it->first, m_fileStates.begin() + it->second + 1);
            endRemoveRows();
        }
        return;
    }
    beginResetModel();
    size_t out = 0;
    for (size_t i = 0; i < m_records.size(); ++i) {
        if (i < n && remove[i]) continue;
        if (out != i) {
            m_records[out] = std::move(m_records[i]);
            m_fileStates[out] = m_fileStates[i];
        }
        ++out;
    }
    m_records.resize(out);
    m_fileStates.resize(out);
    endResetModel();
}

QStringList HistoryModel::rowTexts(int row) const
{
    QStringList texts;
    if (row < 0 || row >= int(m_records.size())) return texts;
    for (int c = 0; c < HistoryColumnCount; ++c)
        texts.append(historyCellText(m_records[size_t(row)], c, m_locale));
    return texts;
}

bool HistoryModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant &value, int role)
{
    if (orientation != Qt::Horizontal || (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    if (section < 0 || section >= HistoryColumnCount) return false;
    m_titles[section] = value.toString();
    Q_EMIT headerDataChanged(orientation, section, section);
    return true;
}

void HistoryModel::refreshFileStates()
{
    if (m_records.empty()) return;
    std::fill(m_fileStates.begin(), m_fileStates.end(), FileState::Unknown);
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, HistoryColumnCount - 1),
                       {Qt::ForegroundRole});
}

bool HistoryModel::fileMissing(int row) const
{
    FileState &state = m_fileStates[size_t(row)];
    if (state == FileState::Unknown) {
        // A plain stat of the bytes: names that are not valid UTF-8 are checked as well.
        struct stat info {};
        const QByteArray path = filenameBytes(m_records[size_t(row)]);
        state = !path.isEmpty() && ::stat(path.constData(), &info) == 0 ? FileState::Present
                                                                         : FileState::Missing;
    }
    return state == FileState::Missing;
}

QString HistoryModel::toolTip(const ArchiveRecord &record) const
{
    QString tip = record.path;
    if (record.start != 0.0) {
        const QDate date = core::dayCountEpoch().addDays(core::wholeDays(record.start));
        const QTime t = core::timeOfDay(record.start);
        tip += u'\n' + m_locale.toString(date, QLocale::LongFormat) + u' '
               + m_locale.toString(QTime(t.hour(), t.minute(), t.second()), timeFormatWithSeconds(m_locale));
    } else if (!record.dateText.isEmpty()) {
        tip += u'\n' + record.dateText;
    }
    if (const auto damaged = m_damaged.constFind(record.path); damaged != m_damaged.constEnd())
        tip += u'\n' + *damaged;
    if (const Hold *hold = holdOver(record, m_holds)) tip += u'\n' + holdText(*hold);
    return tip;
}

void HistoryModel::markDamaged(const QString &path, const QString &reason)
{
    m_damaged.insert(path, reason);
    for (size_t row = 0; row < m_records.size(); ++row)
        if (m_records[row].path == path)
            emit dataChanged(index(int(row), 0), index(int(row), HistoryColumnCount - 1));
}

namespace {

bool sameHolds(const std::vector<Hold> &a, const std::vector<Hold> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Hold &x, const Hold &y) {
        return x.id == y.id && x.fromMs == y.fromMs && x.toMs == y.toMs && x.reason == y.reason;
    });
}

}  // namespace

void HistoryModel::setHolds(std::vector<Hold> holds)
{
    if (sameHolds(holds, m_holds)) return;
    m_holds = std::move(holds);
    if (!m_records.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, HistoryColumnCount - 1),
                           {Qt::BackgroundRole, Qt::ToolTipRole});
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_records.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : HistoryColumnCount;
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    const ArchiveRecord &record = m_records[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: return historyCellText(record, index.column(), m_locale);
    case Qt::ToolTipRole: return toolTip(record);
    case Qt::ForegroundRole:
        if (fileMissing(index.row())) return QColor(Qt::gray);
        if (m_damaged.contains(record.path)) return QColor(0x8b, 0x00, 0x00);
        if (holdOver(record, m_holds)) return QColor(Qt::black);  // legible on the amber under a dark theme
        return {};
    case Qt::BackgroundRole:
        if (holdOver(record, m_holds)) return QColor(0xff, 0xe8, 0xa8);
        return {};
    default: return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= HistoryColumnCount) return {};
    return m_titles[section];
}

Qt::ItemFlags HistoryModel::flags(const QModelIndex &index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

}  // namespace archive
