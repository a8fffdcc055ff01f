#include "ratio_reporter.h"

#include <cstdio>

void RatioReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
            medians[run.run_name.str()]
                = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
}

int RatioReporter::printGoals(const std::vector<Goal>& goals) const
{
    int missed = 0;
    std::printf("\n%-58s %10s %8s  %s\n", "goal", "ratio", "limit", "result");
    for (const Goal& goal : goals) {
        const auto ours = medians.find(goal.ours);
        const auto theirs = medians.find(goal.theirs);
        const bool fixed = goal.theirs.empty();
        const double denominator = fixed ? goal.fixedSeconds
            : theirs != medians.end()    ? theirs->second
                                         : 0;
        if (ours == medians.end() || denominator <= 0) {
            std::printf("%-58s %10s %8.2f  not measured\n", goal.what.c_str(), "-", goal.limit);
            ++missed;
            continue;
        }
        const double ratio = ours->second / denominator;
        if (goal.limit <= 0) {
            std::printf("%-58s %10.3f %8s  for information\n", goal.what.c_str(), ratio, "-");
            continue;
        }
        const bool met = ratio <= goal.limit;
        missed += met ? 0 : 1;
        std::printf("%-58s %10.3f %8.2f  %s\n", goal.what.c_str(), ratio, goal.limit,
            met ? "met" : "NOT MET");
        if (fixed)
            std::printf("    %.6f s / (%s = %.6f s)\n", ours->second, goal.fixedFormula.c_str(),
                goal.fixedSeconds);
    }
    return missed;
}

int runWithGoals(int argc, char** argv, const std::vector<Goal>& goals)
{
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=9";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, { repetitions, aggregates });
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.printGoals(goals) == 0 ? 0 : 1;
}
