#pragma once

// What the benchmark programs share: the one way a judged figure is printed (bench/common.sh's
// `report` prints the scripts' figures the same way), and a Google Benchmark reporter that keeps each
// benchmark's time so a program can compare its own results.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace quillary::bench {

inline std::string format(const char* pattern, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

enum class Verdict { met, missed, none };

// One figure beside its target and what it is measured against. Printed, and appended as a
// tab-separated line to the file BENCH_SUMMARY names, when it names one (bench/run-all.sh's table).
// A figure without a target has Verdict::none and "-" as its target.
inline void report(const std::string& figure, const std::string& value, const std::string& target,
                   const std::string& reference, Verdict judged)
{
    const char* verdict = judged == Verdict::met ? "met" : judged == Verdict::missed ? "MISSED" : "-";
    std::printf("%s: %s (target %s; reference: %s): %s\n", figure.c_str(), value.c_str(), target.c_str(),
                reference.c_str(), verdict);
    std::fflush(stdout);
    const char* summary = std::getenv("BENCH_SUMMARY");
    if (!summary || !*summary)
        return;
    if (FILE* file = std::fopen(summary, "a")) {
        std::fprintf(file, "%s\t%s\t%s\t%s\t%s\n", figure.c_str(), value.c_str(), target.c_str(),
                     reference.c_str(), verdict);
        std::fclose(file);
    }
}

inline void report(const std::string& figure, const std::string& value, const std::string& target,
                   const std::string& reference, bool met)
{
    report(figure, value, target, reference, met ? Verdict::met : Verdict::missed);
}

// Prints as the console reporter does and keeps each benchmark's real time per iteration in
// milliseconds: the median when repetitions are asked for (--benchmark_repetitions), else the run's.
class TimeCollector final : public ::benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const double ms =
                run.GetAdjustedRealTime() * 1e3 / ::benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                m_medians[run.run_name.str()] = ms;
            else if (run.run_type == Run::RT_Iteration)
                m_runs[run.run_name.str()] = ms;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Milliseconds of the benchmark named `name` (with its arguments, e.g. "Scan/entries:10000"); a
    // negative value when it did not run.
    double ms(const std::string& name) const
    {
        if (const auto median = m_medians.find(name); median != m_medians.end())
            return median->second;
        const auto run = m_runs.find(name);
        return run != m_runs.end() ? run->second : -1;
    }

private:
    std::map<std::string, double> m_medians;
    std::map<std::string, double> m_runs;
};

// A benchmark program's main part, its times kept in `times`: false, with nothing run, when Google
// Benchmark did not know an argument (it has said which).
inline bool runBenchmarks(int& argc, char** argv, TimeCollector& times)
{
    ::benchmark::Initialize(&argc, argv);
    if (::benchmark::ReportUnrecognizedArguments(argc, argv))
        return false;
    ::benchmark::RunSpecifiedBenchmarks(&times);
    ::benchmark::Shutdown();
    return true;
}

} // namespace quillary::bench
