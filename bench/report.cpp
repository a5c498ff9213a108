#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace bench {
namespace {

struct Stats {
    double median = NAN, min = NAN, max = NAN;
    std::size_t n = 0;
};

Stats stats_of(std::vector<double> v) {
    Stats s;
    s.n = v.size();
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    std::size_t mid = v.size() / 2;
    s.median = v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
    return s;
}

std::string fmt(double x, Unit unit) {
    if (std::isnan(x)) return "–";
    char buf[64];
    if (unit == Unit::ms || unit == Unit::cpu_ms) {
        std::snprintf(buf, sizeof buf, x < 10 ? "%.2f" : x < 100 ? "%.1f" : "%.0f", x);
    } else if (x == std::floor(x)) {
        std::snprintf(buf, sizeof buf, "%.0f", x);
    } else {
        std::snprintf(buf, sizeof buf, "%.1f", x);
    }
    // Thousands separators keep frame sizes readable.
    const std::string s = buf;
    const std::size_t int_end = std::min(s.find('.'), s.size());
    std::string out;
    for (std::size_t i = 0; i < int_end; ++i) {
        if (i > 0 && (int_end - i) % 3 == 0) out += ',';
        out += s[i];
    }
    return out + s.substr(int_end);
}

const char* unit_name(Unit u) {
    switch (u) {
        case Unit::ms: return "ms";
        case Unit::bytes: return "bytes";
        case Unit::kib: return "KiB";
        case Unit::writes: return "writes";
        case Unit::cpu_ms: return "CPU ms";
    }
    return "";
}

std::string median_of(const Tally& t, const std::string& name) {
    const Metric* m = t.find(name);
    if (!m) return "";
    return fmt(stats_of(m->samples).median, m->unit);
}

// The first category whose name starts with prefix; subjects name their keys differently.
std::string median_by_prefix(const Tally& t, const std::string& prefix, Unit unit) {
    for (const Metric& m : t.metrics) {
        if (m.unit == unit && m.name.rfind(prefix, 0) == 0)
            return fmt(stats_of(m.samples).median, m.unit);
    }
    return "";
}

const Tally* find_subject(const std::vector<Tally>& tallies, const std::string& name) {
    for (const Tally& t : tallies)
        if (t.subject == name) return &t;
    return nullptr;
}

// First frame against the floor program's, medians.
std::string ratio_to_floor(const Tally& t, const Tally* floor) {
    const Metric* mine = t.find("first frame", Unit::ms);
    const Metric* base = floor ? floor->find("first frame", Unit::ms) : nullptr;
    if (!mine || !base) return "";
    const double r = median(*mine) / median(*base);
    if (std::isnan(r)) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", r);
    return buf;
}

// Write calls of every key together: median and most.
std::string key_writes(const Tally& t) {
    std::vector<double> all;
    for (const Metric& m : t.metrics)
        if (m.unit == Unit::writes && m.name != "first frame")
            all.insert(all.end(), m.samples.begin(), m.samples.end());
    if (all.empty()) return "";
    const Stats s = stats_of(all);
    return fmt(s.median, Unit::writes) + " (" + fmt(s.max, Unit::writes) + ")";
}

std::string statuses(const Tally& t) {
    std::string s;
    for (auto [status, count] : t.exit_statuses) {
        if (!s.empty()) s += ", ";
        s += std::to_string(status);
        if (t.exit_statuses.size() > 1) s += " ×" + std::to_string(count);
    }
    return s;
}

}  // namespace

void Tally::add(const std::string& name, Unit unit, double value) {
    for (Metric& m : metrics) {
        if (m.name == name && m.unit == unit) {
            if (!std::isnan(value)) m.samples.push_back(value);
            return;
        }
    }
    metrics.push_back({name, unit, {}});
    if (!std::isnan(value)) metrics.back().samples.push_back(value);
}

const Metric* Tally::find(const std::string& name) const {
    for (const Metric& m : metrics)
        if (m.name == name) return &m;
    return nullptr;
}

const Metric* Tally::find(const std::string& name, Unit unit) const {
    for (const Metric& m : metrics)
        if (m.name == name && m.unit == unit) return &m;
    return nullptr;
}

double median(const Metric& m) {
    return stats_of(m.samples).median;
}

std::string render_tables(const std::vector<Tally>& tallies) {
    std::ostringstream o;
    o << "Medians over all runs (per-key figures pool every key of that kind).\n\n";
    o << "| Subject | Right | Exit | First frame ms | × floor | Frame bytes | Frame writes | "
         "Key writes (most) | Typed char ms | Typed char bytes | Esc reaction ms | CPU ms | "
         "Peak RSS KiB |\n";
    o << "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    const Tally* floor = find_subject(tallies, "floor");
    for (const Tally& t : tallies) {
        o << "| " << t.subject << " | " << t.right << "/" << t.runs << " | " << statuses(t) << " | "
          << median_of(t, "first frame") << " | " << ratio_to_floor(t, floor) << " | "
          << median_by_prefix(t, "first frame", Unit::bytes) << " | "
          << median_by_prefix(t, "first frame", Unit::writes) << " | " << key_writes(t) << " | "
          << median_by_prefix(t, "typed char", Unit::ms) << " | "
          << median_by_prefix(t, "typed char", Unit::bytes) << " | "
          << median_by_prefix(t, "Esc", Unit::ms) << " | " << median_of(t, "CPU user+sys") << " | "
          << median_of(t, "peak RSS (VmHWM)") << " |\n";
    }

    o << "\nEvery metric: median (min–max) over all runs.\n\n";
    o << "| Subject | Metric | Unit | Median | Min | Max | n |\n";
    o << "|---|---|---|---:|---:|---:|---:|\n";
    for (const Tally& t : tallies) {
        for (const Metric& m : t.metrics) {
            Stats s = stats_of(m.samples);
            o << "| " << t.subject << " | " << m.name << " | " << unit_name(m.unit) << " | "
              << fmt(s.median, m.unit) << " | " << fmt(s.min, m.unit) << " | " << fmt(s.max, m.unit)
              << " | " << s.n << " |\n";
        }
    }

    o << "\nSubjects:\n\n";
    for (const Tally& t : tallies) {
        o << "- `" << t.subject << "`: " << t.about;
        if (t.app_cursor_keys) o << " Cursor keys sent as ESC O x (the program set DECCKM).";
        o << "\n";
        for (const std::string& p : t.problems) o << "  - problem: " << p << "\n";
    }
    return o.str();
}

}  // namespace bench
