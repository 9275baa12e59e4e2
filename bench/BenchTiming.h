// Timing of short operations for the benchmarks: each run timed alone, reported as min,
// median and max.
#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

// Milliseconds of `work` in each of `runs` runs; `prepare` runs before each, untimed.
inline std::vector<double> Time(int runs, const std::function<void()>& prepare,
                                const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    return ms;
}

inline std::vector<double> Time(int runs, const std::function<void()>& work) {
    return Time(
        runs, [] {}, work);
}

inline void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-58s min %7.2f ms  median %7.2f ms  max %7.2f ms  (%zu runs)\n", what, ms.front(),
                ms[ms.size() / 2], ms.back(), ms.size());
}
