// Gathers per-run figures by subject and renders them as markdown tables.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// cpu_ms is the program's CPU time, ms its wall-clock latency.
enum class Unit { ms, bytes, kib, writes, cpu_ms };

struct Metric {
    std::string name;
    Unit unit;
    std::vector<double> samples;
};

struct Tally {
    std::string subject;
    std::string about;
    std::vector<Metric> metrics;  // in the order first seen
    int runs = 0;
    int right = 0;
    std::map<int, int> exit_statuses;
    bool app_cursor_keys = false;
    std::vector<std::string> problems;  // first few, for the notes

    void add(const std::string& name, Unit unit, double value);
    const Metric* find(const std::string& name) const;
    const Metric* find(const std::string& name, Unit unit) const;
};

// The median of a metric's samples; NaN when there are none.
double median(const Metric& m);

// Medians with min and max: a short summary table, then every metric.
std::string render_tables(const std::vector<Tally>& tallies);

}  // namespace bench
