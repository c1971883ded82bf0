#include "units/converter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <system_error>

#if defined(OLMTSFIL_HAVE_KISSFFT)
#include <kissfft.hh>
#endif

// libstdc++ built without a thread model (mingw-w64's win32 one) has no
// std::thread; the converter then works in the caller's thread alone.
#if !defined(__GLIBCXX__) || defined(_GLIBCXX_HAS_GTHREADS)
#define OLMTSFIL_CONVERTER_THREADS 1
#include <thread>
#endif

namespace olmtsfil::units {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kCountsFullScale = 8388608.0;
constexpr int32_t kMinBlock = 64;
constexpr int32_t kMaxDefaultBlock = 1 << 18;
constexpr int32_t kMaxBlock = 1 << 22;
// A block spans this many periods of the lowest frequency restored, so each
// margin spans two. Longer blocks were measured to give no closer agreement
// with very long ones (the per-block detrend and taper set the residual, about
// 0.2 % of the peak on the sample), while the FFT's cost per point about
// triples once a block no longer fits the cache (past 2^17 points).
constexpr double kPeriodsPerBlock = 8.0;
// Nothing is restored where the response falls below this fraction of its
// passband gain: dividing by it would only amplify noise and rounding.
constexpr double kResponseFloor = 1e-6;
// Relative frequency step between the bins at which the chain's response is
// evaluated when a filter is designed; linear interpolation between them errs
// by about the step squared, far below the calibrations' own accuracy.
constexpr double kDesignStep = 1.0 / 256;

// Scans of a run past this are refused as window limits, so that a block's
// reach beyond them stays far from overflow.
constexpr int64_t kMaxWindowScan = int64_t{1} << 62;
constexpr int64_t kNoEnd = std::numeric_limits<int64_t>::max();

bool ValidWindow(int64_t first, int64_t end) {
  return first >= 0 && first <= kMaxWindowScan && end <= kMaxWindowScan && (end < 0 || end >= first);
}

// Blocks are shared out among at most this many threads: more would only
// hold more blocks in memory waiting for their turn.
constexpr int kMaxThreads = 8;

int DefaultThreads() {
#if defined(OLMTSFIL_CONVERTER_THREADS)
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxThreads));
#else
  return 1;
#endif
}

bool PowerOfTwo(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

int32_t NextPowerOfTwo(double x) {
  int32_t n = kMinBlock;
  while (n < x && n < kMaxBlock) n *= 2;
  return n;
}

class NominalConverter : public Converter {
 public:
  explicit NominalConverter(std::vector<double> scale) : scale_(std::move(scale)) {
    channels_ = static_cast<int>(scale_.size());
  }
  int32_t Push(const double* values, int64_t scans) override {
    if (scans > 0) pushed_ = true;
    const int64_t kept = std::clamp<int64_t>(end_ - position_, 0, scans);
    Compact();
    for (int64_t i = 0; i < kept; ++i)
      for (int c = 0; c < channels_; ++c)
        ready_.push_back(values[i * channels_ + c] * scale_[static_cast<std::size_t>(c)]);
    position_ += scans;
    return OLMTS_OK;
  }
  int32_t Finish() override {
    pushed_ = false;
    position_ = 0;
    end_ = kNoEnd;
    return OLMTS_OK;
  }
  int32_t Start(int64_t first, int64_t end, int64_t* from, int64_t* to) override {
    if (pushed_ || !ValidWindow(first, end)) return OLMTS_BAD_ARGUMENT;
    position_ = first;
    end_ = end < 0 ? kNoEnd : end;
    *from = first;
    *to = end < 0 ? -1 : end;
    return OLMTS_OK;
  }

 private:
  std::vector<double> scale_;
  bool pushed_ = false;
  int64_t position_ = 0;  // the run's scan the next one pushed is
  int64_t end_ = kNoEnd;
};

#if defined(OLMTSFIL_HAVE_KISSFFT)
// Overlap-save over blocks of N scans: each block restores its middle half,
// reaching a quarter block to either side, so every output scan sees the same
// filter whatever block it falls in. Per block and channel the linear trend
// is removed and the outer eighths are tapered; outside the run the input is
// zero. Each channel takes a real transform, made of a complex one of half
// the length: measured, that is about 1.7 times cheaper at 2^17 points than two
// channels sharing one complex transform of the full length, which no longer
// fits the cache.
//
// Blocks depend on the input alone, never on each other: with more than one
// thread, the blocks ready are shared out among the threads, each with its
// own work space, and land in the output queue in order; every block is
// computed by the same operations whatever thread takes it.
class DeconvolvingConverter : public Converter {
 public:
  DeconvolvingConverter(int channels, const Band& band, std::vector<std::vector<std::complex<double>>> filters,
                        int threads)
      : n_(band.block),
        margin_(band.block / 4),
        core_(band.block / 2),
        threads_(std::max(threads, 1)),
        filters_(std::move(filters)),
        half_forward_(static_cast<std::size_t>(band.block / 2), false),
        half_inverse_(static_cast<std::size_t>(band.block / 2), true) {
    channels_ = channels;
    // A channel without a response has no filter: it comes out as NaN.
    const std::size_t bins = static_cast<std::size_t>(n_ / 2 + 1);
    for (std::vector<std::complex<double>>& g : filters_) {
      unusable_.push_back(g.empty());
      g.resize(bins, 0.0);
      // A real series has real bins 0 and N/2, packed together in the half
      // length transform: only the real part of the filter applies there.
      g.front() = g.front().real();
      g.back() = g.back().real();
    }
    fmin_ = band.fmin;
    fmax_ = band.fmax;
    block_ = band.block;
    taper_.resize(static_cast<std::size_t>(margin_ / 2));
    for (std::size_t i = 0; i < taper_.size(); ++i)
      taper_[i] = 0.5 - 0.5 * std::cos(kPi * (static_cast<double>(i) + 0.5) / static_cast<double>(taper_.size()));
    unshuffle_.resize(static_cast<std::size_t>(n_ / 2));
    for (std::size_t k = 0; k < unshuffle_.size(); ++k)
      unshuffle_[k] = std::polar(0.5, 2 * kPi * static_cast<double>(k) / static_cast<double>(n_));
    Reset();
  }

  int32_t Push(const double* values, int64_t scans) override {
    if (scans > 0) pushed_ = true;
    // Scans past the window's last block's reach are never used: not kept.
    const int64_t kept = std::clamp<int64_t>(input_end_ - total_, 0, scans);
    history_.insert(history_.end(), values, values + kept * channels_);
    total_ += kept;
    // Block b restores scans [b K, b K + K) and needs scans up to b K + K + M.
    // With several threads, blocks wait until there is one for each (or the
    // window's last is among them).
    int64_t ready = 0;
    while ((next_ + ready) * core_ < end_ && total_ >= (next_ + ready) * core_ + core_ + margin_) ++ready;
    if (ready >= threads_ || (ready > 0 && (next_ + ready) * core_ >= end_)) ProcessBlocks(ready, false);
    return OLMTS_OK;
  }

  int32_t Finish() override {
    int64_t left = 0;
    while ((next_ + left) * core_ < total_ && (next_ + left) * core_ < end_) ++left;
    if (left > 0) ProcessBlocks(left, true);
    Reset();
    return OLMTS_OK;
  }

  // A block's output depends only on its input scans and, at the run's end,
  // on where the run ends: so a run started at the block holding `first`, fed
  // from that block's reach on, gives exactly the scans a whole run would.
  int32_t Start(int64_t first, int64_t end, int64_t* from, int64_t* to) override {
    if (pushed_ || !ValidWindow(first, end)) return OLMTS_BAD_ARGUMENT;
    const int64_t b0 = first / core_;
    Reset();
    first_ = first;
    end_ = end < 0 ? kNoEnd : end;
    next_ = b0;
    if (b0 > 0) {
      // Block b0 reaches M scans back, all of them inside the run.
      history_.clear();
      history_start_ = b0 * core_ - margin_;
      total_ = history_start_;
    }
    *from = total_;
    if (end < 0) {
      *to = -1;
    } else if (end == first) {
      *to = total_;
      input_end_ = total_;
    } else {
      *to = ((end - 1) / core_) * core_ + core_ + margin_;
      input_end_ = *to;
    }
    return OLMTS_OK;
  }

 private:
  // Work space of one thread: a block's transforms and its channel segments.
  struct Scratch {
    std::vector<std::complex<double>> work, spectrum;
    std::vector<double> segment;
    std::vector<double> columns;  // the block's scans, channel after channel
  };

  void Reset() {
    history_.clear();
    total_ = 0;
    next_ = 0;
    first_ = 0;
    end_ = kNoEnd;
    input_end_ = kNoEnd;
    pushed_ = false;
    // The history starts M scans before the run: zeros there.
    history_start_ = -margin_;
    history_.assign(static_cast<std::size_t>(margin_) * static_cast<std::size_t>(channels_), 0.0);
  }

  // Copies one channel's column of a block into `out`: its scans [lo, hi) are
  // the run's, with their linear trend removed; zeros outside; the ends
  // tapered.
  void Segment(const double* column, int64_t lo, int64_t hi, double* out) const {
    double s0 = 0, s1 = 0, s2 = 0, sy = 0, sxy = 0;
    std::fill(out, out + lo, 0.0);
    std::fill(out + hi, out + n_, 0.0);
    for (int64_t i = lo; i < hi; ++i) {
      const double y = column[i];
      out[i] = y;
      const double x = static_cast<double>(i);
      s0 += 1;
      s1 += x;
      s2 += x * x;
      sy += y;
      sxy += x * y;
    }
    const double det = s0 * s2 - s1 * s1;
    const double slope = det != 0 ? (s0 * sxy - s1 * sy) / det : 0.0;
    const double offset = s0 > 0 ? (sy - slope * s1) / s0 : 0.0;
    for (int64_t i = lo; i < hi; ++i) out[i] -= offset + slope * static_cast<double>(i);
    const int64_t t = static_cast<int64_t>(taper_.size());
    for (int64_t i = 0; i < t; ++i) {
      out[i] *= taper_[static_cast<std::size_t>(i)];
      out[n_ - 1 - i] *= taper_[static_cast<std::size_t>(i)];
    }
  }

  // Channel c of a block: its real transform is one of half the length (even
  // scans as real, odd ones as imaginary parts), unpacked into bins 0 ... N/2,
  // filtered, packed again and transformed back; the `produced` scans from
  // the `skip`th of the block's restored ones go to out, one after another.
  void Channel(int c, int64_t lo, int64_t hi, int64_t skip, int64_t produced, double* out, Scratch& s) const {
    double* a = s.segment.data();
    Segment(s.columns.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(n_), lo, hi, a);
    const int64_t m = n_ / 2;
    std::complex<double>* x = s.spectrum.data();
    half_forward_.transform_real(a, x);
    const std::vector<std::complex<double>>& g = filters_[static_cast<std::size_t>(c)];
    const auto at = [](int64_t k) { return static_cast<std::size_t>(k); };
    // Bins 0 and N/2 (real) come packed into x[0]; their filter values are real.
    const double dc = x[0].real() * g[0].real(), nyquist = x[0].imag() * g[at(m)].real();
    std::complex<double>* z = s.work.data();
    for (int64_t k = 1; k < m; ++k) x[at(k)] *= g[at(k)];
    for (int64_t k = 0; k < m; ++k) {
      const std::complex<double> yk = k == 0 ? std::complex<double>(dc) : x[at(k)];
      const std::complex<double> ym = k == 0 ? std::complex<double>(nyquist) : std::conj(x[at(m - k)]);
      // Even and odd scans' transforms of length N/2, as one complex series.
      const std::complex<double> even = 0.5 * (yk + ym);
      const std::complex<double> odd = (yk - ym) * unshuffle_[at(k)];
      z[at(k)] = even + std::complex<double>(-odd.imag(), odd.real());
    }
    half_inverse_.transform(z, z + m);
    const double norm = 1.0 / static_cast<double>(m);
    const std::complex<double>* y = z + m;
    for (int64_t i = 0; i < produced; ++i) {
      const int64_t n = margin_ + skip + i;
      const std::complex<double> v = y[at(n / 2)];
      out[i] = (n % 2 == 0 ? v.real() : v.imag()) * norm;
    }
  }

  // Restores `produced` scans of block `block`, from its `skip`th on, into
  // out, scan after scan. A channel without a response is not transformed.
  void Block(int64_t block, int64_t skip, int64_t produced, double* out, Scratch& s) const {
    const int64_t first = block * core_ - margin_;
    const std::size_t n = static_cast<std::size_t>(n_), nc = static_cast<std::size_t>(channels_);
    if (s.work.empty()) {
      s.work.resize(n);
      s.spectrum.resize(n / 2);
      s.segment.resize(n);
      s.columns.resize(n * nc);
    }
    // The block's scans of the run, [lo, hi) of it, taken apart into one
    // column per channel in a single pass: each channel's segment then reads
    // its own column rather than every scan of the block.
    const int64_t lo = std::clamp<int64_t>(-first, 0, n_), hi = std::clamp<int64_t>(total_ - first, lo, n_);
    for (int64_t i = lo; i < hi; ++i) {
      const double* row = history_.data() + static_cast<std::size_t>(first + i - history_start_) * nc;
      for (std::size_t c = 0; c < nc; ++c) s.columns[c * n + static_cast<std::size_t>(i)] = row[c];
    }
    // Each channel's result replaces its column, which it no longer needs, and
    // the columns are put together scan after scan in a single pass.
    for (int c = 0; c < channels_; ++c) {
      double* column = s.columns.data() + static_cast<std::size_t>(c) * n;
      if (unusable_[static_cast<std::size_t>(c)])
        std::fill(column, column + produced, std::numeric_limits<double>::quiet_NaN());
      else
        Channel(c, lo, hi, skip, produced, column, s);
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(produced); ++i)
      for (std::size_t c = 0; c < nc; ++c) out[i * nc + c] = s.columns[c * n + i];
  }

  // Restores the next `count` blocks, the last of them ending the run when
  // `at_end`, then drops the scans no later block needs.
  void ProcessBlocks(int64_t count, bool at_end) {
    std::vector<int64_t> offset(static_cast<std::size_t>(count) + 1), skip(static_cast<std::size_t>(count));
    Compact();
    const std::size_t base = ready_.size();
    offset[0] = 0;
    for (int64_t i = 0; i < count; ++i) {
      const int64_t start = (next_ + i) * core_;
      const int64_t restored = at_end ? std::min<int64_t>(core_, total_ - start) : core_;
      // Of the scans the block restores, those of the window.
      const std::size_t at = static_cast<std::size_t>(i);
      skip[at] = std::clamp<int64_t>(first_ - start, 0, restored);
      offset[at + 1] = offset[at] + std::clamp<int64_t>(end_ - start, skip[at], restored) - skip[at];
    }
    // Straight into the output queue: no buffer of a block's size is made and
    // freed per block.
    ready_.resize(base + static_cast<std::size_t>(offset.back()) * static_cast<std::size_t>(channels_));
    const int workers = static_cast<int>(std::min<int64_t>(threads_, count));
    if (scratch_.size() < static_cast<std::size_t>(workers)) scratch_.resize(static_cast<std::size_t>(workers));
    auto run = [&](int w) {
      for (int64_t i = w; i < count; i += workers) {
        const std::size_t at = static_cast<std::size_t>(i);
        double* out = ready_.data() + base + static_cast<std::size_t>(offset[at]) * static_cast<std::size_t>(channels_);
        Block(next_ + i, skip[at], offset[at + 1] - offset[at], out, scratch_[static_cast<std::size_t>(w)]);
      }
    };
#if defined(OLMTSFIL_CONVERTER_THREADS)
    std::vector<std::thread> helpers;
    for (int w = 1; w < workers; ++w) {
      try {
        helpers.emplace_back(run, w);
      } catch (const std::system_error&) {
        run(w);  // no thread to be had: this one does that share too
      }
    }
    run(0);
    for (std::thread& t : helpers) t.join();
#else
    for (int w = 0; w < workers; ++w) run(w);
#endif
    next_ += count;
    // Scans before the next block's first are no longer needed.
    const int64_t keep_from = next_ * core_ - margin_;
    const int64_t drop =
        std::clamp<int64_t>(keep_from - history_start_, 0, static_cast<int64_t>(history_.size()) / channels_);
    history_.erase(history_.begin(), history_.begin() + drop * channels_);
    history_start_ += drop;
  }

  const int64_t n_, margin_, core_;
  const int threads_;
  std::vector<std::vector<std::complex<double>>> filters_;  // per channel, bins 0 ... N/2
  std::vector<bool> unusable_;                              // per channel: its output is NaN
  kissfft<double> half_forward_, half_inverse_;
  std::vector<std::complex<double>> unshuffle_;  // e^{+j 2 pi k / N} / 2, k < N/2
  std::vector<double> taper_;
  std::vector<Scratch> scratch_;  // one per thread
  std::vector<double> history_;   // scans from history_start_ on, x channels
  int64_t history_start_ = 0;
  int64_t total_ = 0;                 // the run's scans before this one are in
  int64_t next_ = 0;                  // next block to process
  int64_t first_ = 0, end_ = kNoEnd;  // the window of the run's scans given out
  int64_t input_end_ = kNoEnd;        // no scan from here on is needed
  bool pushed_ = false;               // the run has scans
};
#endif

double BandWeight(double f, const Band& band, double nyquist) {
  const double low_edge = band.fmin / 2;
  const double high_edge = std::min(band.fmax * 1.25, nyquist);
  if (f < low_edge || f > high_edge) return 0.0;
  if (f < band.fmin) return 0.5 - 0.5 * std::cos(kPi * (f - low_edge) / (band.fmin - low_edge));
  if (f > band.fmax)
    return high_edge > band.fmax ? 0.5 + 0.5 * std::cos(kPi * (f - band.fmax) / (high_edge - band.fmax)) : 0.0;
  return 1.0;
}

}  // namespace

// Pulls in small pieces (the tool takes 4096 scans at a time from blocks of
// 65536) only move the queue's head; what was pulled is dropped when scans are
// next appended or the queue runs empty, never once per pull.
int64_t Converter::Pull(double* out, int64_t capacity) {
  const std::size_t nc = static_cast<std::size_t>(std::max(channels_, 1));
  const int64_t available = static_cast<int64_t>((ready_.size() - ready_head_) / nc);
  const int64_t n = std::min(available, capacity);
  const auto begin = ready_.begin() + static_cast<std::ptrdiff_t>(ready_head_);
  const auto end = begin + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(n) * nc);
  std::copy(begin, end, out);
  ready_head_ += static_cast<std::size_t>(n) * nc;
  if (ready_head_ == ready_.size()) {
    ready_.clear();  // keeps its storage for the next blocks
    ready_head_ = 0;
  }
  return n;
}

void Converter::Compact() {
  ready_.erase(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(ready_head_));
  ready_head_ = 0;
}

int32_t MakeNominalConverter(Chain& chain, std::unique_ptr<Converter>* out) {
  std::vector<double> scale(static_cast<std::size_t>(chain.channels()));
  for (int c = 0; c < chain.channels(); ++c) {
    std::complex<double> total;
    bool outside = false;
    const int32_t st = chain.Response(c, -1, chain.gain_frequency(), &total, &outside);
    if (st != OLMTS_OK && st != OLMTS_NO_RESPONSE) return st;
    const double gain = st == OLMTS_OK ? std::abs(total) : 0.0;
    // An inverting chain keeps its sign; the phase is otherwise the
    // deconvolution's business.
    const double sign = total.real() < 0 ? -1.0 : 1.0;
    scale[static_cast<std::size_t>(c)] =
        gain > 0 ? sign * kCountsFullScale / gain : std::numeric_limits<double>::quiet_NaN();
  }
  *out = std::make_unique<NominalConverter>(std::move(scale));
  return OLMTS_OK;
}

int32_t ChooseBand(const Chain& chain, const ConvertOptions& options, Band* band) {
  const double rate = chain.sample_rate();
  const double nyquist = rate / 2;
  double cal_low = 0, cal_high = std::numeric_limits<double>::infinity();
  for (int c = 0; c < chain.channels(); ++c)
    for (const Stage& s : chain.channel(c).stages) {
      if (s.range.low <= 0 && s.range.high <= 0) continue;
      cal_low = std::max(cal_low, s.range.low);
      cal_high = std::min(cal_high, s.range.high);
    }
  if (options.block != 0 && (!PowerOfTwo(options.block) || options.block < kMinBlock || options.block > kMaxBlock))
    return OLMTS_BAD_ARGUMENT;
  if (options.fmin_hz < 0 || options.fmax_hz < 0 || !std::isfinite(options.fmin_hz) || !std::isfinite(options.fmax_hz))
    return OLMTS_BAD_ARGUMENT;
  Band b;
  if (options.block != 0) {
    b.block = options.block;
  } else {
    const double low = options.fmin_hz > 0 ? options.fmin_hz : std::max(cal_low, 1e-9);
    b.block = std::min(NextPowerOfTwo(std::max(4096.0, kPeriodsPerBlock * rate / low)), kMaxDefaultBlock);
  }
  b.fmin = options.fmin_hz > 0 ? options.fmin_hz : std::max(cal_low, kPeriodsPerBlock * rate / b.block);
  b.fmax = options.fmax_hz > 0 ? options.fmax_hz : std::min(cal_high, 0.4 * rate);
  if (b.fmax > nyquist || !(b.fmin < b.fmax)) return OLMTS_BAD_ARGUMENT;
  *band = b;
  return OLMTS_OK;
}

int32_t MakeDeconvolvingConverter(Chain& chain, const ConvertOptions& options, std::unique_ptr<Converter>* out) {
#if defined(OLMTSFIL_HAVE_KISSFFT)
  Band band;
  if (int32_t st = ChooseBand(chain, options, &band); st != OLMTS_OK) return st;
  if (options.threads < 0) return OLMTS_BAD_ARGUMENT;
  const int threads = options.threads > 0 ? std::min(options.threads, kMaxThreads) : DefaultThreads();
  const int channels = chain.channels();
  const double rate = chain.sample_rate();
  std::vector<double> passband(static_cast<std::size_t>(channels));
  for (int c = 0; c < channels; ++c) passband[static_cast<std::size_t>(c)] = chain.Gain(c, -1);
  std::vector<std::vector<std::complex<double>>> filters(static_cast<std::size_t>(channels));
  for (int c = 0; c < channels; ++c)
    if (passband[static_cast<std::size_t>(c)] > 0)
      filters[static_cast<std::size_t>(c)].assign(static_cast<std::size_t>(band.block / 2 + 1), 0.0);
  // The responses are smooth on a logarithmic scale of frequency: they are
  // evaluated at bins a relative step apart (every bin where bins lie farther
  // apart than that) and interpolated between. A span whose ends fall below the
  // floor is evaluated bin by bin, so that no value is made up near a zero.
  const int32_t half = band.block / 2;
  int32_t first = -1, last = -1;
  for (int32_t k = 0; k <= half; ++k)
    if (BandWeight(rate * k / band.block, band, rate / 2) > 0) {
      if (first < 0) first = k;
      last = k;
    }
  if (first < 0) {
    *out = std::make_unique<DeconvolvingConverter>(channels, band, std::move(filters), threads);
    return OLMTS_OK;
  }
  const std::size_t nc = static_cast<std::size_t>(channels);
  auto usable = [&](const std::complex<double>* h, int c) {
    return std::abs(h[c]) >= kResponseFloor * passband[static_cast<std::size_t>(c)];
  };
  auto assign = [&](int32_t k, const std::complex<double>* h) {
    const double w = BandWeight(rate * k / band.block, band, rate / 2);
    if (w == 0) return;
    for (int c = 0; c < channels; ++c) {
      std::vector<std::complex<double>>& g = filters[static_cast<std::size_t>(c)];
      if (g.empty() || !usable(h, c)) continue;
      g[static_cast<std::size_t>(k)] = w * kCountsFullScale / h[c];
    }
  };
  std::vector<std::complex<double>> lo(nc), hi(nc), mid(nc);
  int32_t k0 = first;
  if (int32_t st = chain.TotalResponses(rate * k0 / band.block, lo.data()); st != OLMTS_OK) return st;
  assign(k0, lo.data());
  while (k0 < last) {
    const int32_t k1 = std::min(last, std::max(k0 + 1, static_cast<int32_t>(k0 * (1.0 + kDesignStep))));
    if (int32_t st = chain.TotalResponses(rate * k1 / band.block, hi.data()); st != OLMTS_OK) return st;
    bool exact = false;
    for (int c = 0; c < channels; ++c)
      if (!filters[static_cast<std::size_t>(c)].empty() && (!usable(lo.data(), c) || !usable(hi.data(), c)))
        exact = true;
    for (int32_t k = k0 + 1; k < k1; ++k) {
      if (exact) {
        if (int32_t st = chain.TotalResponses(rate * k / band.block, mid.data()); st != OLMTS_OK) return st;
      } else {
        const double a = static_cast<double>(k - k0) / static_cast<double>(k1 - k0);
        for (std::size_t c = 0; c < nc; ++c) mid[c] = (1.0 - a) * lo[c] + a * hi[c];
      }
      assign(k, mid.data());
    }
    assign(k1, hi.data());
    lo.swap(hi);
    k0 = k1;
  }
  *out = std::make_unique<DeconvolvingConverter>(channels, band, std::move(filters), threads);
  return OLMTS_OK;
#else
  (void)chain;
  (void)options;
  (void)out;
  return OLMTS_NOT_AVAILABLE;
#endif
}

}  // namespace olmtsfil::units
