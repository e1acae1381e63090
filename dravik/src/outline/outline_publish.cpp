// Outline records handed to the client: copies of the polylines, column first.
#include "outline/outline.h"

#include <climits>
#include <memory>
#include <new>
#include <utility>

namespace classification {

OutlineRecords::OutlineRecords(OutlineRecords&& other) noexcept
    : m_records(std::exchange(other.m_records, nullptr)), m_count(std::exchange(other.m_count, 0))
{
}

OutlineRecords& OutlineRecords::operator=(OutlineRecords&& other) noexcept
{
    if (this != &other) {
        clear();
        m_records = std::exchange(other.m_records, nullptr);
        m_count = std::exchange(other.m_count, 0);
    }
    return *this;
}

void OutlineRecords::clear()
{
    for (int i = m_count - 1; i >= 0; --i)
        delete[] m_records[i].points;
    delete[] m_records;
    m_records = nullptr;
    m_count = 0;
}

namespace {

DvOutlinePoint published(const FloatPoint& p) { return {p.y, p.x}; }
DvOutlinePoint published(const Point& p) { return {float(p.y), float(p.x)}; }

template <typename P>
OutlineRecords publish(const std::vector<std::vector<P>>& polylines, OutlineRecords& records,
                       DvOutline*& array, int& count)
{
    if (polylines.empty())
        return std::move(records);
    if (polylines.size() > std::size_t(INT_MAX))
        throw std::bad_alloc();
    array = new DvOutline[polylines.size()]();
    // Records filled so far are owned by the result from here on, so a failure frees them.
    for (const std::vector<P>& line : polylines) {
        if (line.size() > std::size_t(INT_MAX))
            throw std::bad_alloc();
        DvOutline& r = array[count];
        r.points = line.empty() ? nullptr : new DvOutlinePoint[line.size()];
        r.count = int(line.size());
        r.reserved = 0;
        ++count;
        for (std::size_t i = 0; i < line.size(); ++i)
            r.points[i] = published(line[i]);
    }
    return std::move(records);
}

} // namespace

OutlineRecords publishOutlines(const std::vector<FloatPolyline>& polylines)
{
    OutlineRecords records;
    return publish(polylines, records, records.m_records, records.m_count);
}

OutlineRecords publishOutlines(const std::vector<Polyline>& polylines)
{
    OutlineRecords records;
    return publish(polylines, records, records.m_records, records.m_count);
}

} // namespace classification
