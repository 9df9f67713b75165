// Timing helpers shared by the benchmarks that compare a pass of ours with
// an external peer command in the same run.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench
{

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Wall time of a shell command, or -1 when it fails.
inline double run_command(const std::string& command)
{
    Clock::time_point start = Clock::now();
    if (system(command.c_str()) != 0)
        return -1;
    return seconds_since(start);
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace bench
