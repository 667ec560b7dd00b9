#include "schedule/ScheduleModel.h"

namespace schedule {

ScheduleModel::ScheduleModel(QObject *parent)
    : QAbstractTableModel(parent),
      m_titles{QStringLiteral("Time"), QStringLiteral("Length"), QStringLiteral("Action")}
{
}

int ScheduleModel::addEntry(const ScheduleEntry &entry)
{
    const int row = m_list.insertionRow(entry);
    beginInsertRows({}, row, row);
    m_list.insert(row, entry);
    endInsertRows();
    return row;
}

bool ScheduleModel::replaceEntry(int row, const ScheduleEntry &entry)
{
    if (!m_list.replace(row, entry)) return false;
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
    return true;
}

bool ScheduleModel::removeEntry(int row)
{
    if (!m_list.isValidIndex(row)) return false;
    beginRemoveRows({}, row, row);
    m_list.removeAt(row);
    endRemoveRows();
    return true;
}

void ScheduleModel::clear()
{
    if (m_list.isEmpty()) return;
    beginRemoveRows({}, 0, m_list.count() - 1);
    m_list.clear();
    endRemoveRows();
}

void ScheduleModel::setEntries(const std::vector<ScheduleEntry> &entries)
{
    beginResetModel();
    m_list.assign(entries);
    endResetModel();
}

void ScheduleModel::setActionTexts(const ActionTexts &texts)
{
    m_actions = texts;
    if (!m_list.isEmpty())
        Q_EMIT dataChanged(index(0, ActionColumn), index(m_list.count() - 1, ActionColumn));
}

QString ScheduleModel::cellText(int row, int column) const
{
    if (!m_list.isValidIndex(row)) return {};
    return schedule::cellText(m_list.at(row), column, m_actions);
}

int ScheduleModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_list.count();
}

int ScheduleModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ScheduleModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return cellText(index.row(), index.column());
}

QVariant ScheduleModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= m_titles.size()) return {};
    return m_titles.at(section);
}

bool ScheduleModel::setHeaderData(int section, Qt::Orientation orientation,
                                  const QVariant &value, int role)
{
    if (orientation != Qt::Horizontal || (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    if (section < 0 || section >= m_titles.size()) return false;
    m_titles[section] = value.toString();
    Q_EMIT headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags ScheduleModel::flags(const QModelIndex &index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace schedule
