// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the causes cost in a real pair's JSON report: the OVMF pair (two
// builds of one firmware) loaded, compared and written as JSON, beside the
// causes found again on the same comparison. The ratio is the share the
// causes add; it should stay under 0.1.
#include <benchmark/benchmark.h>

#include <ctime>
#include <sstream>

#include "diff/compare/comparison.h"
#include "diff/report/report.h"

namespace {

// Processor time of the whole process (the comparison walks one tree on a
// second thread), so that a loaded machine does not count against either.
double ProcessSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::string Ovmf(const char* build) {
  return std::string(PELLRIX_SOURCE_DIR) + "/tests/data/ovmf/ovmf-2022.11-6+" + build + ".fd";
}

void JsonReport(benchmark::State& state) {
  double causes = 0, whole = 0;
  for (auto _ : state) {
    const double start = ProcessSeconds();
    pdiff::ChipDump main, backup;
    std::string problem;
    if (!main.Load(Ovmf("deb12u1"), &problem) || !backup.Load(Ovmf("deb12u2"), &problem)) {
      state.SkipWithError(problem.c_str());
      return;
    }
    const pdiff::Comparison comparison = pdiff::Compare(main, backup, {});
    std::ostringstream out;
    pdiff::WriteJsonReport(out, main, backup, comparison, false);
    benchmark::DoNotOptimize(out.str().size());
    const double compared = ProcessSeconds();
    // The causes once more on the same comparison: what Compare spent on them.
    const pdiff::CauseAnalysis again = pdiff::FindCauses(main, backup, comparison);
    benchmark::DoNotOptimize(again.causes.size());
    const double end = ProcessSeconds();
    whole += compared - start;
    causes += end - compared;
  }
  state.counters["causes_s"] = benchmark::Counter(causes / double(state.iterations()));
  state.counters["json_s"] = benchmark::Counter(whole / double(state.iterations()));
  // The report without its causes is whole - causes.
  state.counters["ratio"] = benchmark::Counter(causes / (whole - causes));
}
BENCHMARK(JsonReport)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
