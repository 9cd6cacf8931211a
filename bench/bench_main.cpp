// Runs the benchmarks with the console table, then prints the ratios that
// the performance targets are stated in, all taken from this one run (the
// median of the repetitions when there are several).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// Wall-clock and CPU seconds per iteration of one benchmark.
struct Times {
  double wall = -1;
  double cpu = -1;
};

// The console table, plus each benchmark's times per iteration.
class TargetReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      if (run.error_occurred || run.iterations == 0) continue;
      const std::string name = run.run_name.str();
      const auto n = static_cast<double>(run.iterations);
      const Times t{run.real_accumulated_time / n, run.cpu_accumulated_time / n};
      if (run.run_type == Run::RT_Iteration) {
        single_[name] = t;  // the last repetition
      } else if (run.aggregate_name == "median") {
        medians_[name] = t;
      }
    }
  }

  // The median if there were repetitions, else the one run; negative times
  // when the benchmark did not run.
  Times Of(const std::string& name) const {
    if (auto it = medians_.find(name); it != medians_.end()) return it->second;
    if (auto it = single_.find(name); it != single_.end()) return it->second;
    return {};
  }

 private:
  std::map<std::string, Times> medians_;
  std::map<std::string, Times> single_;
};

struct Target {
  const char* what;
  const char* numerator;
  const char* denominator;
  double limit;  // the ratio must not exceed it
};

constexpr Target kTargets[] = {
    {"render 200 pieces / pixman peer 200", "BM_ModuleRender/pieces:200/blur:0/ds:1",
     "BM_PixmanPeerFrame/pieces:200/blur:0", 0.40},
    {"render 200 pieces / memset floor", "BM_ModuleRender/pieces:200/blur:0/ds:1",
     "BM_FloorClearFrame", 20.0},
    {"render 200 blurred / pixman peer 200 blurred", "BM_ModuleRender/pieces:200/blur:1/ds:1",
     "BM_PixmanPeerFrame/pieces:200/blur:1", 1.0},
    {"render 200 blurred 310 px / peer 200 blurred", "BM_ModuleRender/pieces:200/blur:2/ds:1",
     "BM_PixmanPeerFrame/pieces:200/blur:1", 1.5},
    {"render 500 pieces / render 200 pieces", "BM_ModuleRender/pieces:500/blur:0/ds:1",
     "BM_ModuleRender/pieces:200/blur:0/ds:1", 2.8},
    {"text 1000 glyphs, next frame / render 200", "BM_TextRasterizeNextFrame/glyphs:1000",
     "BM_ModuleRender/pieces:200/blur:0/ds:1", 3.0},
    {"text 1000 glyphs, first frame / render 200", "BM_TextRasterizeFirst/glyphs:1000",
     "BM_ModuleRender/pieces:200/blur:0/ds:1", 3.0},
    {"text analysis 100k / 10k outlines", "BM_TextAnalysis/outlines:100000",
     "BM_TextAnalysis/outlines:10000", 12.0},
};

// Ratios of wall-clock times, and of CPU times beside them: on a machine
// that other work shares, the CPU ratio is the steadier of the two.
void PrintTargets(const TargetReporter& reporter) {
  bool header = false;
  for (const Target& t : kTargets) {
    const Times num = reporter.Of(t.numerator), den = reporter.Of(t.denominator);
    if (num.wall < 0 || den.wall <= 0) continue;  // not run (filtered out or failed)
    if (!header) {
      std::printf("\n%-46s %9s %9s %7s %7s %6s\n", "target (medians of this run)", "wall ms",
                  "wall ms", "ratio", "cpu", "limit");
      header = true;
    }
    const double ratio = num.wall / den.wall;
    const double cpu_ratio = den.cpu > 0 ? num.cpu / den.cpu : 0;
    std::printf("%-46s %9.3f %9.3f %7.2f %7.2f %6.2f  %s\n", t.what, num.wall * 1e3, den.wall * 1e3,
                ratio, cpu_ratio, t.limit, ratio <= t.limit ? "met" : "MISSED");
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TargetReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTargets(reporter);
  benchmark::Shutdown();
  return 0;
}
