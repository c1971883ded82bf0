// Cost of the box response through the public interface, each reported as a
// ratio against a baseline of the same run:
// - a sweep of 10,000 frequencies on 6 channels, circuit branch, with a table of
//   599 parameters against the same with 20 (parameter lookups must not
//   dominate: at most 1.5 times);
// - the table branch sweeping upwards (the record cursor keeps neighbouring
//   calls cheap) against the same frequencies in scattered order, and against
//   calls alternating between two keys (every search starts over);
// - CalOpenHT of a full box calibration with its model build against the open
//   of the same records as a sensor calibration (no model).
// Ratios use the median CPU time of five repetitions: the machine is shared.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "writer/box_circuit.h"
#include "writer/calibration_writer.h"
#include "writer/table_writer.h"

namespace {

using namespace olmtsfil::testdata;

constexpr int kChannels = 6;
constexpr int kSweep = 10000;

// The 20 parameters the circuit branch and the digital chain read.
TableFile SmallTable(const std::string& hw) {
  TableFile t;
  t.Int("CHEX", 1).Int("CHEY", 2).Int("CHEZ", 3).Int("CHHX", 4).Int("CHHY", 5).Int("CHHZ", 6);
  t.Text("HW", hw).Text("VER", "4270A0");
  t.Int("ACDC", 1).Int("ACDH", 1).Int("EGNC", 1).Int("HGNC", 0).Int("LPFR", 0x13);
  t.Int("EXR", 500).Int("EYR", 500).Int("TALS", 5).Int("LFRQ", 50).Int("TCMB", 1).Int("K8SR", 0);
  t.Int("SRL1", 24000);
  return t;
}

// The same parameters behind 579 others: a full table.
TableFile FullTable(const std::string& hw) {
  TableFile t;
  char name[8];
  for (int i = 0; i < 599 - 20; ++i) {
    std::snprintf(name, sizeof name, "Q%03d", i);
    t.Int(name, i);
  }
  for (const Parameter& p : SmallTable(hw).params) t.Add(p);
  return t;
}

std::vector<double> SweepFrequencies(double f_low, double f_high) {
  std::vector<double> f(kSweep);
  for (int i = 0; i < kSweep; ++i) f[static_cast<std::size_t>(i)] = f_low + (f_high - f_low) * i / (kSweep - 1);
  return f;
}

struct Files {
  ScratchDirectory dir{"bench-box"};
  std::string circuit_cal = dir.File("circuit");
  std::string flat_cal = dir.File("flat");
  std::string line_cal = dir.File("line");

  Files() {
    BoxCircuit circuit;
    CircuitCalibration(circuit, kChannels).Write(circuit_cal);
    // The same file as a sensor calibration: read the same way, no model.
    CalibrationFile flat = CircuitCalibration(circuit, kChannels);
    flat.header.ctyp = 2;
    flat.Write(flat_cal);
    // Table branch: 500 records; the last 100 carry key 1 (stream 1), the first
    // 100 key 2 (stream 2).
    BoxSpec desc;
    desc.nchn = kChannels;
    desc.tables = 5;
    desc.points = 100;
    desc.f_low = 0.1;
    desc.f_high = 10000.0;
    desc.key = [](int table) { return static_cast<int16_t>(table == 4 ? 1 : table == 0 ? 2 : 10 + table); };
    BoxCalibration(desc).Write(line_cal);
    SmallTable("SIM6A").Write(dir.File("small.TBL"));
    FullTable("SIM6A").Write(dir.File("full.TBL"));
    SmallTable("OLM6").Int("SRL2", 2400).Write(dir.File("table.TBL"));
  }
};

Files& Shared() {
  static Files files;
  return files;
}

// Calls CalcBoxRespHT at every frequency, on the streams in turn.
void Sweep(benchmark::State& state, const std::string& table, const std::string& cal_path,
           const std::vector<double>& frequencies, const std::vector<int32_t>& streams = {1}) {
  TsHandle* ts = TSOpenHT(Shared().dir.File(table).c_str());
  CalHandle* cal = CalOpenHT(1, cal_path.c_str());
  if (ts == nullptr || cal == nullptr) {
    state.SkipWithError("cannot open the inputs");
    return;
  }
  Complex resp[12];
  double aux[12];
  for (auto _ : state) {
    for (double f : frequencies) {
      for (int32_t stream : streams) {
        int32_t status = CalcBoxRespHT(cal, ts, stream, f, resp, aux);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(resp);
      }
    }
  }
  const auto calls = static_cast<int64_t>(frequencies.size() * streams.size());
  state.SetItemsProcessed(state.iterations() * calls);
  state.counters["calls"] = static_cast<double>(calls);  // per iteration
  CalCloseHT(&cal);
  TSCloseHT(&ts);
}

void BM_CircuitSweep20(benchmark::State& state) {
  Sweep(state, "small", Shared().circuit_cal, SweepFrequencies(0.0, 10000.0));
}
void BM_CircuitSweep599(benchmark::State& state) {
  Sweep(state, "full", Shared().circuit_cal, SweepFrequencies(0.0, 10000.0));
}
void BM_TableSweepUpwards(benchmark::State& state) {
  Sweep(state, "table", Shared().line_cal, SweepFrequencies(0.1, 10000.0));
}
void BM_TableSweepScattered(benchmark::State& state) {
  std::vector<double> f = SweepFrequencies(0.1, 10000.0);
  std::shuffle(f.begin(), f.end(), std::mt19937(42));
  Sweep(state, "table", Shared().line_cal, f);
}

// Every call on the other key's block: the search starts over from record 0.
void BM_TableSweepAlternatingKeys(benchmark::State& state) {
  Sweep(state, "table", Shared().line_cal, SweepFrequencies(0.1, 1000.0), {1, 2});
}

void Open(benchmark::State& state, int32_t kind, const std::string& path) {
  for (auto _ : state) {
    CalHandle* cal = CalOpenHT(kind, path.c_str());
    if (cal == nullptr) {
      state.SkipWithError("cannot open the calibration");
      return;
    }
    CalCloseHT(&cal);
  }
}
void BM_OpenWithModel(benchmark::State& state) { Open(state, 1, Shared().circuit_cal); }
void BM_OpenWithoutModel(benchmark::State& state) { Open(state, 2, Shared().flat_cal); }

BENCHMARK(BM_CircuitSweep20)->Unit(benchmark::kMillisecond)->MinTime(0.2)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_CircuitSweep599)->Unit(benchmark::kMillisecond)->MinTime(0.2)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TableSweepUpwards)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.2)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TableSweepScattered)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.2)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TableSweepAlternatingKeys)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.2)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenWithModel)->Unit(benchmark::kMicrosecond)->MinTime(0.2)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenWithoutModel)->Unit(benchmark::kMicrosecond)->MinTime(0.2)->Repetitions(5)->ReportAggregatesOnly(true);

// Console output plus the ratios of each median cost per call to its baseline's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred) {
        // Per call where an iteration makes several.
        auto calls = run.counters.find("calls");
        double per = calls != run.counters.end() && calls->second.value > 0 ? calls->second.value : 1.0;
        seconds_[run.run_name.function_name] = run.GetAdjustedCPUTime() / per;
      }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    Ratio("circuit sweep, 599 / 20 parameters (limit 1.5)", "BM_CircuitSweep599", "BM_CircuitSweep20");
    Ratio("table sweep, upwards / scattered", "BM_TableSweepUpwards", "BM_TableSweepScattered");
    Ratio("table sweep, upwards / alternating keys", "BM_TableSweepUpwards", "BM_TableSweepAlternatingKeys");
    Ratio("table sweep upwards / circuit sweep", "BM_TableSweepUpwards", "BM_CircuitSweep20");
    Ratio("box open, with model / without", "BM_OpenWithModel", "BM_OpenWithoutModel");
  }

 private:
  void Ratio(const char* label, const std::string& a, const std::string& b) {
    auto x = seconds_.find(a), y = seconds_.find(b);
    if (x == seconds_.end() || y == seconds_.end() || y->second <= 0) return;
    std::printf("ratio %-52s %.3f\n", label, x->second / y->second);
  }
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
