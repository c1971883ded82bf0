// Cost of one CalcSensorRespHT call on a typical sensor calibration, next to two
// baselines of the same run: one GetNumChnHT call (the cheapest export that
// reads a handle) and the complex arithmetic of one first-order high-pass per
// channel written inline. Also counts heap allocations per call, which must be 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "olmtsfil.h"
#include "writer/calibration_writer.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

// Counts every operator new of the process, the library's included. The
// replacement pairs malloc with free, which the compiler cannot see through.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace olmtsfil::testdata;

// A 3-channel coil calibration of 60 records and the recording that names it.
struct Fixture {
  ScratchDirectory dir{"bench-sensor"};
  CalHandle* cal = nullptr;
  TsHandle* ts = nullptr;

  Fixture() {
    SensorSpec desc;
    desc.points = 60;
    desc.corner = 0.01f;
    desc.cphc = 0.002;
    desc.ver = "4270A1";  // the board correction is the most expensive path
    CalibrationFile file = SensorCalibration(desc, [](int, int c, double f) {
      const Complex r = Product(HighPass(f, 4.0), LowPass(f, 8000.0));
      return Complex{r.re * (1 + 0.1 * c), r.im * (1 + 0.1 * c)};
    });
    file.Write(dir.File("coil"));
    cal = CalOpenHT(2, dir.File("coil").c_str());
    TypicalTable().Set(Parameter::Double("HNOM", desc.hnom)).Write(dir.File("rec.TBL"));
    ts = TSOpenHT(dir.File("rec").c_str());
  }
  ~Fixture() {
    CalCloseHT(&cal);
    TSCloseHT(&ts);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// Frequencies of a typical spectrum, from the low end to the high end.
std::vector<double> Sweep() { return LogFrequencies(0.002, 9000.0, 64); }

void BM_CalcSensorRespHT(benchmark::State& state) {
  Fixture& f = Shared();
  if (f.cal == nullptr || f.ts == nullptr) return state.SkipWithError("inputs not opened");
  const std::vector<double> sweep = Sweep();
  Complex resp[12];
  double aux[12];
  std::size_t i = 0;
  const long before = g_allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(CalcSensorRespHT(f.cal, f.ts, sweep[i], resp, aux));
    benchmark::DoNotOptimize(resp);
    i = (i + 1) % sweep.size();
  }
  state.counters["allocs_per_call"] =
      benchmark::Counter(static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_CalcSensorRespHT);

void BM_Baseline_GetNumChnHT(benchmark::State& state) {
  Fixture& f = Shared();
  int32_t count = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetNumChnHT(f.ts, &count));
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_Baseline_GetNumChnHT);

// 1/(1 - j fc/f) times a response, for 3 channels: the arithmetic floor of a
// response evaluation.
void BM_Baseline_HighPassArithmetic(benchmark::State& state) {
  const std::vector<double> sweep = Sweep();
  Complex in[3] = {{1.0, 0.5}, {0.9, 0.4}, {1.1, 0.3}};
  Complex out[3];
  std::size_t i = 0;
  for (auto _ : state) {
    const double f = sweep[i];
    benchmark::DoNotOptimize(in);
    for (int c = 0; c < 3; ++c) {
      const double x = -0.01 / f;
      const double k = 1.0 / (1.0 + x * x);
      const Complex h{k, x * k};
      out[c] = Complex{h.re * in[c].re - h.im * in[c].im, h.re * in[c].im + h.im * in[c].re};
    }
    benchmark::DoNotOptimize(out);
    i = (i + 1) % sweep.size();
  }
}
BENCHMARK(BM_Baseline_HighPassArithmetic);

}  // namespace

BENCHMARK_MAIN();
