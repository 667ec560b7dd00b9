#pragma once
// The schedule list as the list view sees it: three read-only columns whose texts are
// made on request from the list; the view holds no data. The model owns the list, and
// every change goes through it, so the view's row count always equals the list's count.
//
// Main thread only.

#include "schedule/ScheduleList.h"

#include <QAbstractTableModel>
#include <QStringList>

namespace schedule {

class ScheduleModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ScheduleModel(QObject *parent = nullptr);

    const ScheduleList &list() const { return m_list; }

    // Adds in time-of-day order (after entries of the same time); returns the new row.
    int addEntry(const ScheduleEntry &entry);
    // Writes the entry's values into row, which keeps its place. False when out of range.
    bool replaceEntry(int row, const ScheduleEntry &entry);
    // Removes row; out of range (no selection, empty list) does nothing and gives false.
    bool removeEntry(int row);
    void clear();
    void setEntries(const std::vector<ScheduleEntry> &entries);  // a loaded file

    // Words of the "Action" column and the column titles, set by the language code.
    void setActionTexts(const ActionTexts &texts);
    QStringList columnTitles() const { return m_titles; }

    // The text of one cell; empty for a row or column out of range.
    QString cellText(int row, int column) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    ScheduleList m_list;
    ActionTexts m_actions;
    QStringList m_titles;
};

}  // namespace schedule
