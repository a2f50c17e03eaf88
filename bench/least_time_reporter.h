#pragma once
// A console reporter that also keeps the least time per iteration of each
// benchmark over its repetitions (the least is the one least disturbed by other
// work on the machine), so that a program can print ratios against its peer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

class TLeastTimeReporter : public benchmark::ConsoleReporter {
public:
  // With realTime the wall-clock time counts (for work spread over threads,
  // and for peers timed by the clock), else the calling thread's CPU time.
  explicit TLeastTimeReporter(bool realTime = false) : FRealTime(realTime) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        const double t = (FRealTime ? r.real_accumulated_time : r.cpu_accumulated_time) / double(r.iterations);
        auto [it, inserted] = FTimes.emplace(r.run_name.function_name, t);
        if (!inserted) it->second = std::min(it->second, t);
      }
    ConsoleReporter::ReportRuns(runs);
  }
  // Seconds per iteration of the benchmark, or 0 when it did not run.
  double Time(const std::string& name) const {
    auto it = FTimes.find(name);
    return it == FTimes.end() ? 0 : it->second;
  }

private:
  bool FRealTime;
  std::map<std::string, double> FTimes;
};
