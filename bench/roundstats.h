#pragma once
// Median and 99th percentile of round times, and a message handler that
// drops the program's log output (not part of what the benchmarks measure).
#include <QtGlobal>

#include <algorithm>
#include <vector>

namespace benchstats {

struct RoundStats {
    double median;
    double p99;
};

inline RoundStats roundStats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(double(v.size()) * 0.99))]};
}

inline void quietMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace benchstats
