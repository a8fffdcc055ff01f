// Console output of google benchmark, plus each goal as the ratio of two medians measured in
// the same run, or of a median and a fixed time worked out from the unit's figures.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

struct Goal
{
    std::string ours;
    std::string theirs; // a benchmark's name; empty: the fixed time below
    double limit; // the goal: ours / theirs at most this; 0 for a figure shown for information
    std::string what;
    double fixedSeconds = 0; // what ours is compared with when theirs is empty
    std::string fixedFormula = {}; // how that time was worked out, printed under the goal
};

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    // Prints one line a goal; returns the number of goals not met.
    int printGoals(const std::vector<Goal>& goals) const;

private:
    std::map<std::string, double> medians; // seconds
};

// Runs the registered benchmarks with repetitions and prints the goals.
int runWithGoals(int argc, char** argv, const std::vector<Goal>& goals);
