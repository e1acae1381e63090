// The two label widths of the crack tracer.
#include "crack_scan.h"

namespace classification {

using detail::CrackScan;

void traceRegionBorders(const blitz::Array<unsigned char, 2>& labels, const Rect& rect,
                        std::vector<Polyline>& chains)
{
    if (rect.isEmpty())
        return;
    CrackScan<unsigned char> scan(labels, rect);
    scan.scan([&](unsigned char, unsigned char, const Point* points, std::size_t n) {
        chains.emplace_back(points, points + n);
    });
}

void traceRegionBorders(const blitz::Array<int, 2>& labels, const Rect& rect, std::vector<BorderRecord>& borders)
{
    if (rect.isEmpty())
        return;
    CrackScan<int> scan(labels, rect);
    scan.scan([&](int a, int b, const Point* points, std::size_t n) {
        borders.push_back({a, b, Polyline(points, points + n)});
    });
}

} // namespace classification
