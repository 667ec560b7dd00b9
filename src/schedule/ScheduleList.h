#pragma once
// The schedule list: entries in the order they were put in, each with an id that stays
// with it while it is in the list. The planner remembers by id which entries fired on
// which day, so moving rows around never makes an entry fire twice.
//
// Main thread only. Change the list through ScheduleModel while a view shows it.

#include "schedule/ScheduleEntry.h"

#include <QtGlobal>
#include <vector>

namespace schedule {

class ScheduleList {
public:
    int count() const { return int(m_items.size()); }
    bool isEmpty() const { return m_items.empty(); }
    bool isValidIndex(int index) const { return index >= 0 && index < count(); }

    const ScheduleEntry &at(int index) const { return m_items[size_t(index)].entry; }
    quint64 idAt(int index) const { return m_items[size_t(index)].id; }
    int timeOfDayMsAt(int index) const { return m_items[size_t(index)].timeOfDayMs; }
    std::vector<ScheduleEntry> entries() const;

    // The row an entry added in time-of-day order goes to: after the last entry whose
    // time of day is not later than its own (so after entries of the same time).
    int insertionRow(const ScheduleEntry &entry) const;

    void insert(int row, const ScheduleEntry &entry);  // row clamped to 0…count
    void append(const ScheduleEntry &entry) { insert(count(), entry); }

    // Writes new values into the entry at index. An entry whose time of day changes is a
    // new appointment and gets a new id; otherwise it keeps its id. False when out of range.
    bool replace(int index, const ScheduleEntry &entry);

    bool removeAt(int index);  // false when out of range
    void clear() { m_items.clear(); }
    void assign(const std::vector<ScheduleEntry> &entries);

private:
    struct Item {
        ScheduleEntry entry;
        quint64 id;
        int timeOfDayMs;  // cached: the planner reads it on every tick
    };
    Item makeItem(const ScheduleEntry &entry) { return {entry, ++m_lastId, timeOfDayMs(entry)}; }

    std::vector<Item> m_items;
    quint64 m_lastId = 0;
};

}  // namespace schedule
