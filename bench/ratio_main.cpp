// SPDX-License-Identifier: BSD-2-Clause-Patent
// The entry of every benchmark program here: Google Benchmark's own, plus a
// line in the output that says how the "ratio" counters read.
#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::AddCustomContext("ratio", "ours / reference, lower is better");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
