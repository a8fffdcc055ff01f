// Console output of google benchmark, plus each goal as the ratio of two medians measured in
// the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

struct Goal
{
    std::string ours;
    std::string theirs;
    double limit; // the goal: ours / theirs at most this; 0 for a figure shown for information
    std::string what;
};

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    // Prints one line a goal; returns the number of goals not met.
    int printGoals(const std::vector<Goal>& goals) const;

private:
    std::map<std::string, double> medians;
};

// Runs the registered benchmarks with repetitions and prints the goals.
int runWithGoals(int argc, char** argv, const std::vector<Goal>& goals);
