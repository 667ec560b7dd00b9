#include "schedule/ScheduleList.h"

#include <algorithm>

namespace schedule {

std::vector<ScheduleEntry> ScheduleList::entries() const
{
    std::vector<ScheduleEntry> out;
    out.reserve(m_items.size());
    for (const Item &item : m_items) out.push_back(item.entry);
    return out;
}

int ScheduleList::insertionRow(const ScheduleEntry &entry) const
{
    const int tod = timeOfDayMs(entry);
    for (int i = count() - 1; i >= 0; --i) {
        if (m_items[size_t(i)].timeOfDayMs <= tod) return i + 1;
    }
    return 0;
}

void ScheduleList::insert(int row, const ScheduleEntry &entry)
{
    row = std::clamp(row, 0, count());
    m_items.insert(m_items.begin() + row, makeItem(entry));
}

bool ScheduleList::replace(int index, const ScheduleEntry &entry)
{
    if (!isValidIndex(index)) return false;
    Item &item = m_items[size_t(index)];
    if (timeOfDayMs(entry) == item.timeOfDayMs) {
        item.entry = entry;
    } else {
        item = makeItem(entry);
    }
    return true;
}

bool ScheduleList::removeAt(int index)
{
    if (!isValidIndex(index)) return false;
    m_items.erase(m_items.begin() + index);
    return true;
}

void ScheduleList::assign(const std::vector<ScheduleEntry> &entries)
{
    m_items.clear();
    m_items.reserve(entries.size());
    for (const ScheduleEntry &entry : entries) m_items.push_back(makeItem(entry));
}

}  // namespace schedule
