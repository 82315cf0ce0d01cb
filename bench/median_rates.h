// median_rates.h - a console reporter that also keeps each benchmark's median
// bytes_per_second (the single run's rate when there are no repetitions), by its name
// without a /min_time part, so that a benchmark can print ratios of rates at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class MedianRates : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "median") continue;
            std::string name = Plain(run.run_name.str());
            if (!aggregate && medians_.count(name) != 0) continue;
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rates_[name] = it->second.value;
            if (aggregate) medians_[name] = true;
        }
    }

protected:
    // The rate of a benchmark by its name, or a value <= 0 when it did not run.
    double Rate(const std::string &name) const
    {
        auto it = rates_.find(name);
        return it == rates_.end() ? 0 : it->second;
    }

private:
    static std::string Plain(std::string name)
    {
        size_t at = name.find("/min_time:");
        if (at != std::string::npos) name.erase(at, name.find('/', at + 1) - at);
        return name;
    }
    std::map<std::string, double> rates_;
    std::map<std::string, bool> medians_;
};
