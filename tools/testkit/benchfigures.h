#pragma once

#include <QVector>

#include <algorithm>

// Figures the benchmarks report: the time octets take on a paced serial line, and medians.
namespace benchfigures {

// Start bit, 8 data bits, parity and stop bit: what the paced relay and bus count.
constexpr int kBitsPerChar = 11;

inline double lineMs(qint64 octets, int baud)
{
    return 1000.0 * double(octets) * kBitsPerChar / baud;
}

// The median, or -1 for no values.
inline double median(QVector<double> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace benchfigures
